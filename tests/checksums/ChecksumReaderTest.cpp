// The reader with many files in flight: every job comes back once with its own id, a file
// that cannot be read is named with its error while the others go on, a file that is not
// what was listed is "changed", and a cancel stops every thread within a chunk or two.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "checksums/ChecksumFiles.h"
#include "checksums/ChecksumReader.h"
#include "support/NoPermissionOverride.h"

using namespace quindle;
using quindle::test::TempDir;

namespace {

constexpr uint64_t kGiB = uint64_t{1} << 30;

TEST(ChecksumReader, ManyFilesComeBackOnceEachWithTheirIds) {
    TempDir dir;
    std::mt19937 rng(5);
    struct File {
        std::string path;
        uint64_t size;
        Checksum sum;
    };
    std::map<uint64_t, File> files; // ids far apart and out of order, as entries of a catalogue are
    uint64_t total = 0;
    for (int i = 0; i < 300; ++i) {
        const size_t size = rng() % 4 == 0 ? rng() % 600'000 : rng() % 5000;
        const std::string content = test::RandomBytes(size, static_cast<uint32_t>(i));
        const uint64_t id = (uint64_t(rng()) << 20) + static_cast<uint64_t>(i);
        files[id] = {dir.MakeFile("d" + std::to_string(i % 7) + "/f" + std::to_string(i), content), size,
                     ChecksumOf(content.data(), content.size())};
        total += size;
    }
    // Few waiting jobs: Submit waits for room again and again.
    ChecksumReader reader({3, 64 * 1024, 4});
    EXPECT_EQ(reader.Threads(), 3u);
    std::map<uint64_t, ChecksumResult> results;
    for (const auto& [id, f] : files) {
        reader.Submit({id, f.path, f.size});
        for (ChecksumResult& r : reader.Take()) EXPECT_TRUE(results.emplace(r.id, r).second) << "twice: " << r.id;
    }
    for (ChecksumResult& r : reader.TakeAll()) EXPECT_TRUE(results.emplace(r.id, r).second) << "twice: " << r.id;
    EXPECT_EQ(reader.Outstanding(), 0u);
    ASSERT_EQ(results.size(), files.size());
    for (const auto& [id, f] : files) {
        const ChecksumResult& r = results.at(id);
        EXPECT_EQ(r.status, ChecksumStatus::Done) << f.path << ": " << ChecksumProblemText(r);
        EXPECT_EQ(r.sum, f.sum) << f.path;
        EXPECT_EQ(r.size, f.size);
    }
    const ChecksumProgress p = reader.Progress();
    EXPECT_EQ(p.filesDone, files.size());
    EXPECT_EQ(p.filesTotal, files.size());
    EXPECT_EQ(p.bytesDone, total);
    EXPECT_EQ(p.bytesTotal, total);
    EXPECT_EQ(p.bytesRead, total);
}

// Reads the jobs with a reader started on this thread, so it has this thread's capabilities.
std::map<uint64_t, ChecksumResult> ReadAll(const std::vector<ChecksumJob>& jobs) {
    ChecksumReader reader;
    for (const ChecksumJob& job : jobs) reader.Submit(job);
    return test::ResultsById(reader);
}

TEST(ChecksumReader, AFileThatCannotBeReadIsNamedWithItsErrorAndTheOthersGoOn) {
    TempDir dir;
    const std::string good = test::RandomBytes(3 * 1024 * 1024 + 5, 1);
    const std::string goodPath = dir.MakeFile("good", good);
    const std::string locked = dir.MakeFile("locked", "secret");
    ASSERT_EQ(chmod(locked.c_str(), 0), 0);
    const std::string lockedDir = dir.MakeFile("closed/inside", "x");
    ASSERT_EQ(chmod((dir.path() + "/closed").c_str(), 0), 0);
    std::map<uint64_t, ChecksumResult> results;
    {
        test::WithoutPermissionOverride asAnyUser; // root reads everything otherwise
        results = ReadAll({{1, locked, 6}, {2, goodPath, good.size()}, {3, dir.path() + "/gone", 10},
                           {4, lockedDir, 1}, {5, goodPath, good.size()}});
    }
    ASSERT_EQ(results.size(), 5u);
    struct Expect {
        uint64_t id;
        ChecksumStatus status;
        int error;
        const char* text;
    };
    for (const Expect& e : {Expect{1, ChecksumStatus::Failed, EACCES, "Permission denied"},
                            Expect{3, ChecksumStatus::Failed, ENOENT, "No such file or directory"},
                            Expect{4, ChecksumStatus::Failed, EACCES, "Permission denied"}}) {
        EXPECT_EQ(results[e.id].status, e.status) << e.id;
        EXPECT_EQ(results[e.id].error, e.error) << e.id;
        EXPECT_EQ(ChecksumProblemText(results[e.id]), e.text) << e.id;
    }
    for (const uint64_t id : {2, 5}) {
        EXPECT_EQ(results[id].status, ChecksumStatus::Done);
        EXPECT_EQ(results[id].sum, ChecksumOf(good.data(), good.size()));
        EXPECT_EQ(ChecksumProblemText(results[id]), "");
    }
}

TEST(ChecksumReader, AFileThatIsNotWhatWasListedIsChangedNeverWaitedFor) {
    TempDir dir;
    const std::string file = dir.MakeFile("file", "12345");
    ASSERT_EQ(symlink("file", (dir.path() + "/link").c_str()), 0);
    ASSERT_EQ(mkfifo((dir.path() + "/fifo").c_str(), 0600), 0); // opened for reading, it would wait for a writer
    dir.MakeDir("folder");
    struct Case {
        const char* what;
        std::string path;
        uint64_t listed;
        uint64_t found;
    };
    const std::vector<Case> cases = {
        {"grown since it was listed", file, 4, 5},
        {"shrunk since it was listed", file, 6, 5},
        {"a link where the file was", dir.path() + "/link", 5, 0},
        {"a FIFO where the file was", dir.path() + "/fifo", 5, 0},
        {"a folder where the file was", dir.path() + "/folder", 5, 0},
        // The kernel's files say 0 bytes and have more: the read does not stop at the size.
        {"more bytes than its size says", "/proc/self/mountinfo", 0, 1},
        // And these say a page and have less.
        {"fewer bytes than its size says", "/sys/kernel/mm/transparent_hugepage/enabled", 4096, 0},
    };
    std::vector<ChecksumJob> jobs;
    for (size_t i = 0; i < cases.size(); ++i) jobs.push_back({i, cases[i].path, cases[i].listed});
    jobs.push_back({99, file, 5});
    auto results = ReadAll(jobs);
    for (size_t i = 0; i < cases.size(); ++i) {
        const ChecksumResult& r = results[i];
        if (cases[i].path.rfind("/sys/", 0) == 0 && r.status == ChecksumStatus::Failed) continue; // no such file here
        EXPECT_EQ(r.status, ChecksumStatus::Changed) << cases[i].what << ": " << ChecksumProblemText(r);
        EXPECT_EQ(ChecksumProblemText(r), "the file changed while it was read") << cases[i].what;
        if (cases[i].found) {
            EXPECT_EQ(r.size, cases[i].found) << cases[i].what;
        }
        if (cases[i].path.rfind("/sys/", 0) == 0) {
            EXPECT_LT(r.size, 4096u) << cases[i].what;
        }
    }
    EXPECT_EQ(results[99].status, ChecksumStatus::Done);
    EXPECT_EQ(results[99].sum, ChecksumOf("12345", 5));
}

// Sparse files read as zeros at the speed of memory, so a read of them lasts long enough to
// be cancelled in the middle whatever the machine, and costs no disk space.
struct SparseFiles : TempDir {
    std::vector<std::string> paths;
    SparseFiles(int n, uint64_t size) {
        for (int i = 0; i < n; ++i) {
            paths.push_back(MakeFile("sparse" + std::to_string(i)));
            EXPECT_EQ(truncate(paths.back().c_str(), static_cast<off_t>(size)), 0);
        }
    }
};

TEST(ChecksumReader, CancelStopsEveryThreadWithinAChunkOrTwoAndEveryJobComesBack) {
    SparseFiles files(4, 64 * kGiB);
    const int threadsBefore = test::ThreadCount();
    const size_t chunk = 1 << 20;
    {
        ChecksumReader reader({2, chunk, 4096});
        EXPECT_EQ(test::ThreadCount(), threadsBefore + 2);
        for (size_t i = 0; i < files.paths.size(); ++i) reader.Submit({i, files.paths[i], 64 * kGiB});
        while (reader.Progress().bytesRead < 64 * chunk) std::this_thread::yield();
        reader.Cancel();
        const uint64_t readAtCancel = reader.Progress().bytesRead;
        auto results = reader.TakeAll();
        // The threads end the chunk they are reading and the next one asked of the cache.
        EXPECT_LE(reader.Progress().bytesRead, readAtCancel + 2 * 2 * chunk);
        ASSERT_EQ(results.size(), 4u);
        for (const ChecksumResult& r : results) EXPECT_EQ(r.status, ChecksumStatus::Cancelled) << r.id;
        EXPECT_EQ(reader.Progress().filesDone, 4u);
        EXPECT_EQ(reader.Progress().bytesDone, 4 * 64 * kGiB);
        // Nothing is read after a cancel.
        reader.Submit({7, files.paths[0], 64 * kGiB});
        results = reader.Take();
        ASSERT_EQ(results.size(), 1u);
        EXPECT_EQ(results[0].id, 7u);
        EXPECT_EQ(results[0].status, ChecksumStatus::Cancelled);
        EXPECT_EQ(ChecksumProblemText(results[0]), "cancelled");
    }
    EXPECT_EQ(test::ThreadCount(), threadsBefore) << "a thread outlived its reader";
}

TEST(ChecksumReader, AWaitingSubmitCallsIdleAndACancelThereEndsTheWait) {
    SparseFiles files(1, 64 * kGiB);
    TempDir dir;
    const std::string small = dir.MakeFile("small", "abc");
    ChecksumReader reader({1, 1 << 20, 1});
    reader.Submit({0, files.paths[0], 64 * kGiB}); // the thread's, for long
    reader.Submit({1, small, 3});                  // waits: the one place is taken
    int idles = 0;
    reader.Submit({2, small, 3}, [&] {
        ++idles;
        reader.Cancel();
    });
    EXPECT_EQ(idles, 1);
    const auto results = test::ResultsById(reader);
    ASSERT_EQ(results.size(), 3u);
    for (const auto& [id, r] : results) EXPECT_EQ(r.status, ChecksumStatus::Cancelled) << id;
}

TEST(ChecksumReader, DestroyedWithJobsLeftItEndsAtOnce) {
    SparseFiles files(3, 64 * kGiB);
    const int threadsBefore = test::ThreadCount();
    {
        ChecksumReader reader({3, 1 << 20, 16});
        for (size_t i = 0; i < files.paths.size(); ++i) reader.Submit({i, files.paths[i], 64 * kGiB});
        while (reader.Progress().bytesRead == 0) std::this_thread::yield();
        EXPECT_FALSE(reader.IsCancelled());
    } // 192 GB of zeros left: this ends only if the destructor cancels
    EXPECT_EQ(test::ThreadCount(), threadsBefore);
}

} // namespace
