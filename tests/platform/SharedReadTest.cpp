#include <gtest/gtest.h>
#include <unistd.h>

#include <set>

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
