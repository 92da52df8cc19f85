#pragma once
// What the commands of quindle-cli share: output, messages, the package, and the typed
// options each command receives. The command line itself is declared once, in
// CommandLine.cpp; one file per command does the work.
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "app/AppContext.h"
#include "archives/Archives.h"
#include "index/FileQuery.h"

namespace quindle::cli {

// As grep's: 0 something listed or done, 1 nothing listed (or a walk not complete), 2 an error.
constexpr int kOk = 0, kNotFound = 1, kError = 2;

// Bad input: the message, a pointer to the command's help, then exit status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

void WriteAll(int fd, const std::string& s);
// The command running, which every message names.
void SetMessageCommand(const std::string& command);
// "quindle-cli: COMMAND: " + text, without the line end. Texts start in lower case and end
// without a period, except the windows' own messages that a command repeats word for word
// and the core's file errors.
std::string MessageLine(const std::string& text);
// MessageLine on stderr.
void Message(const std::string& text);
// Results on stdout.
void Out(const std::string& line);
// A name or path on one text line: tabs and line breaks would split the fields.
void AppendOneLine(std::string& out, std::string_view s);

// The program's rule for its package folder, or the folder the user names.
void SetUpPackage(AppContext& ctx, const std::optional<std::string>& package);
// The record of a disk of the package; a serial with no record is a usage error.
std::string RecordOfDisk(const AppContext& ctx, uint32_t serial);
// A disk whose catalogue cannot be used by a command that needs it: an error naming why.
[[noreturn]] void NoDetails(uint32_t serial, const std::string& why);

// ---- the options of each command, already checked ------------------------------------

struct ListOptions {
    bool json = false;
};
struct FindOptions {
    std::string word;
    bool names = false, all = false;
};
struct AddOptions {
    char drive = 0; // 'A'..'Z'
    std::string title, description, additional;
    bool replace = false;
    std::optional<ArchiveMode> archives; // none given: the disk's own choice, or the default
    std::optional<bool> checksums; // the content's checksum of every regular file; none given: the disk's own choice
};
// files, show, diff, unique and remove: one disk of the package.
struct DiskOptions {
    uint32_t serial = 0;
    bool json = false;
    bool noHidden = false; // files, diff, unique: leave hidden entries out
    bool content = false; // unique: copies by size and checksum, whatever their names
};
struct LocateOptions {
    std::vector<std::string> terms; // joined and split by ParseQuery
    QueryFilters filters;
    FileOrder order = FileOrder::TitlePath;
    bool reverse = false, json = false;
    bool noHidden = false;
};
struct DupesOptions {
    uint64_t minSize = 1; // empty files are never copies
    bool json = false;
    bool noHidden = false;
    bool content = false; // by size and checksum, whatever their names
};

// The commands.
int List(AppContext& ctx, const ListOptions& o);
int Find(AppContext& ctx, const FindOptions& o);
int Add(AppContext& ctx, const AddOptions& o);
int Remove(AppContext& ctx, const DiskOptions& o);
int Drives(AppContext& ctx);
int Files(AppContext& ctx, const DiskOptions& o);
int Show(AppContext& ctx, const DiskOptions& o);
int Locate(AppContext& ctx, const LocateOptions& o);
int Diff(AppContext& ctx, const DiskOptions& o);
int Dupes(AppContext& ctx, const DupesOptions& o);
int Unique(AppContext& ctx, const DiskOptions& o);
int Verify(AppContext& ctx, const DiskOptions& o);

// The whole command line: parses argv (without the program's name), runs the command and
// gives the exit status; parse errors and --help are answered here.
int RunCommandLine(const std::vector<std::string>& args);

} // namespace quindle::cli
