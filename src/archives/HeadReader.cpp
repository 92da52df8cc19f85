#include "archives/HeadReader.h"

#include "archives/ArchiveSniff.h"

#include <fcntl.h>
#include <liburing.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace quindle {

namespace {

constexpr int kOpenFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
// Files a batch reads: three queue entries each (open, read, close) into as many slots of
// the ring's own file table.
constexpr unsigned kBatch = 64;
constexpr size_t kMaxHead = 4096;
// Refusals of O_NOATIME (files of another owner) in a batch after which the next opens go
// without it for a while, as a disk of someone else's files refuses file after file.
constexpr unsigned kRefusalsToStop = 8;
constexpr unsigned kPlainOpensAfterRefusals = 256;

enum Op : uint64_t { kOpen = 0, kRead = 1, kClose = 2 };
uint64_t Tag(size_t i, Op op) { return static_cast<uint64_t>(i) << 2 | op; }

} // namespace

HeadRead ReadHeadPlain(int dirfd, const char* name, size_t want) {
    HeadRead r;
    int fd = openat(dirfd, name, kOpenFlags | O_CLOEXEC | O_NOATIME);
    if (fd < 0 && errno == EPERM) fd = openat(dirfd, name, kOpenFlags | O_CLOEXEC);
    if (fd < 0) {
        r.error = errno;
        return r;
    }
    r.head.resize(want);
    size_t got = 0;
    // read, not pread: a FIFO that took the file's place gives its end, as the ring's read
    // does, not an error of its own.
    while (got < want) {
        const ssize_t n = read(fd, r.head.data() + got, want - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) r.error = errno;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    r.head.resize(got);
    close(fd);
    return r;
}

struct HeadReader::Ring {
    io_uring ring{};
    // Heads lie `want` bytes apart, so a batch of small heads touches a few pages, not one
    // page a file; left unwritten until read into.
    std::unique_ptr<char[]> buffers{new char[kBatch * kMaxHead]};
    ~Ring() { io_uring_queue_exit(&ring); }
};

HeadReader::HeadReader(bool batched) {
    if (!batched) return;
    auto r = std::make_unique<Ring>();
    if (io_uring_queue_init(kBatch * 4, &r->ring, 0) != 0) return;
    // Direct descriptors: opened into the ring's table, never the process's, so a batch
    // costs no descriptors of the program's and none leaks to a child.
    if (io_uring_register_files_sparse(&r->ring, kBatch) != 0) return; // ~Ring ends the ring
    ring_ = std::move(r);
}

HeadReader::~HeadReader() = default;

std::vector<HeadRead> HeadReader::Read(int dirfd, const std::vector<const char*>& names, size_t want) {
    std::vector<HeadRead> out(names.size());
    ReadEach(dirfd, names, want, [&](size_t i, std::string_view head, int error) {
        out[i].head.assign(head);
        out[i].error = error;
    });
    return out;
}

void HeadReader::ReadEach(int dirfd, const std::vector<const char*>& names, size_t want, const HeadFn& fn) {
    want = std::min(want, kMaxHead);
    for (size_t at = 0; at < names.size(); at += kBatch) {
        const size_t count = std::min<size_t>(kBatch, names.size() - at);
        if (!ring_ || broken_ || !ReadBatch(dirfd, names.data() + at, count, want, at, fn))
            for (size_t i = 0; i < count; ++i) {
                const HeadRead r = ReadHeadPlain(dirfd, names[at + i], want);
                fn(at + i, r.head, r.error);
            }
    }
}

bool HeadReader::ReadBatch(int dirfd, const char* const* names, size_t count, size_t want, size_t first,
                           const HeadFn& fn) {
    io_uring& ring = ring_->ring;
    int flags = kOpenFlags;
    if (plainOpens_ > 0)
        plainOpens_ = plainOpens_ > count ? plainOpens_ - static_cast<unsigned>(count) : 0;
    else
        flags |= O_NOATIME;
    // Per file: open into slot i, then read, then close the slot. A failed open cancels its
    // read and close (a plain link); the close follows the read whatever the read gave (a
    // hard link), so no slot stays taken.
    for (size_t i = 0; i < count; ++i) {
        const auto slot = static_cast<unsigned>(i);
        io_uring_sqe* s = io_uring_get_sqe(&ring);
        io_uring_prep_openat_direct(s, dirfd, names[i], flags, 0, slot);
        s->flags |= IOSQE_IO_LINK;
        s->user_data = Tag(i, kOpen);
        s = io_uring_get_sqe(&ring);
        io_uring_prep_read(s, static_cast<int>(slot), ring_->buffers.get() + i * want, static_cast<unsigned>(want), 0);
        s->flags |= IOSQE_FIXED_FILE | IOSQE_IO_HARDLINK;
        s->user_data = Tag(i, kRead);
        s = io_uring_get_sqe(&ring);
        io_uring_prep_close_direct(s, slot);
        s->user_data = Tag(i, kClose);
    }
    std::vector<int> opened(count, -ECANCELED), read(count, -ECANCELED);
    while (io_uring_sq_ready(&ring) > 0) {
        const int rc = io_uring_submit(&ring);
        if (rc == -EINTR || rc == -EAGAIN) continue;
        if (rc < 0 && io_uring_sq_ready(&ring) == count * 3) {
            // Nothing went in: the ring is of no use; file by file from now on.
            broken_ = true;
            return false;
        }
        if (rc < 0) break; // a part went in: wait for that part, then give up on the ring
    }
    // Every entry that went in comes back before the buffers are read or used again.
    size_t pending = count * 3 - io_uring_sq_ready(&ring);
    if (pending < count * 3) broken_ = true;
    while (pending > 0) {
        io_uring_cqe* cqe = nullptr;
        const int rc = io_uring_wait_cqe(&ring, &cqe);
        if (rc == -EINTR) continue;
        if (rc < 0) {
            // The ring cannot be waited on: its buffers stay as they are until it ends.
            broken_ = true;
            return false;
        }
        const size_t i = static_cast<size_t>(cqe->user_data >> 2);
        const auto op = static_cast<Op>(cqe->user_data & 3);
        if (op == kOpen) opened[i] = cqe->res;
        if (op == kRead) read[i] = cqe->res;
        io_uring_cqe_seen(&ring, cqe);
        --pending;
    }
    unsigned refusals = 0, unsupported = 0;
    for (size_t i = 0; i < count; ++i) {
        const int open = opened[i];
        if (open == -EINVAL || open == -EOPNOTSUPP || open == -ENOSYS || open == -ECANCELED) ++unsupported;
        if (open == -EPERM && (flags & O_NOATIME)) ++refusals; // not the owner
        if (open < 0 && open != -ENOENT && open != -ELOOP && open != -EACCES) {
            // Asked again on its own: a refusal of O_NOATIME, a kernel without these
            // operations, or a batch that did not go in.
            const HeadRead r = ReadHeadPlain(dirfd, names[i], want);
            fn(first + i, r.head, r.error);
        } else if (open < 0) {
            fn(first + i, {}, -open);
        } else if (read[i] < 0) {
            fn(first + i, {}, -read[i]);
        } else {
            fn(first + i, std::string_view(ring_->buffers.get() + i * want, static_cast<size_t>(read[i])), 0);
        }
    }
    if (refusals >= kRefusalsToStop) plainOpens_ = kPlainOpensAfterRefusals;
    if (unsupported == count) broken_ = true;
    return true;
}

std::vector<std::pair<uint32_t, ArchiveListing>> ListArchivesAmong(int dirfd, const std::vector<const char*>& names,
                                                                   const std::vector<uint64_t>& sizes,
                                                                   const ArchiveOptions& options) {
    std::vector<std::pair<uint32_t, ArchiveListing>> out;
    if (options.mode == ArchiveMode::None) return out;
    thread_local HeadReader heads;
    std::vector<uint32_t> candidates;
    std::vector<const char*> asked;
    for (size_t i = 0; i < names.size(); ++i) {
        if (sizes[i] < kMinArchiveBytes) continue;
        candidates.push_back(static_cast<uint32_t>(i));
        asked.push_back(names[i]);
    }
    // The few heads that may be an archive's; a head that could not be read here is left to
    // the listing, which opens the file on its own.
    std::vector<uint32_t> maybe;
    heads.ReadEach(dirfd, asked, kSniffHeadBytes, [&](size_t k, std::string_view head, int error) {
        if (error != 0 || SniffHead(head, sizes[candidates[k]]) != ArchiveSignature::None)
            maybe.push_back(candidates[k]);
    });
    for (const uint32_t i : maybe) {
        ArchiveListing listing = ListArchive(dirfd, names[i], sizes[i], options);
        if (listing.Status() != ArchiveStatus::NotArchive && listing.Status() != ArchiveStatus::Skipped)
            out.emplace_back(i, std::move(listing));
    }
    return out;
}

} // namespace quindle
