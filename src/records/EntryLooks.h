#pragma once
// The memorizer's looks at what it lists: the kind, size and date of every entry of a
// listed folder (lstat), and the archives among its files, taken on worker threads while
// the walk lists the next folders, and handed back folder by folder. A folder travels to a
// worker as an open descriptor, so the folders in flight are bounded: a walk never holds more
// descriptors than a small share of the process's limit, however far the workers fall behind
// (a slow network share).
#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "archives/Archives.h"
#include "catalogue/Catalogue.h"

namespace quindle {

// What a look at one entry found; `error` is 0 when the entry was looked at, the errno of
// the failed look otherwise (the other fields then mean nothing).
struct EntryLook {
    EntryKind kind = EntryKind::File;
    uint64_t size = 0;
    int64_t mtime = 0;
    int error = 0;
};

// One listed folder: its names, looked at through `fd` (the folder, open and owned by the
// look until it has been looked at) and found in `found`, one per name, and the folder's
// own date in `self`. The worker gives the names back (empties them) once every one was
// looked at. `folder`, `first` and `where` belong to the walk: the catalogue's entries of
// the folder and of its first name, and the folder as the user sees it.
struct FolderLook {
    int fd = -1;
    uint32_t folder = 0, first = 0;
    std::string where;
    std::string host; // the folder's host path
    std::vector<std::string> names;
    EntryLook self;
    std::vector<EntryLook> found;
    // The regular files of `names` that were read as archives (or tried and failed), by
    // their position in `names`, with what they hold.
    std::vector<std::pair<uint32_t, ArchiveListing>> archives;
};

// The catalogue's kind of what lstat found.
EntryKind KindOfMode(mode_t mode);

// Looks at the folder and its names through `dirfd` (left open), or, with dirfd < 0, by
// their paths below `host` (the folder's host path). With `archives` (and a mode other than
// None), every regular file is asked whether it is an archive and, when it is, listed.
void LookAtFolder(FolderLook& look, int dirfd, const std::string& host = std::string(),
                  const ArchiveOptions* archives = nullptr);

// The workers. Folders handed over are looked at a batch at a time (two batches at once
// where two workers run); what was looked at is taken back by the walk with Take, in the
// order handed over.
class EntryLooker {
public:
    // `maxInFlight`: folders handed over and not yet looked at, at most (0: from the
    // process's descriptor limit). `archives`: how the worker lists archives.
    explicit EntryLooker(size_t maxInFlight = 0, ArchiveOptions archives = {ArchiveMode::None, {}, {}});
    // Closes the folders never looked at (the walk ended early) and ends the worker.
    ~EntryLooker();
    EntryLooker(const EntryLooker&) = delete;
    EntryLooker& operator=(const EntryLooker&) = delete;

    // Hands a folder over (look.fd open; closed by the worker). Waits while the most
    // folders allowed are in flight.
    void Hand(FolderLook look);
    // Whether a folder handed over now would not wait.
    bool HasRoom();
    // The folders looked at since the last call, in the order handed over; `all`: waits
    // until every folder handed over has been looked at.
    std::deque<FolderLook> Take(bool all);
    // The folders looked at since the last call, waiting until there is one; empty once
    // every folder handed over has been taken. Lets the walk apply each as it comes rather
    // than hold them all.
    std::deque<FolderLook> TakeNext();

    // Archives being listed stop where they are (partial), and the ones after are not read:
    // the walk was stopped and waits for what was handed over.
    void StopListings() { stopListings_ = true; }

    size_t MaxInFlight() const { return max_; }
    // A share of the soft descriptor limit, between 1 and 64.
    static size_t DefaultMaxInFlight();

private:
    void Work();

    size_t max_, batch_;
    ArchiveOptions archives_;
    std::atomic<bool> stopListings_{false};
    std::mutex mutex_;
    std::condition_variable wake_, room_;
    // Folders handed over, each with its place in the walk's order; guarded by mutex_.
    std::deque<std::pair<uint64_t, FolderLook>> todo_;
    // Looked at out of order (by another worker), until those before them are done; then,
    // in order, to be taken. Guarded by mutex_.
    std::map<uint64_t, FolderLook> early_;
    std::deque<FolderLook> done_;
    uint64_t handed_ = 0, next_ = 0;     // places given, and the next place done_ takes; guarded by mutex_
    size_t inFlight_ = 0;                // handed over, not yet looked at; guarded by mutex_
    bool flush_ = false;                 // the walk waits for everything; guarded by mutex_
    size_t asleep_ = 0;                  // workers waiting for work; guarded by mutex_
    bool stop_ = false;                  // guarded by mutex_
    // Last: they start once everything above is ready. Two when archives are listed and the
    // machine has the processors: reading files' heads and listing archives costs more than
    // the walk, and one worker would hold it back.
    std::vector<std::thread> workers_;
};

} // namespace quindle
