// What the commands share: output, messages, the package folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/Cli.h"
#include "records/DiskRecord.h"
#include "settings/UserSettings.h"

namespace quindle::cli {

void WriteAll(int fd, const std::string& s) {
    size_t done = 0;
    while (done < s.size()) {
        const ssize_t n = write(fd, s.data() + done, s.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return; // stderr gone: nothing left to tell
        done += static_cast<size_t>(n);
    }
}

namespace {
std::string gCommand;
}

void SetMessageCommand(const std::string& command) { gCommand = command; }

std::string MessageLine(const std::string& text) {
    return "quindle-cli: " + (gCommand.empty() ? std::string() : gCommand + ": ") + text;
}

void Message(const std::string& text) { WriteAll(2, MessageLine(text) + "\n"); }

void Out(const std::string& line) { std::fwrite(line.data(), 1, line.size(), stdout); }

void AppendOneLine(std::string& out, std::string_view s) {
    for (const char c : s) out += (c == '\t' || c == '\r' || c == '\n') ? '?' : c;
}

// ---- the package ------------------------------------------------------------------------

std::string ProgramFile() {
    std::string buf(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n <= 0) return "./quindle-cli";
    buf.resize(static_cast<size_t>(n));
    return buf;
}

bool IsDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The program's rule for its package folder, or the folder the user names.
void SetUpPackage(AppContext& ctx, const std::optional<std::string>& package) {
    if (package) {
        if (package->empty()) throw UsageError("--package needs a folder");
        if (!IsDirectory(*package)) throw UsageError("package folder " + *package + " does not exist");
        const std::string exe = ProgramFile();
        ctx.ProgramFolder = exe.substr(0, exe.find_last_of('/') + 1);
        // The core takes a path that does not begin with "/" for a drive path.
        char* real = realpath(package->c_str(), nullptr);
        if (!real) throw UsageError("package folder " + *package + ": " + std::strerror(errno));
        ctx.PackageFolder = real;
        free(real);
        if (ctx.PackageFolder.back() != '/') ctx.PackageFolder += '/';
        return;
    }
    SetUpFolders(ctx, ProgramFile(), UserDataFolder());
    if (!IsDirectory(ctx.PackageFolder))
        throw UsageError("package folder " + ctx.PackageFolder + " does not exist and cannot be created");
}

std::string RecordOfDisk(const AppContext& ctx, uint32_t serial) {
    const std::string path = RecordPath(ctx, std::to_string(serial));
    if (!ctx.platform.FileExists(path)) throw UsageError("no disk " + std::to_string(serial) + " in the package");
    return path;
}

void NoDetails(uint32_t serial, const std::string& why) {
    throw std::runtime_error("disk " + std::to_string(serial) + ": " + why +
                             "; the disk has no details until it is memorized again");
}

} // namespace quindle::cli
