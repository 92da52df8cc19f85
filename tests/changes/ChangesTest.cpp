// What changed on a disk between two walks, and copies across the disks of a package, on
// real folders mapped as drives.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "catalogue/DiskCatalogue.h"
#include "changes/CatalogueDiff.h"
#include "copies/Copies.h"
#include "changes/DiskChanges.h"
#include "records/DiskRecord.h"
#include "records/Memorizer.h"
#include "support/WalkRig.h"

using namespace quindle;
using quindle::test::TempDrive;
using quindle::test::WalkRig;
namespace fs = std::filesystem;

namespace {

// "added folder Papers" per change, in the diff's order.
std::vector<std::string> Lines(const DiskDiff& r) {
    std::vector<std::string> out;
    for (const EntryChange& c : r.diff.changes) {
        const bool old = c.change == ChangeKind::Removed;
        const Catalogue& cat = old ? *r.before.catalogue : *r.after;
        const uint32_t i = old ? c.oldEntry : c.newEntry;
        out.push_back(std::string(ChangeKindName(c.change)) + " " + EntryKindName(cat.Kind(i)) + " " + cat.Path(i));
    }
    return out;
}

void SetMtime(const std::string& path, time_t t) {
    struct timespec times[2] = {{t, 0}, {t, 0}};
    utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

// A disk memorized with its information, as Package > Add does.
std::string MemorizeWithInfo(WalkRig& rig, const TempDrive& d, const std::string& serial) {
    rig.Map(d);
    const std::string path = RecordPath(rig.ctx, serial);
    MemorizeDiskWithInfo(rig.ctx, *rig.tree, *rig.lister, d.Info().letter, serial, path, {"T", "D", "A"});
    return path;
}

} // namespace

TEST(Changes, RenamesMovesAndEditsBetweenTwoWalks) {
    struct Case {
        const char* what;
        std::function<void(const TempDrive&)> change;
        std::vector<std::string> expected;
        ChangeCounts counts;
    };
    const std::vector<Case> cases = {
        {"nothing", [](const TempDrive&) {}, {}, {}},
        {"a folder renamed: its old path and all it held removed, the new one added",
         [](const TempDrive& e) { fs::rename(e.path() + "/Docs", e.path() + "/Papers"); },
         {"removed folder Docs", "removed folder Docs/Old", "removed file Docs/Old/z.txt", "removed file Docs/a.doc",
          "added folder Papers", "added folder Papers/Old", "added file Papers/Old/z.txt", "added file Papers/a.doc"},
         {2, 2, 2, 2, 0}},
        {"files moved between folders, one of them into a new folder",
         [](const TempDrive& e) {
             fs::rename(e.path() + "/readme.txt", e.path() + "/Docs/readme.txt");
             fs::create_directory(e.path() + "/Music/New");
             fs::rename(e.path() + "/Docs/a.doc", e.path() + "/Music/New/a.doc");
         },
         {"removed file Docs/a.doc", "added file Docs/readme.txt", "added folder Music/New",
          "added file Music/New/a.doc", "removed file readme.txt"},
         {2, 1, 2, 0, 0}},
        {"a file grown, one touched, a file become a folder of the same name",
         [](const TempDrive& e) {
             e.MakeFile("Music/song.mp3", "longer now");
             SetMtime(e.path() + "/Docs/a.doc", 1000000);
             fs::remove(e.path() + "/setup.exe");
             e.MakeFile("setup.exe/inner", "i");
         },
         {"changed file Docs/a.doc", "changed file Music/song.mp3", "removed file setup.exe", "added folder setup.exe",
          "added file setup.exe/inner"},
         {1, 1, 1, 0, 2}},
        {"names that differ only in case or bytes that are not UTF-8 are different names",
         [](const TempDrive& e) {
             fs::rename(e.path() + "/readme.txt", e.path() + "/README.txt");
             e.MakeFile("caf\xe9.txt", "x");
         },
         {"added file README.txt", "added file caf\xe9.txt", "removed file readme.txt"},
         {2, 0, 1, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WalkRig rig;
        TempDrive e('E', 5u);
        e.MakeFile("readme.txt", "r");
        e.MakeFile("setup.exe", "s");
        e.MakeFile("Docs/a.doc", "a");
        e.MakeFile("Docs/Old/z.txt", "z");
        e.MakeFile("Music/song.mp3", "m");
        const std::string path = MemorizeWithInfo(rig, e, "5");
        const std::string recordBefore = test::ReadHostFile(path);
        c.change(e);
        const DiskDiff r = DiffDisk(rig.ctx, *rig.tree, *rig.lister, 'E', path);
        ASSERT_EQ(r.cause, "");
        EXPECT_EQ(Lines(r), c.expected);
        EXPECT_EQ(r.diff.counts.addedFiles, c.counts.addedFiles);
        EXPECT_EQ(r.diff.counts.addedFolders, c.counts.addedFolders);
        EXPECT_EQ(r.diff.counts.removedFiles, c.counts.removedFiles);
        EXPECT_EQ(r.diff.counts.removedFolders, c.counts.removedFolders);
        EXPECT_EQ(r.diff.counts.changedFiles, c.counts.changedFiles);
        // The diff walked into memory: record and catalogue are as they were, and bound.
        EXPECT_EQ(test::ReadHostFile(path), recordBefore);
        EXPECT_EQ(OpenDiskCatalogue(path, rig.ctx.InfoSection).problem, CatalogueProblem::None);
        size_t files = 0;
        for ([[maybe_unused]] const auto& f : fs::directory_iterator(rig.package.path())) ++files;
        EXPECT_EQ(files, 2u) << "the diff left a file in the package";

        // Memorizing again reports the same counts through the new catalogue.
        const PreviousCatalogue before = ReadPreviousCatalogue(path, rig.ctx.InfoSection);
        ASSERT_TRUE(before.catalogue);
        EXPECT_NE(before.memorizationDate, "");
        std::optional<ChangeCounts> counts;
        MemorizeDiskWithInfo(rig.ctx, *rig.tree, *rig.lister, 'E', "5", path, {"T", "D", "A"},
                             [&](const Catalogue& now) { counts = DiffCatalogues(*before.catalogue, now).counts; });
        ASSERT_TRUE(counts);
        EXPECT_EQ(ChangeCountsText(*counts), ChangeCountsText(r.diff.counts));
        EXPECT_EQ(OpenDiskCatalogue(path, rig.ctx.InfoSection).problem, CatalogueProblem::None);
    }
}

TEST(Changes, CountsReadAsTheLogWritesThem) {
    EXPECT_EQ(ChangeCountsText({}), "nothing changed");
    EXPECT_EQ(ChangeCountsText({3, 1, 0, 0, 0}), "3 files and 1 folder added");
    EXPECT_EQ(ChangeCountsText({0, 0, 1, 2, 1}), "1 file and 2 folders removed, 1 file changed");
    EXPECT_EQ(ChangesLogLine("08/12/2026 10:00:00", {0, 0, 0, 0, 2}), "Changes since 08/12/2026 10:00:00: 2 files changed");
}

TEST(Changes, NoDiffWithoutAnOldCatalogueThatBelongsAndIsWhole) {
    struct Case {
        const char* what;
        std::function<void(WalkRig&, const TempDrive&, const std::string& record)> spoil;
        std::string cause;
    };
    const std::vector<Case> cases = {
        {"catalogue removed", [](WalkRig&, const TempDrive&, const std::string& r) { fs::remove(CataloguePathOf(r)); },
         "no catalogue"},
        {"catalogue damaged",
         [](WalkRig&, const TempDrive&, const std::string& r) {
             std::string cat = test::ReadHostFile(CataloguePathOf(r));
             cat[cat.size() - 3] ^= 0x55;
             test::WriteHostFile(CataloguePathOf(r), cat);
         },
         "the catalogue is damaged"},
        {"the last walk was stopped",
         [](WalkRig& rig, const TempDrive& e, const std::string& r) {
             rig.onPump = [&rig] { rig.ctx.AbortFlag = rig.pumps >= 2; };
             MemorizeDiskWithInfo(rig.ctx, *rig.tree, *rig.lister, e.Info().letter, "5", r, {"T", "D", "A"});
             rig.onPump = nullptr;
         },
         kPartialCatalogue},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WalkRig rig;
        TempDrive e('E', 5u);
        e.MakeFile("readme.txt", "r");
        e.MakeFile("Docs/a.doc", "a");
        e.MakeFile("Music/song.mp3", "m");
        const std::string path = MemorizeWithInfo(rig, e, "5");
        c.spoil(rig, e, path);
        const int pumps = rig.pumps;
        const DiskDiff r = DiffDisk(rig.ctx, *rig.tree, *rig.lister, 'E', path);
        EXPECT_EQ(r.cause, c.cause);
        EXPECT_FALSE(r.after) << "the drive was walked";
        EXPECT_EQ(rig.pumps, pumps);
        EXPECT_TRUE(r.diff.changes.empty());
    }
}

TEST(Changes, AStaleCatalogueIsNoBaseForADiff) {
    // The record of a second walk beside the catalogue of the first: a backup restored.
    WalkRig rig;
    TempDrive e('E', 5u);
    e.MakeFile("readme.txt", "r");
    const std::string path = MemorizeWithInfo(rig, e, "5");
    e.MakeFile("new.txt", "n");
    WriteDiskInfo(rig.ctx, path, "5", "01/01/2001 01:01:01", "T", "D", "A"); // date changed: another walk
    const DiskDiff r = DiffDisk(rig.ctx, *rig.tree, *rig.lister, 'E', path);
    EXPECT_EQ(r.cause, "the catalogue does not belong to this record");
    EXPECT_FALSE(r.after);
}
