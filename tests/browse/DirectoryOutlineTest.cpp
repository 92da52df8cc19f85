#include <gtest/gtest.h>

#include <sys/xattr.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app/AppContext.h"
#include "browse/DirectoryOutline.h"
#include "support/TempDrive.h"

using namespace quindle;
using quindle::test::TempDrive;

namespace {

struct Drives {
    AppContext ctx;
    TempDrive c{'C'};
    TempDrive d{'D'};
    Drives() {
        c.MapInto(ctx.platform);
        d.MapInto(ctx.platform);
    }
};

std::vector<std::string> ChildTexts(TDirectoryOutline& t, int n) {
    std::vector<std::string> r;
    TOutlineNode* node = t.Items(n);
    for (size_t i = 0; i < node->ChildCount(); ++i) r.push_back(node->Child(i)->Text());
    return r;
}

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const EOutlineError& e) {
        return e.what();
    }
    return "";
}

} // namespace

TEST(DirectoryOutline, WalkVisitsEveryDirectoryOnceInPreOrder) {
    Drives f;
    f.c.MakeDir("A/B");
    f.c.MakeDir("C");
    f.c.MakeFile("A/file.txt");
    TDirectoryOutline t(f.ctx);
    t.SetTextCase(tcAsIs);
    t.SetDrive('D');
    t.SetDrive('C');
    ASSERT_EQ(t.ItemCount(), 1);
    EXPECT_EQ(t.Items(1)->Text(), "C:\\");
    EXPECT_EQ(t.Items(1)->Data, 0);
    EXPECT_EQ(t.Directory(), "C:\\");

    std::vector<std::string> visited;
    for (int i = 1; i <= t.Lines().Count(); ++i) {
        t.SetSelectedItem(i);
        t.Items(i)->Expand();
        visited.push_back(t.Directory());
    }
    EXPECT_EQ(visited, (std::vector<std::string>{"C:\\", "C:\\A", "C:\\A\\B", "C:\\C"}));
    EXPECT_EQ(t.ItemCount(), 4);
    EXPECT_EQ(f.ctx.platform.GetCurrentDir(), "C:\\C");
}

TEST(DirectoryOutline, SiblingsInByteOrderWhateverTheCreationOrder) {
    Drives f;
    for (const char* n : {"beta", "Zeta", "alpha2", "Alpha", "_x", "9"}) f.c.MakeDir(n);
    TDirectoryOutline t(f.ctx);
    t.SetTextCase(tcAsIs);
    t.SetDrive('C');
    t.Items(1)->Expand();
    EXPECT_EQ(ChildTexts(t, 1), (std::vector<std::string>{"9", "Alpha", "Zeta", "_x", "alpha2", "beta"}));

    // the default text case lowers names and the root text
    TDirectoryOutline lower(f.ctx);
    lower.SetDrive('C');
    EXPECT_EQ(lower.Items(1)->Text(), "c:\\");
    lower.Items(1)->Expand();
    EXPECT_EQ(ChildTexts(lower, 1), (std::vector<std::string>{"9", "_x", "alpha", "alpha2", "beta", "zeta"}));

    // a later listing merges into existing children in order
    TDirectoryOutline again(f.ctx);
    again.SetTextCase(tcAsIs);
    again.SetDrive('C');
    again.AddChild(1, "Gamma");
    again.AddChild(1, "zz");
    again.BuildOneLevel(1);
    EXPECT_EQ(ChildTexts(again, 1),
              (std::vector<std::string>{"9", "Alpha", "Gamma", "Zeta", "_x", "alpha2", "beta", "zz"}));
}

TEST(DirectoryOutline, DotHiddenAndLinkedDirectoriesAreNeverListed) {
    Drives f;
    f.c.MakeDir(".cache");
    f.c.MakeDir("a.b");
    f.c.MakeDir("plain");
    f.c.MakeFile("notadir");
    const std::string target = f.d.MakeDir("elsewhere/inner");
    ASSERT_EQ(symlink(target.c_str(), (f.c.path() + "/link").c_str()), 0);
    const std::string secret = f.c.MakeDir("secret");
    const bool canHide = setxattr(secret.c_str(), "user.DOSATTRIB", "0x2", 3, 0) == 0;

    TDirectoryOutline t(f.ctx);
    t.SetTextCase(tcAsIs);
    t.SetDrive('C');
    t.Items(1)->Expand();
    if (canHide)
        EXPECT_EQ(ChildTexts(t, 1), (std::vector<std::string>{"a.b", "plain"}));
    else
        EXPECT_EQ(ChildTexts(t, 1), (std::vector<std::string>{"a.b", "plain", "secret"}));
    EXPECT_EQ(t.Items(1)->Data, 1);
}

TEST(DirectoryOutline, DriveChangesOnlyForAnotherLetter) {
    Drives f;
    f.c.MakeDir("A");
    TDirectoryOutline t(f.ctx);
    int changes = 0;
    t.OnChange = [&](TDirectoryOutline&) { ++changes; };
    t.SetTextCase(tcAsIs); // takes the current directory's drive and builds
    EXPECT_EQ(changes, 1);
    t.SetDrive('C');
    EXPECT_EQ(changes, 1);
    t.Items(1)->Expand();
    TOutlineNode* root = t.Items(1);
    t.SetDrive('c');
    t.SetDrive('7'); // not a letter
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(t.Drive(), 'C');
    EXPECT_EQ(t.Items(1), root);
    EXPECT_EQ(t.ItemCount(), 2);

    // D then C: a fresh, unlisted lone root; the letter's case is kept under tcAsIs
    t.SetDrive('D');
    t.SetDrive('c');
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(t.ItemCount(), 1);
    EXPECT_EQ(t.Items(1)->Text(), "c:\\");
    EXPECT_EQ(t.Items(1)->Data, 0);
    EXPECT_EQ(t.Directory(), "C:\\");
}

TEST(DirectoryOutline, DriveThatIsNotReady) {
    Drives f;
    f.c.MakeDir("A/B");
    DriveInfo gone;
    gone.letter = 'X';
    gone.root = f.c.path() + "/missing";
    auto table = f.ctx.platform.Drives();
    table.push_back(gone);
    f.ctx.platform.SetDrives(table);

    TDirectoryOutline t(f.ctx);
    t.SetTextCase(tcAsIs);
    t.SetDrive('c');
    EXPECT_NO_THROW(t.SetDrive('X'));
    EXPECT_EQ(t.ItemCount(), 1);
    EXPECT_EQ(t.Items(1)->Text(), "X:\\");
    EXPECT_EQ(t.Directory(), "C:\\");
    t.Items(1)->Expand();
    EXPECT_EQ(t.ItemCount(), 1);
    EXPECT_EQ(t.Items(1)->Data, 1);

    // the old current directory's components are looked for below the new root
    t.SetDrive('C');
    t.SetDirectory("C:\\A");
    EXPECT_EQ(ErrorOf([&] { t.SetDrive('X'); }), "Invalid selection");
    t.SetDrive('C');
    t.SetDirectory("C:\\A\\B");
    EXPECT_EQ(ErrorOf([&] { t.SetDrive('X'); }), "Outline index not found");
}

TEST(DirectoryOutline, DirectorySetterRules) {
    Drives f;
    f.c.MakeDir("A/B");
    f.d.MakeDir("Other");
    TDirectoryOutline t(f.ctx);
    t.SetTextCase(tcAsIs);
    int changes = 0;
    t.OnChange = [&](TDirectoryOutline&) { ++changes; };
    t.SetDrive('C');
    changes = 0;

    t.SetDirectory("C:\\A\\");
    EXPECT_EQ(t.Directory(), "C:\\A");
    EXPECT_EQ(f.ctx.platform.GetCurrentDir(), "C:\\A");
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(t.SelectedItem(), 1); // a deeper directory leaves the selection alone
    t.SetDirectory("c:\\a");
    EXPECT_EQ(t.Directory(), "C:\\A");
    EXPECT_EQ(changes, 1);
    t.SetDirectory("");
    EXPECT_EQ(t.Directory(), "C:\\A");
    // relative to the current directory
    t.SetDirectory("B");
    EXPECT_EQ(t.Directory(), "C:\\A\\B");
    EXPECT_EQ(changes, 2);

    // selecting item 1 while the row is already 0 runs no Click
    t.SetSelectedItem(1);
    EXPECT_EQ(t.Directory(), "C:\\A\\B");
    // a root selects item 1 and reports the change
    t.SetDirectory("C:\\");
    EXPECT_EQ(t.Directory(), "C:\\");
    EXPECT_EQ(changes, 3);

    // another drive rebuilds the tree for it
    t.SetDirectory("D:\\Other");
    EXPECT_EQ(t.Drive(), 'D');
    EXPECT_EQ(t.Items(1)->Text(), "D:\\");
    EXPECT_EQ(t.Directory(), "D:\\");
    EXPECT_EQ(changes, 4);
}

TEST(DirectoryOutline, ClickFollowsTheRowAndListingsAreNotRepeated) {
    Drives f;
    f.c.MakeDir("A/B");
    TDirectoryOutline t(f.ctx); // lower case by default
    int changes = 0;
    t.OnChange = [&](TDirectoryOutline&) { ++changes; };
    t.SetDrive('C');
    t.Items(1)->Expand();
    changes = 0;
    t.MouseDown(1);
    EXPECT_EQ(t.Directory(), "c:\\a");
    EXPECT_EQ(changes, 1); // same drive, only the letter's case differs from Drive
    t.KeyDown(OutlineKey::Up);
    EXPECT_EQ(t.Directory(), "c:\\");

    t.Items(2)->Expand();
    f.c.MakeDir("A/New");
    t.Items(2)->Collapse();
    t.Items(2)->Expand();
    EXPECT_EQ(ChildTexts(t, 2), std::vector<std::string>{"b"});
    // the lower-cased path still reaches the folder on disk
    t.SetSelectedItem(3);
    EXPECT_EQ(t.Directory(), "c:\\a\\b");
    EXPECT_EQ(f.ctx.platform.GetCurrentDir(), "C:\\A\\B");

    // a tree loaded with the current directory deep down selects it
    f.ctx.platform.SetCurrentDir("C:\\A\\B");
    TDirectoryOutline loaded(f.ctx, true);
    loaded.SetTextCase(tcAsIs);
    loaded.Loaded();
    EXPECT_EQ(loaded.Directory(), "C:\\A\\B");
    EXPECT_EQ(loaded.ItemCount(), 4); // C:\, A, B, New
    EXPECT_EQ(loaded.SelectedItem(), 3);
    EXPECT_EQ(loaded.Items(3)->Data, 0);
    EXPECT_TRUE(loaded.Items(2)->Expanded());
}
