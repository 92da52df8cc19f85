#pragma once
// How a walk's files become the disk's record and catalogue: written beside them under names
// no listing takes, made durable, and renamed over the old ones only when complete.
#include <string>

namespace quindle {

// Creates the file a walk writes into, beside `record`: a name no listing or search takes
// for a record (not "*.dat"), which start-up removes when a crash left it behind. Created
// with the old record's mode, so a private record is never readable by others meanwhile.
// Throws EFileError when no such file can be created.
std::string CreateWalkFile(const std::string& record, const char* prefix = ".~walk-");
// fsync of a file by path; false when it cannot be opened or synced.
bool SyncFile(const std::string& path);
// fsync of the folder holding `path`, so a rename into it is durable; failures are ignored.
void SyncFolderOf(const std::string& path);

} // namespace quindle
