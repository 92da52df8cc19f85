// quindle-cli: the package from the command line, for scripts, cron and ssh. The same
// drive table, package folder, memorizer, titles and counts as the program.
//
// Exit status: 0 done (find: some disk holds the word), 1 find: no disk holds it, add:
// the walk was not complete; 2 any error (bad input, unreadable record, ...). Messages
// and progress go to stderr; results to stdout.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/AppContext.h"
#include "browse/DirectoryOutline.h"
#include "browse/FileListBox.h"
#include "platform/CodePage.h"
#include "platform/Errors.h"
#include "records/DiskRecord.h"
#include "records/Memorizer.h"
#include "records/PackageTitles.h"
#include "search/CountOccurrences.h"
#include "search/RecordLines.h"
#include "ui/UserSettings.h"

namespace quindle {
namespace {

constexpr int kOk = 0, kNotFound = 1, kError = 2;

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
    "\n"
    "Options:\n"
    "  --package DIR                 use the package folder DIR instead of the program's\n"
    "  -h, --help                    show this help\n"
    "\n"
    "Fields are separated by tabs. Exit status: 0 done (find: some disk holds WORD),\n"
    "1 find: no disk holds WORD, add: not complete; 2 on any error.\n";

// Bad input: the message, then exit status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

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

// ---- arguments ----------------------------------------------------------------------

// The arguments after the command: options (with their values) and the rest, in order.
struct CommandArgs {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::optional<std::string>>> options;

    bool Flag(const std::string& name) const {
        return std::any_of(options.begin(), options.end(), [&](const auto& o) { return o.first == name; });
    }
    std::optional<std::string> Value(const std::string& name) const {
        std::optional<std::string> v;
        for (const auto& o : options)
            if (o.first == name) v = o.second;
        return v;
    }
};

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

// The record file names of the package in the package dialog's order: its hidden list of
// "*.dat" files (system files excepted), which both listings and the search follow.
std::vector<std::string> PackageFiles(AppContext& ctx) {
    TFileListBox files(ctx);
    files.SetMask("*.dat");
    files.SetFileType(ftReadOnly | ftHidden | ftArchive | ftNormal);
    files.SetDirectory(ctx.PackageFolder);
    files.RefreshList();
    return files.CopyItems();
}

// ---- list ---------------------------------------------------------------------------------

int List(AppContext& ctx) {
    int status = kOk;
    for (const std::string& name : PackageFiles(ctx)) {
        const std::string path = ctx.PackageFolder + name;
        try {
            const TRecordText record(path);
            if (!record.Present()) continue; // deleted since the listing
            const auto value = [&](const char* key) { return FindIniValue(record.Text(), ctx.InfoSection, key); };
            Out(SerialOfRecordName(name) + "\t" + value("Title") + "\t" + value("Memorization Date") + "\t" +
                value("Description") + "\n");
        } catch (const std::exception& e) {
            Message(e.what());
            status = kError;
        }
    }
    return status;
}

// ---- find ---------------------------------------------------------------------------------

int Find(AppContext& ctx, const std::vector<std::string>& args) {
    const CommandArgs a = ParseCommandArgs("find", args, {"--names", "--all"}, {});
    ExpectPositional("find", a, 1, "WORD");
    const std::string& word = a.positional[0];
    if (word.empty()) throw UsageError("find: the word is empty");
    const bool all = a.Flag("--all"), names = a.Flag("--names");

    bool found = false, failed = false;
    TOccurrenceCounter counter; // one buffer for the whole package
    for (const std::string& name : PackageFiles(ctx)) {
        const std::string path = ctx.PackageFolder + name;
        try {
            const int32_t n = counter.Count(path, word);
            if (n > 0) found = true;
            if (n == 0 && !all) continue;
            const TRecordText record(path);
            const std::string title = FindIniValue(record.Text(), ctx.InfoSection, "Title");
            Out(std::to_string(n) + "\t" + SerialOfRecordName(name) + "\t" + title + "\n");
            if (names && n > 0) {
                // The key is the file name; a line of the information section shows whole.
                record.ForEachMatchingLine(word, ctx.InfoSection, [](const RecordLine& m) {
                    const std::string_view key = m.header ? std::string_view() : m.info ? m.text : m.key;
                    Out("\t" + std::string(m.section) + "\t" + std::string(key) + "\n");
                });
            }
        } catch (const std::exception& e) {
            Message(e.what());
            failed = true;
        }
    }
    return failed ? kError : (found ? kOk : kNotFound);
}

// ---- add ----------------------------------------------------------------------------------

volatile sig_atomic_t gStopRequested = 0;

extern "C" void OnStopSignal(int) { gStopRequested = 1; }

// SIGINT and SIGTERM ask the walk to stop, as the Abort button does; a second one ends
// the program at once.
void CatchStopSignals() {
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

// Folders and files memorized so far, on stderr: one line redrawn in place on a
// terminal, a line every kLinesEvery folders otherwise (logs of cron jobs stay short).
class Progress {
public:
    Progress(char drive, const TFileListBox& lister) : drive_(drive), lister_(lister), tty_(isatty(2) == 1) {}

    // Called once before each directory: the previous one is done.
    void Pump() {
        ++pumps_;
        CountLister();
        const long folders = pumps_ - 1;
        if (tty_)
            WriteAll(2, "\r\x1b[K" + Text(folders));
        else if (folders > 0 && folders % kLinesEvery == 0)
            WriteAll(2, Text(folders) + "\n");
    }
    void Log(const std::string& line) {
        WriteAll(2, (tty_ && pumps_ > 0 ? "\r\x1b[K" : "") + line + "\n");
    }
    // The walk has ended; `stopped`: on the stop request, before the last pumped directory.
    void Finish(bool stopped) {
        CountLister();
        const long folders = stopped ? pumps_ - 1 : pumps_;
        WriteAll(2, (tty_ ? "\r\x1b[K" : "") + Text(folders > 0 ? folders : 0) + "\n");
    }

private:
    static constexpr long kLinesEvery = 1000;

    // The lister holds the files of the last directory it entered; a directory it could
    // not enter leaves it on the previous one, which must not count twice.
    void CountLister() {
        if (pumps_ <= 1 || lister_.Directory() == counted_) return;
        counted_ = lister_.Directory();
        files_ += static_cast<long>(const_cast<TFileListBox&>(lister_).Count());
    }
    std::string Text(long folders) const {
        return std::string(1, drive_) + ": " + std::to_string(folders) + " folders, " + std::to_string(files_) +
               " files";
    }

    char drive_;
    const TFileListBox& lister_;
    bool tty_;
    long pumps_ = 0, files_ = 0;
    std::string counted_;
};

char ParseDriveLetter(const std::string& s) {
    const bool shape = (s.size() == 1 || (s.size() == 2 && s[1] == ':') || (s.size() == 3 && s[1] == ':' && (s[2] == '\\' || s[2] == '/')));
    const char c = s.empty() ? 0 : s[0];
    if (!shape || !((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
        throw UsageError("add: \"" + s + "\" is not a drive (give a letter such as E: or e)");
    return static_cast<char>(UpperByte(static_cast<unsigned char>(c)));
}

int Add(AppContext& ctx, const std::vector<std::string>& args) {
    const CommandArgs a =
        ParseCommandArgs("add", args, {"--replace"}, {"--title", "--description", "--additional"});
    ExpectPositional("add", a, 1, "DRIVE");
    const char d = ParseDriveLetter(a.positional[0]);
    const DiskInfoFields info{a.Value("--title").value_or(""), a.Value("--description").value_or(""),
                              a.Value("--additional").value_or("")};
    if (info.title.empty()) throw UsageError("add: a title is needed (--title T)");
    for (const std::string* v : {&info.title, &info.description, &info.additional}) {
        if (UnstorableInfoChar(*v) != 0)
            throw UsageError("add: The title, description and additional information cannot hold the character \"[\".");
        // A line break would write lines of its own into the record.
        if (v->find_first_of("\r\n") != std::string::npos)
            throw UsageError("add: the title, description and additional information must be single lines");
    }
    const DriveInfo* drive = ctx.platform.FindDrive(d);
    if (!drive) throw UsageError(std::string("add: unknown drive ") + d + ": (see quindle-cli drives)");
    if (!ctx.platform.DirectoryExists(std::string(1, d) + ":\\"))
        throw UsageError(std::string("add: drive ") + d + ": is not ready (" + drive->root + ")");

    const std::string serial = GetVolumeSerial(ctx, d);
    const std::string path = RecordPath(ctx, serial);
    if (ctx.platform.FileExists(path) && !a.Flag("--replace"))
        throw UsageError("add: disk " + (serial.empty() ? std::string("with no serial") : serial) +
                         " is already in the package (" + path + "); --replace memorizes it anyway");

    // The program's own directory readers: the main window's tree and hidden file lister.
    TDirectoryOutline tree(ctx);
    tree.SetTextCase(tcAsIs);
    TFileListBox lister(ctx);
    lister.SetFileType(ftReadOnly | ftHidden | ftSystem | ftArchive | ftNormal);

    Progress progress(d, lister);
    ctx.AddToLog = [&](const std::string& line) { progress.Log(line); };
    ctx.ProcessMessages = [&] {
        progress.Pump();
        if (gStopRequested) ctx.AbortFlag = true;
    };
    CatchStopSignals();

    bool complete = false;
    try {
        complete = MemorizeDiskWithInfo(ctx, tree, lister, d, serial, path, info);
        progress.Finish(!complete);
    } catch (const std::exception& e) {
        progress.Finish(false);
        progress.Log(std::string("quindle-cli: ") + e.what());
    }
    if (!complete) {
        Message("Memorizing that disk was not complete.");
        return kNotFound;
    }
    Message("Ok, the disk has been memorized!");
    return kOk;
}

// ---- remove, drives -------------------------------------------------------------------------

int Remove(AppContext& ctx, const std::vector<std::string>& args) {
    const CommandArgs a = ParseCommandArgs("remove", args, {}, {});
    ExpectPositional("remove", a, 1, "SERIAL");
    const std::string& text = a.positional[0];
    const bool digits = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    const auto serial = digits ? ParseDecimalSerial(text) : std::nullopt;
    if (!serial) throw UsageError("remove: \"" + text + "\" is not a volume serial (a number from 0 to 4294967295)");
    const std::string path = RecordPath(ctx, std::to_string(*serial));
    if (!ctx.platform.FileExists(path)) throw UsageError("remove: no disk " + std::to_string(*serial) + " in the package");
    if (!ctx.platform.DeleteFile(path)) throw UsageError("remove: cannot delete " + path + ": " + std::strerror(errno));
    return kOk;
}

const char* KindName(DriveKind k) {
    switch (k) {
    case DriveKind::Removable: return "removable";
    case DriveKind::Fixed: return "fixed";
    case DriveKind::Remote: return "remote";
    case DriveKind::CDRom: return "cdrom";
    case DriveKind::RamDisk: return "ramdisk";
    case DriveKind::NoRootDir: return "noroot";
    case DriveKind::Unknown: break;
    }
    return "unknown";
}

int Drives(AppContext& ctx) {
    std::vector<DriveInfo> drives = ctx.platform.Drives();
    std::sort(drives.begin(), drives.end(), [](const DriveInfo& x, const DriveInfo& y) { return x.letter < y.letter; });
    for (const DriveInfo& d : drives) {
        const std::string serial = GetVolumeSerial(ctx, d.letter);
        const std::string label = ctx.platform.GetVolumeLabel(d.letter).value_or("");
        Out(std::string(1, d.letter) + ":\t" + KindName(d.kind) + "\t" + serial + "\t" + label + "\t" + d.root + "\n");
    }
    return kOk;
}

int Run(const std::vector<std::string>& argv) {
    std::optional<std::string> package;
    size_t i = 0;
    for (; i < argv.size() && argv[i].size() > 1 && argv[i][0] == '-'; ++i) {
        const std::string& a = argv[i];
        if (a == "-h" || a == "--help") {
            Out(kUsage);
            return kOk;
        } else if (a == "--package") {
            if (i + 1 == argv.size()) throw UsageError("--package needs a folder");
            package = argv[++i];
        } else if (a.rfind("--package=", 0) == 0) {
            package = a.substr(10);
        } else {
            throw UsageError("unknown option " + a);
        }
    }
    if (i == argv.size()) throw UsageError("no command given");
    const std::string command = argv[i];
    const std::vector<std::string> rest(argv.begin() + static_cast<long>(i) + 1, argv.end());
    const bool known = command == "list" || command == "find" || command == "add" || command == "remove" ||
                       command == "drives";
    if (!known) throw UsageError("unknown command \"" + command + "\"");

    AppContext ctx;
    LoadDriveTable(ctx);
    if (command == "drives") {
        ParseCommandArgs(command, rest, {}, {});
        if (!rest.empty()) throw UsageError("drives: unexpected argument \"" + rest[0] + "\"");
        return Drives(ctx);
    }
    SetUpPackage(ctx, package);
    if (command == "list") {
        ExpectPositional(command, ParseCommandArgs(command, rest, {}, {}), 0, "");
        return List(ctx);
    }
    if (command == "find") return Find(ctx, rest);
    if (command == "add") return Add(ctx, rest);
    return Remove(ctx, rest);
}

} // namespace
} // namespace quindle

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    int status;
    try {
        status = quindle::Run(args);
    } catch (const quindle::UsageError& e) {
        quindle::Message(e.what());
        quindle::WriteAll(2, "Try 'quindle-cli --help'.\n");
        status = quindle::kError;
    } catch (const std::exception& e) {
        quindle::Message(e.what());
        status = quindle::kError;
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        quindle::Message(std::string("cannot write the output: ") + std::strerror(errno));
        status = quindle::kError;
    }
    return status;
}
