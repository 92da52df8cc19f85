// What the commands share: output, messages, argument parsing, the package folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/Cli.h"
#include "platform/Drives.h"
#include "records/DiskRecord.h"
#include "settings/UserSettings.h"

namespace quindle::cli {

const char* const kUsage =
    "Usage: quindle-cli [--package DIR] COMMAND [ARGUMENTS]\n"
    "\n"
    "Commands:\n"
    "  list                          one line per disk: serial, title, date, description\n"
    "  find [--names] [--all] WORD   one line per disk holding WORD: count, serial, title\n"
    "  add DRIVE --title T [--description D] [--additional A] [--replace]\n"
    "                                memorize drive DRIVE (E: or e) into the package\n"
    "  remove SERIAL                 remove the disk with that volume serial\n"
    "  drives                        the drive table: letter, kind, serial, label, folder\n"
    "  files SERIAL [--json] [--no-hidden]\n"
    "                                every entry of the disk's catalogue: kind, size, date, path\n"
    "  show SERIAL [--json]          the disk's information and figures\n"
    "  locate [--json] [--kind K] [--min-size N] [--max-size N] [--after DATE] [--before DATE]\n"
    "         [--disk SERIAL]... [--sort title|name|size|date] [--reverse] [--no-hidden] TERM...\n"
    "                                every file of every disk matching all TERMs: serial, title,\n"
    "                                kind, size, date, path (sizes take K, M, G; DATE is YYYY-MM-DD)\n"
    "  diff SERIAL [--json] [--no-hidden]\n"
    "                                what changed on the disk in its drive since it was memorized\n"
    "  dupes [--min-size N] [--json] [--no-hidden]\n"
    "                                files of the same name and size in two or more places\n"
    "  unique SERIAL [--json] [--no-hidden]\n"
    "                                files of the disk with no copy on any other disk\n"
    "Hidden entries (hidden, or in a hidden folder) are listed too; --no-hidden leaves them out.\n"
    "\n"
    "Options:\n"
    "  --package DIR                 use the package folder DIR instead of the program's\n"
    "  -h, --help                    show this help\n"
    "\n"
    "Fields are separated by tabs. Exit status: 0 done (find: some disk holds WORD),\n"
    "1 find: no disk holds WORD, add: not complete; 2 on any error.\n"
    "locate: 0 when some file matched, 1 when none did, 2 on an error.\n";

void WriteAll(int fd, const std::string& s) {
    size_t done = 0;
    while (done < s.size()) {
        const ssize_t n = write(fd, s.data() + done, s.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return; // stderr gone: nothing left to tell
        done += static_cast<size_t>(n);
    }
}

void Message(const std::string& text) { WriteAll(2, "quindle-cli: " + text + "\n"); }

void Out(const std::string& line) { std::fwrite(line.data(), 1, line.size(), stdout); }

// Splits argv after the command. `withValue` names the options that take a value
// ("--title T" or "--title=T"); `flags` those that do not; "--" ends the options.
CommandArgs ParseCommandArgs(const std::string& command, const std::vector<std::string>& args,
                             const std::vector<std::string>& flags, const std::vector<std::string>& withValue) {
    CommandArgs r;
    bool optionsDone = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsDone || a.size() < 2 || a[0] != '-') {
            r.positional.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsDone = true;
            continue;
        }
        const size_t eq = a.find('=');
        const std::string name = a.substr(0, eq);
        if (std::find(withValue.begin(), withValue.end(), name) != withValue.end()) {
            if (eq != std::string::npos)
                r.options.emplace_back(name, a.substr(eq + 1));
            else if (i + 1 < args.size())
                r.options.emplace_back(name, args[++i]);
            else
                throw UsageError(command + ": option " + name + " needs a value");
        } else if (eq == std::string::npos && std::find(flags.begin(), flags.end(), name) != flags.end()) {
            r.options.emplace_back(name, std::nullopt);
        } else {
            throw UsageError(command + ": unknown option " + a);
        }
    }
    return r;
}

void ExpectPositional(const std::string& command, const CommandArgs& a, size_t n, const char* what) {
    if (a.positional.size() < n) throw UsageError(command + ": missing " + what);
    if (a.positional.size() > n) throw UsageError(command + ": unexpected argument \"" + a.positional[n] + "\"");
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

uint32_t SerialArgument(const std::string& command, const std::string& text) {
    const bool digits = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    const auto serial = digits ? ParseDecimalSerial(text) : std::nullopt;
    if (!serial) throw UsageError(command + ": \"" + text + "\" is not a volume serial (a number from 0 to 4294967295)");
    return *serial;
}

} // namespace quindle::cli
