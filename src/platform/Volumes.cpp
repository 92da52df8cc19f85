// Volume serials and labels of the drives in the table. Nothing here needs root: the
// file system's own serial and label come from the FAT ioctl (allowed to any reader of
// the root folder) and from what udev publishes under /dev/disk and /run/udev/data.
#include <dirent.h>
#include <fcntl.h>
#include <linux/msdos_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <fstream>

#include "platform/Drives.h"
#include "platform/TextLines.h"

namespace quindle {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

// At most `limit` bytes of a regular host file; nullopt when there is none (a FIFO of
// that name must not block the query).
std::optional<std::string> ReadHead(const std::string& path, size_t limit) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    std::ifstream f(path, std::ios::binary);
    if (!f) return std::nullopt;
    std::string s(limit, '\0');
    f.read(s.data(), static_cast<std::streamsize>(limit));
    s.resize(static_cast<size_t>(f.gcount()));
    return s;
}

std::string AtRoot(const DriveInfo& d, const char* name) {
    if (!d.root.empty() && d.root.back() == '/') return d.root + name;
    return d.root + "/" + name;
}

// A drive whose root is the root of a known file system (discovered, or mapped onto a
// mount point). Only those have the file system's serial and label: a mapped folder
// inside a disk must not share the disk's serial, or two such folders would get the
// same record.
bool IsFileSystemRoot(const DriveInfo& d) { return !d.fsType.empty() && !d.source.empty(); }

bool IsFatType(std::string_view fs) { return fs == "vfat" || fs == "msdos" || fs == "fat" || fs == "umsdos"; }

std::optional<uint32_t> FatVolumeId(const DriveInfo& d) {
    const int fd = open(d.root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::optional<uint32_t> r;
    struct statfs sf;
    uint32_t id = 0;
    if (fstatfs(fd, &sf) == 0 && sf.f_type == MSDOS_SUPER_MAGIC && ioctl(fd, FAT_IOCTL_GET_VOLUME_ID, &id) == 0) r = id;
    close(fd);
    return r;
}

// The device number udev files its entries under. Mounts of btrfs and similar report an
// anonymous device in mountinfo; their source node then tells the real one.
dev_t DeviceNumber(const DriveInfo& d) {
    if (d.major == 0 && d.source.rfind("/dev/", 0) == 0) {
        struct stat st;
        if (stat(d.source.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) return st.st_rdev;
    }
    return makedev(d.major, d.minor);
}

// Name of the entry of a /dev/disk/by-* folder that points at the drive's device: matched
// by device number, or by the node's name when the link can't be followed.
std::optional<std::string> FindDiskLink(const std::string& folder, const DriveInfo& d) {
    const dev_t want = DeviceNumber(d);
    const auto slash = d.source.find_last_of('/');
    const std::string sourceNode = d.source.rfind("/dev/", 0) == 0 ? d.source.substr(slash + 1) : std::string();
    if (major(want) == 0 && sourceNode.empty()) return std::nullopt; // no block device behind it
    DIR* dp = opendir(folder.c_str());
    if (!dp) return std::nullopt;
    std::optional<std::string> found;
    while (struct dirent* e = readdir(dp)) {
        if (e->d_name[0] == '.') continue;
        const std::string link = folder + "/" + e->d_name;
        struct stat st;
        if (stat(link.c_str(), &st) == 0) {
            if (S_ISBLK(st.st_mode) && st.st_rdev == want && major(want) != 0) {
                found = e->d_name;
                break;
            }
            continue;
        }
        char target[512];
        const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (n <= 0 || sourceNode.empty()) continue;
        const std::string t(target, static_cast<size_t>(n));
        if (t.substr(t.find_last_of('/') + 1) == sourceNode) {
            found = e->d_name;
            break;
        }
    }
    closedir(dp);
    return found;
}

UdevFsProperties UdevFor(const DriveInfo& d, const SystemPaths& paths) {
    const dev_t dev = DeviceNumber(d);
    if (major(dev) == 0) return {};
    const std::string file =
        paths.udevData + "/b" + std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
    if (auto text = ReadHead(file, 1 << 16)) return ParseUdevData(*text);
    return {};
}

} // namespace

// ---- pure helpers -------------------------------------------------------------------

uint32_t Fnv1a32(std::string_view s) {
    uint32_t h = 2166136261u;
    for (unsigned char c : s) h = (h ^ c) * 16777619u;
    return h;
}

std::optional<uint32_t> ParseHexSerial(std::string_view text) {
    std::string_view s = Trim(text);
    if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s.remove_prefix(2);
    uint32_t v = 0;
    int digits = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        // One dash between two groups, as FAT and exFAT UUIDs are written.
        if (c == '-' && i > 0 && i + 1 < s.size() && s[i - 1] != '-' && s[i + 1] != '-') continue;
        const int h = HexValue(c);
        if (h < 0 || ++digits > 8) return std::nullopt;
        v = v << 4 | static_cast<uint32_t>(h);
    }
    if (digits == 0) return std::nullopt;
    return v;
}

std::optional<uint32_t> SerialFromUuid(std::string_view uuid, std::string_view fsType) {
    uuid = Trim(uuid);
    std::string hex;
    bool dashed = false;
    for (char c : uuid) {
        if (c == '-') {
            dashed = true;
            continue;
        }
        if (HexValue(c) < 0) return std::nullopt;
        hex += c;
    }
    if (hex.empty()) return std::nullopt;
    // NTFS gives its 64-bit serial as 16 hex digits; the volume serial is its low half.
    const bool ntfs = fsType == "ntfs" || fsType == "ntfs3" || (!dashed && hex.size() == 16);
    std::string_view part = hex;
    if (ntfs && hex.size() > 8) part = part.substr(hex.size() - 8);
    else if (part.size() > 8) part = part.substr(0, 8);
    uint32_t v = 0;
    for (char c : part) v = v << 4 | static_cast<uint32_t>(HexValue(c));
    return v;
}

std::string DecodeUdevEscapes(std::string_view s) {
    std::string r;
    r.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x' && HexValue(s[i + 2]) >= 0 && HexValue(s[i + 3]) >= 0) {
            r += static_cast<char>(HexValue(s[i + 2]) * 16 + HexValue(s[i + 3]));
            i += 3;
        } else {
            r += s[i];
        }
    }
    return r;
}

UdevFsProperties ParseUdevData(std::string_view text) {
    UdevFsProperties p;
    std::optional<std::string> plainLabel, encLabel;
    ForEachLine(text, [&](std::string_view line) {
        if (line.substr(0, 2) != "E:") return;
        line.remove_prefix(2);
        const auto eq = line.find('=');
        if (eq == std::string_view::npos) return;
        const std::string_view key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "ID_FS_UUID") p.uuid = std::string(value);
        else if (key == "ID_FS_LABEL") plainLabel = std::string(value);
        else if (key == "ID_FS_LABEL_ENC") encLabel = DecodeUdevEscapes(value);
    });
    p.label = encLabel ? encLabel : plainLabel;
    return p;
}

// ---- queries ------------------------------------------------------------------------

bool DriveReady(const DriveInfo& d) {
    struct stat st;
    return !d.root.empty() && stat(d.root.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           access(d.root.c_str(), R_OK | X_OK) == 0;
}

std::optional<uint32_t> QueryVolumeSerial(const DriveInfo& d, const SystemPaths& paths) {
    if (!DriveReady(d)) return std::nullopt;
    if (d.serial) return d.serial;
    if (auto text = ReadHead(AtRoot(d, ".windows-serial"), 64))
        if (auto s = ParseHexSerial(*text)) return s;
    if (IsFileSystemRoot(d)) {
        if (IsFatType(d.fsType))
            if (auto s = FatVolumeId(d)) return s;
        if (auto uuid = FindDiskLink(paths.devDisk + "/by-uuid", d))
            if (auto s = SerialFromUuid(*uuid, d.fsType)) return s;
        if (auto uuid = UdevFor(d, paths).uuid)
            if (auto s = SerialFromUuid(*uuid, d.fsType)) return s;
    }
    return Fnv1a32(d.root);
}

std::optional<std::string> QueryVolumeLabel(const DriveInfo& d, const SystemPaths& paths) {
    if (!DriveReady(d)) return std::nullopt;
    if (d.label) return d.label;
    if (auto text = ReadHead(AtRoot(d, ".windows-label"), 4096)) {
        const auto eol = text->find_first_of("\r\n");
        return eol == std::string::npos ? *text : text->substr(0, eol);
    }
    if (IsFileSystemRoot(d)) {
        if (auto name = FindDiskLink(paths.devDisk + "/by-label", d)) return DecodeUdevEscapes(*name);
        if (auto label = UdevFor(d, paths).label) return label;
    }
    return std::string();
}

} // namespace quindle
