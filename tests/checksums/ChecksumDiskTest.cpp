// What reading a disk whole leaves behind: the page cache as it was (a warm file stays
// cached, what the reader brought in is dropped), the access times as they were, and a
// real I/O error reported for its file while the others go on.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "checksums/ChecksumFiles.h"
#include "checksums/ChecksumReader.h"
#include "support/NoPermissionOverride.h"
#include "support/PrivateMounts.h"

using namespace quindle;
using quindle::test::TempDir;

namespace {

constexpr size_t kPage = 4096;
constexpr size_t kMiB = size_t{1} << 20;

// "first..last" for each run of pages where `a` and `b` differ.
std::string Differences(const std::vector<bool>& a, const std::vector<bool>& b) {
    std::string out;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (a[i] == b[i]) continue;
        size_t j = i;
        while (j + 1 < a.size() && j + 1 < b.size() && a[j + 1] != b[j + 1]) ++j;
        out += " " + std::to_string(i) + ".." + std::to_string(j) + (a[i] ? " dropped" : " left cached");
        i = j;
    }
    return out;
}

// Whether the kernel drops what a read brought in itself (RWF_DONTCACHE, Linux 6.14).
bool KernelDropsBehind(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    char c;
    iovec v{&c, 1};
    const bool has = preadv2(fd, &v, 1, 0, 0x80 /* RWF_DONTCACHE */) >= 0;
    close(fd);
    return has;
}

TEST(ChecksumReaderCache, PagesCachedBeforeStayAndPagesItBroughtInAreDropped) {
    TempDir dir;
    const size_t chunk = kMiB, pagesPerChunk = chunk / kPage;
    const size_t size = 6 * kMiB + 123; // the last page only partly the file's
    const size_t pages = (size + kPage - 1) / kPage;
    const std::string content = test::RandomBytes(size, 3);
    const std::string path = dir.MakeFile("file", content);
    test::Uncache(path);
    if (test::CachedPages(path) != std::vector<bool>(pages, false))
        GTEST_SKIP() << "the temporary folder's file system keeps its pages cached (tmpfs?)";
    struct Case {
        const char* what;
        size_t cachedFrom, cachedTo; // bytes cached before the read
    };
    const bool kernelWay = KernelDropsBehind(path);
    if (!kernelWay) std::printf("(this kernel has no RWF_DONTCACHE: both runs take the older kernels' way)\n");
    const std::vector<Case> cases = {{"not cached", 0, 0},
                                     {"cached whole", 0, size},
                                     {"its first two chunks cached", 0, 2 * chunk},
                                     {"the middle cached, from a chunk's start", 2 * chunk, 4 * chunk},
                                     {"the middle cached, within chunks", chunk + 5 * kPage, 3 * chunk + 7 * kPage},
                                     {"its last chunk cached", 6 * kMiB, size}};
    for (const bool dropBehind : {true, false}) {
        for (const Case& c : cases) {
            // A page the kernel is looking at just then (a reclaimer, a memory monitor) is not
            // dropped; a reader that drops too much or too little does so every time.
            std::string differences;
            for (int attempt = 0; attempt < 3; ++attempt) {
                test::Uncache(path);
                if (c.cachedTo > c.cachedFrom) test::CacheRange(path, c.cachedFrom, c.cachedTo - c.cachedFrom);
                // The ordinary read cached what the case says.
                const std::vector<bool> before = test::CachedPages(path);
                ASSERT_EQ(before.size(), pages);
                for (size_t i = c.cachedFrom / kPage; i < (c.cachedTo + kPage - 1) / kPage; ++i)
                    ASSERT_TRUE(before[i]) << c.what << ": page " << i << " was not cached by reading it";
                {
                    ChecksumReader reader({2, chunk, 16, dropBehind});
                    reader.Submit({0, path, size});
                    const auto results = reader.TakeAll();
                    ASSERT_EQ(results.size(), 1u);
                    ASSERT_EQ(results[0].status, ChecksumStatus::Done) << c.what;
                    EXPECT_EQ(results[0].sum, ChecksumOf(content.data(), content.size())) << c.what;
                }
                std::vector<bool> expected = before; // the kernel drops exactly what it brought in
                if (!dropBehind || !kernelWay) {
                    // The older way asks the cache for each chunk first, which gives the pages it
                    // holds up to the first it does not; those stay. The rest of the chunk is read
                    // and dropped: what was cached after a hole in the same chunk goes with it.
                    expected.assign(pages, false);
                    for (size_t a = 0; a < pages; a += pagesPerChunk)
                        for (size_t i = a; i < std::min(pages, a + pagesPerChunk) && before[i]; ++i) expected[i] = true;
                }
                const std::vector<bool> after = test::CachedPages(path);
                if (!dropBehind && kernelWay) {
                    // Forced onto the older way, a kernel that has the newer one (large folios,
                    // its own readahead) may cache pages past a chunk while reading it, which
                    // the older way then takes for the cache's own: the pages it found cached
                    // stay, and most of those it brought in go.
                    std::vector<bool> kept = after;
                    size_t brought = 0, stayed = 0;
                    for (size_t i = 0; i < pages; ++i) {
                        kept[i] = kept[i] || !expected[i];
                        brought += !before[i];
                        stayed += !before[i] && after[i];
                    }
                    differences = Differences(std::vector<bool>(pages, true), kept);
                    if (stayed * 2 > brought)
                        differences += " " + std::to_string(stayed) + " of " + std::to_string(brought) + " brought in stayed";
                    if (differences.empty()) break;
                    continue;
                }
                differences = Differences(expected, after);
                if (differences.empty()) break;
            }
            EXPECT_EQ(differences, "") << c.what << (dropBehind ? ", the kernel's way" : ", the older kernels' way");
        }
    }
}

int64_t AccessTime(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_atim.tv_sec;
}

TEST(ChecksumReaderDisk, AccessTimesStayAsTheyWereOnAStrictatimeMount) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root";
    ASSERT_TRUE(test::PrivateMounts()) << "no mount namespace of its own";
    TempDir dir;
    ASSERT_EQ(mount("quindle-test", dir.path().c_str(), "tmpfs", MS_STRICTATIME, "size=64m"), 0);
    const std::string content = test::RandomBytes(5 * kMiB + 1, 9);
    std::vector<std::string> paths;
    for (const char* name : {"mine", "another's", "control"}) {
        paths.push_back(dir.MakeFile(name, content));
        const struct timespec times[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, paths.back().c_str(), times, 0), 0);
    }
    ASSERT_EQ(chown(paths[1].c_str(), 12345, 12345), 0);
    // The mount does change them on reading: an ordinary read of the control file.
    test::CacheRange(paths[2], 0, 10);
    ASSERT_NE(AccessTime(paths[2]), 1'000'000'000) << "this mount does not update access times";

    ChecksumReader reader;
    reader.Submit({0, paths[0], content.size()});
    reader.Submit({1, paths[1], content.size()});
    auto results = test::ResultsById(reader);
    for (const uint64_t id : {0, 1}) {
        EXPECT_EQ(results[id].status, ChecksumStatus::Done);
        EXPECT_EQ(results[id].sum, ChecksumOf(content.data(), content.size()));
        EXPECT_EQ(AccessTime(paths[id]), 1'000'000'000) << paths[id];
    }
    // Reading another's file without CAP_FOWNER: O_NOATIME is refused, and the file is read
    // all the same.
    {
        test::WithoutCapabilities noOwnerOverride({CAP_FOWNER});
        ChecksumReader plain;
        plain.Submit({2, paths[1], content.size()});
        results = test::ResultsById(plain);
    }
    EXPECT_EQ(results[2].status, ChecksumStatus::Done) << ChecksumProblemText(results[2]);
    EXPECT_EQ(results[2].sum, ChecksumOf(content.data(), content.size()));
    umount2(dir.path().c_str(), MNT_DETACH);
}

std::string Shell(const std::string& command) {
    std::string out;
    FILE* p = popen((command + " 2>/dev/null").c_str(), "r");
    if (!p) return out;
    char buf[256];
    while (fgets(buf, sizeof buf, p)) out += buf;
    if (pclose(p) != 0) return {};
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

// A disk whose end has gone: an ext4 image on a loop device, mounted, and then the device
// cut short under it. Reading the blocks past its new end fails with EIO, as a bad sector's.
TEST(ChecksumReaderDisk, AnIOErrorIsReportedForItsFileAndTheOthersAreRead) {
    if (geteuid() != 0) GTEST_SKIP() << "loop devices and mounts need root";
    if (Shell("command -v mke2fs losetup").empty()) GTEST_SKIP() << "mke2fs or losetup missing";
    ASSERT_TRUE(test::PrivateMounts()) << "no mount namespace of its own";
    TempDir dir;
    const std::string content = test::RandomBytes(24 * kMiB, 4);
    dir.MakeFile("src/big", content);
    const std::string image = dir.path() + "/image";
    if (Shell("mke2fs -q -F -t ext4 -d '" + dir.path() + "/src' '" + image + "' 32M >/dev/null && echo ok") != "ok")
        GTEST_SKIP() << "mke2fs cannot make an image here";
    const std::string loop = Shell("losetup -f --show '" + image + "'");
    if (loop.empty()) GTEST_SKIP() << "no loop device to be had";
    const std::string mnt = dir.MakeDir("mnt");
    const bool mounted = mount(loop.c_str(), mnt.c_str(), "ext4", MS_RDONLY, "errors=continue") == 0;
    if (mounted) {
        EXPECT_EQ(truncate(image.c_str(), 4 * static_cast<off_t>(kMiB)), 0);
        EXPECT_NE(Shell("losetup -c " + loop + " && echo ok"), "");
        const std::string other = dir.MakeFile("other", content.substr(0, 1000));
        ChecksumReader reader;
        reader.Submit({0, mnt + "/big", content.size()});
        reader.Submit({1, other, 1000});
        auto results = test::ResultsById(reader);
        EXPECT_EQ(results[0].status, ChecksumStatus::Failed);
        EXPECT_EQ(results[0].error, EIO);
        EXPECT_EQ(ChecksumProblemText(results[0]), "Input/output error");
        EXPECT_EQ(results[1].status, ChecksumStatus::Done);
        EXPECT_EQ(results[1].sum, ChecksumOf(content.data(), 1000));
        umount2(mnt.c_str(), MNT_DETACH);
    }
    Shell("losetup -d " + loop);
    ASSERT_TRUE(mounted) << "the image could not be mounted";
}

} // namespace
