#pragma once
// Reads files whole and gives their checksums, a few files at a time on worker threads.
//
// What reading a whole disk must not do:
// - change the files' access times: files are opened O_NOATIME where the kernel allows it
//   (the owner, or CAP_FOWNER); elsewhere the mount's own atime rule applies;
// - flush the page cache of everything else: pages that were cached before the reader came
//   stay cached, and pages the reader brought in are dropped once hashed. Where the kernel
//   does that itself (preadv2 RWF_DONTCACHE, Linux 6.14), it does; elsewhere each chunk is
//   first asked of the cache alone (RWF_NOWAIT), and what the cache did not have is read
//   and then dropped (POSIX_FADV_DONTNEED). In a chunk that the cache holds in part, that
//   way takes the pages after the first one missing for its own. On a file system that
//   answers neither (NFS, FUSE), the pages are left to the kernel.
// - stop at a file that cannot be read: its result names the error, the others go on.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "checksums/Checksum.h"

namespace quindle {

// One file to read. `id` is the caller's (an entry of the catalogue) and comes back with
// the result; `expectedSize` is the size the file had when it was listed.
struct ChecksumJob {
    uint64_t id = 0;
    std::string path; // the host path; a symbolic link there is not followed
    uint64_t expectedSize = 0;
};

enum class ChecksumStatus : uint8_t {
    Done,      // `sum` is the checksum of the file's `size` bytes
    Failed,    // it could not be opened or read: `error` is the errno
    Changed,   // it is not what was listed any more (another size, no longer a regular file)
    Cancelled, // the reader was cancelled before the file was read to the end
};

struct ChecksumResult {
    uint64_t id = 0;
    ChecksumStatus status = ChecksumStatus::Cancelled;
    int error = 0;     // with Failed
    uint64_t size = 0; // bytes the file was found to have (with Changed, what differs)
    Checksum sum;      // with Done
};

// Why a file has no checksum, for the log: "Input/output error", "Permission denied",
// "the file changed while it was read", "cancelled"; "" for Done.
std::string ChecksumProblemText(const ChecksumResult& result);

// How far the jobs handed over have got. `bytesTotal` and `filesTotal` grow as jobs are
// handed over; a job that ends early (an error, a changed size) counts as done whole.
struct ChecksumProgress {
    uint64_t bytesDone = 0, bytesTotal = 0;
    uint64_t filesDone = 0, filesTotal = 0;
    uint64_t bytesRead = 0; // read from the files indeed
    double seconds = 0;     // since the first job was handed over
};

class ChecksumReader {
public:
    // Bytes asked of the file at once: large enough that a request costs little besides
    // its bytes and a disk streams, small enough that a cancel is prompt. Each thread has
    // two buffers of it (the chunk being hashed and the next being read).
    static constexpr size_t kChunkBytes = size_t{2} << 20;

    struct Options {
        unsigned threads = 0;              // 0: DefaultThreads()
        size_t chunkBytes = kChunkBytes;   // rounded up to whole pages
        size_t maxWaiting = 4096;          // jobs handed over and not started, at most
        bool kernelDropBehind = true;      // false: never RWF_DONTCACHE (the older kernels' way)
    };

    // Starts the threads; their buffers are taken here, once (throws std::bad_alloc).
    explicit ChecksumReader(Options options);
    ChecksumReader() : ChecksumReader(Options{}) {}
    // Cancels what is left and ends the threads.
    ~ChecksumReader();
    ChecksumReader(const ChecksumReader&) = delete;
    ChecksumReader& operator=(const ChecksumReader&) = delete;

    // Hands a file over. While `maxWaiting` jobs wait, waits for room, calling `idle`
    // about every 100 ms (a window pumps its events there, and may Cancel). After Cancel
    // the job is not read: its result says Cancelled.
    void Submit(ChecksumJob job, const std::function<void()>& idle = {});

    // The results not taken yet, in the order the files were finished; waits up to `wait`
    // for one when there is none and jobs are outstanding.
    std::vector<ChecksumResult> Take(std::chrono::milliseconds wait = std::chrono::milliseconds(0));
    // Waits until every job handed over has its result; the results not taken yet.
    std::vector<ChecksumResult> TakeAll();
    // Jobs handed over whose results have not been taken.
    size_t Outstanding() const;

    // Stops reading: every thread ends its file within one chunk, and every job not
    // finished comes back Cancelled. For good: the reader reads nothing after it.
    void Cancel();
    bool IsCancelled() const { return cancelled_.load(std::memory_order_relaxed); }

    ChecksumProgress Progress() const;
    unsigned Threads() const { return static_cast<unsigned>(workers_.size()); }

    // The processors, at least 2 and at most 4: from the page cache, hashing runs at the
    // speed of a processor (a few GB/s), so one thread per processor; from a disk, two to
    // four reads in flight keep a disk or a network share streaming while a file is
    // opened, and more would only make a spinning disk seek between them.
    static unsigned DefaultThreads();

private:
    struct Worker;
    void Work(Worker& w);
    ChecksumResult Read(Worker& w, const ChecksumJob& job);
    std::optional<ChecksumResult> ReadDroppingBehind(Worker& w, int fd, const ChecksumJob& job, uint64_t& off);
    std::optional<ChecksumResult> ReadAskingTheCache(Worker& w, int fd, const ChecksumJob& job, uint64_t& off);
    void Count(Worker& w, size_t got);
    void Finish(ChecksumResult r, uint64_t credit, uint64_t expected);

    size_t chunk_, maxWaiting_;
    bool dropBehind_;
    std::atomic<bool> cancelled_{false};
    std::atomic<uint64_t> bytesDone_{0}, bytesRead_{0};
    mutable std::mutex mutex_;
    std::condition_variable work_, room_, results_;
    std::deque<ChecksumJob> waiting_;     // guarded by mutex_
    std::vector<ChecksumResult> done_;    // guarded by mutex_
    size_t outstanding_ = 0;              // handed over, result not taken; guarded by mutex_
    size_t unfinished_ = 0;               // handed over, no result yet; guarded by mutex_
    unsigned takers_ = 0, submitters_ = 0; // waiting in Take or TakeAll, in Submit; guarded by mutex_
    uint64_t bytesTotal_ = 0, filesDone_ = 0, filesTotal_ = 0; // guarded by mutex_
    std::chrono::steady_clock::time_point started_;           // guarded by mutex_
    bool stop_ = false;                                        // guarded by mutex_
    std::vector<std::unique_ptr<Worker>> workers_;             // last: the threads start once all is ready
};

} // namespace quindle
