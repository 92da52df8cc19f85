#pragma once
// UDF images (DVDs, Blu-ray discs, Windows' install images) listed by hand: libarchive reads
// only an image's ISO 9660 part, which some of them hold as a stub ("This disc contains a
// UDF file system") and others lack altogether. This reads what a UDF reader must to list
// the tree: the anchor at block 256, the volume's partitions and logical volume, its file
// set, and every directory's identifiers and file entries. Physical, sparable (as physical:
// an image has no bad blocks to spare), virtual (a disc written in sessions, through its
// allocation table) and metadata partitions are read. No Qt, no libarchive.
//
// Every length, count and place the image gives is checked against the image before it is
// used; a directory seen twice (a loop) is read once. Nothing here throws but bad_alloc.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "archives/Archives.h"

namespace quindle {

// Random access to the bytes of an image: a file, memory, or a member of another image.
class ImageBytes {
public:
    virtual ~ImageBytes() = default;
    virtual uint64_t Size() const = 0;
    // Up to `n` bytes at `offset` into `out`; the bytes read (fewer at the end, or 0 when
    // the bytes beneath cannot be read).
    virtual size_t ReadAt(uint64_t offset, char* out, size_t n) = 0;
};

// Bytes in memory.
class MemoryImage final : public ImageBytes {
public:
    explicit MemoryImage(std::string_view bytes) : bytes_(bytes) {}
    uint64_t Size() const override { return bytes_.size(); }
    size_t ReadAt(uint64_t offset, char* out, size_t n) override;

private:
    std::string_view bytes_;
};

// A run of a file's bytes in the image; `zeros`: allocated but never written (reads as zeros).
struct UdfExtent {
    uint64_t offset = 0, length = 0;
    bool zeros = false;
};

// One file or folder of the image, as ListUdf hands it over (valid during the call only).
struct UdfEntry {
    std::string_view path; // below the image's root, names joined by "/", UTF-8
    MemberKind kind = MemberKind::File;
    uint64_t size = 0;
    int64_t mtime = 0; // seconds since 1970 UTC; 0 when the image gives no valid date
    // Where a file's bytes lie, in order; or its bytes themselves, kept in its entry.
    const std::vector<UdfExtent>* extents = nullptr;
    std::string_view embedded;
};

enum class UdfResult : uint8_t {
    Listed,      // every entry handed over
    NoVolume,    // no UDF volume: the image's descriptors do not name one
    Damaged,     // a structure the tree needs is missing or inconsistent
    Unsupported, // a partition map of another kind, extended allocation descriptors
    Stopped,     // the callback returned false
};

struct UdfOutcome {
    UdfResult result = UdfResult::NoVolume;
    std::string detail;          // what was wrong, for the log
    uint64_t droppedNames = 0;   // names that cannot be read ("/", NUL, broken UTF-16)
};

// Whether the volume recognition sequence at 32 KiB names a UDF volume (NSR02 or NSR03),
// after ISO 9660's descriptors or without them.
bool HasUdfVolume(ImageBytes& image);

// Hands every file and folder of the image's tree to `fn`, folders before what they hold;
// `fn` returns false to stop. `maxDirectoryBytes` bounds what one directory's identifiers
// may take in memory (past it: Damaged).
UdfOutcome ListUdf(ImageBytes& image, const std::function<bool(const UdfEntry&)>& fn,
                   uint64_t maxDirectoryBytes = uint64_t{256} << 20);

// The bytes of a file ListUdf described: its extents in `image`, or its embedded bytes.
class UdfFileBytes final : public ImageBytes {
public:
    UdfFileBytes(ImageBytes& image, const UdfEntry& e);
    uint64_t Size() const override { return size_; }
    size_t ReadAt(uint64_t offset, char* out, size_t n) override;

private:
    ImageBytes& image_;
    std::vector<UdfExtent> extents_;
    std::vector<uint64_t> starts_; // each extent's first byte within the file
    std::string embedded_;
    uint64_t size_ = 0;
};

} // namespace quindle
