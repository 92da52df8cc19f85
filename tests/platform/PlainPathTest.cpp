#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>

#include "platform/Platform.h"
#include "support/TempDrive.h"

using namespace quindle;
using quindle::test::TempDir;
using quindle::test::TempDrive;

TEST(PlainPaths, FullPathsInEveryFormExpandEnterAndMapAlike) {
    EXPECT_TRUE(IsPlainDrivePath("E:\\"));
    EXPECT_TRUE(IsPlainDrivePath("e:\\Docs\\Old\\"));
    EXPECT_TRUE(IsPlainDrivePath("E:\\.cache\\..x\\a.b"));
    for (const char* p : {"E:", "E:Docs", "\\Docs", "E:\\\\Docs", "E:\\Docs\\\\", "E:\\Docs/Old", "E:\\.",
                          "E:\\Docs\\..", "E:\\.\\Docs", "1:\\Docs", "/tmp"})
        EXPECT_FALSE(IsPlainDrivePath(p)) << p;

    TempDrive c('C'), e('E');
    e.MakeDir("Docs/Old");
    e.MakeDir(".cache");
    Platform p;
    c.MapInto(p);
    e.MapInto(p);
    // A drive whose root is given with a trailing slash maps without a doubled one.
    DriveInfo f = e.Info();
    f.letter = 'F';
    f.root = e.path() + "/";
    auto drives = p.Drives();
    drives.push_back(f);
    p.SetDrives(drives);
    ASSERT_TRUE(p.SetCurrentDir("C:\\"));

    struct Case {
        const char* in;
        const char* expanded;
        const char* host; // below the drive's folder
        const char* current;
    };
    const Case cases[] = {
        {"E:\\Docs\\Old", "E:\\Docs\\Old", "/Docs/Old", "E:\\Docs\\Old"},
        {"e:\\Docs\\Old\\", "e:\\Docs\\Old\\", "/Docs/Old", "E:\\Docs\\Old"},
        {"E:\\Docs\\\\Old", "E:\\Docs\\Old", "/Docs/Old", "E:\\Docs\\Old"},
        {"E:\\Docs/Old", "E:\\Docs\\Old", "/Docs/Old", "E:\\Docs\\Old"},
        {"E:\\Docs\\.\\Old", "E:\\Docs\\Old", "/Docs/Old", "E:\\Docs\\Old"},
        {"E:\\x\\..\\Docs", "E:\\Docs", "/Docs", "E:\\Docs"},
        {"E:\\.cache", "E:\\.cache", "/.cache", "E:\\.cache"},
        {"e:\\", "e:\\", "", "E:\\"},
        {"F:\\Docs", "F:\\Docs", "/Docs", "F:\\Docs"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(p.ExpandFileName(c.in), c.expanded);
        ASSERT_TRUE(p.ToHostPath(c.in).has_value());
        EXPECT_EQ(*p.ToHostPath(c.in), e.path() + c.host);
        ASSERT_TRUE(p.SetCurrentDir("C:\\"));
        EXPECT_TRUE(p.SetCurrentDir(c.in));
        EXPECT_EQ(p.GetCurrentDir(), c.current);
    }
}

TEST(PlainPaths, EnteringNeedsAnExistingSearchableDirectory) {
    TempDrive e('E');
    e.MakeDir("Docs/Old");
    e.MakeFile("Docs/a.txt");
    ASSERT_EQ(symlink((e.path() + "/Docs").c_str(), (e.path() + "/ToDocs").c_str()), 0);
    ASSERT_EQ(symlink((e.path() + "/gone").c_str(), (e.path() + "/Dangling").c_str()), 0);
    Platform p;
    e.MapInto(p);
    ASSERT_TRUE(p.SetCurrentDir("E:\\Docs"));

    for (const char* bad : {"E:\\Docs\\a.txt", "E:\\Docs\\a.txt\\", "E:\\Nope", "E:\\Dangling", "E:\\Docs\\a.txt\\x"}) {
        EXPECT_FALSE(p.SetCurrentDir(bad)) << bad;
        EXPECT_EQ(p.GetCurrentDir(), "E:\\Docs") << bad;
    }
    EXPECT_TRUE(p.SetCurrentDir("E:\\ToDocs")) << "a link to a folder can be entered";
    EXPECT_EQ(p.GetCurrentDir(), "E:\\ToDocs");
    EXPECT_TRUE(p.SetCurrentDir("Old")) << "relative to the current directory";
    EXPECT_EQ(p.GetCurrentDir(), "E:\\ToDocs\\Old");

    if (geteuid() != 0) { // the superuser may search any folder
        ASSERT_EQ(chmod((e.path() + "/Docs/Old").c_str(), 0600), 0);
        EXPECT_FALSE(p.SetCurrentDir("E:\\Docs\\Old"));
        EXPECT_TRUE(p.DirectoryExists("E:\\Docs\\Old")) << "it still exists";
        chmod((e.path() + "/Docs/Old").c_str(), 0700);
    }
}

TEST(PlainPaths, SearchesOfLargeAndNestedDirectories) {
    TempDrive e('E');
    // Long names, so that the listing takes several reads of the directory.
    std::set<std::string> expected;
    for (int i = 0; i < 1500; ++i) {
        std::string name = "file-" + std::to_string(i) + std::string(40, 'x') + ".dat";
        e.MakeFile("Big/" + name);
        expected.insert(name);
    }
    e.MakeFile("Big/Sub/inner1.txt");
    e.MakeFile("Big/Sub/inner2.txt");
    Platform p;
    e.MapInto(p);

    std::multiset<std::string> seen, inner;
    int dirs = 0;
    ASSERT_TRUE(p.FindFiles("E:\\Big", "*.*", faDirectory, [&](const SearchRec& r) {
        if (r.Attr & faDirectory) {
            ++dirs;
            if (r.Name != "Sub") return;
            // A search started from inside another one must not disturb it.
            EXPECT_TRUE(p.FindFiles("E:\\Big\\Sub", "*.*", 0, [&](const SearchRec& s) { inner.insert(s.Name); }));
            return;
        }
        seen.insert(r.Name);
    }));
    EXPECT_EQ(dirs, 3) << ". and .. and Sub";
    EXPECT_EQ(inner, (std::multiset<std::string>{"inner1.txt", "inner2.txt"}));
    EXPECT_EQ(seen.size(), expected.size()) << "every name exactly once";
    EXPECT_TRUE(std::equal(seen.begin(), seen.end(), expected.begin(), expected.end()));

    EXPECT_FALSE(p.FindFiles("E:\\Big\\file-1" + std::string(40, 'x') + ".dat", "*.*", 0, [](const SearchRec&) {}))
        << "a file is no directory";
}
