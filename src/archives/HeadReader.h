#pragma once
// The first bytes of many files of one folder at once, for telling archives from other files
// on every regular file of a disk. Opening, reading and closing go to the kernel in batches
// through io_uring (liburing): one system call for dozens of files instead of four for each,
// which is most of what looking at a small file costs. Where the kernel refuses io_uring (too
// old, or switched off), each file is read with its own calls, as ReadHeadPlain does.
//
// A HeadReader belongs to one thread (a ring is not shared).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "archives/Archives.h"

namespace quindle {

struct HeadRead {
    std::string head; // up to kSniffHeadBytes; valid when error is 0
    int error = 0;    // errno of the open or the read
};

// Opens `name` below `dirfd` never through a link, never waiting on a FIFO, and not taking a
// terminal (O_NOFOLLOW, O_NONBLOCK, O_NOCTTY), keeping its access time where the owner allows
// it, and reads its first `want` bytes.
HeadRead ReadHeadPlain(int dirfd, const char* name, size_t want);

class HeadReader {
public:
    // `batched` false: file by file, as where the kernel refuses the ring (for tests).
    explicit HeadReader(bool batched = true);
    ~HeadReader();
    HeadReader(const HeadReader&) = delete;
    HeadReader& operator=(const HeadReader&) = delete;

    // Whether the kernel took the ring (false: every Read goes file by file).
    bool Batched() const { return ring_ != nullptr && !broken_; }
    // The first `want` bytes (at most 4096) of each of `names` below `dirfd`, in order.
    std::vector<HeadRead> Read(int dirfd, const std::vector<const char*>& names, size_t want);
    // The same, each head handed to fn(index in names, head, errno or 0) as it is read, in
    // order, without a copy: the head is valid during the call only.
    using HeadFn = std::function<void(size_t, std::string_view, int)>;
    void ReadEach(int dirfd, const std::vector<const char*>& names, size_t want, const HeadFn& fn);

private:
    struct Ring;
    // One batch through the ring (names[0..count) are names[first..] of the caller's); false
    // when the ring failed before anything was handed to fn.
    bool ReadBatch(int dirfd, const char* const* names, size_t count, size_t want, size_t first, const HeadFn& fn);
    std::unique_ptr<Ring> ring_;
    bool broken_ = false;     // the ring failed: file by file from then on
    unsigned plainOpens_ = 0; // opens left without O_NOATIME, after a run of refusals
};

// The archives among regular files of one folder below `dirfd`: `names` with the `sizes` the
// walk found. Their heads are read in batches (a HeadReader of the calling thread's own); the
// few whose heads may be an archive's are listed. Each archive, listed or not (a damaged
// one, with its reason), comes back with its index in `names`.
std::vector<std::pair<uint32_t, ArchiveListing>> ListArchivesAmong(int dirfd, const std::vector<const char*>& names,
                                                                   const std::vector<uint64_t>& sizes,
                                                                   const ArchiveOptions& options);

} // namespace quindle
