#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <map>

#include "catalogue/CatalogueFile.h"
#include "catalogue/DiskCatalogue.h"
#include "catalogue/EntryText.h"
#include "catalogue/RecordBinding.h"
#include "records/DiskRecord.h"
#include "records/IniFile.h"
#include "records/Memorizer.h"
#include "records/StaleTempFiles.h"
#include "support/DamagedCatalogue.h"
#include "support/TempDrive.h"
#include "support/WalkRig.h"

using namespace quindle;
using quindle::test::ReadHostFile;
using quindle::test::TempDrive;
using quindle::test::WriteHostFile;
using Rig = quindle::test::WalkRig;

namespace {

struct Entry {
    std::string kind;
    uint64_t size;
    int64_t mtime;
    bool operator==(const Entry&) const = default;
};

// path -> entry, for every entry of the catalogue (the root as "").
std::map<std::string, Entry> Entries(const Catalogue& c) {
    std::map<std::string, Entry> m;
    for (size_t i = 0; i < c.Count(); ++i) m[c.Path(i)] = {EntryKindName(c.Kind(i)), c.size[i], c.mtime[i]};
    return m;
}

void SetMtime(const std::string& path, time_t t) {
    const struct timeval tv[2] = {{t, 0}, {t, 0}};
    ASSERT_EQ(lutimes(path.c_str(), tv), 0);
}

// Memorizes drive E with its information section, as Package > Add does.
std::string Add(Rig& rig, const TempDrive& e, const std::string& title = "T") {
    rig.Map(e);
    const std::string path = RecordPath(rig.ctx, "77");
    MemorizeDiskWithInfo(rig.ctx, *rig.tree, *rig.lister, 'E', "77", path, {title, "d", "a"});
    return path;
}

Catalogue Sample() {
    CatalogueBuilder b;
    const uint32_t docs = b.Add(0, "Docs", EntryKind::Folder, 0, 100);
    b.Add(docs, "tab\there", EntryKind::File, 10, 200);
    b.Add(docs, "line\r\nbreak", EntryKind::File, 5, -300);
    const uint32_t deep = b.Add(docs, "DOCS", EntryKind::Folder, 0, 400);
    b.Add(deep, "\xff\xfe bytes", EntryKind::File, uint64_t(1) << 40, 500);
    b.Add(deep, "link", EntryKind::Link, 7, 600);
    b.Add(0, "fifo", EntryKind::Other, 0, 700);
    DiskFigures f;
    f.fileSystem = "ext4";
    f.root = "E:\\";
    f.complete = true;
    return b.Finish(f);
}

} // namespace

TEST(CatalogueFile, RoundTripsAndRefusesDamageWithItsReason) {
    const Catalogue c = Sample();
    EXPECT_EQ(c.header.figures.files, 5u);
    EXPECT_EQ(c.header.figures.folders, 3u);
    EXPECT_EQ(c.size[0], 15u + (uint64_t(1) << 40)); // regular files at any depth; the link not
    EXPECT_EQ(c.Path(6), "Docs/DOCS/link");
    const std::string file = EncodeCatalogue(c);
    CatalogueProblem problem;
    const auto back = DecodeCatalogue(file, problem);
    ASSERT_TRUE(back);
    EXPECT_EQ(Entries(*back), Entries(c));
    EXPECT_EQ(back->names, c.names);
    EXPECT_EQ(back->header.figures.fileSystem, "ext4");
    EXPECT_TRUE(back->header.figures.complete);
    // The header alone, from the first bytes only.
    const auto header = DecodeCatalogueHeader(std::string_view(file).substr(0, file.size() - 10), problem);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->entryCount, 8u);

    struct Case {
        const char* what;
        std::string bytes;
        CatalogueProblem problem;
    };
    std::string newer = file, flipped = file, foreign = "\r\n[Docs]\r\na=1\r\n" + file;
    newer[8] = 3;
    flipped[file.size() - 6] ^= 0x10;
    const Case cases[] = {
        {"empty", "", CatalogueProblem::Damaged},
        {"truncated in the entries", file.substr(0, file.size() - 1), CatalogueProblem::Damaged},
        {"truncated in the header", file.substr(0, 30), CatalogueProblem::Damaged},
        {"longer", file + "x", CatalogueProblem::Damaged},
        {"a later version", newer, CatalogueProblem::Unsupported},
        {"a byte changed", flipped, CatalogueProblem::Damaged},
        {"a record", foreign, CatalogueProblem::Damaged},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        EXPECT_FALSE(DecodeCatalogue(k.bytes, problem));
        EXPECT_EQ(problem, k.problem);
    }
    EXPECT_STREQ(CatalogueProblemText(CatalogueProblem::NotBound), "the catalogue does not belong to this record");
}

TEST(CatalogueText, JsonEscapesBytesThatAreNotUtf8OnePerByte) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain.txt", "\"plain.txt\""},
        {"tab\t\"q\"\\\r\n\x01", "\"tab\\t\\\"q\\\"\\\\\\r\\n\\u0001\""},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\""},
        {"latin1 \xe9t\xe9", "\"latin1 \\udce9t\\udce9\""},
        {"\xc3", "\"\\udcc3\""},                       // cut short
        {"\xc0\xaf", "\"\\udcc0\\udcaf\""},            // overlong
        {"\xed\xa0\x80", "\"\\udced\\udca0\\udc80\""}, // a surrogate
        {"\xf4\x90\x80\x80", "\"\\udcf4\\udc90\\udc80\\udc80\""}, // above U+10FFFF
    };
    for (const auto& [in, out] : cases) {
        std::string s;
        AppendJsonString(s, in);
        EXPECT_EQ(s, out) << in;
    }
    EXPECT_EQ(IsoUtc(0), "1970-01-01T00:00:00Z");
    EXPECT_EQ(IsoUtc(1700000000), "2023-11-14T22:13:20Z");
}

TEST(CatalogueWalk, HoldsEveryFolderAndListedEntryWithSizesDatesAndFigures) {
    Rig rig;
    TempDrive e('E');
    e.MakeFile("root.txt", "12345");
    e.MakeFile("Docs/a.doc", "aa");
    e.MakeFile("Docs/Old/a.doc", "aaaa");
    e.MakeFile("DOCS/tab\tname", "x");
    e.MakeFile("Docs/Old/Deep/\xe9t\xe9?*=[\\", "123");
    e.MakeFile(".hidden/inside.txt", "walked too");
    e.MakeDir("Empty");
    ASSERT_EQ(symlink("Docs", (e.path() + "/link").c_str()), 0);
    ASSERT_EQ(mkfifo((e.path() + "/Docs/pipe").c_str(), 0600), 0);
    SetMtime(e.path() + "/Docs/a.doc", 1000000000);
    SetMtime(e.path() + "/Docs/Old", 1100000000);
    const std::string path = Add(rig, e);
    DiskCatalogue disk = OpenDiskCatalogue(path, rig.ctx.InfoSection);
    ASSERT_EQ(disk.problem, CatalogueProblem::None);
    const Catalogue& c = *disk.catalogue;
    struct stat linkSt;
    ASSERT_EQ(lstat((e.path() + "/link").c_str(), &linkSt), 0);
    const std::map<std::string, std::pair<std::string, uint64_t>> expected = {
        {"", {"folder", 25}},
        {"root.txt", {"file", 5}},
        {".hidden", {"folder", 10}},
        {".hidden/inside.txt", {"file", 10}},
        {"link", {"link", static_cast<uint64_t>(linkSt.st_size)}},
        {"DOCS", {"folder", 1}},
        {"DOCS/tab\tname", {"file", 1}},
        {"Docs", {"folder", 9}},
        {"Docs/a.doc", {"file", 2}},
        {"Docs/pipe", {"other", 0}},
        {"Docs/Old", {"folder", 7}},
        {"Docs/Old/a.doc", {"file", 4}},
        {"Docs/Old/Deep", {"folder", 3}},
        {"Docs/Old/Deep/\xe9t\xe9?*=[\\", {"file", 3}},
        {"Empty", {"folder", 0}},
    };
    std::map<std::string, std::pair<std::string, uint64_t>> got;
    for (const auto& [p, en] : Entries(c)) got[p] = {en.kind, en.size};
    EXPECT_EQ(got, expected);
    const auto entries = Entries(c);
    EXPECT_EQ(entries.at("Docs/a.doc").mtime, 1000000000);
    EXPECT_EQ(entries.at("Docs/Old").mtime, 1100000000);
    const DiskFigures& f = c.header.figures;
    EXPECT_EQ(f.files, 8u);
    EXPECT_EQ(f.folders, 7u);
    EXPECT_EQ(f.bytes, 25u);
    EXPECT_EQ(f.hiddenEntries, 2u);
    EXPECT_EQ(f.root, "E:\\");
    EXPECT_TRUE(f.complete);
    EXPECT_GT(f.capacity, 0u);
    EXPECT_FALSE(f.fileSystem.empty());
    // The record is what it always was: names with line breaks never get into it.
    const std::string record = ReadHostFile(path);
    EXPECT_NE(record.find("[DOCS]\r\ntab\tname=1\r\n"), std::string::npos);
    // No temporary file stays behind; the catalogue is no record.
    for (const char* name : {".~walk-", ".~cat-"})
        EXPECT_EQ(system(("ls -a '" + rig.package.path() + "' | grep -q -- '" + name + "'").c_str()) != 0, true);
    EXPECT_TRUE(IsTempFileName(".~cat-12-3.tmp"));
    EXPECT_FALSE(IsTempFileName(".~cat-12.tmp"));
}

// The entries of every folder are looked at while the walk goes on to the next ones: each
// must come back to its own entry, whatever the folder and however many it holds.
TEST(CatalogueWalk, EveryEntryOfManyFoldersHasItsOwnSizeKindAndDate) {
    Rig rig;
    TempDrive e('E');
    size_t files = 0;
    for (int top = 0; top < 12; ++top)
        for (int sub = 0; sub < 15; ++sub) {
            const std::string dir = "T" + std::to_string(top) + "/S" + std::to_string(sub);
            for (int f = 0; f < (top * 7 + sub) % 9; ++f, ++files) {
                const std::string file = dir + "/f" + std::to_string(f);
                e.MakeFile(file, std::string(static_cast<size_t>(top * 100 + sub * 9 + f), 'x'));
                SetMtime(e.path() + "/" + file, 1200000000 + top * 1000 + sub * 10 + f);
            }
            e.MakeDir(dir);
            if (sub % 4 == 0) {
                ASSERT_EQ(symlink("f0", (e.path() + "/" + dir + "/ln").c_str()), 0);
            }
        }
    const std::string path = Add(rig, e);
    DiskCatalogue disk = OpenDiskCatalogue(path, rig.ctx.InfoSection);
    ASSERT_EQ(disk.problem, CatalogueProblem::None);
    size_t checked = 0;
    for (const auto& [rel, en] : Entries(*disk.catalogue)) {
        struct stat st;
        ASSERT_EQ(lstat((e.path() + "/" + rel).c_str(), &st), 0) << rel;
        const char* kind = S_ISDIR(st.st_mode) ? "folder" : S_ISLNK(st.st_mode) ? "link" : "file";
        EXPECT_EQ(en.kind, kind) << rel;
        if (!S_ISDIR(st.st_mode)) {
            EXPECT_EQ(en.size, static_cast<uint64_t>(st.st_size)) << rel;
        }
        EXPECT_EQ(en.mtime, st.st_mtim.tv_sec) << rel;
        checked += !S_ISDIR(st.st_mode);
    }
    EXPECT_EQ(checked, files + 12 * 4); // the files and the links
}

// Damage as failed copies and file-system faults leave it: refused with its reason before
// anything is allocated for what the file claims (a sparse 200 GB file, 2^40 bytes of
// entries, 4 billion entries), by the header reader as by the whole reader, in memory as
// from the file; memorizing the disk again replaces it.
TEST(CatalogueFile, DamagedFilesAreRefusedWithoutAllocatingWhatTheyClaim) {
    Rig rig;
    TempDrive e('E');
    e.MakeFile("Docs/a.doc", "aa");
    e.MakeFile("b.txt", "b");
    const auto peakKb = [] {
        struct rusage u {};
        getrusage(RUSAGE_SELF, &u);
        return u.ru_maxrss;
    };
    for (const test::CatalogueDamage how : test::kCatalogueDamages) {
        SCOPED_TRACE(test::CatalogueDamageName(how));
        const std::string path = Add(rig, e);
        const std::string cat = CataloguePathOf(path);
        ASSERT_EQ(OpenDiskCatalogue(path, rig.ctx.InfoSection).problem, CatalogueProblem::None);
        test::DamageCatalogue(cat, how);
        const long before = peakKb();
        const DiskCatalogue whole = OpenDiskCatalogue(path, rig.ctx.InfoSection);
        const DiskCatalogueHeader head = OpenDiskCatalogueHeader(path, rig.ctx.InfoSection);
        CatalogueProblem direct = CatalogueProblem::None;
        EXPECT_FALSE(ReadCatalogueFile(cat, direct));
        // So many entries do not fit in this computer's memory; a computer with more finds
        // the frame damaged.
        if (how == test::CatalogueDamage::HugeCount && whole.problem != CatalogueProblem::Damaged)
            EXPECT_EQ(whole.problem, CatalogueProblem::TooLarge);
        else
            EXPECT_EQ(whole.problem, CatalogueProblem::Damaged);
        EXPECT_FALSE(whole.catalogue);
        EXPECT_EQ(head.problem, whole.problem);
        EXPECT_FALSE(head.header);
        EXPECT_EQ(direct, whole.problem);
        if (how != test::CatalogueDamage::Grown) { // the same bytes in memory
            EXPECT_FALSE(DecodeCatalogue(ReadHostFile(cat), direct));
            EXPECT_EQ(direct, whole.problem);
        }
        EXPECT_LT(peakKb() - before, 64 * 1024) << "memory taken for what the file claims";
    }
    EXPECT_STREQ(CatalogueProblemText(CatalogueProblem::TooLarge),
                 "the catalogue is too large for this computer's memory");
    Add(rig, e);
    EXPECT_EQ(OpenDiskCatalogue(RecordPath(rig.ctx, "77"), rig.ctx.InfoSection).problem, CatalogueProblem::None);
}

TEST(CatalogueBinding, UpdateKeepsItAnotherWalksRecordBreaksIt) {
    Rig rig;
    TempDrive e('E');
    e.MakeFile("Docs/a.doc", "aa");
    const std::string path = Add(rig, e);
    const std::string cat = CataloguePathOf(path);
    EXPECT_EQ(cat, rig.package.path() + "/77.cat");
    EXPECT_EQ(OpenDiskCatalogueHeader(path, rig.ctx.InfoSection).problem, CatalogueProblem::None);

    // Package > Update: the five keys rewritten through the store.
    const std::string date = TIniFile32(path).ReadString(rig.ctx.InfoSection, "Memorization Date", "");
    WriteDiskInfo(rig.ctx, path, "77", date, "A much longer title than before", "new description", "more");
    EXPECT_NE(ReadHostFile(path).find("Title=A much longer title than before"), std::string::npos);
    EXPECT_EQ(OpenDiskCatalogue(path, rig.ctx.InfoSection).problem, CatalogueProblem::None);
    // A copy of the same record (a restore of this very walk) still belongs.
    const std::string updated = ReadHostFile(path);
    unlink(path.c_str());
    WriteHostFile(path, updated);
    EXPECT_EQ(OpenDiskCatalogue(path, rig.ctx.InfoSection).problem, CatalogueProblem::None);

    // An older walk's record: the same files, memorized at another time.
    const std::string older = ReadHostFile(path);
    std::string olderDate = older;
    olderDate.replace(olderDate.find("Memorization Date=") + 18, 2, "01");
    const std::string otherDisk = "\r\n[Pics]\r\nx.png=1\r\n\r\n[" + rig.ctx.InfoSection + "]\r\nVolume Serial=77\r\n";
    // A kill between the two renames: a new catalogue beside the old record.
    sleep(1); // another second: another date
    e.MakeFile("Docs/b.doc");
    const std::string savedCatalogue = [&] {
        Add(rig, e);
        return ReadHostFile(cat);
    }();
    struct Case {
        const char* what;
        std::string record;
        CatalogueProblem problem;
    };
    const Case cases[] = {
        {"restored from a backup of another walk", olderDate, CatalogueProblem::NotBound},
        {"copied from another package", otherDisk, CatalogueProblem::NotBound},
        {"the old record after a kill between the renames", older, CatalogueProblem::NotBound},
        {"written by another program", "[Docs]\na.doc=1\n", CatalogueProblem::NotBound},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        unlink(path.c_str());
        WriteHostFile(path, k.record);
        EXPECT_EQ(OpenDiskCatalogue(path, rig.ctx.InfoSection).problem, k.problem);
        EXPECT_FALSE(OpenDiskCatalogue(path, rig.ctx.InfoSection).catalogue);
        EXPECT_FALSE(OpenDiskCatalogueHeader(path, rig.ctx.InfoSection).header);
    }
    EXPECT_EQ(savedCatalogue, ReadHostFile(cat));
    WriteHostFile(cat, "garbage");
    EXPECT_EQ(OpenDiskCatalogue(path, rig.ctx.InfoSection).problem, CatalogueProblem::Damaged);
    ASSERT_TRUE(RemoveDiskCatalogue(path));
    EXPECT_EQ(OpenDiskCatalogue(path, rig.ctx.InfoSection).problem, CatalogueProblem::Missing);
    EXPECT_TRUE(RemoveDiskCatalogue(path)); // nothing to remove is no failure
}

TEST(CatalogueWalk, AbortKeepsAPartialCatalogueQuittingKeepsTheOldOne) {
    Rig rig;
    TempDrive e('E');
    e.MakeFile("A/one.txt");
    e.MakeFile("B/two.txt");
    e.MakeFile("C/three.txt");
    const std::string path = Add(rig, e);
    const std::string oldRecord = ReadHostFile(path), oldCatalogue = ReadHostFile(CataloguePathOf(path));

    // Closing the program mid-walk: both old files stay, still matched.
    rig.pumps = 0;
    rig.onPump = [&] {
        if (rig.pumps == 3) {
            rig.ctx.Quitting = true;
            rig.ctx.AbortFlag = true;
        }
    };
    e.MakeFile("D/four.txt");
    Add(rig, e);
    EXPECT_EQ(ReadHostFile(path), oldRecord);
    EXPECT_EQ(ReadHostFile(CataloguePathOf(path)), oldCatalogue);
    EXPECT_EQ(OpenDiskCatalogueHeader(path, rig.ctx.InfoSection).problem, CatalogueProblem::None);

    // Abort after two folders: a partial catalogue, marked so, bound to the partial record.
    rig.ctx.Quitting = false;
    rig.pumps = 0;
    rig.onPump = [&] {
        if (rig.pumps == 3) rig.ctx.AbortFlag = true;
    };
    Add(rig, e);
    const DiskCatalogue disk = OpenDiskCatalogue(path, rig.ctx.InfoSection);
    ASSERT_TRUE(disk.catalogue);
    EXPECT_FALSE(disk.catalogue->header.figures.complete);
    std::map<std::string, Entry> got = Entries(*disk.catalogue);
    EXPECT_EQ(got.size(), 3u) << "root, A and A/one.txt";
    EXPECT_TRUE(got.count("A/one.txt"));
}
