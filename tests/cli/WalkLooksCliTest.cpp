// quindle-cli add where the entries' sizes and dates are hard to get: a process with few
// descriptors to spare, and a folder whose entries cannot be looked at. Either every entry
// has its true size and date and the catalogue says complete, or the command says what it
// could not read and the catalogue says incomplete; never zeros marked complete.
#include <QSettings>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/NoPermissionOverride.h"
#include "support/TempDrive.h"

using quindle::test::ReadHostFile;
using quindle::test::TempDir;
using quindle::test::TempDrive;

namespace {

struct CliRun {
    int status = -1;
    std::string out, err;
};

// Runs quindle-cli in a child that may have at most `files` descriptors (0: as this
// process) and, with `anyUser`, no permission override.
CliRun RunCli(const std::vector<std::string>& args, rlim_t files = 0, bool anyUser = false) {
    TempDir io;
    const std::string outPath = io.path() + "/out", errPath = io.path() + "/err";
    std::vector<char*> argv{const_cast<char*>(QUINDLE_CLI)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_RDONLY);
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (null < 0 || out < 0 || err < 0) _exit(126);
        dup2(null, 0);
        dup2(out, 1);
        dup2(err, 2);
        close(null);
        close(out);
        close(err);
        if (files > 0) {
            const struct rlimit rl {files, files};
            if (setrlimit(RLIMIT_NOFILE, &rl) != 0) _exit(126);
        }
        if (anyUser) quindle::test::DropPermissionOverrideAtExec();
        execv(QUINDLE_CLI, argv.data());
        _exit(127);
    }
    CliRun r;
    int ws = 0;
    if (pid < 0 || waitpid(pid, &ws, 0) != pid) return r;
    r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
    r.out = ReadHostFile(outPath);
    r.err = ReadHostFile(errPath);
    return r;
}

// Drive E mapped in the user's settings.
struct Rig {
    TempDrive e{'E', 439041101u};
    TempDir package;
    Rig() {
        QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Tavrel", "Quindle");
        s.clear();
        s.setValue("Drives/E/path", QString::fromStdString(e.path()));
        s.setValue("Drives/E/serial", 439041101);
        s.sync();
    }
    std::vector<std::string> Args(std::vector<std::string> args) const {
        args.insert(args.begin(), {"--package", package.path()});
        return args;
    }
    // The `show` lines as key -> value.
    std::map<std::string, std::string> Show() const {
        const CliRun r = RunCli(Args({"show", "439041101"}));
        EXPECT_EQ(r.status, 0) << r.err;
        std::map<std::string, std::string> m;
        std::istringstream in(r.out);
        for (std::string line; std::getline(in, line);) {
            const auto tab = line.find('\t');
            if (tab != std::string::npos) m[line.substr(0, tab)] = line.substr(tab + 1);
        }
        return m;
    }
};

// "size<TAB>date" of every file the catalogue holds, by its path below the drive ("a/b.txt").
std::map<std::string, std::string> CatalogueFiles(const Rig& rig) {
    const CliRun r = RunCli(rig.Args({"files", "439041101"}));
    EXPECT_EQ(r.status, 0) << r.err;
    std::map<std::string, std::string> m;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string x; std::getline(fields, x, '\t');) f.push_back(x);
        if (f.size() != 4 || f[0] != "file") continue;
        std::string path = f[3].substr(3); // after "E:\"
        for (char& c : path)
            if (c == '\\') c = '/';
        m[path] = f[1] + "\t" + f[2];
    }
    return m;
}

std::string IsoDate(time_t t) {
    char buf[32];
    struct tm tm;
    gmtime_r(&t, &tm);
    strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

} // namespace

TEST(CliLooks, FewDescriptorsLeaveEverySizeAndDateTrue) {
    Rig rig;
    // 3,000 folders of two files each, every file with a size and a date of its own.
    std::map<std::string, std::string> truth;
    int n = 0;
    for (int a = 0; a < 30; ++a)
        for (int b = 0; b < 100; ++b)
            for (int k = 0; k < 2; ++k, ++n) {
                const std::string rel = "A" + std::to_string(a) + "/B" + std::to_string(b) + "/f" + std::to_string(k) + ".txt";
                const std::string host = rig.e.MakeFile(rel, std::string(static_cast<size_t>(n % 97 + 1), 'x'));
                const time_t t = 1'000'000'000 + n;
                const struct timespec times[2] = {{t, 0}, {t, 0}};
                ASSERT_EQ(utimensat(AT_FDCWD, host.c_str(), times, 0), 0);
                truth[rel] = std::to_string(n % 97 + 1) + "\t" + IsoDate(t);
            }
    // 24 descriptors: the walk's own few and a handful for the looks at the folders'
    // entries, far fewer than folders waiting when the looks fall behind.
    const CliRun add = RunCli(rig.Args({"add", "E:", "--title", "Few descriptors"}), 24);
    ASSERT_EQ(add.status, 0) << add.err;
    EXPECT_EQ(add.err.find("Cannot read"), std::string::npos) << add.err;
    const auto files = CatalogueFiles(rig);
    ASSERT_EQ(files.size(), truth.size());
    int wrong = 0;
    for (const auto& [path, sizeDate] : truth) {
        const auto it = files.find(path);
        if (it == files.end() || it->second != sizeDate) {
            if (++wrong <= 5) ADD_FAILURE() << path << ": " << (it == files.end() ? "missing" : it->second)
                                            << " instead of " << sizeDate;
        }
    }
    EXPECT_EQ(wrong, 0);
    auto show = rig.Show();
    EXPECT_EQ(show["complete"], "yes");
    EXPECT_EQ(show["unread"], "0");
    EXPECT_EQ(show["files"], "6000");
}

TEST(CliLooks, EntriesThatCannotBeLookedAtAreNamedAndTheCatalogueSaysIncomplete) {
    Rig rig;
    rig.e.MakeFile("open/a.txt", "abc");
    rig.e.MakeFile("shut/b.txt", "hello");
    rig.e.MakeFile("shut/c.txt", "x");
    ASSERT_EQ(RunCli(rig.Args({"add", "E:", "--title", "Before"})).status, 0);
    rig.e.MakeFile("open/new.txt", "new");
    const std::string shut = rig.e.path() + "/shut";
    const quindle::test::UnsearchableFolder unsearchable(shut);
    ASSERT_TRUE(unsearchable.Made());
    const CliRun probe = [&] {
        // The same child, asked whether b.txt can be looked at.
        const pid_t pid = fork();
        if (pid == 0) {
            const int null = open("/dev/null", O_RDWR);
            dup2(null, 1);
            dup2(null, 2);
            quindle::test::DropPermissionOverrideAtExec();
            execl("/usr/bin/stat", "stat", "-c", "%s", (shut + "/b.txt").c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        int ws = 0;
        waitpid(pid, &ws, 0);
        CliRun r;
        r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : -1;
        return r;
    }();
    if (probe.status == 0) GTEST_SKIP() << "the folder's permissions do not hold here";

    const CliRun add = RunCli(rig.Args({"add", "E:", "--title", "After", "--replace"}), 0, true);
    // Not complete: exit status 1, each entry and its cause named, and the reason said.
    EXPECT_EQ(add.status, 1) << add.err;
    for (const char* line : {"Cannot read the size and date of E:\\shut\\b.txt: Permission denied\n",
                             "Cannot read the size and date of E:\\shut\\c.txt: Permission denied\n",
                             "quindle-cli: add: Ok, the disk has been memorized!\n",
                             "quindle-cli: add: The catalogue is incomplete: the sizes and dates of 2 entries could not be read\n",
                             "quindle-cli: add: Changes since the last memorization not counted: the sizes and dates of 2 "
                             "entries could not be read\n"})
        EXPECT_NE(add.err.find(line), std::string::npos) << line << "\nin:\n" << add.err;
    // The record holds every name and replaced the old one; the catalogue says what it lacks.
    const std::string record = rig.package.Read("439041101.dat");
    for (const char* name : {"\r\nnew.txt=2\r\n", "\r\nb.txt=1\r\n", "\r\nc.txt=2\r\n", "Title=After"})
        EXPECT_NE(record.find(name), std::string::npos) << name;
    auto show = rig.Show();
    EXPECT_EQ(show["complete"], "no");
    EXPECT_EQ(show["unread"], "2");
    EXPECT_EQ(show["files"], "4");
    EXPECT_EQ(CatalogueFiles(rig)["open/new.txt"].substr(0, 2), "3\t");
}
