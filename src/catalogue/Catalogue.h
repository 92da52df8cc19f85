#pragma once
// The disk's catalogue in memory: every folder the walk visited and every entry it listed,
// as compact column arrays (one element per entry, entries in walk order: a folder always
// comes before what it holds, entry 0 is the drive's root). Readers take the arrays as
// they are; nothing is kept per entry beyond them (about 25 bytes plus the name).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quindle {

enum class EntryKind : uint8_t {
    Folder = 0,
    File = 1,  // a regular file
    Link = 2,  // a symbolic link, never followed; its size is the link's own
    Other = 3, // FIFO, socket, device
};
constexpr uint8_t kEntryKindCount = 4;

// "folder", "file", "link", "other".
const char* EntryKindName(EntryKind k);

constexpr uint32_t kNoParent = UINT32_MAX;

// The disk as the walk found it.
struct DiskFigures {
    std::string fileSystem; // "ext4", "vfat", ...; "" when unknown
    std::string root;       // the drive root the disk was memorized from, "E:\"
    uint64_t capacity = 0;  // bytes of the volume
    uint64_t freeBytes = 0; // bytes free on the volume
    uint64_t files = 0;     // entries that are not folders
    uint64_t folders = 0;   // folders, the root included
    uint64_t bytes = 0;     // total size of the regular files
    uint64_t walkMillis = 0; // duration of the walk
    int64_t walkEnd = 0;     // when the walk ended, seconds since 1970 UTC
    bool complete = false;   // false when the walk was stopped (Abort) or entries are unread
    uint64_t unreadEntries = 0; // entries whose size and date could not be read (lstat failed)
};

// Why a catalogue is not complete, as the user reads it: "the walk was stopped", or "the
// sizes and dates of 12 entries could not be read"; "" for a complete one.
std::string IncompleteCatalogueText(const DiskFigures& f);
// The line that tells the user: "The catalogue is incomplete: " and the reason.
std::string IncompleteCatalogueLine(const DiskFigures& f);

// What ties a catalogue to the record written by the same walk (see RecordBinding.h).
struct RecordBinding {
    uint64_t digestLow = 0, digestHigh = 0; // XXH3-128 of the record's bound part
    uint64_t boundBytes = 0;                // length of that part
    // The record file as it was renamed into place: while it is unchanged, the digest
    // needs no reading (a shortcut only; the digest decides).
    uint64_t recordSize = 0, recordInode = 0;
    int64_t recordMtimeNs = 0;
};

struct CatalogueHeader {
    uint32_t version = 0;
    uint64_t entryCount = 0;
    uint64_t nameBytes = 0;
    DiskFigures figures;
    RecordBinding binding;
};

struct Catalogue {
    CatalogueHeader header;
    // Names back to back, no separator; entry i's name is names[nameStart[i], nameStart[i+1]).
    std::vector<char> names;
    std::vector<uint32_t> nameStart; // Count() + 1 offsets
    std::vector<uint32_t> parent;    // index of the folder holding the entry; kNoParent for the root
    std::vector<uint8_t> kind;       // EntryKind values
    std::vector<uint64_t> size;      // bytes; a folder: its regular files at any depth
    std::vector<int64_t> mtime;      // seconds since 1970 UTC

    size_t Count() const { return parent.size(); }
    std::string_view Name(size_t i) const {
        return {names.data() + nameStart[i], static_cast<size_t>(nameStart[i + 1] - nameStart[i])};
    }
    EntryKind Kind(size_t i) const { return static_cast<EntryKind>(kind[i]); }
    // The path below the root, names joined by `sep` ("" for the root itself).
    std::string Path(size_t i, char sep = '/') const;
    // Bytes the arrays hold (their capacity), names included.
    size_t MemoryBytes() const;
};

// Builds a catalogue while a walk goes: folders are added before anything they hold.
class CatalogueBuilder {
public:
    // The root is entry 0.
    CatalogueBuilder();
    void SetTime(uint32_t index, int64_t mtime) { cat_.mtime[index] = mtime; }
    // What a later look at entry `index` found (a folder's size stays summed by Finish).
    void SetEntry(uint32_t index, EntryKind kind, uint64_t size, int64_t mtime) {
        cat_.kind[index] = static_cast<uint8_t>(kind);
        cat_.size[index] = kind == EntryKind::Folder ? 0 : size;
        cat_.mtime[index] = mtime;
    }
    // Adds an entry of folder `parent`; returns its index. A folder's size is summed by
    // Finish(); the size given for it is ignored.
    uint32_t Add(uint32_t parent, std::string_view name, EntryKind kind, uint64_t size, int64_t mtime);
    // Sums the folder sizes and counts, fills the figures, trims the arrays and hands the
    // catalogue over.
    Catalogue Finish(DiskFigures figures);
    size_t Count() const { return cat_.Count(); }

private:
    Catalogue cat_;
};

} // namespace quindle

namespace quindle {

// Calls fn(i, folderPath, name) for every entry i but the root, in order, with the path of
// the folder holding it (names joined by `sep`, "" for the root's entries). Each folder's
// path is built once; walk order (a folder's entries follow it, depth first) makes that
// a stack, and any other order still gives the right paths, only slower.
template <class Fn> void ForEachEntryPath(const Catalogue& c, char sep, Fn fn) {
    struct Open {
        uint32_t index;
        size_t length; // of `path` with this folder's name
    };
    std::vector<Open> stack{{0, 0}};
    std::string path;
    for (size_t i = 1; i < c.Count(); ++i) {
        const uint32_t p = c.parent[i];
        while (stack.size() > 1 && stack.back().index != p) stack.pop_back();
        if (stack.back().index != p) { // not on the stack: rebuild from the chain
            stack.resize(1);
            path = c.Path(p, sep);
            stack.push_back({p, path.size()});
        }
        path.resize(stack.back().length);
        fn(i, std::string_view(path), c.Name(i));
        if (c.kind[i] == static_cast<uint8_t>(EntryKind::Folder)) {
            if (!path.empty()) path += sep;
            path += c.Name(i);
            stack.push_back({static_cast<uint32_t>(i), path.size()});
        }
    }
}

} // namespace quindle
