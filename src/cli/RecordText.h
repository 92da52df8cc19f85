#pragma once
// Reading a disk record whole for the command line.
#include <optional>
#include <string>
#include <string_view>

namespace quindle {

// The whole text of the record at the host path `path`; nullopt when no file is there.
// Anything but a regular file (a folder, a link to a device or a FIFO) and a read error
// raise EFileError "Cannot open file <path>", as the search does.
std::optional<std::string> ReadRecordText(const std::string& path);

} // namespace quindle
