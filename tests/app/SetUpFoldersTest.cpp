#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "app/AppContext.h"
#include "support/TempDrive.h"

namespace fs = std::filesystem;
using quindle::AppContext;
using quindle::SetUpFolders;
using quindle::test::TempDir;

namespace {
bool IsDir(const std::string& p) { return fs::is_directory(p); }
} // namespace

// A program run from its build folder keeps its records beside it; an existing data/
// folder is taken as it is.
TEST(SetUpFolders, WritableProgramFolderKeepsPackageBesideProgram) {
    TempDir prog, user;
    AppContext ctx;
    SetUpFolders(ctx, prog.path() + "/quindle", user.path() + "/Quindle");
    EXPECT_EQ(ctx.ProgramFolder, prog.path() + "/");
    EXPECT_EQ(ctx.PackageFolder, prog.path() + "/data/");
    EXPECT_TRUE(IsDir(prog.path() + "/data"));
    EXPECT_FALSE(fs::exists(user.path() + "/Quindle"));

    // Second start: the folder exists and records in it stay.
    prog.MakeFile("data/439041101.dat", "\r\n");
    AppContext again;
    SetUpFolders(again, prog.path() + "/quindle", user.path() + "/Quindle");
    EXPECT_EQ(again.PackageFolder, prog.path() + "/data/");
    EXPECT_TRUE(fs::exists(prog.path() + "/data/439041101.dat"));
}

// The marker written by the install step sends the package to the per-user folder even
// when the program folder is writable (root, or an unpacked package), and even when an
// old data/ folder lies beside the program.
TEST(SetUpFolders, InstalledProgramUsesPerUserFolder) {
    TempDir prog, user;
    prog.MakeFile("quindle.installed");
    AppContext ctx;
    SetUpFolders(ctx, prog.path() + "/quindle", user.path() + "/share/Quindle");
    EXPECT_EQ(ctx.ProgramFolder, prog.path() + "/");
    EXPECT_EQ(ctx.PackageFolder, user.path() + "/share/Quindle/data/");
    EXPECT_TRUE(IsDir(user.path() + "/share/Quindle/data"));
    EXPECT_FALSE(fs::exists(prog.path() + "/data"));

    prog.MakeDir("data");
    AppContext again;
    SetUpFolders(again, prog.path() + "/quindle", user.path() + "/share/Quindle/");
    EXPECT_EQ(again.PackageFolder, user.path() + "/share/Quindle/data/");
}

// A program folder where data/ cannot be made: the per-user folder, created with its
// parents. /proc/self/ refuses new folders to everyone, root included; a read-only
// folder does so only for an ordinary user.
TEST(SetUpFolders, NonWritableProgramFolderUsesPerUserFolder) {
    TempDir user;
    AppContext ctx;
    SetUpFolders(ctx, "/proc/self/quindle", user.path() + "/a/b/Quindle");
    EXPECT_EQ(ctx.ProgramFolder, "/proc/self/");
    EXPECT_EQ(ctx.PackageFolder, user.path() + "/a/b/Quindle/data/");
    EXPECT_TRUE(IsDir(user.path() + "/a/b/Quindle/data"));

    if (geteuid() != 0) {
        TempDir prog;
        ASSERT_EQ(chmod(prog.path().c_str(), 0555), 0);
        AppContext ro;
        SetUpFolders(ro, prog.path() + "/quindle", user.path() + "/ro");
        chmod(prog.path().c_str(), 0755);
        EXPECT_EQ(ro.PackageFolder, user.path() + "/ro/data/");
        EXPECT_FALSE(fs::exists(prog.path() + "/data"));
    }
}
