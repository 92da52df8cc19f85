#include "settings/UserSettings.h"

#include <QSettings>
#include <QStandardPaths>

namespace quindle {

namespace {
std::string Utf8(const QString& s) {
    const QByteArray b = s.toUtf8();
    return std::string(b.constData(), static_cast<size_t>(b.size()));
}
} // namespace

std::vector<DriveMapping> ReadDriveMappings() {
    // Read afresh: another process or a test may have changed the file.
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Tavrel"), QStringLiteral("Quindle"));
    std::vector<DriveMapping> result;
    s.beginGroup(QStringLiteral("Drives"));
    for (const QString& group : s.childGroups()) {
        if (group.size() != 1 || !group[0].isLetter() || group[0].unicode() > 127) continue;
        DriveMapping m;
        m.letter = static_cast<char>(group[0].toUpper().unicode());
        s.beginGroup(group);
        m.path = Utf8(s.value(QStringLiteral("path")).toString());
        m.kind = Utf8(s.value(QStringLiteral("kind")).toString().trimmed().toLower());
        m.serial = Utf8(s.value(QStringLiteral("serial")).toString().trimmed());
        m.label = Utf8(s.value(QStringLiteral("label")).toString());
        s.endGroup();
        if (!m.path.empty()) result.push_back(m);
    }
    s.endGroup();
    return result;
}

void LoadDriveTable(AppContext& ctx) {
    ctx.platform.SetDrives(BuildDriveTable(ReadDriveMappings(), ParseMountInfo(ReadSystemMountInfo())));
    ctx.platform.SetCurrentDir("C:\\");
}

std::string UserDataFolder() {
    return Utf8(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)) + "/Quindle";
}

} // namespace quindle
