#include "records/StaleTempFiles.h"

#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/AppContext.h"

namespace quindle {

namespace {

// Reads a run of decimal digits at `at` (at least one, no sign, no leading zero run
// longer than a bare "0"), advancing `at`; false when there is none or it overflows.
bool ReadNumber(const std::string& s, size_t& at, long& value) {
    const size_t start = at;
    value = 0;
    while (at < s.size() && s[at] >= '0' && s[at] <= '9') {
        if (value > (__LONG_MAX__ - 9) / 10) return false;
        value = value * 10 + (s[at] - '0');
        ++at;
    }
    return at > start;
}

bool ProcessIsAlive(long pid) {
    if (pid <= 0) return true; // no process of ours: never treat as stale
    // EPERM: alive, but another user's.
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

} // namespace

bool IsTempFileName(const std::string& name, long* pid) {
    size_t at;
    if (name.rfind(".~ini-", 0) == 0)
        at = 6;
    else if (name.rfind(".~walk-", 0) == 0)
        at = 7;
    else if (name.rfind(".~cat-", 0) == 0)
        at = 6;
    else
        return false;
    long p = 0, n = 0;
    if (!ReadNumber(name, at, p) || at >= name.size() || name[at] != '-') return false;
    ++at;
    if (!ReadNumber(name, at, n) || name.compare(at, std::string::npos, ".tmp") != 0) return false;
    if (pid) *pid = p;
    return true;
}

int RemoveStaleTempFiles(const AppContext& ctx) {
    if (ctx.PackageFolder.empty()) return 0;
    DIR* dir = opendir(ctx.PackageFolder.c_str());
    if (!dir) return 0;
    const int dfd = dirfd(dir);
    int removed = 0;
    while (const dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        long pid = 0;
        if (!IsTempFileName(name, &pid) || ProcessIsAlive(pid)) continue;
        struct stat st;
        if (fstatat(dfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
        if (unlinkat(dfd, name.c_str(), 0) == 0) ++removed;
    }
    closedir(dir);
    return removed;
}

} // namespace quindle
