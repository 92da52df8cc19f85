#pragma once
// The user's settings file mapping drives to temporary folders, as a user maps them (for the
// test programs that link Qt: the ui, command line and desktop tests).
#include <QSettings>
#include <initializer_list>

#include "support/TempDrive.h"

namespace quindle::test {

// The settings file maps these drives, by their folders and serials, and no others.
inline void MapDrives(std::initializer_list<const TempDrive*> drives) {
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Tavrel", "Quindle");
    s.clear();
    for (const TempDrive* d : drives) {
        const QString letter(QChar(d->Info().letter));
        s.setValue("Drives/" + letter + "/path", QString::fromStdString(d->path()));
        s.setValue("Drives/" + letter + "/serial", static_cast<unsigned>(*d->Info().serial));
    }
    s.sync();
}

} // namespace quindle::test
