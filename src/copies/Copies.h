#pragma once
// Copies across the disks of a package: files of the same name (the exact bytes) and the
// same size. Only regular files count; folders, links and other entries never do.
// Working memory beyond the catalogues themselves: 16 bytes per file considered.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/Catalogue.h"
#include "catalogue/CatalogueFile.h"
#include "package/Package.h"

namespace quindle {

// What makes two regular files copies: the same name and size, or the same size and
// content, whatever their names (only files with a checksum take part then).
enum class CopyMatch : uint8_t { NameSize, Content };

// A file of one disk: disks[disk].catalogue entry `entry`.
struct FileRef {
    uint32_t disk;
    uint32_t entry;
};

struct CopyGroup {
    uint64_t size;       // bytes of each copy
    uint32_t first = 0;  // the copies are refs[first, first + count)
    uint32_t count = 0;  // two or more
    uint64_t Total() const { return size * count; }
};

struct Copies {
    std::vector<FileRef> refs;
    // Largest total first (size times copies), then by name bytes; in a group, the copies
    // in disk order, then in walk order.
    std::vector<CopyGroup> groups;
    uint64_t copyFiles = 0;  // files in the groups
    uint64_t spareBytes = 0; // bytes of every copy but one in each group
};

// Groups of two or more files (on one disk or several) of at least `minSize` bytes.
// `includeHidden` false leaves out the files that are hidden or lie below a hidden folder.
Copies FindCopies(const std::vector<PackageDisk>& disks, uint64_t minSize, bool includeHidden = true,
                  CopyMatch match = CopyMatch::NameSize);

// The files of one disk that have no file of the same name and size on the others. The
// disk's catalogue must outlive it; the others may be read and dropped one at a time.
class UniqueFiles {
public:
    // `includeHidden` false: hidden files (hidden, or below a hidden folder) are neither
    // listed nor taken for copies.
    explicit UniqueFiles(const Catalogue& disk, bool includeHidden = true, CopyMatch match = CopyMatch::NameSize);
    // Marks the disk's files that `other` (another disk) holds too.
    void Compare(const Catalogue& other);
    // The disk's files with no copy found, in walk order.
    std::vector<uint32_t> Entries() const;

private:
    struct Key {
        uint64_t hash;
        uint32_t entry;
    };
    struct Slot {
        uint64_t hash;
        uint32_t key; // index into keys_ + 1; 0: empty
        bool done;    // every file of this hash is copied: nothing more to compare
    };
    const Catalogue& disk_;
    uint8_t leaveOut_; // entry flags of the files left out
    CopyMatch match_;
    std::vector<Key> keys_;   // the disk's files, sorted by hash
    std::vector<Slot> slot_;  // open addressing over the distinct hashes
    // One byte per slot, the top bits of its hash (never 0; 0: empty): most probes of a
    // name the disk does not hold end in this small array, without touching the slots.
    std::vector<uint8_t> tag_;
    std::vector<bool> copied_; // by entry
};

// The hash both use: the name's bytes and the size.
uint64_t NameSizeHash(std::string_view name, uint64_t size);

} // namespace quindle
