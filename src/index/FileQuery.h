#pragma once
// One search of the index: terms and filters over a snapshot, run by the caller on a
// worker thread. Cancel() may come from any thread; the query checks it every few
// thousand entries and gives up (nullopt). A window starts a new query for every
// keystroke and cancels the one before.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "index/PackageIndex.h"
#include "index/Query.h"

namespace quindle {

// One match: a disk of the snapshot (its position there) and an entry of that disk.
struct FileHit {
    uint32_t disk = 0;
    uint32_t entry = 0;
    bool operator==(const FileHit&) const = default;
};

enum class FileOrder {
    TitlePath, // disk title, then the folded path ("e:/docs/a.txt"), then the path's bytes
    Name,      // folded name, then title and path
    Size,      // size, then title and path
    Date,      // modification time, then title and path
};

struct FileQuerySpec {
    std::vector<QueryTerm> terms; // ParseQuery's; none match everything
    QueryFilters filters;
    FileOrder order = FileOrder::TitlePath;
    bool descending = false;
};

class FileQuery {
public:
    FileQuery(std::shared_ptr<const IndexSnapshot> snapshot, FileQuerySpec spec, unsigned threads = 2);

    void Cancel() { cancel_.store(true, std::memory_order_relaxed); }
    bool Cancelled() const { return cancel_.load(std::memory_order_relaxed); }

    // How many entries match; nullopt when cancelled.
    std::optional<size_t> Count();
    // The matches in the chosen order, the first `limit` of them (0: all); nullopt when
    // cancelled. In the default order a limit stops the scan once the disks before have
    // given enough.
    std::optional<std::vector<FileHit>> Run(size_t limit = 0);

    const IndexSnapshot& Index() const { return *snapshot_; }
    // The disks the last Count() or Run() had to leave out (matching them failed, out of
    // memory), with the reason; empty when every disk was searched.
    std::vector<DiskProblem> Failures() const;

private:
    struct Scratch;
    bool DiskSelected(const IndexedDisk& d) const;
    // Appends the matching entries of disk `i` (in entry order) to `out`; false when cancelled.
    bool MatchDisk(size_t i, std::vector<uint32_t>& out, Scratch& s) const;
    bool EntryPasses(const IndexedDisk& d, size_t e, Scratch& s) const;
    void SortDisk(const IndexedDisk& d, std::vector<uint32_t>& entries, Scratch& s) const;

    std::shared_ptr<const IndexSnapshot> snapshot_;
    FileQuerySpec spec_;
    unsigned threads_;
    std::atomic<bool> cancel_{false};
    // The term whose required bytes drive the scan of the folded names; -1 when the scan
    // goes over every entry.
    int driver_ = -1;
    bool needPath_ = false;
    std::vector<uint8_t> kindAllowed_;
    // Disks whose matching threw, and why: filled on the worker threads, with room for
    // every disk made beforehand so that noting one allocates nothing.
    struct Failure {
        size_t disk;
        const char* reason;
    };
    void NoteFailure(size_t disk, const std::exception& e);
    mutable std::mutex failedMutex_;
    std::vector<Failure> failed_;
};

// The folded path a path term is matched against: folded root, then the folded names
// joined by "/" ("e:/docs/a.txt").
std::string FoldedPath(const IndexedDisk& d, size_t entry);

} // namespace quindle
