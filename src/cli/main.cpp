// quindle-cli: the package from the command line, for scripts, cron and ssh. The same
// drive table, package folder, memorizer, titles and counts as the program.
//
// Exit status, as grep's: 0 something listed or done, 1 nothing listed (find, locate,
// dupes, unique) or a walk not complete (add), 2 any error (bad input, unreadable
// record, ...); diff: 0 nothing changed, 1 something did. Messages and progress go to
// stderr; results to stdout.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "archives/Archives.h"
#include "cli/Cli.h"

int main(int argc, char** argv) {
    // Before any thread: the archive reader dates members in local time, which otherwise
    // re-reads the zone file for every member.
    quindle::ReadTimeZoneOnce();
    int status = quindle::cli::RunCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        quindle::cli::Message(std::string("cannot write the output: ") + std::strerror(errno));
        status = quindle::cli::kError;
    }
    return status;
}
