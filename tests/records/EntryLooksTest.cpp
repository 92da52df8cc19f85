// The looks at listed entries (lstat on a worker) and the memorization around them: every
// entry comes back with what the disk says, the folders in flight stay bounded, and an
// entry that cannot be looked at is named, counted and leaves the catalogue incomplete,
// never a size of 0 and a date of 1970 passed off as real.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/DiskCatalogue.h"
#include "changes/DiskChanges.h"
#include "records/EntryLooks.h"
#include "records/IniFile.h"
#include "records/Memorizer.h"
#include "support/NoPermissionOverride.h"
#include "support/TempDrive.h"
#include "support/WalkRig.h"

using namespace quindle;
using quindle::test::ReadHostFile;
using quindle::test::TempDir;
using quindle::test::TempDrive;
using quindle::test::WalkRig;
using quindle::test::WithoutPermissionOverride;

namespace {

int OpenDescriptors() {
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

struct stat LstatOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return st;
}

// A folder of the kinds an entry can be, each with a size and a date of its own.
struct KindsFolder : TempDir {
    std::vector<std::string> names{"file.txt", "link", "sub", "fifo", "empty"};
    KindsFolder() {
        MakeFile("file.txt", "12345");
        MakeFile("empty");
        MakeDir("sub");
        EXPECT_EQ(symlink("file.txt", (path() + "/link").c_str()), 0);
        mkfifo((path() + "/fifo").c_str(), 0600);
        int64_t t = 1'000'000'000;
        for (const auto& n : names) {
            const struct timespec times[2] = {{t, 0}, {t, 0}};
            utimensat(AT_FDCWD, (path() + "/" + n).c_str(), times, AT_SYMLINK_NOFOLLOW);
            t += 86'400;
        }
    }
};

} // namespace

TEST(EntryLooks, ThroughTheFolderOrByPathEachEntryIsWhatLstatSays) {
    KindsFolder dir;
    const int fd = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    for (const int through : {fd, -1}) {
        FolderLook look;
        look.names = dir.names;
        look.names.push_back("vanished"); // listed, then removed before the look
        LookAtFolder(look, through, dir.path());
        SCOPED_TRACE(through < 0 ? "by path" : "through the folder");
        EXPECT_EQ(look.self.error, 0);
        EXPECT_EQ(look.self.mtime, LstatOf(dir.path()).st_mtim.tv_sec);
        ASSERT_EQ(look.found.size(), dir.names.size() + 1);
        const EntryKind kinds[] = {EntryKind::File, EntryKind::Link, EntryKind::Folder, EntryKind::Other,
                                   EntryKind::File};
        for (size_t i = 0; i < dir.names.size(); ++i) {
            const struct stat st = LstatOf(dir.path() + "/" + dir.names[i]);
            EXPECT_EQ(look.found[i].error, 0) << dir.names[i];
            EXPECT_EQ(look.found[i].kind, kinds[i]) << dir.names[i];
            EXPECT_EQ(look.found[i].size, static_cast<uint64_t>(st.st_size)) << dir.names[i];
            EXPECT_EQ(look.found[i].mtime, 1'000'000'000 + 86'400 * static_cast<int64_t>(i)) << dir.names[i];
        }
        EXPECT_EQ(look.found.back().error, ENOENT);
    }
    close(fd);
}

TEST(EntryLooks, FoldersInFlightStayBoundedAndComeBackInOrder) {
    TempDir dir;
    for (int i = 0; i < 400; ++i) dir.MakeFile("f" + std::to_string(i), std::string(static_cast<size_t>(i), 'x'));
    std::vector<std::string> names;
    for (int i = 0; i < 400; ++i) names.push_back("f" + std::to_string(i));
    const int base = OpenDescriptors();
    // Listing archives takes two workers where the machine has two processors: the folders
    // still come back in the order handed over.
    struct Case {
        size_t max;
        int folders;
        ArchiveMode archives;
    } const cases[] = {{1, 50, ArchiveMode::None},     {4, 200, ArchiveMode::None},    {0, 300, ArchiveMode::None},
                       {1, 50, ArchiveMode::Indexed},  {4, 200, ArchiveMode::Indexed}, {0, 300, ArchiveMode::Indexed}};
    for (const Case& c : cases) {
        SCOPED_TRACE("at most " + std::to_string(c.max) + (c.archives == ArchiveMode::None ? "" : ", archives"));
        std::vector<FolderLook> back;
        {
            EntryLooker looker(c.max, {c.archives, {}, {}});
            const size_t max = looker.MaxInFlight();
            EXPECT_GE(max, 1u);
            EXPECT_LE(max, 64u);
            int worst = 0;
            for (int f = 0; f < c.folders; ++f) {
                FolderLook look;
                look.fd = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                ASSERT_GE(look.fd, 0);
                look.folder = static_cast<uint32_t>(f);
                look.names = names;
                looker.Hand(std::move(look));
                // Handed over and not yet looked at: at most `max` descriptors open.
                worst = std::max(worst, OpenDescriptors() - base);
                for (FolderLook& l : looker.Take(false)) back.push_back(std::move(l));
            }
            for (FolderLook& l : looker.Take(true)) back.push_back(std::move(l));
            // Beside the folders, each worker that reads files' heads keeps its ring open.
            EXPECT_LE(worst, static_cast<int>(max) + (c.archives == ArchiveMode::None ? 0 : 2));
        }
        EXPECT_EQ(OpenDescriptors(), base);
        ASSERT_EQ(back.size(), static_cast<size_t>(c.folders));
        for (int f = 0; f < c.folders; ++f) {
            const FolderLook& l = back[static_cast<size_t>(f)];
            EXPECT_EQ(l.folder, static_cast<uint32_t>(f));
            EXPECT_EQ(l.fd, -1);
            EXPECT_TRUE(l.names.empty()); // given back: every name was looked at
            ASSERT_EQ(l.found.size(), names.size());
            for (size_t i = 0; i < names.size(); i += 37) {
                EXPECT_EQ(l.found[i].error, 0);
                EXPECT_EQ(l.found[i].size, i);
            }
        }
    }
}

TEST(EntryLooks, AnEntryThatCannotBeLookedAtIsNamedCountedAndLeavesTheCatalogueIncomplete) {
    WalkRig rig;
    TempDrive e('E', 7u);
    e.MakeFile("open/a.txt", "abc");
    e.MakeFile("shut/b.txt", "hello");
    e.MakeFile("shut/c.txt", "x");
    e.MakeFile("shut/inner/d.txt", "y");
    rig.Map(e);
    const std::string record = rig.Memorize('E', "7");
    ASSERT_TRUE(OpenDiskCatalogue(record, rig.ctx.InfoSection).catalogue->header.figures.complete);
    e.MakeFile("open/new.txt", "new");

    // Listing the folder needs reading it; looking at its entries needs searching it.
    const std::string shut = e.path() + "/shut";
    std::optional<test::UnsearchableFolder> unsearchable(std::in_place, shut);
    ASSERT_TRUE(unsearchable->Made());
    bool memorized = false;
    {
        WithoutPermissionOverride asAnyUser;
        struct stat st;
        if (lstat((shut + "/b.txt").c_str(), &st) == 0) GTEST_SKIP() << "the folder's permissions do not hold here";
        rig.log.clear();
        memorized = MemorizeDiskWithInfo(rig.ctx, *rig.tree, *rig.lister, 'E', "7", record, {"Seven", "", ""});
    }
    // The record holds every name it can list, and replaced the old one.
    EXPECT_TRUE(memorized);
    const std::string text = ReadHostFile(record);
    for (const char* name : {"\r\na.txt=1\r\n", "\r\nnew.txt=2\r\n", "\r\nb.txt=1\r\n", "\r\nc.txt=2\r\n", "Title=Seven"})
        EXPECT_NE(text.find(name), std::string::npos) << name;
    // The log names each entry and why.
    const std::vector<std::string> named = {
        "Cannot read the size and date of E:\\shut\\inner: Permission denied",
        "Cannot read the size and date of E:\\shut\\b.txt: Permission denied",
        "Cannot read the size and date of E:\\shut\\c.txt: Permission denied"};
    for (const auto& line : named)
        EXPECT_NE(std::find(rig.log.begin(), rig.log.end(), line), rig.log.end()) << line;
    // The catalogue keeps the names, counts what it lacks and is no complete one.
    const DiskCatalogue disk = OpenDiskCatalogue(record, rig.ctx.InfoSection);
    ASSERT_TRUE(disk.catalogue);
    const Catalogue& c = *disk.catalogue;
    EXPECT_FALSE(c.header.figures.complete);
    EXPECT_EQ(c.header.figures.unreadEntries, 3u);
    EXPECT_EQ(IncompleteCatalogueLine(c.header.figures),
              "The catalogue is incomplete: the sizes and dates of 3 entries could not be read");
    bool sawA = false, sawB = false;
    for (size_t i = 1; i < c.Count(); ++i) {
        if (c.Name(i) == "a.txt") {
            sawA = true;
            EXPECT_EQ(c.size[i], 3u);
            EXPECT_EQ(c.mtime[i], LstatOf(e.path() + "/open/a.txt").st_mtim.tv_sec);
        }
        sawB = sawB || c.Name(i) == "b.txt";
    }
    EXPECT_TRUE(sawA);
    EXPECT_TRUE(sawB);

    // A catalogue that lacks details is not compared with the next walk.
    unsearchable.reset();
    const PreviousCatalogue before = ReadPreviousCatalogue(record, rig.ctx.InfoSection);
    EXPECT_FALSE(before.catalogue);
    EXPECT_EQ(before.cause, "the catalogue is incomplete: the sizes and dates of 3 entries could not be read");
}
