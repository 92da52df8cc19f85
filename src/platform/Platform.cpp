#include "platform/Platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <linux/msdos_fs.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/CodePage.h"

namespace quindle {

namespace {

constexpr const char* kDosAttribXattr = "user.DOSATTRIB";
constexpr uint32_t kDosBits = faReadOnly | faHidden | faSysFile | faArchive;

bool IsDriveSpec(const std::string& p) {
    return p.size() >= 2 && p[1] == ':' && std::isalpha(static_cast<unsigned char>(p[0]));
}

bool IsSep(char c) { return c == '\\' || c == '/'; }

// Splits on '\' and '/', resolving "." and ".." (never above the root).
std::vector<std::string> Components(const std::string& s, std::vector<std::string> base = {}) {
    const size_t n = s.size();
    size_t i = 0;
    while (i <= n) {
        size_t j = i;
        while (j < n && !IsSep(s[j])) ++j;
        const size_t len = j - i;
        if (len == 2 && s[i] == '.' && s[i + 1] == '.') {
            if (!base.empty()) base.pop_back();
        } else if (len != 0 && !(len == 1 && s[i] == '.')) {
            base.emplace_back(s, i, len);
        }
        i = j + 1;
    }
    return base;
}

std::string JoinDrivePath(char drive, const std::vector<std::string>& comps, bool trailing) {
    std::string r;
    r += drive;
    r += ":\\";
    for (size_t k = 0; k < comps.size(); ++k) {
        if (k) r += '\\';
        r += comps[k];
    }
    if (trailing && !comps.empty()) r += '\\';
    return r;
}

std::string JoinHostPath(const std::vector<std::string>& comps, bool trailing) {
    std::string r;
    for (const auto& c : comps) r += "/" + c;
    if (r.empty()) return "/";
    if (trailing) r += '/';
    return r;
}

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

bool IsFatFs(int fd) {
    struct statfs sf;
    return fstatfs(fd, &sf) == 0 && sf.f_type == MSDOS_SUPER_MAGIC;
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

// DOS attributes of an entry, from the FAT attribute ioctl or Samba's xattr.
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

// Reads a directory's entries with getdents64 on one descriptor: no DIR stream (whose
// set-up costs an fstat and two fcntl calls per directory) and a read buffer reused from
// one search to the next. A search started from inside another one's callback takes a
// buffer of its own.
class DirReader {
public:
    explicit DirReader(const char* hostPath) : fd_(open(hostPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
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

} // namespace

bool IsPlainDrivePath(const std::string& p) {
    if (p.size() < 3 || p[2] != '\\' || !IsDriveSpec(p)) return false;
    size_t start = 3; // first byte of the current name
    for (size_t i = 3; i <= p.size(); ++i) {
        if (i < p.size() && p[i] != '\\') {
            if (p[i] == '/') return false;
            continue;
        }
        const size_t len = i - start;
        if (len == 0) {
            if (i != p.size()) return false; // an empty name between two backslashes
        } else if (p[start] == '.' && (len == 1 || (len == 2 && p[start + 1] == '.'))) {
            return false;
        }
        start = i + 1;
    }
    return true;
}

std::string HostJoin(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    if (dir.back() == '/') return dir + name;
    return dir + "/" + name;
}

// ---- drive table --------------------------------------------------------------------

void Platform::SetDrives(std::vector<DriveInfo> drives) { drives_ = std::move(drives); }

const DriveInfo* Platform::FindDrive(char letter) const {
    const char up = static_cast<char>(UpperByte(static_cast<unsigned char>(letter)));
    for (const auto& d : drives_)
        if (d.letter == up) return &d;
    return nullptr;
}

uint32_t Platform::GetLogicalDrives() const {
    uint32_t mask = 0;
    for (const auto& d : drives_)
        if (d.letter >= 'A' && d.letter <= 'Z') mask |= 1u << (d.letter - 'A');
    return mask;
}

DriveKind Platform::GetDriveType(const std::string& root) const {
    if (root.empty()) return DriveKind::NoRootDir;
    const DriveInfo* d = FindDrive(root[0]);
    if (!d) return DriveKind::NoRootDir;
    return d->kind;
}

std::optional<uint32_t> Platform::GetVolumeSerial(char letter) const {
    const DriveInfo* d = FindDrive(letter);
    if (!d) return std::nullopt;
    return QueryVolumeSerial(*d);
}

std::optional<std::string> Platform::GetVolumeLabel(char letter) const {
    const DriveInfo* d = FindDrive(letter);
    if (!d) return std::nullopt;
    return QueryVolumeLabel(*d);
}

std::optional<std::string> Platform::GetRemoteName(char letter) const {
    const DriveInfo* d = FindDrive(letter);
    if (!d || d->kind != DriveKind::Remote || d->remoteName.empty()) return std::nullopt;
    return d->remoteName;
}

// The entries (names and types) of one directory read, with what identifies the
// directory's state: same device and inode, same modification and change times.
struct Platform::DirSnapshot {
    dev_t dev = 0;
    ino_t ino = 0;
    timespec mtime{}, ctime{};
    bool fresh = false; // taken by the last read and not reused yet
    // The directory the program entered last, as stat found it then; serves the next
    // read only, and only a read of that same host path.
    bool enteredValid = false;
    std::string enteredHost;
    struct stat enteredSt {};
    std::string names;  // NUL-terminated names, back to back
    std::vector<std::pair<uint32_t, unsigned char>> entries; // offset into names, d_type

    bool Matches(const struct stat& st) const {
        return fresh && dev == st.st_dev && ino == st.st_ino && mtime.tv_sec == st.st_mtim.tv_sec &&
               mtime.tv_nsec == st.st_mtim.tv_nsec && ctime.tv_sec == st.st_ctim.tv_sec &&
               ctime.tv_nsec == st.st_ctim.tv_nsec;
    }
};

// ---- paths --------------------------------------------------------------------------

namespace {

// Host path of a path ExpandFileName has already expanded.
std::optional<std::string> HostOfFull(const Platform& pf, const std::string& full) {
    if (full[0] == '/') {
        if (full.size() > 1 && full.back() == '/') return full.substr(0, full.size() - 1);
        return full;
    }
    const DriveInfo* d = pf.FindDrive(full[0]);
    if (!d) return std::nullopt;
    if (!IsPlainDrivePath(full)) {
        std::string host = d->root;
        for (const auto& c : Components(full.substr(2))) host = HostJoin(host, c);
        return host;
    }
    // The names need no resolving: swap the separators in one pass.
    size_t end = full.size();
    if (end > 3 && full[end - 1] == '\\') --end;
    std::string host;
    host.reserve(d->root.size() + end);
    host = d->root;
    if (end > 3) {
        if (!host.empty() && host.back() != '/') host += '/';
        for (size_t i = 3; i < end; ++i) host += full[i] == '\\' ? '/' : full[i];
    }
    return host;
}

} // namespace

std::string Platform::ExpandFileName(const std::string& path) const {
    if (path.empty()) return currentDir_;
    if (IsPlainDrivePath(path)) return path;
    const bool trailing = path.back() == '\\' || path.back() == '/';
    if (path[0] == '/') return JoinHostPath(Components(path), trailing);

    const bool curIsHost = !currentDir_.empty() && currentDir_[0] == '/';
    if (IsDriveSpec(path)) {
        const char drive = path[0];
        const std::string rest = path.substr(2);
        std::vector<std::string> base;
        const bool absolute = !rest.empty() && (rest[0] == '\\' || rest[0] == '/');
        if (!absolute && !curIsHost && SameText(std::string(1, currentDir_[0]), std::string(1, drive)))
            base = Components(currentDir_.substr(2));
        return JoinDrivePath(drive, Components(rest, base), trailing);
    }
    if (path[0] == '\\') {
        if (curIsHost) return JoinHostPath(Components(path), trailing);
        return JoinDrivePath(currentDir_[0], Components(path), trailing);
    }
    if (curIsHost) return JoinHostPath(Components(path, Components(currentDir_)), trailing);
    return JoinDrivePath(currentDir_[0], Components(path, Components(currentDir_.substr(2))), trailing);
}

std::optional<std::string> Platform::ToHostPath(const std::string& path) const {
    return HostOfFull(*this, ExpandFileName(path));
}

bool Platform::CanEnter(std::string host) {
    // Looking up "." inside the folder succeeds only when it exists, is a directory (or a
    // link to one) and may be searched: stat, S_ISDIR and access(X_OK) in one call.
    host.append("/.");
    if (shareRepeatedRead_) {
        // stat of "." answers the same question and also gives the directory's identity,
        // which the read that usually follows takes instead of asking again.
        if (!snapshot_) snapshot_ = std::make_shared<DirSnapshot>();
        if (stat(host.c_str(), &snapshot_->enteredSt) != 0) return false;
        host.resize(host.size() - 2);
        snapshot_->enteredHost = std::move(host);
        snapshot_->enteredValid = true;
        return true;
    }
    return faccessat(AT_FDCWD, host.c_str(), F_OK, 0) == 0;
}

bool Platform::EnterDirectory(const std::string& shown, const std::string& host) {
    ForgetEnteredDir();
    if (shown.empty() || host.empty() || !CanEnter(host)) return false;
    currentDir_ = shown;
    return true;
}

std::optional<std::string> Platform::DriveRootHost(char letter) const {
    const DriveInfo* d = FindDrive(letter);
    if (!d) return std::nullopt;
    return d->root;
}

bool Platform::SetCurrentDir(const std::string& path) {
    ForgetEnteredDir();
    if (path.empty()) return false;
    const std::string full = ExpandFileName(path);
    auto host = HostOfFull(*this, full);
    if (!host || !CanEnter(std::move(*host))) return false;
    const char drive = static_cast<char>(UpperByte(static_cast<unsigned char>(full[0])));
    if (full[0] == '/') {
        currentDir_ = JoinHostPath(Components(full), false);
    } else if (IsPlainDrivePath(full)) {
        currentDir_.assign(full, 0, full.size() > 3 && full.back() == '\\' ? full.size() - 1 : full.size());
        currentDir_[0] = drive;
    } else {
        currentDir_ = JoinDrivePath(drive, Components(full.substr(2)), false);
    }
    return true;
}

// ---- files --------------------------------------------------------------------------

bool Platform::FileExists(const std::string& path) const {
    const auto host = ToHostPath(path);
    struct stat st;
    return host && stat(host->c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool Platform::DirectoryExists(const std::string& path) const {
    const auto host = ToHostPath(path);
    struct stat st;
    return host && stat(host->c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void Platform::ForgetEnteredDir() const {
    if (snapshot_) snapshot_->enteredValid = false;
}

void Platform::SetShareRepeatedRead(bool on) {
    shareRepeatedRead_ = on;
    if (!on) snapshot_.reset();
}

bool Platform::FindFiles(const std::string& dir, const std::string& pattern, uint32_t searchAttr,
                         const std::function<void(const SearchRec&)>& fn, uint32_t needAttrs) const {
    const std::string full = ExpandFileName(dir);
    const auto host = HostOfFull(*this, full);
    if (!host) return false;
    const bool isRoot = (full.size() <= 3 && IsDriveSpec(full)) || full == "/";
    return FindFilesIn(*host, isRoot, pattern, searchAttr, fn, needAttrs);
}

bool Platform::FindFilesIn(const std::string& hostDir, bool isRoot, const std::string& pattern, uint32_t searchAttr,
                           const std::function<void(const SearchRec&)>& fn, uint32_t needAttrs) const {
    const std::string* host = &hostDir;
    // A repeated read that the kept snapshot can answer is validated by one stat of the
    // path; the directory is then opened only if an entry needs it (a subdirectory's
    // device, DOS attributes).
    std::optional<DirReader> reader;
    int dirfd = -1;
    bool reuse = false;
    struct stat dirSt;
    // The stat taken when the directory was just entered stands for one taken now. Taken
    // before this read, it can only make a later repeated read look changed, never the
    // other way round.
    bool haveDirSt = false;
    if (shareRepeatedRead_ && snapshot_ && snapshot_->enteredValid) {
        snapshot_->enteredValid = false;
        if (snapshot_->enteredHost == *host) {
            dirSt = snapshot_->enteredSt;
            haveDirSt = true;
        }
    }
    if (shareRepeatedRead_ && snapshot_ && snapshot_->fresh && (haveDirSt || stat(host->c_str(), &dirSt) == 0) &&
        snapshot_->Matches(dirSt))
        reuse = true;
    else {
        reader.emplace(host->c_str());
        if (!reader->Ok()) return false;
        dirfd = reader->Fd();
    }
    auto openDir = [&]() {
        if (!reader) {
            reader.emplace(host->c_str());
            dirfd = reader->Fd();
        }
        return dirfd;
    };
    const bool dirsOnly = (needAttrs & kDirectoriesOnly) != 0;
    // Both are asked of the system only when an entry needs them: most directories of a
    // walk hold no subdirectory, and most searches need no DOS attributes.
    std::optional<dev_t> dirDev;
    std::optional<bool> fat;

    // While a walk shares repeated reads, every read is kept, and a read of the same
    // unchanged directory right after it takes the kept entries instead of the disk's.
    DirSnapshot* snap = nullptr;
    if (shareRepeatedRead_) {
        if (reuse || haveDirSt || fstat(dirfd, &dirSt) == 0) {
            if (!snapshot_) snapshot_ = std::make_shared<DirSnapshot>();
            snap = snapshot_.get();
            dirDev = dirSt.st_dev;
            if (!reuse) {
                snap->dev = dirSt.st_dev;
                snap->ino = dirSt.st_ino;
                snap->mtime = dirSt.st_mtim;
                snap->ctime = dirSt.st_ctim;
                snap->names.clear();
                snap->entries.clear();
                const char* n;
                unsigned char t;
                while (reader->Next(n, t)) {
                    snap->entries.emplace_back(static_cast<uint32_t>(snap->names.size()), t);
                    snap->names.append(n, std::strlen(n) + 1);
                }
            }
            snap->fresh = !reuse; // a snapshot serves one repeated read only
        }
    }
    size_t nextEntry = 0;
    auto next = [&](const char*& n, unsigned char& t) {
        if (!snap) return reader->Next(n, t);
        if (nextEntry >= snap->entries.size()) return false;
        n = snap->names.data() + snap->entries[nextEntry].first;
        t = snap->entries[nextEntry].second;
        ++nextEntry;
        return true;
    };

    SearchRec rec;
    if ((searchAttr & faDirectory) && !isRoot) {
        for (const char* dots : {".", ".."}) {
            if (!MatchesMask(dots, pattern)) continue;
            rec.Name = dots;
            rec.Attr = faDirectory;
            fn(rec);
        }
    }

    const char* name;
    unsigned char type;
    while (next(name, type)) {
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
        if (!MatchesMask(name, pattern)) continue;
        struct stat st;
        bool haveStat = false;
        if (type == DT_UNKNOWN) {
            if (fstatat(openDir(), name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            haveStat = true;
            type = S_ISDIR(st.st_mode)    ? DT_DIR
                   : S_ISLNK(st.st_mode)  ? DT_LNK
                   : S_ISREG(st.st_mode)  ? DT_REG
                   : S_ISFIFO(st.st_mode) ? DT_FIFO
                   : S_ISSOCK(st.st_mode) ? DT_SOCK
                   : S_ISCHR(st.st_mode)  ? DT_CHR
                                          : DT_BLK;
        }
        const bool isDir = type == DT_DIR;
        if (isDir && !(searchAttr & faDirectory)) continue;
        if (!isDir && dirsOnly) continue;
        if (isDir) {
            // A walk never leaves its drive: another file system's mount point is no subdirectory.
            if (!haveStat && fstatat(openDir(), name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            haveStat = true;
            if (!dirDev) {
                struct stat dirSt;
                if (fstat(openDir(), &dirSt) != 0) continue;
                dirDev = dirSt.st_dev;
            }
            if (st.st_dev != *dirDev) continue;
        }

        uint32_t attr = isDir ? uint32_t{faDirectory} : 0u;
        if (type == DT_REG || type == DT_LNK) attr |= faArchive;
        if (name[0] == '.') attr |= faHidden;
        if (type == DT_CHR || type == DT_BLK || type == DT_FIFO || type == DT_SOCK) attr |= faSysFile;

        const uint32_t wanted = (needAttrs | (~searchAttr & (faHidden | faSysFile))) & kDosBits;
        if (wanted & (faHidden | faSysFile | faReadOnly)) {
            if (!fat) fat = IsFatFs(openDir());
            if (auto dos = ReadDosAttributes(openDir(), *host, name, *fat, type == DT_LNK))
                attr |= *dos & (faHidden | faSysFile | faReadOnly);
        }
        if (wanted & faReadOnly) {
            if (!haveStat && fstatat(openDir(), name, &st, AT_SYMLINK_NOFOLLOW) == 0) haveStat = true;
            if (haveStat && !S_ISLNK(st.st_mode) && !(st.st_mode & S_IWUSR)) attr |= faReadOnly;
        }
        if (attr & (faHidden | faSysFile | faVolumeID | faDirectory) & ~searchAttr) continue;
        rec.Name = name;
        rec.Attr = attr;
        fn(rec);
    }
    return true;
}

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
    if (!name.empty() && name[0] == '.') attr |= faHidden;
    const std::string parent = slash == 0 ? "/" : host->substr(0, slash);
    const int dirfd = open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirfd >= 0) {
        if (auto dos = ReadDosAttributes(dirfd, parent, name.c_str(), IsFatFs(dirfd), S_ISLNK(st.st_mode)))
            attr |= *dos;
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
    if (IsFatFs(fd)) {
        uint32_t a = dos;
        ok = ioctl(fd, FAT_IOCTL_SET_ATTRIBUTES, &a) == 0;
    } else {
        char buf[16];
        const int n = std::snprintf(buf, sizeof buf, "0x%x", dos);
        ok = fsetxattr(fd, kDosAttribXattr, buf, static_cast<size_t>(n), 0) == 0;
    }
    close(fd);
    return ok;
}

bool Platform::DeleteFile(const std::string& path) const {
    ForgetEnteredDir(); // what it changes must not pass for what was seen on entering
    const auto host = ToHostPath(path);
    return host && unlink(host->c_str()) == 0;
}

bool Platform::CreateDir(const std::string& path) const {
    ForgetEnteredDir(); // what it changes must not pass for what was seen on entering
    const auto host = ToHostPath(path);
    return host && mkdir(host->c_str(), 0777) == 0;
}

} // namespace quindle
