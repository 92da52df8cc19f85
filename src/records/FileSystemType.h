#pragma once
// The name of the file system a folder lies on, for drives that are folders (the drive
// table knows the type of a mounted disk; a folder mapped as a drive does not).
#include <string>

namespace quindle {

// "ext4", "vfat", ... from statfs's magic number; "0x..." for one not in the table, "" when
// the folder cannot be asked.
std::string FileSystemName(const std::string& host);

} // namespace quindle
