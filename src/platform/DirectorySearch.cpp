// Directory search and DOS attributes: how a folder's entries are read, and the one place
// that decides which entries a search lists and with which attributes.
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <linux/msdos_fs.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <bitset>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "platform/CodePage.h"
#include "platform/Platform.h"

namespace quindle {

namespace {

constexpr const char* kDosAttribXattr = "user.DOSATTRIB";
constexpr uint32_t kDosBits = faReadOnly | faHidden | faSysFile | faArchive;
// Entries whose DOS attributes are read on a local device where none was seen yet, before
// the device is taken for one without them (until the next walk begins).
constexpr int kDosProbeEntries = 32;

// Samba keeps DOS attributes in user.DOSATTRIB, either as text ("0x22") or as a binary
// NDR blob: uint16 version, uint16 level, then (levels 1, 2) uint32 attrib or
// (levels 3 to 5) uint32 valid_flags, uint32 attrib.
std::optional<uint32_t> ParseDosAttrib(const char* buf, size_t n) {
    if (n >= 3 && buf[0] == '0' && (buf[1] == 'x' || buf[1] == 'X')) {
        std::string s(buf + 2, n - 2);
        if (auto z = s.find('\0'); z != std::string::npos) s.resize(z);
        try {
            return static_cast<uint32_t>(std::stoul(s, nullptr, 16));
        } catch (...) {
            return std::nullopt;
        }
    }
    auto u16 = [&](size_t o) { return static_cast<uint32_t>(uint8_t(buf[o]) | uint8_t(buf[o + 1]) << 8); };
    auto u32 = [&](size_t o) { return u16(o) | u16(o + 2) << 16; };
    if (n < 8) return std::nullopt;
    const uint32_t version = u16(0);
    if (version == 1 || version == 2) return u32(4);
    if (version >= 3 && version <= 5 && n >= 12) return u32(8);
    return std::nullopt;
}

#ifndef SYS_getxattrat
#if defined(__x86_64__) || defined(__aarch64__) || defined(__riscv)
#define SYS_getxattrat 464
#endif
#endif

// The xattr `attr` of `name` in the open directory `dirfd`, not following a link: by name
// relative to the descriptor where the kernel can (Linux 6.13 on), which spares walking the
// whole path again for every entry; by host path elsewhere.
ssize_t GetXattrIn(int dirfd, const std::string& hostDir, const char* name, const char* attr, char* buf,
                   size_t size) {
#ifdef SYS_getxattrat
    static std::atomic<bool> unsupported{false};
    if (name[0] != 0 && !unsupported.load(std::memory_order_relaxed)) {
        struct {
            alignas(8) uint64_t value;
            uint32_t size;
            uint32_t flags;
        } args{reinterpret_cast<uintptr_t>(buf), static_cast<uint32_t>(size), 0};
        const long n = syscall(SYS_getxattrat, dirfd, name, AT_SYMLINK_NOFOLLOW, attr, &args, sizeof args);
        if (n >= 0 || errno != ENOSYS) return static_cast<ssize_t>(n);
        unsupported.store(true, std::memory_order_relaxed);
    }
#else
    (void)dirfd;
#endif
    return lgetxattr(HostJoin(hostDir, name).c_str(), attr, buf, size);
}

// Where a file system keeps DOS attributes.
enum class DosSource : uint8_t {
    Fat,       // the FAT driver's attribute ioctl
    Xattr,     // Samba's xattr: network shares, and local disks where one was seen
    Undecided, // a local disk: probed on its first entries
    None,      // a local disk on whose probed entries none was found
};

DosSource SourceOfFileSystem(int fd) {
    struct statfs sf;
    if (fstatfs(fd, &sf) != 0) return DosSource::Undecided;
    switch (static_cast<unsigned long>(sf.f_type)) {
    case MSDOS_SUPER_MAGIC:
        return DosSource::Fat;
    case 0xFF534D42: // CIFS
    case 0xFE534D42: // SMB2
    case SMB_SUPER_MAGIC:
    case NFS_SUPER_MAGIC:
        return DosSource::Xattr;
    default:
        return DosSource::Undecided;
    }
}

// DOS attributes of an entry, from the FAT attribute ioctl or Samba's xattr; nullopt when
// it has none.
std::optional<uint32_t> ReadDosAttributes(int dirfd, const std::string& hostDir, const char* name, bool fat,
                                          bool isLink) {
    if (isLink) return std::nullopt;
    if (fat) {
        int fd = openat(dirfd, name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) return std::nullopt;
        uint32_t a = 0;
        const bool ok = ioctl(fd, FAT_IOCTL_GET_ATTRIBUTES, &a) == 0;
        close(fd);
        if (ok) return a & kDosBits;
        return std::nullopt;
    }
    char buf[256];
    const ssize_t n = GetXattrIn(dirfd, hostDir, name, kDosAttribXattr, buf, sizeof buf);
    if (n <= 0) return std::nullopt;
    if (auto a = ParseDosAttrib(buf, static_cast<size_t>(n))) return *a & kDosBits;
    return std::nullopt;
}

// The names of the system's mount points (their last component), re-read when the kernel
// reports a change of the mount table. A subdirectory whose name is none of them cannot be
// a mount point, so a search tests the device of those few names only.
class MountNames {
public:
    struct Table {
        // Most names are ruled out by their first byte and length alone, without hashing.
        std::bitset<256 * 64> shapes;
        struct Hash {
            using is_transparent = void;
            size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
        };
        std::unordered_set<std::string, Hash, std::equal_to<>> names;

        static size_t Shape(std::string_view name) {
            return static_cast<unsigned char>(name[0]) * 64 + (name.size() & 63);
        }
        bool Contains(std::string_view name) const {
            return !name.empty() && shapes.test(Shape(name)) && names.find(name) != names.end();
        }
    };

    // The table as it is now; nullptr when the mount table cannot be read (then every
    // subdirectory is tested).
    static std::shared_ptr<const Table> Current() {
        static MountNames instance;
        std::lock_guard lock(instance.mutex_);
        instance.Refresh();
        return instance.table_;
    }

private:
    MountNames() : fd_(open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC)) {}

    void Refresh() {
        if (fd_ < 0) return;
        if (table_) {
            pollfd p{fd_, POLLPRI, 0};
            if (poll(&p, 1, 0) <= 0 || !(p.revents & (POLLPRI | POLLERR))) return;
        }
        // Reading the whole file again also clears the kernel's change mark.
        std::string text;
        char buf[8192];
        off_t at = 0;
        for (;;) {
            const ssize_t n = pread(fd_, buf, sizeof buf, at);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            text.append(buf, static_cast<size_t>(n));
            at += n;
        }
        auto table = std::make_shared<Table>();
        for (const auto& m : ParseMountInfo(text)) {
            const auto slash = m.mountPoint.rfind('/');
            if (slash == std::string::npos || slash + 1 >= m.mountPoint.size()) continue;
            std::string name = m.mountPoint.substr(slash + 1);
            table->shapes.set(Table::Shape(name));
            table->names.insert(std::move(name));
        }
        table_ = std::move(table);
    }

    std::mutex mutex_;
    int fd_;
    std::shared_ptr<const Table> table_;
};

// Reads a directory's entries with getdents64 on one descriptor: no DIR stream (whose
// set-up costs an fstat and two fcntl calls per directory) and a read buffer reused from
// one search to the next. A search started from inside another one's callback takes a
// buffer of its own.
class DirReader {
public:
    explicit DirReader(const char* hostPath) : DirReader(open(hostPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
    // Takes over `fd`, an open directory (or -1).
    explicit DirReader(int fd) : fd_(fd) {
        if (fd_ < 0) return;
        auto& pool = Pool();
        if (pool.empty()) {
            buf_ = std::make_unique<char[]>(kBufferSize);
        } else {
            buf_ = std::move(pool.back());
            pool.pop_back();
        }
    }
    ~DirReader() {
        if (fd_ >= 0) close(fd_);
        if (buf_) Pool().push_back(std::move(buf_));
    }
    DirReader(const DirReader&) = delete;
    DirReader& operator=(const DirReader&) = delete;

    bool Ok() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }
    // The next entry; false at the end or on a read error. `name` stays valid until the
    // next call.
    bool Next(const char*& name, unsigned char& type) {
        if (pos_ >= len_) {
            const ssize_t n = getdents64(fd_, buf_.get(), kBufferSize);
            if (n <= 0) return false;
            len_ = static_cast<size_t>(n);
            pos_ = 0;
        }
        const auto* e = reinterpret_cast<const struct dirent64*>(buf_.get() + pos_);
        pos_ += e->d_reclen;
        name = e->d_name;
        type = e->d_type;
        return true;
    }

private:
    static constexpr size_t kBufferSize = 32768;
    static std::vector<std::unique_ptr<char[]>>& Pool() {
        thread_local std::vector<std::unique_ptr<char[]>> pool;
        return pool;
    }

    int fd_;
    std::unique_ptr<char[]> buf_;
    size_t pos_ = 0, len_ = 0;
};

bool SameState(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
           a.st_mtim.tv_nsec == b.st_mtim.tv_nsec && a.st_ctim.tv_sec == b.st_ctim.tv_sec &&
           a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

unsigned char TypeOf(mode_t mode) {
    return S_ISDIR(mode)    ? DT_DIR
           : S_ISLNK(mode)  ? DT_LNK
           : S_ISREG(mode)  ? DT_REG
           : S_ISFIFO(mode) ? DT_FIFO
           : S_ISSOCK(mode) ? DT_SOCK
           : S_ISCHR(mode)  ? DT_CHR
                            : DT_BLK;
}

} // namespace

// The entries (names and types) of one directory read, with what identifies the
// directory's state: same device and inode, same modification and change times.
struct Platform::DirSnapshot {
    std::string host; // the folder read
    struct stat st {};
    bool fresh = false; // taken by the last read and not reused yet
    // The folder, kept open while the read is fresh: the repeated read asks it whether the
    // folder changed without looking its whole path up again.
    int fd = -1;
    void CloseFd() {
        if (fd >= 0) close(fd);
        fd = -1;
    }
    ~DirSnapshot() {
        CloseFd();
        ForgetEntered();
        KeepLast({}, -1);
    }
    // The directory the program entered last, as stat found it then; serves the next
    // read only, and only a read of that same host path.
    bool enteredValid = false;
    std::string enteredHost;
    struct stat enteredSt {};
    int enteredFd = -1; // the entered folder opened for reading, when it could be
    void ForgetEntered() {
        enteredValid = false;
        if (enteredFd >= 0) close(enteredFd);
        enteredFd = -1;
    }
    std::string names; // NUL-terminated names, back to back
    std::vector<std::pair<uint32_t, unsigned char>> entries; // offset into names, d_type
    // The folder of the repeated read, kept open after it until the next read: the walk
    // stats the entries it listed inside it, without looking its path up again.
    std::string lastHost;
    int lastFd = -1;
    void KeepLast(const std::string& h, int f) {
        if (lastFd >= 0) close(lastFd);
        lastFd = f;
        if (f >= 0) lastHost = h;
    }
};

namespace {

// One directory as a search reads it: its entries from the disk, or from the snapshot of
// the same unchanged directory read just before; its descriptor and device are asked of
// the system only when an entry needs them.
class DirectoryEntries {
public:
    DirectoryEntries(const std::string& host, const struct stat* known) : host_(host) {
        if (known) st_ = *known;
    }
    const std::string& Host() const { return host_; }

    // Reads the folder from the disk: through `fd` when it is already open (taken over).
    bool OpenDisk(int fd = -1) {
        if (fd >= 0)
            reader_.emplace(fd);
        else
            reader_.emplace(host_.c_str());
        return reader_->Ok();
    }
    // Serves the entries from `snap`; `fd`, the folder kept open with it, is taken over.
    void UseSnapshot(const Platform::DirSnapshot* snap, int fd) {
        snap_ = snap;
        if (fd >= 0) reader_.emplace(fd);
    }
    int ReleaseFd() { return reader_ ? reader_->Release() : -1; }
    // Reads the whole directory into `snap` and serves the entries from there.
    void KeepIn(Platform::DirSnapshot& snap) {
        snap.names.clear();
        snap.entries.clear();
        const char* n;
        unsigned char t;
        while (reader_->Next(n, t)) {
            snap.entries.emplace_back(static_cast<uint32_t>(snap.names.size()), t);
            snap.names.append(n, std::strlen(n) + 1);
        }
        snap_ = &snap;
    }

    bool Next(const char*& name, unsigned char& type) {
        if (!snap_) return reader_->Next(name, type);
        if (next_ >= snap_->entries.size()) return false;
        name = snap_->names.data() + snap_->entries[next_].first;
        type = snap_->entries[next_].second;
        ++next_;
        return true;
    }
    int Fd() {
        if (!reader_) reader_.emplace(host_.c_str());
        return reader_->Fd();
    }
    std::optional<dev_t> Device() {
        if (!st_ && fstat(Fd(), &st_.emplace()) != 0) st_.reset();
        return st_ ? std::optional<dev_t>(st_->st_dev) : std::nullopt;
    }

private:
    const std::string& host_;
    std::optional<DirReader> reader_;
    const Platform::DirSnapshot* snap_ = nullptr;
    size_t next_ = 0;
    std::optional<struct stat> st_;
};

} // namespace

// ---- the listing rules ------------------------------------------------------------------

// What a search lists: every rule of which entry is reported, and with which attributes,
// is here.
struct Platform::ListingRules {
    const Platform& pf;
    const std::string& pattern;
    uint32_t searchAttr;
    uint32_t needAttrs;
    std::optional<std::shared_ptr<const MountNames::Table>> mounts;
    std::optional<DosSource> dos;

    // The entry's attributes, or nullopt when the search does not report it.
    std::optional<uint32_t> Accept(DirectoryEntries& dir, const char* name, unsigned char type) {
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) return std::nullopt;
        if (!MatchesMask(name, pattern)) return std::nullopt;
        struct stat st;
        bool haveStat = false;
        if (type == DT_UNKNOWN) {
            if (fstatat(dir.Fd(), name, &st, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
            haveStat = true;
            type = TypeOf(st.st_mode);
        }
        const bool isDir = type == DT_DIR;
        if (isDir && !(searchAttr & faDirectory)) return std::nullopt;
        if (!isDir && (needAttrs & kDirectoriesOnly)) return std::nullopt;
        // A walk never leaves its drive: another file system's mount point is no
        // subdirectory. Only a name the mount table holds can be one.
        if (isDir && (haveStat || MayBeMountPoint(name))) {
            if (!haveStat && fstatat(dir.Fd(), name, &st, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
            haveStat = true;
            const auto dev = dir.Device();
            if (!dev || st.st_dev != *dev) return std::nullopt;
        }

        uint32_t attr = isDir ? uint32_t{faDirectory} : 0u;
        if (type == DT_REG || type == DT_LNK) attr |= faArchive;
        if (HiddenByName(name)) attr |= faHidden;
        if (type == DT_CHR || type == DT_BLK || type == DT_FIFO || type == DT_SOCK) attr |= faSysFile;

        // DOS attributes are read only where they decide something: asked for, or an
        // attribute the search leaves out.
        const uint32_t wanted = (needAttrs | (~searchAttr & (faHidden | faSysFile))) & kDosBits;
        if (wanted & (faHidden | faSysFile | faReadOnly)) {
            if (auto a = DosAttributes(dir, name, type == DT_LNK)) attr |= *a & (faHidden | faSysFile | faReadOnly);
        }
        if (wanted & faReadOnly) {
            if (!haveStat && fstatat(dir.Fd(), name, &st, AT_SYMLINK_NOFOLLOW) == 0) haveStat = true;
            if (haveStat && !S_ISLNK(st.st_mode) && !(st.st_mode & S_IWUSR)) attr |= faReadOnly;
        }
        if (attr & (faHidden | faSysFile | faVolumeID | faDirectory) & ~searchAttr) return std::nullopt;
        return attr;
    }

    bool MayBeMountPoint(const char* name) {
        if (!mounts) mounts = MountNames::Current();
        return !*mounts || (*mounts)->Contains(name);
    }

    std::optional<uint32_t> DosAttributes(DirectoryEntries& dir, const char* name, bool isLink) {
        if (!dos) {
            const auto dev = dir.Device();
            dos = dev ? static_cast<DosSource>(pf.DosSourceOf(*dev, dir.Fd())) : SourceOfFileSystem(dir.Fd());
        }
        if (*dos == DosSource::None) return std::nullopt;
        auto a = ReadDosAttributes(dir.Fd(), dir.Host(), name, *dos == DosSource::Fat, isLink);
        if (*dos == DosSource::Undecided) {
            if (const auto dev = dir.Device()) {
                pf.NoteDosProbe(*dev, a.has_value());
                dos = static_cast<DosSource>(pf.DosSourceOf(*dev, dir.Fd()));
            }
        }
        return a;
    }
};

uint8_t Platform::DosSourceOf(dev_t dev, int fd) const {
    for (auto& d : dosDevices_)
        if (d.dev == dev) return d.source;
    dosDevices_.push_back({dev, static_cast<uint8_t>(SourceOfFileSystem(fd)), 0});
    return dosDevices_.back().source;
}

void Platform::NoteDosProbe(dev_t dev, bool found) const {
    for (auto& d : dosDevices_) {
        if (d.dev != dev || d.source != static_cast<uint8_t>(DosSource::Undecided)) continue;
        if (found)
            d.source = static_cast<uint8_t>(DosSource::Xattr);
        else if (++d.probed >= kDosProbeEntries)
            d.source = static_cast<uint8_t>(DosSource::None);
    }
}

void Platform::NoteDosAttributeOn(const std::string& host) const {
    struct stat st;
    if (lstat(host.c_str(), &st) != 0) return;
    for (auto& d : dosDevices_)
        if (d.dev == st.st_dev) {
            if (d.source != static_cast<uint8_t>(DosSource::Fat)) d.source = static_cast<uint8_t>(DosSource::Xattr);
            return;
        }
    dosDevices_.push_back({st.st_dev, static_cast<uint8_t>(DosSource::Xattr), 0});
}

// ---- the search -------------------------------------------------------------------------

bool Platform::CanEnter(std::string host) {
    // Looking up "." inside the folder succeeds only when it exists, is a directory (or a
    // link to one) and may be searched: stat, S_ISDIR and access(X_OK) in one call.
    if (shareRepeatedRead_) {
        // The read that usually follows takes the folder's identity from here, and the
        // folder itself when it can be opened: its path is looked up once for both. The
        // lookup of "." is then made inside the open folder.
        if (!snapshot_) snapshot_ = std::make_shared<DirSnapshot>();
        DirSnapshot& s = *snapshot_;
        s.ForgetEntered();
        const int fd = open(host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) {
            if (fstatat(fd, ".", &s.enteredSt, 0) != 0) {
                close(fd);
                return false;
            }
            s.enteredFd = fd;
        } else if (stat((host + "/.").c_str(), &s.enteredSt) != 0) {
            return false; // (a folder that may be searched but not read is entered all the same)
        }
        s.enteredHost = std::move(host);
        s.enteredValid = true;
        return true;
    }
    host.append("/.");
    return faccessat(AT_FDCWD, host.c_str(), F_OK, 0) == 0;
}

void Platform::ForgetEnteredDir() const {
    if (snapshot_) snapshot_->ForgetEntered();
}

void Platform::SetShareRepeatedRead(bool on) {
    shareRepeatedRead_ = on;
    if (!on) snapshot_.reset();
    // Each walk probes local disks for DOS attributes afresh.
    if (on) dosDevices_.clear();
}

bool Platform::FindFiles(const std::string& dir, const std::string& pattern, uint32_t searchAttr,
                         const std::function<void(const SearchRec&)>& fn, uint32_t needAttrs) const {
    const std::string full = ExpandFileName(dir);
    const auto host = ToHostPath(full);
    if (!host) return false;
    const bool isRoot = (full.size() <= 3 && full.size() >= 2 && full[1] == ':') || full == "/";
    return FindFilesIn(*host, isRoot, pattern, searchAttr, fn, needAttrs);
}

bool Platform::FindFilesIn(const std::string& host, bool isRoot, const std::string& pattern, uint32_t searchAttr,
                           const std::function<void(const SearchRec&)>& fn, uint32_t needAttrs) const {
    // While a walk shares repeated reads, every read is kept, and a read of the same host
    // folder right after it, unchanged since, takes the kept entries instead of the disk's.
    // Whether it changed is asked of the folder kept open with the read, or taken from the
    // stat made when it was entered again in between: made before this read, that can only
    // make a repeated read look changed, never the other way.
    std::optional<struct stat> dirSt;
    int enteredFd = -1; // owned here once taken
    DirSnapshot* snap = shareRepeatedRead_ ? snapshot_.get() : nullptr;
    if (shareRepeatedRead_ && !snap) snap = (snapshot_ = std::make_shared<DirSnapshot>()).get();
    if (snap) snap->KeepLast({}, -1); // kept until the next search only
    if (snap && snap->enteredValid) {
        if (snap->enteredHost == host) {
            dirSt = snap->enteredSt;
            enteredFd = std::exchange(snap->enteredFd, -1);
        }
        snap->ForgetEntered();
    }
    bool reuse = snap && snap->fresh && snap->host == host;
    if (reuse && !dirSt) {
        struct stat now;
        if (snap->fd >= 0 ? fstat(snap->fd, &now) == 0 : stat(host.c_str(), &now) == 0) dirSt = now;
    }
    reuse = reuse && dirSt && SameState(snap->st, *dirSt);
    DirectoryEntries dir(host, dirSt ? &*dirSt : nullptr);
    if (snap) snap->fresh = false; // a kept read serves one repeated read only
    if (reuse) {
        if (enteredFd >= 0) close(enteredFd);
        dir.UseSnapshot(snap, std::exchange(snap->fd, -1));
    } else {
        if (snap) snap->CloseFd();
        if (!dir.OpenDisk(enteredFd)) return false;
        if (snap) {
            struct stat st;
            if (dirSt) {
                st = *dirSt;
            } else if (fstat(dir.Fd(), &st) != 0) {
                snap = nullptr;
            }
            if (snap) {
                snap->host = host;
                snap->st = st;
                dir.KeepIn(*snap);
                snap->fresh = true;
            }
        }
    }

    SearchRec rec;
    if ((searchAttr & faDirectory) && !isRoot) {
        for (const char* dots : {".", ".."}) {
            if (!MatchesMask(dots, pattern)) continue;
            rec.Name = dots;
            rec.Attr = faDirectory;
            fn(rec);
        }
    }
    ListingRules rules{*this, pattern, searchAttr, needAttrs, std::nullopt, std::nullopt};
    const char* name;
    unsigned char type;
    while (dir.Next(name, type)) {
        const auto attr = rules.Accept(dir, name, type);
        if (!attr) continue;
        rec.Name = name;
        rec.Attr = *attr;
        fn(rec);
    }
    // The read just kept stays open for the repeated read that usually follows.
    if (snap && snap->fresh && snap->host == host && snap->fd < 0)
        snap->fd = dir.ReleaseFd();
    else if (snap)
        snap->KeepLast(host, dir.ReleaseFd());
    return true;
}

bool Platform::FindHiddenIn(const std::string& host, bool isRoot,
                            const std::function<void(const SearchRec&)>& fn) const {
    // Asked right after the folder was listed: its kept read serves once more, when the
    // folder is unchanged since.
    if (shareRepeatedRead_ && snapshot_ && snapshot_->host == host) snapshot_->fresh = true;
    constexpr uint32_t kLeftOut = faHidden | faSysFile;
    return FindFilesIn(
        host, isRoot, "*", faDirectory | kLeftOut | faReadOnly | faArchive,
        [&](const SearchRec& r) {
            if (r.Name == "." || r.Name == "..") return;
            if (r.Attr & ((r.Attr & faDirectory) ? kLeftOut : faHidden)) fn(r);
        },
        kLeftOut);
}

int Platform::FolderFdOfLastRead(const std::string& host) const {
    if (!snapshot_) return -1;
    const DirSnapshot& s = *snapshot_;
    if (s.fd >= 0 && s.host == host) return s.fd;
    if (s.lastFd >= 0 && s.lastHost == host) return s.lastFd;
    return -1;
}

// ---- attributes of one file -------------------------------------------------------------

int Platform::FileGetAttr(const std::string& path) const {
    const auto host = ToHostPath(path);
    if (!host) return -1;
    struct stat st;
    if (lstat(host->c_str(), &st) != 0) return -1;
    uint32_t attr = 0;
    if (S_ISDIR(st.st_mode)) attr |= faDirectory;
    if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) attr |= faArchive;
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))
        attr |= faSysFile;
    if (!S_ISLNK(st.st_mode) && !(st.st_mode & S_IWUSR)) attr |= faReadOnly;
    const auto slash = host->find_last_of('/');
    const std::string name = host->substr(slash + 1);
    if (HiddenByName(name)) attr |= faHidden;
    const std::string parent = slash == 0 ? "/" : host->substr(0, slash);
    const int dirfd = open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirfd >= 0) {
        const bool fat = SourceOfFileSystem(dirfd) == DosSource::Fat;
        if (auto dos = ReadDosAttributes(dirfd, parent, name.c_str(), fat, S_ISLNK(st.st_mode))) {
            attr |= *dos;
            if (!fat) NoteDosAttributeOn(*host);
        }
        close(dirfd);
    }
    return static_cast<int>(attr);
}

bool Platform::FileSetAttr(const std::string& path, uint32_t attr) const {
    ForgetEnteredDir(); // what it changes must not pass for what was seen on entering
    const auto host = ToHostPath(path);
    if (!host) return false;
    const uint32_t dos = attr & kDosBits;
    int fd = open(host->c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = false;
    const bool fat = SourceOfFileSystem(fd) == DosSource::Fat;
    if (fat) {
        uint32_t a = dos;
        ok = ioctl(fd, FAT_IOCTL_SET_ATTRIBUTES, &a) == 0;
    } else {
        char buf[16];
        const int n = std::snprintf(buf, sizeof buf, "0x%x", dos);
        ok = fsetxattr(fd, kDosAttribXattr, buf, static_cast<size_t>(n), 0) == 0;
    }
    close(fd);
    // This disk holds DOS attributes now: later searches read them.
    if (ok && !fat) NoteDosAttributeOn(*host);
    return ok;
}

} // namespace quindle
