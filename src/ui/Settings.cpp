#include "ui/Settings.h"

#include <QSettings>

#include "ui/Text.h"

namespace quindle {

namespace {
QSettings& Store() {
    static thread_local QSettings* s = nullptr;
    delete s; // re-read each time: another process or a test may have changed the file
    s = new QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Tavrel"), QStringLiteral("Quindle"));
    return *s;
}
} // namespace

std::optional<int> ReadSetupInt(const char* name) {
    QSettings& s = Store();
    const QVariant v = s.value(QStringLiteral("Setup/") + QLatin1String(name));
    if (!v.isValid()) return std::nullopt;
    bool ok = false;
    const int i = v.toString().trimmed().toInt(&ok);
    if (!ok) return std::nullopt;
    return i;
}

void WriteSetup(int top, int left, int display) {
    QSettings& s = Store();
    s.beginGroup(QStringLiteral("Setup"));
    s.setValue(QStringLiteral("top"), top);
    s.setValue(QStringLiteral("left"), left);
    s.setValue(QStringLiteral("Display"), display);
    s.endGroup();
    s.sync();
}

std::vector<DriveMapping> ReadDriveMappings() {
    QSettings& s = Store();
    std::vector<DriveMapping> result;
    s.beginGroup(QStringLiteral("Drives"));
    for (const QString& group : s.childGroups()) {
        if (group.size() != 1 || !group[0].isLetter() || group[0].unicode() > 127) continue;
        DriveMapping m;
        m.letter = static_cast<char>(group[0].toUpper().unicode());
        s.beginGroup(group);
        m.path = FromQ(s.value(QStringLiteral("path")).toString());
        m.kind = FromQ(s.value(QStringLiteral("kind")).toString().trimmed().toLower());
        m.serial = FromQ(s.value(QStringLiteral("serial")).toString().trimmed());
        m.label = FromQ(s.value(QStringLiteral("label")).toString());
        s.endGroup();
        if (!m.path.empty()) result.push_back(m);
    }
    s.endGroup();
    return result;
}

} // namespace quindle
