#include "platform/Platform.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>

#include "platform/CodePage.h"

namespace quindle {

namespace {

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

bool Platform::EnterDirectory(const std::string& shown, const std::string& host) {
    // In a walk the lister enters the folder the tree entered just before: it is current
    // already, and asking the disk again would only repeat the lookup of its whole path.
    if (shareRepeatedRead_ && !host.empty() && host == currentHost_ && shown == currentDir_) return true;
    ForgetEnteredDir();
    if (shown.empty() || host.empty() || !CanEnter(host)) return false;
    currentDir_ = shown;
    currentHost_ = host;
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
    currentHost_.clear();
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
