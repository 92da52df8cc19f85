// The paths the walks hand to the lister and the tree: full directory paths, one after
// the other, with the process's current directory moved by both controls.
#include <gtest/gtest.h>

#include "browse/DirectoryOutline.h"
#include "browse/FileListBox.h"
#include "support/TempDrive.h"

using namespace quindle;
using quindle::test::TempDrive;
using Names = std::vector<std::string>;

namespace {

struct WalkPaths : ::testing::Test {
    TempDrive c{'C', 1u};
    TempDrive e{'E', 2u};
    AppContext ctx;
    int hourglasses = 0;

    void SetUp() override {
        c.MapInto(ctx.platform);
        e.MapInto(ctx.platform);
        ctx.platform.SetCurrentDir("C:\\");
        ctx.GetScreenCursor = [] { return Cursor::Default; };
        ctx.SetScreenCursor = [this](Cursor k) { hourglasses += k == Cursor::HourGlass; };
    }
};

} // namespace

TEST_F(WalkPaths, OpenPathOfFullDirectoryPathsKeepsMaskAndDropsSelection) {
    e.MakeFile("Docs/a.txt");
    e.MakeFile("Docs/b.doc");
    e.MakeFile("Docs/Old/c.txt");
    e.MakeFile("Docs/Old/d.doc");
    TFileListBox lb(ctx);
    lb.OpenPath("E:\\Docs\\*.txt");
    lb.OpenPath("E:\\Docs\\a.txt");
    ASSERT_EQ(lb.SelectedPath(), "E:\\Docs\\a.txt");

    lb.OpenPath("e:\\Docs\\Old");
    EXPECT_EQ(lb.Directory(), "E:\\Docs\\Old");
    EXPECT_EQ(lb.Mask(), "*.txt");
    EXPECT_EQ(lb.Items(), (Names{"c.txt"}));
    EXPECT_EQ(lb.ItemIndex(), -1);
    EXPECT_EQ(ctx.platform.GetCurrentDir(), "E:\\Docs\\Old");

    // A name that is neither file nor folder is still refused, the lister staying put.
    EXPECT_THROW(lb.OpenPath("E:\\Docs\\Gone"), EInvalidOperation);
    EXPECT_EQ(lb.Directory(), "E:\\Docs\\Old");
    // A folder named like a pattern is a pattern.
    e.MakeDir("Docs/x*");
    lb.OpenPath("E:\\Docs\\x*");
    EXPECT_EQ(lb.Directory(), "E:\\Docs");
    EXPECT_EQ(lb.Mask(), "x*");
    // A file found by its full path is selected, not entered.
    lb.SetMask("*.*");
    lb.OpenPath("E:\\Docs\\Old\\d.doc");
    EXPECT_EQ(lb.Directory(), "E:\\Docs\\Old");
    EXPECT_EQ(lb.SelectedPath(), "E:\\Docs\\Old\\d.doc");
}

TEST_F(WalkPaths, DirectoryThatCannotBeEnteredLeavesTheListerWhereItWas) {
    e.MakeFile("Docs/a.txt");
    e.MakeFile("Docs/Old/c.txt");
    TFileListBox lb(ctx);
    lb.SetDirectory("E:\\Docs");
    ASSERT_EQ(lb.Items(), (Names{"a.txt"}));

    ctx.platform.SetCurrentDir("C:\\");
    lb.SetDirectory("E:\\Nope");
    EXPECT_EQ(lb.Directory(), "E:\\Docs");
    EXPECT_EQ(ctx.platform.GetCurrentDir(), "E:\\Docs") << "the lister's own directory, not the process's old one";

    ctx.platform.SetCurrentDir("C:\\");
    lb.SetDirectory("Old");
    EXPECT_EQ(lb.Directory(), "E:\\Docs\\Old") << "relative to the lister's directory";
    EXPECT_EQ(lb.Items(), (Names{"c.txt"}));

    e.MakeFile("Docs/Old/new.txt");
    ctx.platform.SetCurrentDir("C:\\");
    lb.SetDirectory("e:\\docs\\old");
    EXPECT_EQ(lb.Items(), (Names{"c.txt"})) << "the same folder, ignoring case, is not read again";
    EXPECT_EQ(ctx.platform.GetCurrentDir(), "C:\\") << "nor entered";
}

TEST_F(WalkPaths, HourGlassCountsRowsAddedEarlierInTheSameCall) {
    Names first;
    for (int i = 0; i < 99; ++i) first.push_back("m" + std::to_string(100 + i));
    std::vector<SearchRec> recs;
    for (const auto& n : first) recs.push_back({n, faArchive});
    TFileListBox lb(ctx);
    lb.AddEntries(recs);
    // The first lands at row 0, making 100 rows; the second then lands at row 100.
    lb.AddEntries({{"a", faArchive}, {"z", faArchive}});
    EXPECT_EQ(hourglasses, 1);
    EXPECT_EQ(lb.Count(), 101);
    EXPECT_EQ(lb.Item(0), "a");
    EXPECT_EQ(lb.Item(100), "z");

    TFileListBox other(ctx);
    other.AddEntries(recs);
    other.AddEntries({{"z", faArchive}, {"a", faArchive}});
    EXPECT_EQ(hourglasses, 1) << "z at row 99, a at row 0: no row 100";
}

TEST_F(WalkPaths, TreeClickEntersTheFolderAsNamedOnDisk) {
    e.MakeDir("Docs/OldStuff");
    TDirectoryOutline tree(ctx); // lower-case texts by default
    tree.SetDrive('E');
    for (int i = 1; i <= tree.ItemCount(); ++i) {
        tree.SetSelectedItem(i);
        tree.Items(i)->Expand();
    }
    ASSERT_EQ(tree.ItemCount(), 3);
    EXPECT_EQ(tree.Directory(), "e:\\docs\\oldstuff");
    EXPECT_EQ(ctx.platform.GetCurrentDir(), "E:\\Docs\\OldStuff");

    tree.SetTextCase(tcAsIs);
    tree.SetSelectedItem(1);
    tree.SetSelectedItem(2);
    EXPECT_EQ(tree.Directory(), "E:\\Docs");
    EXPECT_EQ(ctx.platform.GetCurrentDir(), "E:\\Docs");
}
