#include <gtest/gtest.h>

#include "platform/Platform.h"
#include "support/TempDrive.h"

using namespace quindle;
using quindle::test::TempDrive;

TEST(Paths, ExpandFileNameResolvesRelativeDotsAndRoots) {
    TempDrive e('E');
    e.MakeDir("Docs/Old");
    Platform p;
    e.MapInto(p);
    ASSERT_TRUE(p.SetCurrentDir("e:\\Docs"));
    EXPECT_EQ(p.GetCurrentDir(), "E:\\Docs");
    EXPECT_EQ(p.ExpandFileName("Old"), "E:\\Docs\\Old");
    EXPECT_EQ(p.ExpandFileName("..\\..\\.."), "E:\\");
    EXPECT_EQ(p.ExpandFileName(".\\Old\\..\\x.txt"), "E:\\Docs\\x.txt");
    EXPECT_EQ(p.ExpandFileName("\\Music"), "E:\\Music");
    EXPECT_EQ(p.ExpandFileName("E:\\"), "E:\\");
    EXPECT_EQ(p.ExpandFileName("c:\\A\\"), "c:\\A\\");
    EXPECT_EQ(p.ExpandFileName("/tmp/../etc/"), "/etc/");
    EXPECT_EQ(*p.ToHostPath("E:\\Docs\\Old"), e.path() + "/Docs/Old");
    EXPECT_EQ(*p.ToHostPath("e:\\"), e.path());
    EXPECT_FALSE(p.ToHostPath("Q:\\x").has_value());
    // A folder that does not exist can't be made current; the old one stays.
    EXPECT_FALSE(p.SetCurrentDir("E:\\Nope"));
    EXPECT_FALSE(p.SetCurrentDir("Q:\\"));
    EXPECT_EQ(p.GetCurrentDir(), "E:\\Docs");
}
