#pragma once
// Every file of every disk of a package, in memory, for finding files as one types. Per
// disk it keeps the catalogue's column arrays as the reader gives them, with the names
// case-folded in place and what it takes to give them back as written. A disk without a
// usable catalogue contributes its record's names, each in its top-level folder, without
// sizes or dates.
//
// Refresh() looks at the identity of every record and catalogue (device, inode, size,
// modification time) and reads again only the disks whose files changed, were added or
// went away, whoever changed them (this program, quindle-cli, another machine sharing the
// folder). Readers take a snapshot: a query keeps the disks it started with while a
// refresh replaces them.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "catalogue/Catalogue.h"

namespace quindle {

struct FileIdentity {
    uint64_t dev = 0, ino = 0;
    int64_t size = -1; // -1: no such file
    int64_t mtimeNs = 0;
    bool operator==(const FileIdentity&) const = default;
};
FileIdentity IdentityOf(const std::string& path);

struct IndexedDisk {
    std::string serial;      // the record's name without ".dat"
    std::string title;       // the information section's "Title"
    std::string root;        // "E:\", the drive the disk was memorized from; "" when unknown
    std::string foldedRoot;  // the same folded, "\" as "/": what path terms see before the path
    bool details = false;    // sizes, dates and kinds from a catalogue; false: names from the record
    bool skipped = false;    // nothing of the disk could be read
    std::string problem;     // why the catalogue was not used (or the disk skipped); "" when it was
    // The catalogue's arrays as read, except the names: `cat.names` holds them folded (and
    // `cat.nameStart` their offsets there), so a scan for a term runs over one contiguous
    // block. The names as written come back from two small parts: a bit for every byte that
    // was an ASCII capital, and the whole name for the few that differ otherwise (letters
    // beyond ASCII, folds that change a name's length). Entry 0 is the root.
    Catalogue cat;
    std::vector<uint64_t> capitals;       // bit j: byte j of cat.names was 'A'..'Z'; empty when none was
    std::vector<uint32_t> originalEntry;  // entries whose name is kept whole, ascending
    std::vector<uint32_t> originalStart;  // originalEntry.size() + 1 offsets into originalNames
    std::vector<char> originalNames;
    FileIdentity recordId, catalogueId;

    size_t Count() const { return cat.Count(); }
    std::string_view FoldedName(size_t i) const { return cat.Name(i); }
    // The name as the file system gave it.
    std::string Name(size_t i) const;
    // The path below the root, names joined by `sep` ("" for the root).
    std::string Path(size_t i, char sep) const;
    // The path as the program writes it: root, then names joined by "\" ("E:\Docs\a.txt").
    std::string WindowsPath(size_t i) const { return root + Path(i, '\\'); }
    // The path below the root joined by "/" ("Docs/a.txt"), as files --json writes it.
    std::string RelativePath(size_t i) const { return Path(i, '/'); }
    size_t MemoryBytes() const;
};

// Builds the in-memory disk from its record and catalogue files (what Refresh does for one
// disk). Never throws for a bad file, nor when reading it runs out of memory: the disk
// says what it could not use, or is skipped with the reason.
std::shared_ptr<IndexedDisk> LoadIndexedDisk(const std::string& recordPath, std::string_view infoSection);

// The disks of one moment, in the default order of results: by title (folded, then as
// written), then serial.
struct IndexSnapshot {
    std::vector<std::shared_ptr<const IndexedDisk>> disks;
    size_t entries = 0; // entries of all disks, roots left out
    size_t MemoryBytes() const;
};

struct DiskProblem {
    std::string serial, title;
    bool skipped = false;  // true: nothing of the disk is in the index; false: its record's names are
    std::string reason;
};

class PackageIndex {
public:
    PackageIndex(std::string packageFolder, std::string infoSection);

    struct RefreshFigures {
        size_t read = 0;    // disks read (new or changed)
        size_t kept = 0;    // disks unchanged
        size_t removed = 0; // disks that went away
    };
    // Brings the index up to date with the package's disks (PackageRecordFiles), reading
    // only what changed, on up to `threads` threads. One refresh at a time; snapshots may
    // be taken meanwhile.
    RefreshFigures Refresh(unsigned threads = 2);

    std::shared_ptr<const IndexSnapshot> Snapshot() const;
    // The disks whose catalogue was not used or that were skipped, with the reason, by serial.
    std::vector<DiskProblem> Problems() const;
    const std::string& Folder() const { return folder_; }

private:
    std::string folder_, infoSection_;
    std::mutex refreshing_;
    mutable std::mutex mutex_;
    std::shared_ptr<const IndexSnapshot> snapshot_;
};

} // namespace quindle
