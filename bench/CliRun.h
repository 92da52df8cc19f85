#pragma once
// A command line run as a person runs it, for the benchmarks: no shell in between, its
// output dropped, its time, peak resident size and exit status taken from the kernel (wait4).
//
// The peak the kernel gives for a child also counts the program it was started from: at
// exec the kernel keeps the larger of the old memory's peak and the new program's, and a
// child of posix_spawn shares the bench's own memory until then, so every run seemed to
// take at least what the bench had grown to. Runs are therefore started by a small process
// forked from the bench before it grows (StartCliRunner, first thing in main): it forks and
// execs each command and waits for it, and stays a few pages itself.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace quindle::bench {

struct CliRun {
    double seconds = 0;
    long maxRssKiB = 0;
    int status = -1;
};

namespace detail {

inline bool WriteAll(int fd, const void* data, size_t n) {
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        const ssize_t w = write(fd, p, n);
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

inline bool ReadAll(int fd, void* data, size_t n) {
    char* p = static_cast<char*>(data);
    while (n > 0) {
        const ssize_t r = read(fd, p, n);
        if (r <= 0) return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

inline std::vector<char*> Pointers(const std::vector<std::string>& strings) {
    std::vector<char*> p;
    for (const std::string& s : strings) p.push_back(const_cast<char*>(s.c_str()));
    p.push_back(nullptr);
    return p;
}

inline std::vector<std::string> Environment() {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    return env;
}

// Runs one command in environment `env`: forks, execs it with its output dropped, waits.
inline CliRun RunHere(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    std::vector<char*> argv = Pointers(args), envp = Pointers(env);
    CliRun run;
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    if (pid > 0) {
        int status = 0;
        struct rusage usage {};
        if (wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status)) run.status = WEXITSTATUS(status);
        run.maxRssKiB = usage.ru_maxrss;
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return run;
}

struct Runner {
    int ask = -1, answer = -1; // pipes to and from the runner; -1: runs from the bench itself
};
inline Runner& TheRunner() {
    static Runner r;
    return r;
}

} // namespace detail

// Forks the process that starts every RunCli: call before the bench allocates anything large.
inline void StartCliRunner() {
    int ask[2], answer[2];
    if (pipe(ask) != 0 || pipe(answer) != 0) return;
    const pid_t pid = fork();
    if (pid < 0) return;
    if (pid == 0) {
        close(ask[1]);
        close(answer[0]);
        // Each request: the arguments, then the bench's environment as it is now, each a
        // count of strings, then each string as a length and its bytes.
        const auto strings = [&](std::vector<std::string>& out) {
            uint32_t count = 0;
            if (!detail::ReadAll(ask[0], &count, sizeof count)) return false;
            out.assign(count, std::string());
            for (std::string& a : out) {
                uint32_t length = 0;
                if (!detail::ReadAll(ask[0], &length, sizeof length)) return false;
                a.resize(length);
                if (!detail::ReadAll(ask[0], a.data(), length)) return false;
            }
            return true;
        };
        for (;;) {
            std::vector<std::string> args, env;
            if (!strings(args) || !strings(env)) _exit(0); // the bench is done
            const CliRun run = detail::RunHere(args, env);
            if (!detail::WriteAll(answer[1], &run, sizeof run)) _exit(0);
        }
    }
    close(ask[0]);
    close(answer[1]);
    detail::TheRunner() = {ask[1], answer[0]};
}

inline CliRun RunCli(const std::vector<std::string>& args) {
    const detail::Runner& r = detail::TheRunner();
    const std::vector<std::string> env = detail::Environment();
    if (r.ask < 0) return detail::RunHere(args, env);
    bool ok = true;
    for (const std::vector<std::string>* strings : {&args, &env}) {
        const auto count = static_cast<uint32_t>(strings->size());
        ok = ok && detail::WriteAll(r.ask, &count, sizeof count);
        for (const std::string& a : *strings) {
            const auto length = static_cast<uint32_t>(a.size());
            ok = ok && detail::WriteAll(r.ask, &length, sizeof length) && detail::WriteAll(r.ask, a.data(), a.size());
        }
    }
    CliRun run;
    if (!ok || !detail::ReadAll(r.answer, &run, sizeof run)) return CliRun{};
    return run;
}

} // namespace quindle::bench
