#include "ui/app/Settings.h"

#include <QSettings>

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

ArchiveMode ReadArchiveChoice() {
    const QString v = Store().value(QStringLiteral("Memorize/Archives")).toString();
    return ParseArchiveMode(v.toStdString()).value_or(ArchiveMode::Indexed);
}

void WriteArchiveChoice(ArchiveMode mode) {
    QSettings& s = Store();
    s.setValue(QStringLiteral("Memorize/Archives"), QString::fromLatin1(ArchiveModeName(mode)));
    s.sync();
}

bool ReadChecksumChoice() {
    return Store().value(QStringLiteral("Memorize/Checksums"), false).toBool();
}

void WriteChecksumChoice(bool on) {
    QSettings& s = Store();
    s.setValue(QStringLiteral("Memorize/Checksums"), on);
    s.sync();
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

} // namespace quindle
