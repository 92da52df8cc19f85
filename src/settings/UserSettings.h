#pragma once
// What the program and quindle-cli both take from the user's settings file (QSettings
// "Tavrel"/"Quindle" in the user scope, ~/.config/Tavrel/Quindle.conf) and from the
// per-user folders. QtCore only, so the command line needs no window system.
#include <string>
#include <vector>

#include "app/AppContext.h"
#include "platform/Drives.h"

namespace quindle {

// Entries of group Drives: Drives/E/path, Drives/E/kind, Drives/E/serial, Drives/E/label.
std::vector<DriveMapping> ReadDriveMappings();

// Builds the drive table from the user's mapping and the system's mounts.
void LoadDriveTable(AppContext& ctx);

// The per-user data folder ("~/.local/share/Quindle"), where an installed program keeps
// its package; without a trailing '/'.
std::string UserDataFolder();

} // namespace quindle
