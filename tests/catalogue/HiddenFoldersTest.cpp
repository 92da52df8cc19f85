// The catalogue holds what the record leaves out: hidden folders and everything below them,
// flagged hidden with the record's hidden files; the record stays as it was. Every reader
// of entries takes them, and leaves them out when asked.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "catalogue/DiskCatalogue.h"
#include "changes/CatalogueDiff.h"
#include "copies/Copies.h"
#include "index/FileQuery.h"
#include "index/PackageIndex.h"
#include "records/DiskRecord.h"
#include "records/Memorizer.h"
#include "support/NoPermissionOverride.h"
#include "support/PrivateMounts.h"
#include "support/TempDrive.h"
#include "support/WalkRig.h"

using namespace quindle;
using quindle::test::ReadHostFile;
using quindle::test::TempDrive;
using Rig = quindle::test::WalkRig;

namespace {

// path -> hidden, for every entry but the root.
std::map<std::string, bool> HiddenByPath(const Catalogue& c) {
    std::map<std::string, bool> m;
    for (size_t i = 1; i < c.Count(); ++i) m[c.Path(i)] = c.Hidden(i);
    return m;
}

Catalogue Walked(Rig& rig, const TempDrive& e, std::string* record = nullptr) {
    const std::string path = rig.Memorize(e, "77");
    if (record) *record = ReadHostFile(path);
    DiskCatalogue disk = OpenDiskCatalogue(path, rig.ctx.InfoSection);
    EXPECT_EQ(disk.problem, CatalogueProblem::None);
    return disk.catalogue ? std::move(*disk.catalogue) : Catalogue();
}

// The visible part of the tree every test walks.
void MakeVisible(const TempDrive& e) {
    e.MakeFile("Docs/a.txt", "aaa");
    e.MakeFile("Docs/.hidden-file", "hh");
    e.MakeFile(".profile", "p");
    e.MakeDir("Empty");
}

} // namespace

TEST(HiddenFolders, NestedHiddenFoldersAreWalkedAndFlaggedAndTheRecordStaysAsItWas) {
    Rig rig;
    TempDrive e('E');
    MakeVisible(e);
    e.MakeFile("Docs/.git/HEAD", "ref");
    e.MakeFile("Docs/.git/objects/ab/cdef", "12345");
    e.MakeFile("Docs/.git/.deeper/x", "x");
    e.MakeFile(".cache/visible-name/inside.txt", "1234567");
    e.MakeDir(".cache/empty");
    // A link to a folder, inside a hidden folder: a link, never followed.
    ASSERT_EQ(symlink("../Docs", (e.path() + "/.cache/to-docs").c_str()), 0);
    std::string record;
    const Catalogue c = Walked(rig, e, &record);
    const std::map<std::string, bool> expected = {
        {".cache", true},
        {".cache/empty", true},
        {".cache/to-docs", true},
        {".cache/visible-name", true},
        {".cache/visible-name/inside.txt", true},
        {".profile", true},
        {"Docs", false},
        {"Docs/.git", true},
        {"Docs/.git/.deeper", true},
        {"Docs/.git/.deeper/x", true},
        {"Docs/.git/HEAD", true},
        {"Docs/.git/objects", true},
        {"Docs/.git/objects/ab", true},
        {"Docs/.git/objects/ab/cdef", true},
        {"Docs/.hidden-file", true},
        {"Docs/a.txt", false},
        {"Empty", false},
    };
    EXPECT_EQ(HiddenByPath(c), expected);
    const DiskFigures& f = c.header.figures;
    EXPECT_EQ(f.hiddenEntries, 14u);
    EXPECT_EQ(f.folders, 10u);
    EXPECT_EQ(f.files, 8u);
    EXPECT_EQ(f.bytes, 3u + 2 + 1 + 3 + 5 + 1 + 7);
    EXPECT_TRUE(f.complete);
    for (size_t i = 1; i < c.Count(); ++i) {
        if (c.Path(i) == ".cache/to-docs") EXPECT_EQ(c.Kind(i), EntryKind::Link);
        if (c.Path(i) == "Docs/.git/objects") EXPECT_EQ(c.size[i], 5u);
        EXPECT_LT(c.parent[i], i) << "a folder comes before what it holds";
    }

    // The record is what the walk wrote before hidden folders were kept: the same bytes as
    // for the same disk without them.
    TempDrive plain('E');
    MakeVisible(plain);
    Rig other;
    const std::string plainRecord = ReadHostFile(other.Memorize(plain, "78"));
    EXPECT_EQ(record, plainRecord);
    EXPECT_EQ(record.find(".git"), std::string::npos);
    EXPECT_NE(record.find("\r\n.profile=1\r\n"), std::string::npos);
}

TEST(HiddenFolders, FoldersMarkedHiddenOnTheDiskAreHiddenToo) {
    Rig rig;
    TempDrive e('E');
    MakeVisible(e);
    e.MakeFile("Marked/in.txt", "in");
    e.MakeFile("Docs/marked.txt", "m");
    if (!rig.ctx.platform.FileSetAttr(e.path() + "/Marked", faDirectory | faHidden) ||
        !rig.ctx.platform.FileSetAttr(e.path() + "/Docs/marked.txt", faHidden))
        GTEST_SKIP() << "this file system keeps no DOS attributes (no user xattrs)";
    std::string record;
    const Catalogue c = Walked(rig, e, &record);
    const auto hidden = HiddenByPath(c);
    EXPECT_TRUE(hidden.at("Marked"));
    EXPECT_TRUE(hidden.at("Marked/in.txt"));
    EXPECT_TRUE(hidden.at("Docs/marked.txt"));
    EXPECT_FALSE(hidden.at("Docs/a.txt"));
    EXPECT_EQ(record.find("[Marked]"), std::string::npos) << "the record leaves the folder out as before";
}

TEST(HiddenFolders, AMountInsideAHiddenFolderIsNeverEntered) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root";
    ASSERT_TRUE(quindle::test::PrivateMounts()) << "no mount namespace of its own";
    Rig rig;
    TempDrive e('E');
    MakeVisible(e);
    e.MakeFile(".hidden/before.txt", "b");
    const std::string mnt = e.MakeDir(".hidden/elsewhere");
    ASSERT_EQ(mount("quindle-test", mnt.c_str(), "tmpfs", 0, "size=1m"), 0);
    quindle::test::WriteHostFile(mnt + "/on-another-disk.txt", "far");
    const Catalogue c = Walked(rig, e);
    umount(mnt.c_str());
    const auto hidden = HiddenByPath(c);
    EXPECT_TRUE(hidden.count(".hidden/before.txt"));
    EXPECT_FALSE(hidden.count(".hidden/elsewhere")) << "another file system's mount point is no folder of the disk";
    EXPECT_FALSE(hidden.count(".hidden/elsewhere/on-another-disk.txt"));
}

TEST(HiddenFolders, AnUnreadableHiddenFolderIsNamedAndTheWalkGoesOn) {
    Rig rig;
    TempDrive e('E');
    MakeVisible(e);
    e.MakeFile(".locked/secret.txt", "s");
    e.MakeFile(".open/seen.txt", "s");
    ASSERT_EQ(chmod((e.path() + "/.locked").c_str(), 0), 0);
    Catalogue c;
    {
        quindle::test::WithoutPermissionOverride limited;
        c = Walked(rig, e);
    }
    chmod((e.path() + "/.locked").c_str(), 0700);
    const auto hidden = HiddenByPath(c);
    EXPECT_TRUE(hidden.at(".locked"));
    EXPECT_FALSE(hidden.count(".locked/secret.txt"));
    EXPECT_TRUE(hidden.at(".open/seen.txt"));
    EXPECT_TRUE(std::any_of(rig.log.begin(), rig.log.end(), [](const std::string& l) {
        return l == "Skipped E:\\.locked: the folder cannot be read";
    })) << "the log names the folder";
}

// A large hidden folder pumps once per folder, as the walk does, and Abort stops it there.
TEST(HiddenFolders, AbortStopsTheWalkInsideAHiddenFolder) {
    Rig rig;
    TempDrive e('E');
    MakeVisible(e);
    for (int i = 0; i < 200; ++i) e.MakeFile(".big/f" + std::to_string(i) + "/x.txt", "x");
    int pumpsInside = 0;
    rig.onPump = [&] {
        if (rig.ctx.Progress.hiddenFolders > 0 && ++pumpsInside == 20) rig.ctx.AbortFlag = true;
    };
    const Catalogue c = Walked(rig, e);
    EXPECT_FALSE(c.header.figures.complete);
    EXPECT_LE(rig.ctx.Progress.hiddenFolders, 20);
    size_t below = 0;
    for (size_t i = 1; i < c.Count(); ++i) below += c.Path(i).rfind(".big/", 0) == 0 && c.Kind(i) == EntryKind::Folder;
    EXPECT_GE(below, 15u);
    EXPECT_LE(below, 20u);
}

// Find files, diff, dupes and unique take hidden entries, and leave them out when asked.
TEST(HiddenFolders, EveryReaderTakesThemAndLeavesThemOutWhenAsked) {
    Rig rig;
    TempDrive e('E');
    MakeVisible(e);
    e.MakeFile(".cache/a.txt", "aaa");
    e.MakeFile(".cache/b.txt", "bb");
    e.MakeFile("Docs/.git/note.txt", "n");
    rig.Memorize(e, "77");
    // Another disk: copies of a.txt (visible and hidden on E), of b.txt (hidden on E), and a
    // hidden copy of note.txt (hidden on E too).
    TempDrive f('F');
    f.MakeFile("Copy/a.txt", "aaa");
    f.MakeFile("Copy/b.txt", "bb");
    f.MakeFile(".stash/note.txt", "n");
    rig.Memorize(f, "78");

    PackageIndex index(rig.package.path(), rig.ctx.InfoSection);
    index.Refresh(1);
    const auto found = [&](const std::string& terms, bool hidden) {
        FileQuerySpec spec;
        spec.terms = ParseQuery(terms);
        spec.filters.includeHidden = hidden;
        FileQuery q(index.Snapshot(), spec, 1);
        std::vector<std::string> paths;
        const auto hits = q.Run();
        for (const FileHit& h : *hits) paths.push_back(q.Index().disks[h.disk]->WindowsPath(h.entry));
        std::sort(paths.begin(), paths.end());
        return paths;
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(found("a.txt", true), (V{"E:\\.cache\\a.txt", "E:\\Docs\\a.txt", "F:\\Copy\\a.txt"}));
    EXPECT_EQ(found("a.txt", false), (V{"E:\\Docs\\a.txt", "F:\\Copy\\a.txt"}));
    EXPECT_EQ(found("note", true), (V{"E:\\Docs\\.git\\note.txt", "F:\\.stash\\note.txt"}));
    EXPECT_EQ(found("note", false), V{});
    EXPECT_EQ(found("hidden-file", false), V{});

    std::vector<PackageDisk> disks(2);
    disks[0].catalogue = *OpenDiskCatalogue(RecordPath(rig.ctx, "77"), rig.ctx.InfoSection).catalogue;
    disks[1].catalogue = *OpenDiskCatalogue(RecordPath(rig.ctx, "78"), rig.ctx.InfoSection).catalogue;
    const auto copies = [&](bool hidden) {
        V out;
        const Copies c = FindCopies(disks, 1, hidden);
        for (const CopyGroup& g : c.groups)
            for (uint32_t k = 0; k < g.count; ++k) {
                const FileRef& r = c.refs[g.first + k];
                out.push_back(disks[r.disk].catalogue.Path(r.entry));
            }
        return out;
    };
    EXPECT_EQ(copies(true), (V{".cache/a.txt", "Docs/a.txt", "Copy/a.txt", ".cache/b.txt", "Copy/b.txt",
                               "Docs/.git/note.txt", ".stash/note.txt"}));
    EXPECT_EQ(copies(false), (V{"Docs/a.txt", "Copy/a.txt"}));
    const auto unique = [&](bool hidden) {
        UniqueFiles u(disks[1].catalogue, hidden);
        u.Compare(disks[0].catalogue);
        V out;
        for (const uint32_t i : u.Entries()) out.push_back(disks[1].catalogue.Path(i));
        return out;
    };
    EXPECT_EQ(unique(true), V{});
    // Without hidden files, b.txt's only copy is none, and the hidden note is not listed.
    EXPECT_EQ(unique(false), V{"Copy/b.txt"});
}

TEST(HiddenFolders, DiffComparesThemLeavesThemOutWhenAskedAndNeverAgainstAVersion1Catalogue) {
    const auto build = [](bool withHidden, int32_t version) {
        CatalogueBuilder b;
        const uint32_t docs = b.Add(0, "Docs", EntryKind::Folder, 0, 1);
        b.Add(docs, "a.txt", EntryKind::File, 1, 1);
        const uint32_t dot = b.Add(docs, ".dotfile", EntryKind::File, withHidden ? 2 : 3, 1);
        b.SetHidden(dot);
        if (withHidden) {
            const uint32_t git = b.Add(docs, ".git", EntryKind::Folder, 0, 1);
            b.SetHidden(git);
            b.Add(git, "HEAD", EntryKind::File, 4, 1);
        }
        Catalogue c = b.Finish({});
        c.header.version = static_cast<uint32_t>(version);
        return c;
    };
    struct Case {
        const char* what;
        int32_t beforeVersion;
        bool includeHidden;
        std::vector<std::string> changes; // "change path"
    };
    const Case cases[] = {
        {"version 2 against version 2", 2, true, {"changed Docs/.dotfile", "added Docs/.git", "added Docs/.git/HEAD"}},
        {"hidden entries left out", 2, false, {}},
        // A version-1 catalogue never held hidden folders; its hidden files it did.
        {"version 1 before", 1, true, {"changed Docs/.dotfile"}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        const Catalogue before = build(false, k.beforeVersion), after = build(true, 2);
        const CatalogueDiff d = DiffCatalogues(before, after, DiffOptions{k.includeHidden});
        std::vector<std::string> got;
        for (const EntryChange& c : d.changes) {
            const bool old = c.change == ChangeKind::Removed;
            got.push_back(std::string(ChangeKindName(c.change)) + " " +
                          (old ? before.Path(c.oldEntry) : after.Path(c.newEntry)));
        }
        EXPECT_EQ(got, k.changes);
    }
}
