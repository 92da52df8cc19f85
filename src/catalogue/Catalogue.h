#pragma once
// The disk's catalogue in memory: every folder the walk visited and every entry it listed,
// as compact column arrays (one element per entry, entries in walk order: a parent always
// comes before what it holds, entry 0 is the drive's root). Readers take the arrays as
// they are; nothing is kept per entry beyond them (about 26 bytes plus the name, and 16
// more when the disk has checksums).
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/GrowingColumn.h"

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

// The catalogue file's version written, and that of a catalogue built in memory. Version 1
// (no flags, notes or checksums, no hidden folders) is still read.
constexpr uint32_t kCatalogueVersion = 2;

// What an entry is besides its kind: one byte per entry (the catalogue file's flags column).
enum EntryFlag : uint8_t {
    kEntryHidden = 0x01,      // hidden itself, or below a hidden folder: left out of the record
    kEntryMember = 0x02,      // lies inside an archive
    kEntryArchive = 0x04,     // a regular file read as an archive: its members follow as its entries
    kEntryPartial = 0x08,     // an archive whose listing stopped before its end
    kEntryNoted = 0x10,       // has a note (Catalogue::notes)
    kEntryChecksummed = 0x20, // has a checksum (Catalogue::checksums)
};
constexpr uint8_t kEntryFlagsKnown = 0x3F;
// Longest note, bytes.
constexpr size_t kMaxNoteBytes = 4096;
using Checksum128 = std::array<uint8_t, 16>; // XXH3-128 of a file's content, as the file stores it

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
    // Of the entries (counted apart from files and folders where they are members):
    uint64_t hiddenEntries = 0;    // hidden, or below a hidden folder
    uint64_t archiveMembers = 0;   // inside archives; files and folders leave them out
    uint64_t archivesListed = 0;   // archives whose members were read (also in part)
    uint64_t archivesUnlisted = 0; // archives that could not be listed (their note says why)
    uint64_t checksummed = 0;      // files with a checksum
    uint64_t contentUnread = 0;    // files whose content could not be read (their note says why)
    // Which archives the walk listed, as chosen for the disk: 0 none, 1 those whose listing
    // reads little, 2 all (the archive room's ArchiveMode).
    uint8_t archiveMode = 0;
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
    uint32_t version = 0; // of the file read; kCatalogueVersion for one built here
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
    std::vector<uint8_t> flags;      // EntryFlag bits, Count() long (zeros in a version-1 file)
    // The notes of the entries flagged kEntryNoted, by entry, ascending.
    std::vector<std::pair<uint32_t, std::string>> notes;
    // Empty when no entry has a checksum; else Count() long, meaningful where flagged
    // kEntryChecksummed (16 bytes an entry: nearly every file has one when any has).
    std::vector<Checksum128> checksums;

    size_t Count() const { return parent.size(); }
    // Any file's content has a checksum: the disk takes part in copies by content.
    bool HasChecksums() const { return !checksums.empty(); }
    std::string_view Name(size_t i) const {
        return {names.data() + nameStart[i], static_cast<size_t>(nameStart[i + 1] - nameStart[i])};
    }
    EntryKind Kind(size_t i) const { return static_cast<EntryKind>(kind[i]); }
    bool Hidden(size_t i) const { return flags[i] & kEntryHidden; }
    bool Member(size_t i) const { return flags[i] & kEntryMember; }
    bool IsArchive(size_t i) const { return flags[i] & kEntryArchive; }
    // Not in the record the same walk wrote: a hidden folder, anything below one, an
    // archive's member. (The record holds the hidden files of the folders it holds.)
    bool OutsideRecord(size_t i) const {
        return Member(i) || (Hidden(i) && (kind[i] == static_cast<uint8_t>(EntryKind::Folder) ||
                                           (i > 0 && Hidden(parent[i]))));
    }
    // Holds entries: a folder, or an archive whose members follow.
    bool IsParent(size_t i) const { return kind[i] == static_cast<uint8_t>(EntryKind::Folder) || IsArchive(i); }
    // The entry's note, "" when it has none.
    std::string_view Note(size_t i) const;
    // The entry's checksum, nullptr when it has none.
    const Checksum128* ChecksumOf(size_t i) const {
        return (flags[i] & kEntryChecksummed) && i < checksums.size() ? &checksums[i] : nullptr;
    }
    // The path below the root, names joined by `sep` ("" for the root itself).
    std::string Path(size_t i, char sep = '/') const;
    // Bytes the arrays hold (their capacity), names included.
    size_t MemoryBytes() const;
};

// Whether entry i (not the root) adds to its parent's total: a folder or a regular file in a
// folder. An archive's members never add to it (nor to the folders above): the figures and
// folder totals count what lies on the disk, the members' own folders what lies in them.
bool SumsIntoParent(const Catalogue& c, size_t i);
// The same for an entry of kind `kind` held by one of kind `parentKind` (EntryKind values).
constexpr bool SumsInto(uint8_t kind, uint8_t parentKind) {
    return (kind == static_cast<uint8_t>(EntryKind::Folder) || kind == static_cast<uint8_t>(EntryKind::File)) &&
           parentKind == static_cast<uint8_t>(EntryKind::Folder);
}

// Builds a catalogue while a walk goes: folders are added before anything they hold. The
// columns grow without copies (GrowingColumn) and become the catalogue's at Finish.
class CatalogueBuilder {
public:
    // The root is entry 0.
    CatalogueBuilder();
    void SetTime(uint32_t index, int64_t mtime) { cols_.mtime[index] = mtime; }
    // What a later look at entry `index` found (a folder's size stays summed by Finish).
    void SetEntry(uint32_t index, EntryKind kind, uint64_t size, int64_t mtime) {
        cols_.kind[index] = static_cast<uint8_t>(kind);
        cols_.size[index] = kind == EntryKind::Folder ? 0 : size;
        cols_.mtime[index] = mtime;
    }
    // Flags entry `index` hidden: hidden itself, or below a hidden folder.
    void SetHidden(uint32_t index) { cols_.flags[index] |= kEntryHidden; }
    // Archives, notes and checksums are regular files' only: for another entry these do
    // nothing, and Finish drops them from an entry found to be something else since.
    // Flags entry `index` an archive whose members are added after it (`partial`: not all
    // of them could be read).
    void SetArchive(uint32_t index, bool partial) {
        if (cols_.kind[index] == static_cast<uint8_t>(EntryKind::File))
            cols_.flags[index] |= kEntryArchive | (partial ? kEntryPartial : 0);
    }
    // The entry's note (an archive's error, why a file's content could not be read), cut to
    // kMaxNoteBytes; "" removes it.
    void SetNote(uint32_t index, std::string_view note);
    void SetChecksum(uint32_t index, const Checksum128& sum);
    // Adds an entry of folder `parent` (or of an archive: the entry is then a member, as is
    // everything below a member); returns its index. Below a hidden folder, it is hidden. A
    // folder's size is summed by Finish(); the size given for it is ignored.
    uint32_t Add(uint32_t parent, std::string_view name, EntryKind kind, uint64_t size, int64_t mtime);
    // Sums the folder sizes and counts, fills the figures and hands the catalogue over.
    Catalogue Finish(DiskFigures figures);
    size_t Count() const { return cols_.Count(); }
    // Of the entries added so far, as Catalogue's.
    std::string_view Name(size_t i) const { return cols_.Name(i); }
    std::string Path(size_t i, char sep = '/') const;

private:
    struct Columns {
        GrowingColumn<char> names;
        GrowingColumn<uint32_t> nameStart, parent;
        GrowingColumn<uint8_t> kind, flags;
        GrowingColumn<uint64_t> size;
        GrowingColumn<int64_t> mtime;
        GrowingColumn<Checksum128> checksums; // empty until the first checksum, then Count() long
        std::vector<std::pair<uint32_t, std::string>> notes;
        size_t Count() const { return parent.size(); }
        std::string_view Name(size_t i) const {
            return {names.data() + nameStart[i], static_cast<size_t>(nameStart[i + 1] - nameStart[i])};
        }
    };
    Columns cols_;
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
        if (c.IsParent(i)) {
            if (!path.empty()) path += sep;
            path += c.Name(i);
            stack.push_back({static_cast<uint32_t>(i), path.size()});
        }
    }
}

} // namespace quindle
