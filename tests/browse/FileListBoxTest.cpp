#include "browse/FileListBox.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <random>

#include "support/TempDrive.h"

using namespace quindle;
using quindle::test::TempDrive;
using Names = std::vector<std::string>;

namespace {

struct Lister : ::testing::Test {
    TempDrive e{'E', 1234u};
    AppContext ctx;
    std::vector<Cursor> cursors; // every pointer the lister set

    void SetUp() override {
        e.MapInto(ctx.platform);
        ctx.platform.SetCurrentDir("E:\\");
        ctx.GetScreenCursor = [] { return Cursor::Default; };
        ctx.SetScreenCursor = [this](Cursor c) { cursors.push_back(c); };
    }
    void Fifo(const std::string& rel) { ASSERT_EQ(mkfifo((e.path() + "/" + rel).c_str(), 0600), 0); }
    bool SawHourGlass() const { return std::count(cursors.begin(), cursors.end(), Cursor::HourGlass) > 0; }
};

std::vector<SearchRec> Recs(const Names& names) {
    std::vector<SearchRec> r;
    for (const auto& n : names) r.push_back({n, faArchive});
    return r;
}

} // namespace

TEST_F(Lister, FileTypeSetsChooseTheEntries) {
    e.MakeFile("Docs/a.txt");
    e.MakeFile("Docs/.hidden");
    e.MakeFile("Docs/prog.EXE");
    e.MakeDir("Docs/Sub");
    Fifo("Docs/pipe");

    // The memorizer's settings: every file, hidden and system ones, no directory.
    TFileListBox all(ctx);
    all.SetFileType(ftReadOnly | ftHidden | ftSystem | ftArchive | ftNormal);
    all.SetDirectory("E:\\Docs");
    EXPECT_EQ(all.Items(), (Names{".hidden", "a.txt", "pipe", "prog.EXE"}));
    EXPECT_EQ(all.Glyph(3), FileGlyph::Executable);
    EXPECT_EQ(all.Glyph(1), FileGlyph::UnknownFile);

    TFileListBox lb(ctx);
    lb.SetDirectory("E:\\Docs");
    EXPECT_EQ(lb.Items(), (Names{"a.txt", "prog.EXE"})) << "ftNormal alone hides hidden and system files";
    lb.SetFileType(ftHidden);
    EXPECT_EQ(lb.Items(), (Names{".hidden"})) << "without ftNormal only entries with a chosen bit";
    lb.SetFileType(ftDirectory);
    EXPECT_EQ(lb.Items(), (Names{"[..]", "[.]", "[Sub]"}));
    lb.SetFileType(ftDirectory | ftNormal);
    lb.SetShowGlyphs(true);
    EXPECT_EQ(lb.Items(), (Names{"[..]", "[.]", "[Sub]", "a.txt", "prog.EXE"}));
    EXPECT_EQ(lb.Glyph(2), FileGlyph::ClosedFolder);
    lb.SetDirectory("E:\\");
    EXPECT_EQ(lb.Items(), (Names{"[Docs]"})) << "a root has no . and .. rows";

    // The package dialog's settings: "*.dat" files, hidden ones, no system ones.
    e.MakeFile("Pkg/1.dat");
    e.MakeFile("Pkg/.2.dat");
    e.MakeFile("Pkg/3.txt");
    e.MakeDir("Pkg/dir.dat");
    Fifo("Pkg/4.dat");
    TFileListBox pkg(ctx);
    pkg.SetMask("*.dat");
    pkg.SetFileType(ftReadOnly | ftHidden | ftArchive | ftNormal);
    pkg.SetMultiSelect(true);
    pkg.SetDirectory(e.path() + "/Pkg/"); // the package folder is a host path
    EXPECT_EQ(pkg.Items(), (Names{".2.dat", "1.dat"}));

    // A name matched by two patterns is listed twice; an empty pattern adds nothing.
    pkg.SetMask("1*;*.dat;");
    EXPECT_EQ(pkg.Items(), (Names{".2.dat", "1.dat", "1.dat"}));
}

TEST_F(Lister, DirectoryIsReadOnFirstUseAndNotAgainForTheSamePath) {
    e.MakeFile("Docs/a.txt");
    TFileListBox lb(ctx);
    int changes = 0;
    lb.OnChange = [&](TFileListBox&) { ++changes; };
    lb.SetDirectory("e:\\docs"); // no such folder: the lister stays where it was
    EXPECT_EQ(lb.Directory(), "E:\\");
    lb.OpenPath("E:\\Docs");
    EXPECT_EQ(lb.Directory(), "E:\\Docs");
    EXPECT_EQ(lb.Items(), (Names{"a.txt"}));
    EXPECT_EQ(changes, 2) << "the first read, then the new directory";

    e.MakeFile("Docs/b.txt");
    lb.OpenPath("E:\\Docs");
    lb.SetDirectory("e:\\DOCS");
    EXPECT_EQ(lb.Items(), (Names{"a.txt"})) << "the same directory is not re-read";
    lb.RefreshList();
    EXPECT_EQ(lb.Items(), (Names{"a.txt", "b.txt"}));
    EXPECT_EQ(changes, 3);
}

TEST_F(Lister, OpenPathHandlesRootsDirectoriesPatternsFilesAndRows) {
    e.MakeFile("Docs/a.txt");
    e.MakeFile("Docs/b.doc");
    e.MakeFile("Docs/Old/c.txt");
    e.MakeFile("top.txt");
    TFileListBox lb(ctx);
    lb.OpenPath("");
    EXPECT_EQ(lb.Directory(), "E:\\");

    lb.OpenPath("E:\\Docs\\*.txt");
    EXPECT_EQ(lb.Directory(), "E:\\Docs");
    EXPECT_EQ(lb.Mask(), "*.txt");
    EXPECT_EQ(lb.Items(), (Names{"a.txt"}));

    lb.OpenPath("E:\\");
    EXPECT_EQ(lb.Directory(), "E:\\");
    EXPECT_EQ(lb.Mask(), "*.txt") << "a directory leaves the mask alone";

    ctx.platform.SetCurrentDir("E:\\Docs");
    lb.OpenPath("[Old]");
    EXPECT_EQ(lb.Directory(), "E:\\Docs\\Old");
    EXPECT_EQ(ctx.platform.GetCurrentDir(), "E:\\Docs\\Old");

    lb.SetMask("*.*");
    ctx.platform.SetCurrentDir("C:\\"); // another drive; the path names its own
    lb.OpenPath("E:\\Docs\\b.doc");
    EXPECT_EQ(lb.Directory(), "E:\\Docs");
    ASSERT_GE(lb.ItemIndex(), 0);
    EXPECT_EQ(lb.Items()[lb.ItemIndex()], "b.doc");
    EXPECT_EQ(lb.SelectedPath(), "E:\\Docs\\b.doc");
    EXPECT_EQ(ctx.platform.GetCurrentDir(), "E:\\Docs");

    // Selected already in a directory that is not the process's current one.
    ctx.platform.SetCurrentDir("E:\\");
    lb.SelectFile("none");
    lb.OpenPath("E:\\Docs\\a.txt");
    EXPECT_EQ(lb.SelectedPath(), "E:\\Docs\\a.txt");

    try {
        lb.OpenPath("E:\\Docs\\missing.txt");
        FAIL() << "no error for a missing file";
    } catch (const EInvalidOperation& err) {
        EXPECT_STREQ(err.what(), "Invalid file name - E:\\Docs\\missing.txt");
    }
    EXPECT_EQ(lb.Directory(), "E:\\Docs");

    // A drive that is not there: no error, the lister stays.
    lb.OpenPath("Q:\\Docs");
    EXPECT_EQ(lb.Directory(), "E:\\Docs");
}

TEST_F(Lister, HourGlassFromTheInsertionAtRow100) {
    Names names;
    for (int i = 0; i < 150; ++i) names.push_back("f" + std::to_string(1000 + i));

    TFileListBox lb(ctx);
    lb.AddEntries(Recs(Names(names.begin(), names.begin() + 100)));
    EXPECT_FALSE(SawHourGlass()) << "100 names reach row 99 only";
    lb.AddEntries(Recs({names[100]}));
    EXPECT_TRUE(SawHourGlass()) << "the 101st name in order lands at row 100";
    EXPECT_EQ(cursors.back(), Cursor::Default) << "the pointer is restored";

    cursors.clear();
    TFileListBox rev(ctx);
    rev.AddEntries(Recs(Names(names.rbegin(), names.rend())));
    EXPECT_FALSE(SawHourGlass()) << "reverse arrival always inserts at row 0";
    EXPECT_TRUE(std::is_sorted(rev.Items().begin(), rev.Items().end()));
    EXPECT_EQ(rev.Count(), 150);

    // A refresh puts back the pointer it found, whatever that was.
    cursors.clear();
    ctx.GetScreenCursor = [] { return Cursor::HourGlass; };
    e.MakeFile("x.txt");
    lb.RefreshList();
    EXPECT_EQ(lb.Items(), (Names{"x.txt"}));
    EXPECT_EQ(cursors, std::vector<Cursor>{Cursor::HourGlass});
}

TEST_F(Lister, SortedInsertsAgreeWithAPlainSortedList) {
    // Random arrival orders with names equal ignoring case and exact duplicates: the
    // order and the hourglass must be what inserting one by one into a sorted list gives.
    std::mt19937 rng(7);
    int hourglasses = 0;
    const Names pool = {"a", "A", "b", "B", "ab", "aB", "Ab", "c", "[x]", "x", "_", "Z", "z1", "z"};
    for (int round = 0; round < 40; ++round) {
        Names arrival;
        const int n = 90 + static_cast<int>(rng() % 40);
        for (int i = 0; i < n; ++i) arrival.push_back(pool[rng() % pool.size()] + std::to_string(rng() % 9));
        if (round % 2) std::sort(arrival.begin(), arrival.end(), TFileListBox::RowLess);

        Names plain;
        bool at100 = false;
        for (const auto& s : arrival) {
            auto it = std::upper_bound(plain.begin(), plain.end(), s, TFileListBox::RowLess);
            at100 |= it - plain.begin() == 100;
            plain.insert(it, s);
        }
        cursors.clear();
        TFileListBox lb(ctx);
        lb.AddEntries(Recs(Names(arrival.begin(), arrival.begin() + n / 3)));
        lb.AddEntries(Recs(Names(arrival.begin() + n / 3, arrival.end())));
        ASSERT_EQ(lb.CopyItems(), plain) << "round " << round;
        ASSERT_EQ(SawHourGlass(), at100) << "round " << round;
        hourglasses += at100;
    }
    EXPECT_GT(hourglasses, 0);
    EXPECT_LT(hourglasses, 40);
}

TEST_F(Lister, NamesDifferingInCaseSortTogether) {
    for (const char* n : {"readme", "zoo", "Apple", "README", "apple2", "Readme"}) e.MakeFile(n);
    TFileListBox lb(ctx);
    lb.SetFileType(ftNormal | ftArchive);
    EXPECT_EQ(lb.Items(), (Names{"Apple", "apple2", "README", "Readme", "readme", "zoo"}));
    lb.SelectFile("APPLE2");
    EXPECT_EQ(lb.ItemIndex(), 1);
    EXPECT_EQ(lb.LastSelection(), 1);
    lb.SelectFile("gone");
    EXPECT_EQ(lb.ItemIndex(), -1);
    EXPECT_EQ(lb.SelectedPath(), "");
}
