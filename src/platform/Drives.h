#pragma once
// The drive table: drive letters bound to folders of the host, from the user's own
// mapping and from the mounts of the system.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quindle {

enum class DriveKind { Unknown, NoRootDir, Removable, Fixed, Remote, CDRom, RamDisk };

// One line of /proc/self/mountinfo.
struct MountEntry {
    unsigned major = 0, minor = 0;
    std::string root;       // the folder of the file system mounted here ("/" for a whole file system)
    std::string mountPoint; // unescaped
    std::string fsType;
    std::string source;     // unescaped ("/dev/sdb1", "//server/share", "host:/path")
};

// One drive of the table. Fields marked "fixed" come from the user's mapping and win
// over what the system tells.
struct DriveInfo {
    char letter = 0;             // 'A'..'Z'
    std::string root;            // host folder of the drive's root, without trailing '/' except "/"
    DriveKind kind = DriveKind::Fixed;
    std::optional<uint32_t> serial; // fixed serial
    std::optional<std::string> label; // fixed label
    std::string remoteName;      // network share, empty for local drives
    std::string fsType;          // "" for mapped folders
    std::string source;          // mount source, "" for mapped folders
    unsigned major = 0, minor = 0; // device of the mount, 0:0 for mapped folders
};

// The user's mapping, as read from the settings group "Drives" (raw texts; bad values are
// ignored field by field when the table is built).
struct DriveMapping {
    char letter = 0;
    std::string path, kind, serial, label;
};

// Pure parser of the text of /proc/self/mountinfo. Malformed lines are skipped.
std::vector<MountEntry> ParseMountInfo(std::string_view text);

// Drives discovered from mounts: C: is "/", others take letters from D: on. Pseudo file
// systems are left out, one drive per device.
std::vector<DriveInfo> DiscoverDrives(const std::vector<MountEntry>& mounts);

// The whole table: the mapping first, then discovered drives for letters still free
// (a discovered drive whose letter is taken moves to the next free letter).
std::vector<DriveInfo> BuildDriveTable(const std::vector<DriveMapping>& mapping,
                                       const std::vector<MountEntry>& mounts);

// Reads /proc/self/mountinfo (empty on failure).
std::string ReadSystemMountInfo();

// Volume queries; all fail (nullopt) when the drive's root folder is missing or unreadable.
std::optional<uint32_t> QueryVolumeSerial(const DriveInfo& d);
std::optional<std::string> QueryVolumeLabel(const DriveInfo& d);
bool DriveReady(const DriveInfo& d);

DriveKind ParseDriveKind(std::string_view text); // "removable", "fixed", ... ; Unknown otherwise

} // namespace quindle
