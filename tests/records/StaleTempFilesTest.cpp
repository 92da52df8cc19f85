#include "records/StaleTempFiles.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/AppContext.h"
#include "support/TempDrive.h"

using namespace quindle;
using quindle::test::TempDir;

namespace {

// The pid of a process that has ended and been reaped.
pid_t DeadPid() {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    int status = 0;
    waitpid(child, &status, 0);
    return child;
}

std::set<std::string> Entries(const std::string& dir) {
    std::set<std::string> names;
    DIR* d = opendir(dir.c_str());
    while (const dirent* e = d ? readdir(d) : nullptr)
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.insert(e->d_name);
    if (d) closedir(d);
    return names;
}

} // namespace

// Only the two temporary patterns of a process that is gone are removed; a running
// process's files, records, lookalikes, folders and links stay.
TEST(StaleTempFiles, RemovesExactlyTheDeadProcessesTemporaryFiles) {
    TempDir dir;
    AppContext ctx;
    ctx.PackageFolder = dir.path() + "/";
    const std::string dead = std::to_string(DeadPid());
    const std::string live = std::to_string(getpid());
    const std::vector<std::string> stale = {".~ini-" + dead + "-0.tmp", ".~walk-" + dead + "-17.tmp"};
    const std::vector<std::string> kept = {
        ".~ini-" + live + "-0.tmp", ".~walk-" + live + "-3.tmp", // a running Quindle's work
        "1234.dat", ".~ini-" + dead + "-0.dat", ".~ini-" + dead + "-0.tmp.dat", ".~ini-" + dead + ".tmp",
        ".~ini-" + dead + "-.tmp", ".~ini--1-0.tmp", ".~ini-x" + dead + "-0.tmp", "~ini-" + dead + "-0.tmp",
        ".~INI-" + dead + "-0.tmp", ".~walk-" + dead + "-0.tmp~", "a.~walk-" + dead + "-0.tmp",
        ".~ini-0-0.tmp", ".~ini-99999999999999999999999-0.tmp", ".~walk-" + dead + "-1.TMP"};
    for (const auto& n : stale) dir.MakeFile(n, "x");
    for (const auto& n : kept) dir.MakeFile(n, "x");
    // A folder and a link by a stale name stay too: only regular files are removed.
    const std::string folderName = ".~walk-" + dead + "-5.tmp", linkName = ".~ini-" + dead + "-6.tmp";
    dir.MakeDir(folderName);
    ASSERT_EQ(symlink((dir.path() + "/1234.dat").c_str(), (dir.path() + "/" + linkName).c_str()), 0);

    EXPECT_EQ(RemoveStaleTempFiles(ctx), 2);
    std::set<std::string> expected(kept.begin(), kept.end());
    expected.insert(folderName);
    expected.insert(linkName);
    EXPECT_EQ(Entries(dir.path()), expected);
    EXPECT_EQ(RemoveStaleTempFiles(ctx), 0); // nothing left to do

    ctx.PackageFolder = dir.path() + "/missing/";
    EXPECT_EQ(RemoveStaleTempFiles(ctx), 0);
}
