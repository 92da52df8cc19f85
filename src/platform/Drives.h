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

// Where the system publishes what it knows of block devices. Tests point these at fake
// trees in temporary folders.
struct SystemPaths {
    std::string sysfs = "/sys";           // /sys/dev/block/<maj>:<min>, /sys/block/<disk>/removable
    std::string devDisk = "/dev/disk";    // by-uuid/, by-label/ (symbolic links to device nodes)
    std::string udevData = "/run/udev/data"; // b<maj>:<min> property files
};

// Pure parser of the text of /proc/self/mountinfo. Malformed lines are skipped.
std::vector<MountEntry> ParseMountInfo(std::string_view text);

// Drives discovered from mounts: C: is "/", others take letters from D: on. Pseudo file
// systems are left out, one drive per device. Only the removable test reads `paths.sysfs`.
std::vector<DriveInfo> DiscoverDrives(const std::vector<MountEntry>& mounts, const SystemPaths& paths = {});

// The whole table: the mapping first, then discovered drives for letters still free
// (a discovered drive whose letter is taken moves to the next free letter). Never throws.
std::vector<DriveInfo> BuildDriveTable(const std::vector<DriveMapping>& mapping,
                                       const std::vector<MountEntry>& mounts, const SystemPaths& paths = {});

// Reads /proc/self/mountinfo (empty on failure).
std::string ReadSystemMountInfo();

// Volume queries; all fail (nullopt) when the drive's root folder is missing or unreadable.
std::optional<uint32_t> QueryVolumeSerial(const DriveInfo& d, const SystemPaths& paths = {});
std::optional<std::string> QueryVolumeLabel(const DriveInfo& d, const SystemPaths& paths = {});
bool DriveReady(const DriveInfo& d);

DriveKind ParseDriveKind(std::string_view text); // "removable", "fixed", ... ; Unknown otherwise

// ---- pure helpers of the above, exposed for their tests ------------------------------

// Kind of a mount from its file system type and source alone; nullopt when only the
// device's sysfs entry can tell (removable or fixed).
std::optional<DriveKind> KindFromMount(const MountEntry& m);
bool IsNetworkFileSystem(std::string_view fsType);
// Unsigned decimal 0..4294967295, blanks around tolerated; nullopt for anything else.
std::optional<uint32_t> ParseDecimalSerial(std::string_view text);
// Content of a ".windows-serial" file: hex digits, optional "0x", blanks and line ends
// around, "1A2B-3C4D" accepted; nullopt for anything else.
std::optional<uint32_t> ParseHexSerial(std::string_view text);
// The volume serial a file system's UUID stands for: FAT/exFAT "1A2B-3C4D" -> 0x1A2B3C4D,
// NTFS (16 hex digits) -> its last 8, others -> the first 8 hex digits.
std::optional<uint32_t> SerialFromUuid(std::string_view uuid, std::string_view fsType);
// "\x20"-style escapes as udev writes them in by-label names and ID_FS_LABEL_ENC.
std::string DecodeUdevEscapes(std::string_view s);
// File system UUID and label from the text of a udev database file ("E:ID_FS_UUID=...");
// the label prefers ID_FS_LABEL_ENC, decoded. Missing values are nullopt.
struct UdevFsProperties {
    std::optional<std::string> uuid, label;
};
UdevFsProperties ParseUdevData(std::string_view text);
// 32-bit FNV-1a of the bytes of s.
uint32_t Fnv1a32(std::string_view s);

} // namespace quindle
