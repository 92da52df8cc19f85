#include "checksums/ChecksumReader.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>

namespace quindle {

namespace {

constexpr size_t kPage = 4096;

struct FreeBuffer {
    void operator()(char* p) const { std::free(p); }
};

class FileFd {
public:
    explicit FileFd(int fd) : fd_(fd) {}
    ~FileFd() {
        if (fd_ >= 0) close(fd_);
    }
    FileFd(const FileFd&) = delete;
    FileFd& operator=(const FileFd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Opens a file to be read whole without touching its access time where that is allowed.
// Not following a link, not blocking on a FIFO, never taking a terminal: the walk listed a
// regular file, and whatever replaced it since is found by fstat, not by waiting for it.
int OpenForReading(const std::string& path) {
    const int flags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
    int fd;
    do fd = open(path.c_str(), flags | O_NOATIME);
    while (fd < 0 && errno == EINTR);
    // O_NOATIME is for the owner (or CAP_FOWNER) only: anyone else reads as usual.
    if (fd < 0 && errno == EPERM) {
        do fd = open(path.c_str(), flags);
        while (fd < 0 && errno == EINTR);
    }
    return fd;
}

#ifndef RWF_DONTCACHE
#define RWF_DONTCACHE 0x00000080 // Linux 6.14; the C library's headers may be older
#endif

// What the page cache holds of the `len` bytes at `off`, copied into `buf`: their count
// (a prefix; 0 at the end of the file), or kNotCached when it does not hold the first page
// (the kernel has then started reading them), or kCannotAsk on a file system that does not
// answer without reading. (kUnasked: no question was asked.)
constexpr ssize_t kNotCached = -1, kCannotAsk = -2, kUnasked = -3;

ssize_t ReadCached(int fd, char* buf, size_t len, uint64_t off) {
    iovec v{buf, len};
    for (;;) {
        const ssize_t n = preadv2(fd, &v, 1, static_cast<off_t>(off), RWF_NOWAIT);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        // Without RWF_NOWAIT (an older kernel, a file system such as NFS or FUSE): EOPNOTSUPP
        // or EINVAL. Anything else (EIO, ...) is reported by the ordinary read that follows.
        return errno == EOPNOTSUPP || errno == EINVAL ? kCannotAsk : kNotCached;
    }
}

// A read that stopped short at `at` met the end of the file when the file was found to end
// there and its last page is only partly filled: a byte written after it would have been on
// that same page, and been read. (At a page's end, only another read can tell.)
bool EndsAt(uint64_t at, uint64_t size) { return at == size && size % kPage != 0; }

// Reads until `len` bytes are in `buf` or the file ends (`size`: where it was found to end),
// with preadv2's `flags`; the count, or -1 (errno).
ssize_t ReadFully(int fd, char* buf, size_t len, uint64_t off, uint64_t size, int flags = 0) {
    size_t got = 0;
    while (got < len) {
        iovec v{buf + got, len - got};
        const ssize_t n = preadv2(fd, &v, 1, static_cast<off_t>(off + got), flags);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
        if (got < len && EndsAt(off + got, size)) break;
    }
    return static_cast<ssize_t>(got);
}

ChecksumResult Result(uint64_t id, ChecksumStatus status, int error = 0, uint64_t size = 0) {
    ChecksumResult r;
    r.id = id;
    r.status = status;
    r.error = error;
    r.size = size;
    return r;
}

} // namespace

std::string ChecksumProblemText(const ChecksumResult& result) {
    switch (result.status) {
    case ChecksumStatus::Done: return {};
    case ChecksumStatus::Failed: {
        char buf[256];
        // GNU strerror_r: thread-safe, gives the text (in buf or a static string).
        return strerror_r(result.error, buf, sizeof buf);
    }
    case ChecksumStatus::Changed: return "the file changed while it was read";
    case ChecksumStatus::Cancelled: return "cancelled";
    }
    return {};
}

struct ChecksumReader::Worker {
    std::unique_ptr<char, FreeBuffer> buffers; // two chunks: the one hashed, the next one read
    ChecksumStream stream;
    uint64_t expected = 0, credited = 0; // the file's expected bytes; counted in the progress so far
    std::thread thread;
};

unsigned ChecksumReader::DefaultThreads() {
    cpu_set_t set;
    const int cpus = sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 2;
    return static_cast<unsigned>(std::clamp(cpus, 2, 4));
}

ChecksumReader::ChecksumReader(Options options)
    : chunk_((std::max<size_t>(options.chunkBytes, kPage) + kPage - 1) / kPage * kPage),
      maxWaiting_(std::max<size_t>(options.maxWaiting, 1)), dropBehind_(options.kernelDropBehind) {
    const unsigned threads = options.threads > 0 ? options.threads : DefaultThreads();
    for (unsigned i = 0; i < threads; ++i) {
        auto w = std::make_unique<Worker>();
        w->buffers.reset(static_cast<char*>(std::aligned_alloc(kPage, 2 * chunk_)));
        if (!w->buffers) throw std::bad_alloc();
        workers_.push_back(std::move(w));
    }
    try {
        for (auto& w : workers_) w->thread = std::thread([this, p = w.get()] { Work(*p); });
    } catch (...) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        work_.notify_all();
        for (auto& w : workers_)
            if (w->thread.joinable()) w->thread.join();
        throw;
    }
}

ChecksumReader::~ChecksumReader() {
    Cancel();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    work_.notify_all();
    for (auto& w : workers_)
        if (w->thread.joinable()) w->thread.join();
}

void ChecksumReader::Submit(ChecksumJob job, const std::function<void()>& idle) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (waiting_.size() >= maxWaiting_ && !IsCancelled()) {
        const auto room = [this] { return waiting_.size() < maxWaiting_ || IsCancelled(); };
        ++submitters_;
        bool roomNow = true;
        if (idle)
            roomNow = room_.wait_for(lock, std::chrono::milliseconds(100), room);
        else
            room_.wait(lock, room);
        --submitters_;
        if (roomNow) break;
        lock.unlock();
        idle();
        lock.lock();
    }
    if (filesTotal_ == 0) started_ = std::chrono::steady_clock::now();
    ++filesTotal_;
    bytesTotal_ += job.expectedSize;
    ++outstanding_;
    if (IsCancelled()) {
        done_.push_back(Result(job.id, ChecksumStatus::Cancelled));
        ++filesDone_;
        bytesDone_ += job.expectedSize;
        lock.unlock();
        results_.notify_all();
        return;
    }
    ++unfinished_;
    waiting_.push_back(std::move(job));
    lock.unlock();
    work_.notify_one();
}

std::vector<ChecksumResult> ChecksumReader::Take(std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (done_.empty() && unfinished_ > 0 && wait.count() > 0) {
        ++takers_;
        results_.wait_for(lock, wait, [this] { return !done_.empty() || unfinished_ == 0; });
        --takers_;
    }
    std::vector<ChecksumResult> out;
    out.swap(done_);
    outstanding_ -= out.size();
    return out;
}

std::vector<ChecksumResult> ChecksumReader::TakeAll() {
    std::unique_lock<std::mutex> lock(mutex_);
    ++takers_;
    results_.wait(lock, [this] { return unfinished_ == 0; });
    --takers_;
    std::vector<ChecksumResult> out;
    out.swap(done_);
    outstanding_ -= out.size();
    return out;
}

size_t ChecksumReader::Outstanding() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return outstanding_;
}

void ChecksumReader::Cancel() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        cancelled_ = true;
        for (const ChecksumJob& job : waiting_) {
            done_.push_back(Result(job.id, ChecksumStatus::Cancelled));
            ++filesDone_;
            bytesDone_ += job.expectedSize;
        }
        unfinished_ -= waiting_.size();
        waiting_.clear();
    }
    room_.notify_all();
    results_.notify_all();
}

ChecksumProgress ChecksumReader::Progress() const {
    std::lock_guard<std::mutex> lock(mutex_);
    ChecksumProgress p;
    p.bytesDone = bytesDone_.load();
    p.bytesRead = bytesRead_.load();
    p.bytesTotal = bytesTotal_;
    p.filesDone = filesDone_;
    p.filesTotal = filesTotal_;
    if (filesTotal_ > 0)
        p.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    return p;
}

void ChecksumReader::Work(Worker& w) {
    for (;;) {
        ChecksumJob job;
        bool roomMade;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            work_.wait(lock, [this] { return stop_ || !waiting_.empty(); });
            if (waiting_.empty()) return;
            job = std::move(waiting_.front());
            waiting_.pop_front();
            roomMade = submitters_ > 0;
        }
        if (roomMade) room_.notify_one();
        w.expected = job.expectedSize;
        w.credited = 0;
        ChecksumResult r;
        try {
            r = Read(w, job);
        } catch (const std::bad_alloc&) {
            r = Result(job.id, ChecksumStatus::Failed, ENOMEM);
        } catch (...) {
            r = Result(job.id, ChecksumStatus::Failed, EIO);
        }
        try {
            Finish(std::move(r), w.credited, job.expectedSize);
        } catch (...) {
            // No room for the result: the job still ends, so nobody waits for it forever.
            std::lock_guard<std::mutex> lock(mutex_);
            --unfinished_;
            --outstanding_;
            ++filesDone_;
            bytesDone_ += job.expectedSize - w.credited;
            results_.notify_all();
        }
    }
}

void ChecksumReader::Finish(ChecksumResult r, uint64_t credit, uint64_t expected) {
    bool wake;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        done_.push_back(std::move(r));
        --unfinished_;
        ++filesDone_;
        bytesDone_ += expected - credit; // however it ended, the file is done whole
        // A taker waits for the first result or for the last: waking it for every file
        // would cost a switch per file on the processors that hash.
        wake = takers_ > 0 && (done_.size() == 1 || unfinished_ == 0);
    }
    if (wake) results_.notify_all();
}

ChecksumResult ChecksumReader::Read(Worker& w, const ChecksumJob& job) {
    if (IsCancelled()) return Result(job.id, ChecksumStatus::Cancelled);
    const FileFd file(OpenForReading(job.path));
    const int fd = file.get();
    if (fd < 0) {
        // ELOOP under O_NOFOLLOW: a link stands where the file was listed.
        if (errno == ELOOP) return Result(job.id, ChecksumStatus::Changed);
        return Result(job.id, ChecksumStatus::Failed, errno);
    }
    struct stat st;
    if (fstat(fd, &st) != 0) return Result(job.id, ChecksumStatus::Failed, errno);
    if (!S_ISREG(st.st_mode)) return Result(job.id, ChecksumStatus::Changed);
    if (static_cast<uint64_t>(st.st_size) != job.expectedSize)
        return Result(job.id, ChecksumStatus::Changed, 0, static_cast<uint64_t>(st.st_size));
    // A regular file: its reads may wait (a network file system or FUSE may take O_NONBLOCK
    // at its word and refuse a read that would).
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);

    w.stream.Reset();
    uint64_t off = 0;
    std::optional<ChecksumResult> r;
    if (dropBehind_) r = ReadDroppingBehind(w, fd, job, off);
    if (!r) r = ReadAskingTheCache(w, fd, job, off);
    if (r->status != ChecksumStatus::Done) return *r;
    if (off != job.expectedSize) return Result(job.id, ChecksumStatus::Changed, 0, off);
    r->size = off;
    r->sum = w.stream.Digest();
    return *r;
}

void ChecksumReader::Count(Worker& w, size_t got) {
    const uint64_t credit = std::min<uint64_t>(got, w.expected - w.credited);
    w.credited += credit;
    bytesDone_.fetch_add(credit, std::memory_order_relaxed);
    bytesRead_.fetch_add(got, std::memory_order_relaxed);
}

// The kernel's own way (RWF_DONTCACHE, Linux 6.14): a read takes what the cache holds and
// drops, once copied, the pages it brought in itself, its readahead's too. Nothing when
// the kernel or the file system does not have it, before any byte was read.
std::optional<ChecksumResult> ChecksumReader::ReadDroppingBehind(Worker& w, int fd, const ChecksumJob& job,
                                                                 uint64_t& off) {
    // One byte more than expected is asked for, so that a file that grew since is noticed
    // without reading on to its new end.
    const uint64_t want = job.expectedSize + 1;
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    char* buf = w.buffers.get();
    for (;;) {
        if (IsCancelled()) return Result(job.id, ChecksumStatus::Cancelled);
        const size_t len = static_cast<size_t>(std::min<uint64_t>(chunk_, want - off));
        const ssize_t n = ReadFully(fd, buf, len, off, job.expectedSize, RWF_DONTCACHE);
        if (n < 0) {
            if (off == 0 && (errno == EOPNOTSUPP || errno == EINVAL)) return std::nullopt;
            return Result(job.id, ChecksumStatus::Failed, errno);
        }
        const size_t got = static_cast<size_t>(n);
        w.stream.Update(buf, got);
        Count(w, got);
        off += got;
        if (got < len || off >= want) return Result(job.id, ChecksumStatus::Done);
    }
}

// The way of older kernels: each chunk is first asked of the cache alone (RWF_NOWAIT); the
// pages it holds, up to the first it does not, stay; the rest of the chunk is read and then
// dropped (POSIX_FADV_DONTNEED). The kernel's readahead is off (POSIX_FADV_RANDOM), since
// pages it brought in would pass for the cache's own; the reader's own readahead is that
// question for the next chunk, asked before this one is hashed, which starts its read when
// the cache does not have it.
std::optional<ChecksumResult> ChecksumReader::ReadAskingTheCache(Worker& w, int fd, const ChecksumJob& job,
                                                                 uint64_t& off) {
    const uint64_t want = job.expectedSize + 1; // as above
    const auto lengthAt = [&](uint64_t at) { return static_cast<size_t>(std::min<uint64_t>(chunk_, want - at)); };
    posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
    char* buf[2] = {w.buffers.get(), w.buffers.get() + chunk_};
    int cur = 0;
    bool ask = true; // the file system answers what its cache holds
    ssize_t cached = ReadCached(fd, buf[cur], lengthAt(off), off);
    if (cached == kCannotAsk) {
        // Nothing tells the reader's pages from the others: they are all left to the
        // kernel, and its readahead streams the file.
        ask = false;
        posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        cached = kNotCached;
    }
    for (;;) {
        if (IsCancelled()) {
            // The read this chunk's question started is not waited for; what it brings is
            // not the cache's own.
            if (ask && cached == kNotCached)
                posix_fadvise(fd, static_cast<off_t>(off), static_cast<off_t>(lengthAt(off)), POSIX_FADV_DONTNEED);
            return Result(job.id, ChecksumStatus::Cancelled);
        }
        const size_t len = lengthAt(off);
        size_t got = cached > 0 ? static_cast<size_t>(cached) : 0;
        // A question answered with nothing: the end of the file.
        bool end = cached == 0 || (got > 0 && got < len && EndsAt(off + got, job.expectedSize));
        const uint64_t ownFrom = off + got; // pages from here on were not in the cache
        if (!end && got < len) {
            const ssize_t n = ReadFully(fd, buf[cur] + got, len - got, off + got, job.expectedSize);
            if (n < 0) return Result(job.id, ChecksumStatus::Failed, errno);
            got += static_cast<size_t>(n);
            end = got < len;
        }
        const uint64_t next = off + got;
        cached = kUnasked;
        if (ask && !end && next < want && !IsCancelled()) cached = ReadCached(fd, buf[1 - cur], lengthAt(next), next);
        w.stream.Update(buf[cur], got);
        Count(w, got);
        if (ask && ownFrom < next) {
            // At the end, all that follows: the kernel drops a folio only when the range
            // holds it whole, and the last one may reach past the end of the file.
            posix_fadvise(fd, static_cast<off_t>(ownFrom), end ? 0 : static_cast<off_t>(next - ownFrom),
                          POSIX_FADV_DONTNEED);
        }
        off = next;
        if (end || off >= want) return Result(job.id, ChecksumStatus::Done);
        cur = 1 - cur;
    }
}

} // namespace quindle
