#include "platform/Drives.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace quindle {

// Minimal table building; discovery from mounts is filled in by the drive discovery work.
std::vector<MountEntry> ParseMountInfo(std::string_view) { return {}; }
std::vector<DriveInfo> DiscoverDrives(const std::vector<MountEntry>&) { return {}; }

DriveKind ParseDriveKind(std::string_view t) {
    if (t == "removable") return DriveKind::Removable;
    if (t == "fixed") return DriveKind::Fixed;
    if (t == "remote") return DriveKind::Remote;
    if (t == "cdrom") return DriveKind::CDRom;
    if (t == "ramdisk") return DriveKind::RamDisk;
    return DriveKind::Unknown;
}

std::vector<DriveInfo> BuildDriveTable(const std::vector<DriveMapping>& mapping, const std::vector<MountEntry>& mounts) {
    std::vector<DriveInfo> table;
    for (const auto& m : mapping) {
        DriveInfo d;
        d.letter = m.letter;
        d.root = m.path;
        if (!m.kind.empty()) d.kind = ParseDriveKind(m.kind);
        if (!m.serial.empty()) d.serial = static_cast<uint32_t>(std::stoul(m.serial));
        if (!m.label.empty()) d.label = m.label;
        table.push_back(d);
    }
    for (auto& d : DiscoverDrives(mounts)) table.push_back(d);
    return table;
}

std::string ReadSystemMountInfo() {
    std::ifstream f("/proc/self/mountinfo");
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

bool DriveReady(const DriveInfo& d) {
    struct stat st;
    return !d.root.empty() && stat(d.root.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           access(d.root.c_str(), R_OK | X_OK) == 0;
}

std::optional<uint32_t> QueryVolumeSerial(const DriveInfo& d) {
    if (!DriveReady(d)) return std::nullopt;
    if (d.serial) return d.serial;
    uint32_t h = 2166136261u;
    for (unsigned char c : d.root) h = (h ^ c) * 16777619u;
    return h;
}

std::optional<std::string> QueryVolumeLabel(const DriveInfo& d) {
    if (!DriveReady(d)) return std::nullopt;
    if (d.label) return d.label;
    return std::string();
}

} // namespace quindle
