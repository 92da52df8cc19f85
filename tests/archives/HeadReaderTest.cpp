// The heads of a folder's files read in batches (through the kernel's ring where it has one):
// the same bytes and errors as reading each file on its own, access times kept, links and
// FIFOs never followed or waited on, and the archives among a folder's files found as
// listing each file finds them.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "ArchiveRig.h"
#include "archives/ArchiveSniff.h"
#include "archives/HeadReader.h"
#include "support/NoPermissionOverride.h"
#include "support/PrivateMounts.h"
#include "support/TempDrive.h"

using namespace quindle;
using quindle::test::TempDir;

namespace {

std::string Bytes(size_t n, unsigned seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + seed * 7) & 0xFF);
    return s;
}

struct Folder {
    TempDir dir;
    int fd = -1;
    Folder() = default;
    ~Folder() {
        if (fd >= 0) close(fd);
    }
    int Fd() {
        if (fd < 0) fd = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        return fd;
    }
};

} // namespace

TEST(HeadReader, GivesEachFilesFirstBytesAndErrorsAsAPlainReadDoes) {
    Folder f;
    struct Case {
        std::string name;
        std::string content; // made as a file when `make` is "file"
        const char* make;
        int error; // expected errno; 0: the first bytes
    };
    std::vector<Case> cases = {
        {"empty", "", "file", 0},
        {"three", "abc", "file", 0},
        {"just under", Bytes(511, 1), "file", 0},
        {"exactly", Bytes(512, 2), "file", 0},
        {"longer", Bytes(70000, 3), "file", 0},
        {"name with\nline break and \\ ? *", Bytes(900, 4), "file", 0},
        {"missing", "", "none", ENOENT},
        {"link", "", "link", ELOOP},   // never followed
        {"fifo", "", "fifo", 0},       // never waited on: no writer, nothing to read
    };
    // More than a batch holds, so the answers must come back in order across batches.
    for (int i = 0; i < 150; ++i) cases.push_back({"f" + std::to_string(i), Bytes(static_cast<size_t>(i * 13), i), "file", 0});
    for (const Case& c : cases) {
        const std::string path = f.dir.path() + "/" + c.name;
        if (std::string(c.make) == "file") f.dir.MakeFile(c.name, c.content);
        if (std::string(c.make) == "link") {
            ASSERT_EQ(symlink((f.dir.path() + "/longer").c_str(), path.c_str()), 0);
        }
        if (std::string(c.make) == "fifo") {
            ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
        }
    }
    std::vector<const char*> names;
    for (const Case& c : cases) names.push_back(c.name.c_str());

    const auto openDescriptors = [] {
        int n = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
        return n;
    };
    // Through the ring, and file by file as where the kernel refuses it: the same answers.
    for (const bool batched : {true, false}) {
        SCOPED_TRACE(batched ? "batched" : "file by file");
        const int before = openDescriptors();
        {
            HeadReader reader(batched);
            if (batched && !reader.Batched())
                std::fprintf(stderr, "this kernel refuses io_uring: only the file-by-file path is tested\n");
            for (int round = 0; round < 2; ++round) { // the slots of the first round are free again
                const std::vector<HeadRead> heads = reader.Read(f.Fd(), names, kSniffHeadBytes);
                ASSERT_EQ(heads.size(), cases.size());
                for (size_t i = 0; i < cases.size(); ++i) {
                    const Case& c = cases[i];
                    EXPECT_EQ(heads[i].error, c.error) << c.name;
                    EXPECT_EQ(heads[i].head, c.content.substr(0, kSniffHeadBytes)) << c.name;
                    const HeadRead plain = ReadHeadPlain(f.Fd(), names[i], kSniffHeadBytes);
                    EXPECT_EQ(plain.error, c.error) << c.name;
                    EXPECT_EQ(plain.head, heads[i].head) << c.name;
                }
            }
            // No descriptor of the program's is left behind: the ring opens into its own
            // table, and only the ring itself stays open (and the folder, opened meanwhile).
            EXPECT_LE(openDescriptors() - before, (reader.Batched() ? 1 : 0) + (batched ? 1 : 0));
        }
    }
}

TEST(HeadReader, KeepsAccessTimesAndReadsAnothersFileWhenTheOwnerCheckRefuses) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs and owning files for another need root";
    ASSERT_TRUE(test::PrivateMounts()) << "no mount namespace of its own";
    TempDir dir;
    ASSERT_EQ(mount("quindle-test", dir.path().c_str(), "tmpfs", MS_STRICTATIME, "size=16m"), 0);
    std::vector<std::string> names;
    for (int i = 0; i < 20; ++i) {
        names.push_back("f" + std::to_string(i));
        const std::string path = dir.MakeFile(names.back(), Bytes(1000, i));
        const struct timespec times[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        if (i % 2) {
            ASSERT_EQ(chown(path.c_str(), 12345, 12345), 0); // another's
        }
    }
    const auto atime = [&](const std::string& name) {
        struct stat st {};
        stat((dir.path() + "/" + name).c_str(), &st);
        return static_cast<int64_t>(st.st_atim.tv_sec);
    };
    std::vector<const char*> asked;
    for (const std::string& n : names) asked.push_back(n.c_str());
    const int fd = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    {
        HeadReader reader;
        const std::vector<HeadRead> heads = reader.Read(fd, asked, kSniffHeadBytes);
        for (size_t i = 0; i < names.size(); ++i) {
            EXPECT_EQ(heads[i].error, 0) << names[i];
            EXPECT_EQ(heads[i].head, Bytes(1000, static_cast<unsigned>(i)).substr(0, kSniffHeadBytes));
            EXPECT_EQ(atime(names[i]), 1'000'000'000) << names[i];
        }
    }
    // Without CAP_FOWNER another's file refuses O_NOATIME: read all the same.
    {
        test::WithoutCapabilities noOwnerOverride({CAP_FOWNER});
        HeadReader reader;
        const std::vector<HeadRead> heads = reader.Read(fd, asked, kSniffHeadBytes);
        for (size_t i = 0; i < names.size(); ++i) {
            EXPECT_EQ(heads[i].error, 0) << names[i];
            EXPECT_EQ(heads[i].head, Bytes(1000, static_cast<unsigned>(i)).substr(0, kSniffHeadBytes));
            if (i % 2 == 0) {
                EXPECT_EQ(atime(names[i]), 1'000'000'000) << names[i]; // still the owner's
            }
        }
    }
    // The mount does change access times on an ordinary read.
    EXPECT_EQ(dir.Read(names[0]).size(), 1000u);
    EXPECT_NE(atime(names[0]), 1'000'000'000) << "this mount does not update access times";
    close(fd);
    umount2(dir.path().c_str(), MNT_DETACH);
}

TEST(HeadReader, TheArchivesAmongAFoldersFilesAreThoseListingEachFileFinds) {
    if (!test::HasTool("zip") || !test::HasTool("tar")) GTEST_SKIP() << "zip and tar are needed";
    TempDir dir;
    dir.MakeFile("src/a.txt", "hello");
    dir.MakeFile("src/b/c.txt", "world");
    ASSERT_TRUE(test::Shell(dir, "cd src && zip -qr ../one.zip . && tar -cf ../two.tar . && tar -czf ../three.tgz . && cd .. &&"
                                 " cp one.zip 'renamed.txt' && head -c 100 one.zip > damaged.zip && rm -r src"));
    dir.MakeFile("plain.zip", "not a zip at all, whatever its name says");
    dir.MakeFile("tiny", "PK");
    for (int i = 0; i < 100; ++i) dir.MakeFile("n" + std::to_string(i), Bytes(600, i));
    std::vector<std::string> names;
    std::vector<uint64_t> sizes;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        if (!e.is_regular_file() || e.path().filename().string()[0] == '.') continue;
        names.push_back(e.path().filename().string());
        sizes.push_back(e.file_size());
    }
    std::vector<const char*> asked;
    for (const std::string& n : names) asked.push_back(n.c_str());
    const int fd = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (const ArchiveMode mode : {ArchiveMode::Indexed, ArchiveMode::All}) {
        const ArchiveOptions options = test::Mode(mode);
        std::map<std::string, std::string> batched, single;
        for (const auto& [i, listing] : ListArchivesAmong(fd, asked, sizes, options))
            batched[names[i]] = std::to_string(listing.members.size()) + " " + listing.Info().reason;
        for (size_t i = 0; i < names.size(); ++i) {
            const ArchiveListing l = ListArchive(fd, asked[i], sizes[i], options);
            if (l.Status() != ArchiveStatus::NotArchive && l.Status() != ArchiveStatus::Skipped)
                single[names[i]] = std::to_string(l.members.size()) + " " + l.Info().reason;
        }
        EXPECT_EQ(batched, single);
        EXPECT_EQ(batched.count("one.zip"), 1u);
        EXPECT_EQ(batched.count("renamed.txt"), 1u); // content, not the name
        EXPECT_EQ(batched.count("damaged.zip"), 1u); // a reason, not silence
        EXPECT_EQ(batched.count("plain.zip"), 0u);
        if (mode == ArchiveMode::All) {
            EXPECT_EQ(batched.count("three.tgz"), 1u);
        }
    }
    EXPECT_TRUE(ListArchivesAmong(fd, asked, sizes, test::Mode(ArchiveMode::None)).empty());
    close(fd);
}
