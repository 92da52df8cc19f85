// The catalogue as the windows list it: folders' entries in order, paths as the program
// writes them, the record's section of an entry, the word and the filter, every sort.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalogue/DiskBrowseView.h"

using namespace quindle;

namespace {

// E:\ holding b\x (folder), a?.txt, Docs (folder) with 2019 (folder) with "Q 3.txt", and
// DOCS (a case twin) with "q 3.TXT" and "caf\xE9" (not UTF-8). Added out of name order.
struct Disk {
    uint32_t docs = 0, y2019 = 0, twin = 0, bx = 0, q3 = 0, q3twin = 0, cafe = 0, a = 0;
    TDiskBrowseView index;
    static Catalogue Make(Disk& d) {
        CatalogueBuilder b;
        d.docs = b.Add(0, "Docs", EntryKind::Folder, 0, 100);
        d.y2019 = b.Add(d.docs, "2019", EntryKind::Folder, 0, 100);
        d.q3 = b.Add(d.y2019, "Q 3.txt", EntryKind::File, 30, 300);
        d.twin = b.Add(0, "DOCS", EntryKind::Folder, 0, 100);
        d.q3twin = b.Add(d.twin, "q 3.TXT", EntryKind::File, 10, -5);
        d.cafe = b.Add(d.twin, "caf\xE9", EntryKind::File, 20, 200);
        d.a = b.Add(0, "a?.txt", EntryKind::File, 20, 50);
        d.bx = b.Add(0, "b\\x", EntryKind::Folder, 0, 100);
        DiskFigures f;
        f.root = "E:\\";
        return b.Finish(f);
    }
    Disk() : index(Make(*this)) {}
};

std::vector<std::string> Names(const TDiskBrowseView& i, const std::vector<uint32_t>& rows) {
    std::vector<std::string> out;
    for (const uint32_t e : rows) out.emplace_back(i.Cat().Name(e));
    return out;
}

} // namespace

TEST(DiskBrowseView, FoldersListTheirEntriesInOrderWithPathsAndSections) {
    Disk d;
    TDiskBrowseView& i = d.index;
    const auto root = i.Children(0);
    // Folders first, then files; case twins in byte order.
    EXPECT_EQ(Names(i, {root.begin(), root.end()}), (std::vector<std::string>{"b\\x", "DOCS", "Docs", "a?.txt"}));
    EXPECT_EQ(i.SubfolderCount(0), 3u);
    EXPECT_EQ(i.RowInParent(d.docs), 2u);
    EXPECT_EQ(i.RowInParent(d.y2019), 0u);
    const struct {
        uint32_t entry;
        std::string folder, path, section;
    } cases[] = {
        {d.q3, "E:\\Docs\\2019", "E:\\Docs\\2019\\Q 3.txt", "Docs"},
        {d.q3twin, "E:\\DOCS", "E:\\DOCS\\q 3.TXT", "DOCS"},
        {d.a, "E:\\", "E:\\a?.txt", "E:\\"},
        {d.bx, "E:\\", "E:\\b\\x", "E:\\"},
        {d.y2019, "E:\\Docs", "E:\\Docs\\2019", "Docs"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(i.FolderPath(c.entry), c.folder) << c.path;
        EXPECT_EQ(i.EntryPath(c.entry), c.path);
        EXPECT_EQ(i.Section(c.entry), c.section) << c.path;
    }
    // The word as the search counts it: bytes, ASCII case ignored; folders too.
    EXPECT_EQ(Names(i, i.Holding("q 3")), (std::vector<std::string>{"Q 3.txt", "q 3.TXT"}));
    EXPECT_EQ(Names(i, i.Holding("DOCS")), (std::vector<std::string>{"Docs", "DOCS"}));
    EXPECT_EQ(Names(i, i.Holding("\xE9")), std::vector<std::string>{"caf\xE9"});
    // The filter as the windows show names: the typed UTF-8 e acute finds the Latin-1 byte;
    // with folders, an entry whose folder's path holds the text.
    EXPECT_EQ(Names(i, i.FilterAll("\xC3\xA9")), std::vector<std::string>{"caf\xE9"});
    const std::vector<uint32_t> all{d.q3, d.q3twin, d.cafe, d.a};
    EXPECT_EQ(Names(i, i.Filter(all, "2019", true)), std::vector<std::string>{"Q 3.txt"});
    EXPECT_EQ(Names(i, i.Filter(all, "2019", false)), std::vector<std::string>{});
    EXPECT_EQ(Names(i, i.Filter(all, "E:\\D", true)), (std::vector<std::string>{"Q 3.txt", "q 3.TXT", "caf\xE9"}));
}

TEST(DiskBrowseView, RowsSortByEachKeyBothWaysWithFoldersFirstWhenAsked) {
    Disk d;
    using K = TDiskBrowseView::Key;
    const struct {
        K key;
        bool descending, foldersFirst;
        std::vector<std::string> names;
    } cases[] = {
        // Folder paths name by name: E:\, E:\DOCS, E:\Docs, E:\Docs\2019; then names.
        {K::Folder, false, false, {"a?.txt", "b\\x", "caf\xE9", "q 3.TXT", "2019", "Q 3.txt"}},
        {K::Folder, true, false, {"Q 3.txt", "2019", "q 3.TXT", "caf\xE9", "b\\x", "a?.txt"}},
        // Names equal but for case: by folder (E:\DOCS before E:\Docs\2019).
        {K::Name, false, false, {"2019", "a?.txt", "b\\x", "caf\xE9", "q 3.TXT", "Q 3.txt"}},
        {K::Name, false, true, {"2019", "b\\x", "a?.txt", "caf\xE9", "q 3.TXT", "Q 3.txt"}},
        {K::Name, true, true, {"b\\x", "2019", "Q 3.txt", "q 3.TXT", "caf\xE9", "a?.txt"}},
        // Equal sizes (folders: their totals, 30 and 0) by folder, then name.
        {K::Size, false, false, {"b\\x", "q 3.TXT", "a?.txt", "caf\xE9", "2019", "Q 3.txt"}},
        // Dates before 1970 sort first.
        {K::Date, false, false, {"q 3.TXT", "a?.txt", "b\\x", "2019", "caf\xE9", "Q 3.txt"}},
    };
    for (const auto& c : cases) {
        std::vector<uint32_t> rows{d.q3, d.bx, d.q3twin, d.cafe, d.a, d.y2019};
        d.index.Sort(rows, c.key, c.descending, c.foldersFirst);
        EXPECT_EQ(Names(d.index, rows), c.names) << int(c.key) << c.descending << c.foldersFirst;
    }
}

// An archive whose members were listed opens like a folder, with its members as entries and
// their paths through it; one that could not be listed stays a file, its reason in its note.
TEST(DiskBrowseView, AListedArchiveOpensLikeAFolderAndAFailedOneStaysAFile) {
    CatalogueBuilder b;
    const uint32_t backup = b.Add(0, "backup", EntryKind::Folder, 0, 100);
    const uint32_t zip = b.Add(backup, "photos.zip", EntryKind::File, 400, 100);
    const uint32_t broken = b.Add(backup, "broken.zip", EntryKind::File, 300, 100);
    const uint32_t partial = b.Add(backup, "big.tar", EntryKind::File, 900, 100);
    b.SetArchive(zip, false);
    const uint32_t y2019 = b.Add(zip, "2019", EntryKind::Folder, 0, 100);
    const uint32_t beach = b.Add(y2019, "beach.jpg", EntryKind::File, 12, 100);
    b.SetArchive(broken, false);
    b.SetNote(broken, "damaged archive");
    b.SetArchive(partial, true);
    b.SetNote(partial, "too many members");
    const uint32_t first = b.Add(partial, "first.txt", EntryKind::File, 1, 100);
    DiskFigures f;
    f.root = "E:\\";
    TDiskBrowseView view(b.Finish(f));

    struct Row {
        uint32_t entry;
        bool opens;
    };
    for (const Row& r : {Row{backup, true}, Row{zip, true}, Row{partial, true}, Row{broken, false}, Row{beach, false}})
        EXPECT_EQ(view.IsFolder(r.entry), r.opens) << view.Cat().Name(r.entry);
    // Folders first: the two listed archives before the failed one, which is a file.
    EXPECT_EQ(Names(view, {view.Children(backup).begin(), view.Children(backup).end()}),
              (std::vector<std::string>{"big.tar", "photos.zip", "broken.zip"}));
    EXPECT_EQ(view.SubfolderCount(backup), 2u);
    EXPECT_EQ(view.EntryPath(beach), "E:\\backup\\photos.zip\\2019\\beach.jpg");
    EXPECT_EQ(view.FolderPath(first), "E:\\backup\\big.tar");
    EXPECT_EQ(view.Cat().Note(broken), "damaged archive");
    // The disk's figures count what is on it: the members are apart.
    EXPECT_EQ(view.Figures().files, 3u);
    EXPECT_EQ(view.Figures().archiveMembers, 3u);
    EXPECT_EQ(view.Figures().archivesListed, 2u);
    EXPECT_EQ(view.Figures().archivesUnlisted, 1u);
}
