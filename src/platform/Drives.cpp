#include "platform/Drives.h"
#include "platform/TextLines.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <unordered_map>

#include "platform/CodePage.h"

namespace quindle {

namespace {

bool IsOctal(char c) { return c >= '0' && c <= '7'; }

// The kernel writes blanks, tabs, line ends and backslashes in mountinfo fields as
// three-digit octal escapes ("\040").
std::string UnescapeOctal(std::string_view s) {
    std::string r;
    r.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && IsOctal(s[i + 1]) && IsOctal(s[i + 2]) && IsOctal(s[i + 3])) {
            const int v = (s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0');
            if (v <= 255) {
                r += static_cast<char>(v);
                i += 3;
                continue;
            }
        }
        r += s[i];
    }
    return r;
}

std::optional<unsigned> ParseUnsigned(std::string_view s) {
    if (s.empty() || s.size() > 9) return std::nullopt;
    unsigned v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + static_cast<unsigned>(c - '0');
    }
    return v;
}

std::vector<std::string_view> SplitBlanks(std::string_view line) {
    std::vector<std::string_view> f;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        size_t j = i;
        while (j < line.size() && line[j] != ' ' && line[j] != '\t') ++j;
        if (j > i) f.push_back(line.substr(i, j - i));
        i = j;
    }
    return f;
}

// True when `path` is `dir` or lies below it.
bool IsAtOrBelow(std::string_view path, std::string_view dir) {
    if (path.size() < dir.size() || path.substr(0, dir.size()) != dir) return false;
    return path.size() == dir.size() || path[dir.size()] == '/';
}

bool IsBelow(std::string_view path, std::string_view dir) { return path.size() > dir.size() && IsAtOrBelow(path, dir); }

bool IsMediaFolder(std::string_view mp) {
    return IsAtOrBelow(mp, "/media") || IsAtOrBelow(mp, "/run/media") || IsAtOrBelow(mp, "/mnt");
}

bool IsRamFileSystem(std::string_view fs) { return fs == "tmpfs" || fs == "ramfs"; }

bool IsPseudo(const MountEntry& m) {
    static constexpr std::array<std::string_view, 19> kPseudo = {
        "proc",   "sysfs",   "devpts",    "devtmpfs", "securityfs", "debugfs", "tracefs",
        "bpf",    "mqueue",  "hugetlbfs", "fusectl",  "configfs",   "autofs",  "pstore",
        "efivarfs", "binfmt_misc", "rpc_pipefs", "nsfs", "selinuxfs"};
    const std::string_view fs = m.fsType;
    if (std::find(kPseudo.begin(), kPseudo.end(), fs) != kPseudo.end()) return true;
    if (fs.substr(0, 6) == "cgroup") return true;
    if (fs == "overlay" && IsBelow(m.mountPoint, "/var/lib")) return true;
    if (fs == "squashfs" && IsAtOrBelow(m.mountPoint, "/snap")) return true;
    if (IsRamFileSystem(fs) && !IsMediaFolder(m.mountPoint)) return true;
    return false;
}

// A mount that holds a disk the user may want to catalogue: a block device, a network
// share or a RAM disk in one of the media folders. Anonymous mounts of other virtual
// file systems (fuse helpers, overlays, portals) are no drives.
bool IsDriveMount(const MountEntry& m) {
    if (m.mountPoint.empty() || m.mountPoint[0] != '/') return false;
    if (IsPseudo(m)) return false;
    if (IsNetworkFileSystem(m.fsType)) return true;
    if (IsRamFileSystem(m.fsType)) return true; // only the media folders' ones pass IsPseudo
    return m.major != 0 || m.source.rfind("/dev/", 0) == 0;
}

std::string ReadSmallFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return {};
    std::string s(256, '\0');
    f.read(s.data(), static_cast<std::streamsize>(s.size()));
    s.resize(static_cast<size_t>(f.gcount()));
    return s;
}

std::string BaseName(std::string_view p) {
    const auto slash = p.find_last_of('/');
    return std::string(slash == std::string_view::npos ? p : p.substr(slash + 1));
}

// Removable when the whole disk says so or when its device hangs on a USB bus.
bool SysfsSaysRemovable(const MountEntry& m, const std::string& sysfs) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path dev;
    if (m.major != 0) dev = fs::canonical(fs::path(sysfs) / "dev" / "block" /
                                              (std::to_string(m.major) + ":" + std::to_string(m.minor)), ec);
    if (dev.empty() || ec) {
        ec.clear();
        if (m.source.rfind("/dev/", 0) != 0) return false;
        dev = fs::canonical(fs::path(sysfs) / "class" / "block" / BaseName(m.source), ec);
        if (ec) return false;
    }
    for (const auto& part : dev) {
        const std::string s = part.string();
        if (s.size() > 3 && s.compare(0, 3, "usb") == 0 && s[3] >= '0' && s[3] <= '9') return true;
    }
    std::string disk = dev.filename().string();
    if (fs::exists(dev / "partition", ec)) disk = dev.parent_path().filename().string();
    const std::string flag = ReadSmallFile((fs::path(sysfs) / "block" / disk / "removable").string());
    return !flag.empty() && flag[0] == '1';
}

std::string DeviceName(const MountEntry& m) {
    if (m.source.rfind("/dev/", 0) == 0) return BaseName(m.source);
    return {};
}

DriveKind KindOf(const MountEntry& m, const SystemPaths& paths) {
    if (auto k = KindFromMount(m)) return *k;
    return SysfsSaysRemovable(m, paths.sysfs) ? DriveKind::Removable : DriveKind::Fixed;
}

// Lexically tidied host folder: duplicate and trailing slashes and "." parts removed.
std::string TidyFolder(std::string_view p) {
    std::string r;
    size_t i = 0;
    const bool absolute = !p.empty() && p[0] == '/';
    while (i < p.size()) {
        size_t j = p.find('/', i);
        if (j == std::string_view::npos) j = p.size();
        const std::string_view c = p.substr(i, j - i);
        if (!c.empty() && c != ".") {
            if (!r.empty() || absolute) r += '/';
            r += c;
        }
        i = j + 1;
    }
    if (r.empty()) return absolute ? "/" : std::string(p);
    return r;
}

DriveInfo ToDrive(const MountEntry& m, DriveKind kind) {
    DriveInfo d;
    d.root = TidyFolder(m.mountPoint);
    d.kind = kind;
    d.fsType = m.fsType;
    d.source = m.source;
    d.major = m.major;
    d.minor = m.minor;
    if (IsNetworkFileSystem(m.fsType)) d.remoteName = m.source;
    return d;
}

std::string TrimBlanks(std::string_view s) {
    size_t a = 0, b = s.size();
    while (a < b && (s[a] == ' ' || s[a] == '\t' || s[a] == '\r' || s[a] == '\n')) ++a;
    while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t' || s[b - 1] == '\r' || s[b - 1] == '\n')) --b;
    return std::string(s.substr(a, b - a));
}

} // namespace

// ---- mountinfo ----------------------------------------------------------------------

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
    std::vector<MountEntry> out;
    ForEachLine(text, [&](std::string_view line) {
        const auto f = SplitBlanks(line);
        // id parent major:minor root mountpoint options [optional...] - fstype source superoptions
        const auto dash = std::find(f.begin(), f.end(), std::string_view("-"));
        if (dash == f.end() || dash - f.begin() < 6 || f.end() - dash < 4) return;
        if (!ParseUnsigned(f[0]) || !ParseUnsigned(f[1])) return;
        const auto colon = f[2].find(':');
        if (colon == std::string_view::npos) return;
        const auto major = ParseUnsigned(f[2].substr(0, colon));
        const auto minor = ParseUnsigned(f[2].substr(colon + 1));
        if (!major || !minor) return;
        MountEntry m;
        m.major = *major;
        m.minor = *minor;
        m.root = UnescapeOctal(f[3]);
        m.mountPoint = UnescapeOctal(f[4]);
        m.fsType = UnescapeOctal(dash[1]);
        m.source = UnescapeOctal(dash[2]);
        if (m.root.empty() || m.root[0] != '/' || m.mountPoint.empty() || m.mountPoint[0] != '/') return;
        out.push_back(std::move(m));
    });
    return out;
}

std::string ReadSystemMountInfo() {
    std::ifstream f("/proc/self/mountinfo");
    if (!f) return {};
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

// ---- kinds --------------------------------------------------------------------------

bool IsNetworkFileSystem(std::string_view fs) {
    static constexpr std::array<std::string_view, 11> kNet = {"nfs",  "nfs4", "cifs",      "smb3",        "smbfs", "fuse.sshfs",
                                                             "9p",   "ceph", "glusterfs", "fuse.rclone", "davfs"};
    return std::find(kNet.begin(), kNet.end(), fs) != kNet.end();
}

std::optional<DriveKind> KindFromMount(const MountEntry& m) {
    if (IsNetworkFileSystem(m.fsType)) return DriveKind::Remote;
    if (IsRamFileSystem(m.fsType)) return DriveKind::RamDisk;
    const std::string dev = DeviceName(m);
    // Optical drives report themselves removable too; they are CD-ROMs first.
    if (m.fsType == "iso9660" || m.fsType == "udf" || dev.rfind("sr", 0) == 0) return DriveKind::CDRom;
    // Block RAM disks (brd, zram) hold a file system in memory as tmpfs does.
    if (dev.rfind("ram", 0) == 0 || dev.rfind("zram", 0) == 0) return DriveKind::RamDisk;
    return std::nullopt;
}

DriveKind ParseDriveKind(std::string_view t) {
    const std::string k = AnsiLowerCase(TrimBlanks(t));
    if (k == "removable") return DriveKind::Removable;
    if (k == "fixed") return DriveKind::Fixed;
    if (k == "remote") return DriveKind::Remote;
    if (k == "cdrom") return DriveKind::CDRom;
    if (k == "ramdisk") return DriveKind::RamDisk;
    return DriveKind::Unknown;
}

std::optional<uint32_t> ParseDecimalSerial(std::string_view text) {
    const std::string s = TrimBlanks(text);
    if (s.empty() || s.size() > 10) return std::nullopt;
    uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > 0xFFFFFFFFull) return std::nullopt;
    return static_cast<uint32_t>(v);
}

// ---- discovery ----------------------------------------------------------------------

namespace {
// A file bind-mounted over a file (a container's /etc/resolv.conf) is no drive: only
// folders are.
bool IsMountedFile(const std::string& mountPoint) {
    struct stat st;
    return stat(mountPoint.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}
} // namespace

std::vector<DriveInfo> DiscoverDrives(const std::vector<MountEntry>& mounts, const SystemPaths& paths) {
    // Only the last mount on a mount point is visible; earlier ones are covered by it.
    std::unordered_map<std::string, size_t> lastAt;
    for (size_t i = 0; i < mounts.size(); ++i) lastAt[TidyFolder(mounts[i].mountPoint)] = i;
    std::vector<const MountEntry*> visible;
    for (size_t i = 0; i < mounts.size(); ++i)
        if (lastAt[TidyFolder(mounts[i].mountPoint)] == i) visible.push_back(&mounts[i]);

    const MountEntry* rootMount = nullptr;
    for (const MountEntry* m : visible)
        if (TidyFolder(m->mountPoint) == "/") rootMount = m;

    auto deviceKey = [](const MountEntry& m) {
        if (IsNetworkFileSystem(m.fsType)) return "net:" + m.source;
        return std::to_string(m.major) + ":" + std::to_string(m.minor);
    };

    // One candidate per device, in the order the devices first appear; a mount of the
    // whole file system (root "/") replaces a bind mount of one of its folders.
    std::vector<const MountEntry*> chosen;
    std::unordered_map<std::string, size_t> slotOf; // device key -> index in chosen
    const std::string rootKey = rootMount ? deviceKey(*rootMount) : std::string();
    for (const MountEntry* m : visible) {
        if (m == rootMount || !IsDriveMount(*m) || IsMountedFile(m->mountPoint)) continue;
        const std::string key = deviceKey(*m);
        if (rootMount && key == rootKey) continue; // already reachable as C:
        const auto [it, fresh] = slotOf.try_emplace(key, chosen.size());
        if (fresh) {
            chosen.push_back(m);
        } else {
            const MountEntry*& held = chosen[it->second];
            if (held->root != "/" && m->root == "/") held = m;
        }
    }

    std::vector<DriveInfo> drives;
    if (rootMount) {
        DriveInfo c = ToDrive(*rootMount, KindOf(*rootMount, paths));
        c.root = "/";
        c.letter = 'C';
        drives.push_back(std::move(c));
    }
    char next = 'D';
    for (const MountEntry* m : chosen) {
        if (next > 'Z') break;
        DriveInfo d = ToDrive(*m, KindOf(*m, paths));
        d.letter = next++;
        drives.push_back(std::move(d));
    }
    return drives;
}

// ---- the table ----------------------------------------------------------------------

std::vector<DriveInfo> BuildDriveTable(const std::vector<DriveMapping>& mapping, const std::vector<MountEntry>& mounts,
                                       const SystemPaths& paths) {
    std::vector<DriveInfo> table;
    std::array<bool, 26> taken{};
    try {
        std::vector<DriveInfo> found = DiscoverDrives(mounts, paths);

        for (const auto& m : mapping) {
            const char letter = static_cast<char>(UpperByte(static_cast<unsigned char>(m.letter)));
            if (letter < 'A' || letter > 'Z' || taken[static_cast<size_t>(letter - 'A')]) continue;
            if (TrimBlanks(m.path).empty()) continue;
            DriveInfo d;
            d.letter = letter;
            d.root = TidyFolder(m.path);
            // A mapping onto a mount point keeps what the system knows of that disk
            // (its kind, device and share) unless the mapping says otherwise.
            for (const auto& f : found) {
                if (f.root != d.root) continue;
                d.kind = f.kind;
                d.remoteName = f.remoteName;
                d.fsType = f.fsType;
                d.source = f.source;
                d.major = f.major;
                d.minor = f.minor;
            }
            const DriveKind k = ParseDriveKind(m.kind);
            if (k != DriveKind::Unknown) d.kind = k;
            if (auto s = ParseDecimalSerial(m.serial)) d.serial = s;
            if (!m.label.empty()) d.label = m.label;
            taken[static_cast<size_t>(letter - 'A')] = true;
            table.push_back(std::move(d));
        }
        const size_t mapped = table.size();

        for (auto& f : found) {
            const bool alreadyMapped = std::any_of(table.begin(), table.begin() + static_cast<std::ptrdiff_t>(mapped),
                                                   [&](const DriveInfo& d) { return d.root == f.root; });
            if (alreadyMapped) continue;
            int i = f.letter - 'A';
            while (i < 26 && taken[static_cast<size_t>(i)]) ++i;
            if (i >= 26) continue; // no letter left
            taken[static_cast<size_t>(i)] = true;
            f.letter = static_cast<char>('A' + i);
            table.push_back(std::move(f));
        }
    } catch (...) {
        // Only allocation can fail here; a partial table is better than none.
    }
    return table;
}

} // namespace quindle
