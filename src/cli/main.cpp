// quindle-cli: the package from the command line, for scripts, cron and ssh. The same
// drive table, package folder, memorizer, titles and counts as the program.
//
// Exit status: 0 done (find: some disk holds the word), 1 find: no disk holds it, add:
// the walk was not complete; 2 any error (bad input, unreadable record, ...). Messages
// and progress go to stderr; results to stdout.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/AppContext.h"
#include "cli/Cli.h"
#include "settings/UserSettings.h"

namespace quindle::cli {
namespace {

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
                       command == "drives" || command == "files" || command == "show" || command == "locate" ||
                       command == "diff" || command == "dupes" || command == "unique";
    if (!known) throw UsageError("unknown command \"" + command + "\"");

    AppContext ctx;
    LoadDriveTable(ctx);
    if (command == "drives") {
        ParseCommandArgs(command, rest, {}, {});
        if (!rest.empty()) throw UsageError("drives: unexpected argument \"" + rest[0] + "\"");
        return Drives(ctx);
    }
    SetUpPackage(ctx, package);
    if (command == "list") return List(ctx, rest);
    if (command == "find") return Find(ctx, rest);
    if (command == "add") return Add(ctx, rest);
    if (command == "files") return Files(ctx, rest);
    if (command == "show") return Show(ctx, rest);
    if (command == "locate") return Locate(ctx, rest);
    if (command == "diff") return Diff(ctx, rest);
    if (command == "dupes") return Dupes(ctx, rest);
    if (command == "unique") return Unique(ctx, rest);
    return Remove(ctx, rest);
}

} // namespace
} // namespace quindle::cli

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    int status;
    try {
        status = quindle::cli::Run(args);
    } catch (const quindle::cli::UsageError& e) {
        quindle::cli::Message(e.what());
        quindle::cli::WriteAll(2, "Try 'quindle-cli --help'.\n");
        status = quindle::cli::kError;
    } catch (const std::exception& e) {
        quindle::cli::Message(e.what());
        status = quindle::cli::kError;
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        quindle::cli::Message(std::string("cannot write the output: ") + std::strerror(errno));
        status = quindle::cli::kError;
    }
    return status;
}
