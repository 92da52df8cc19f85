#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <vector>

#include "platform/Platform.h"
#include "support/TempDrive.h"

using namespace quindle;
using quindle::test::TempDrive;

namespace {
std::set<std::string> Names(const Platform& p, const std::string& dir, uint32_t attr = faHidden | faSysFile,
                            uint32_t need = 0) {
    std::set<std::string> names;
    EXPECT_TRUE(p.FindFiles(dir, "*.*", attr, [&](const SearchRec& r) { names.insert(r.Name); }, need));
    return names;
}
} // namespace

TEST(SharedRead, ARepeatedReadSeesEveryChangeAndServesOnce) {
    TempDrive e('E');
    e.MakeFile("a.txt");
    e.MakeDir("Sub");
    Platform p;
    e.MapInto(p);
    p.SetShareRepeatedRead(true);
    // First read for directories, second for files: same entries, filtered differently.
    EXPECT_EQ(Names(p, "E:\\", faDirectory, kDirectoriesOnly), (std::set<std::string>{"Sub"}));
    EXPECT_EQ(Names(p, "E:\\"), (std::set<std::string>{"a.txt"}));
    // A kept read serves one repeated read only: the next one reads the disk again.
    e.MakeFile("b.txt");
    EXPECT_EQ(Names(p, "E:\\"), (std::set<std::string>{"a.txt", "b.txt"}));
    // A directory changed since the kept read is read again. (The pause puts the change
    // past the file system's timestamp granularity.)
    usleep(30000);
    e.MakeFile("c.txt");
    EXPECT_EQ(Names(p, "E:\\"), (std::set<std::string>{"a.txt", "b.txt", "c.txt"}));
    // Another directory is never answered from this one.
    e.MakeFile("Sub/inner.txt");
    EXPECT_EQ(Names(p, "E:\\Sub"), (std::set<std::string>{"inner.txt"}));
    // A removed directory fails as without sharing.
    e.MakeDir("Gone");
    EXPECT_TRUE(Names(p, "E:\\Gone").empty());
    rmdir((e.path() + "/Gone").c_str());
    EXPECT_FALSE(p.FindFiles("E:\\Gone", "*.*", 0, [](const SearchRec&) {}));
    p.SetShareRepeatedRead(false);
    EXPECT_EQ(Names(p, "E:\\"), (std::set<std::string>{"a.txt", "b.txt", "c.txt"}));
}

TEST(SharedRead, ChangesMadeThroughThePlatformAndHiddenFoldersShow) {
    TempDrive e('E');
    e.MakeDir("Visible");
    e.MakeDir("Hidden");
    Platform p;
    e.MapInto(p);
    const bool xattrs = p.FileSetAttr("E:\\Hidden", faDirectory | faHidden);
    p.SetShareRepeatedRead(true);
    ASSERT_TRUE(p.SetCurrentDir("E:\\"));
    // Entering a folder, then changing it through the platform: the next read sees it.
    ASSERT_TRUE(p.CreateDir("E:\\Made"));
    std::set<std::string> expected{"Visible", "Made"};
    if (!xattrs) expected.insert("Hidden"); // no DOS attributes on this file system
    EXPECT_EQ(Names(p, "E:\\", faDirectory, kDirectoriesOnly), expected);
    // The repeated read of the same unchanged folder answers the same, hidden one included.
    EXPECT_EQ(Names(p, "E:\\", faDirectory, kDirectoriesOnly), expected);
    expected.insert("Hidden");
    EXPECT_EQ(Names(p, "E:\\", faDirectory | faHidden, kDirectoriesOnly), expected);
}

namespace {
size_t OpenDescriptors() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}
} // namespace

// A walk's step as the tree and the lister take it: enter, read the subfolders, enter the
// same folder again, read the files. The folder entered is the one read, and no folder
// stays open past the step after it.
TEST(SharedRead, AWalkStepReadsTheFolderEnteredAndLeavesNothingOpen) {
    TempDrive e('E');
    e.MakeFile("A/one.txt");
    e.MakeFile("A/Sub/two.txt");
    e.MakeFile("B/three.txt");
    Platform p;
    e.MapInto(p);
    // A first read opens the mount table, which stays open for the life of the process.
    EXPECT_TRUE(p.FindFilesIn(e.path(), true, "*.*", faDirectory, [](const SearchRec&) {}, kDirectoriesOnly));
    const size_t before = OpenDescriptors();
    p.SetShareRepeatedRead(true);
    struct Step {
        std::string shown, host;
        std::set<std::string> dirs, files;
    };
    const std::vector<Step> steps = {{"E:\\", e.path(), {"A", "B"}, {}},
                                     {"E:\\A", e.path() + "/A", {"Sub"}, {"one.txt"}},
                                     {"E:\\A\\Sub", e.path() + "/A/Sub", {}, {"two.txt"}},
                                     {"E:\\B", e.path() + "/B", {}, {"three.txt"}}};
    for (const Step& s : steps) {
        SCOPED_TRACE(s.shown);
        std::set<std::string> dirs, files;
        ASSERT_TRUE(p.EnterDirectory(s.shown, s.host));
        EXPECT_TRUE(p.FindFilesIn(s.host, s.shown.size() == 3, "*.*", faDirectory,
                                  [&](const SearchRec& r) { if (r.Name[0] != '.') dirs.insert(r.Name); }, kDirectoriesOnly));
        // A file made between the two reads is seen: the folder changed since it was read.
        // (The pause puts the change past the file system's timestamp granularity.)
        if (s.shown == "E:\\B") {
            usleep(30000);
            e.MakeFile("B/late.txt");
        }
        ASSERT_TRUE(p.EnterDirectory(s.shown, s.host));
        EXPECT_EQ(p.GetCurrentDir(), s.shown);
        EXPECT_TRUE(p.FindFilesIn(s.host, s.shown.size() == 3, "*.*", 0, [&](const SearchRec& r) { files.insert(r.Name); }));
        std::set<std::string> expectedFiles = s.files;
        if (s.shown == "E:\\B") expectedFiles.insert("late.txt");
        EXPECT_EQ(dirs, s.dirs);
        EXPECT_EQ(files, expectedFiles);
        EXPECT_LE(OpenDescriptors(), before + 1);
    }
    // A folder removed after it was entered: its read fails, and nothing is left open.
    e.MakeDir("Gone");
    ASSERT_TRUE(p.EnterDirectory("E:\\Gone", e.path() + "/Gone"));
    rmdir((e.path() + "/Gone").c_str());
    EXPECT_FALSE(p.EnterDirectory("E:\\Missing", e.path() + "/Missing"));
    EXPECT_EQ(p.GetCurrentDir(), "E:\\Gone");
    p.SetShareRepeatedRead(false);
    EXPECT_EQ(OpenDescriptors(), before);
}
