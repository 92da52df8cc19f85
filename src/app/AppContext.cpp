#include "app/AppContext.h"

#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quindle {

bool KeepFreedMemory() {
    static const bool kept = mallopt(M_TRIM_THRESHOLD, 64 << 20) == 1;
    return kept;
}

namespace {
bool MakeDirs(const std::string& path) {
    std::string cur;
    size_t i = 0;
    while (i < path.size()) {
        size_t j = path.find('/', i + 1);
        if (j == std::string::npos) j = path.size();
        cur = path.substr(0, j);
        if (!cur.empty()) mkdir(cur.c_str(), 0777);
        i = j;
    }
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The install step writes this file beside the program. Its presence, not the folder's
// permissions, marks an installed program: run as root, /usr/lib/quindle/ is writable too,
// yet a package must never write records into it. The marker also holds for a package
// unpacked into another root (dpkg -x), whose folder is not below /usr.
constexpr const char* kInstalledMarker = "quindle.installed";
} // namespace

void SetUpFolders(AppContext& ctx, const std::string& programFile, const std::string& userDataFolder) {
    const auto slash = programFile.find_last_of('/');
    ctx.ProgramFolder = slash == std::string::npos ? std::string("./") : programFile.substr(0, slash + 1);
    const std::string beside = ctx.ProgramFolder + "data/";
    struct stat st;
    const bool installed = stat((ctx.ProgramFolder + kInstalledMarker).c_str(), &st) == 0;
    if (!installed && stat(beside.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && access(beside.c_str(), W_OK) == 0) {
        ctx.PackageFolder = beside;
        return;
    }
    if (!installed && access(ctx.ProgramFolder.c_str(), W_OK) == 0 && mkdir(beside.c_str(), 0777) == 0) {
        ctx.PackageFolder = beside;
        return;
    }
    std::string user = userDataFolder;
    if (!user.empty() && user.back() != '/') user += '/';
    ctx.PackageFolder = user + "data/";
    MakeDirs(ctx.PackageFolder.substr(0, ctx.PackageFolder.size() - 1));
}

} // namespace quindle
