#pragma once
// A program (quindle-cli, bash) run as a process: stdin from /dev/null, stdout and stderr
// into files, and the exit status (128 + the signal for one that ended it).
#include <QSettings>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "support/SettingsDrives.h"
#include "support/TempDrive.h"

extern char** environ;

namespace quindle::test {

struct CliResult {
    int status = -1;
    std::string out, err;
};

inline CliResult RunProgram(const std::string& program, const std::vector<std::string>& args) {
    TempDir io;
    const std::string outPath = io.path() + "/out", errPath = io.path() + "/err";
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&fa, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    CliResult r;
    const int spawned = posix_spawn(&pid, program.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (spawned != 0) return r;
    int ws = 0;
    waitpid(pid, &ws, 0);
    r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
    r.out = ReadHostFile(outPath);
    r.err = ReadHostFile(errPath);
    return r;
}

inline CliResult RunCli(const std::vector<std::string>& args) { return RunProgram(QUINDLE_CLI, args); }

} // namespace quindle::test
