#pragma once
// Which archive a file may be, from its first bytes: the marks each format puts at a known
// place. Cheap by design, since the walk asks it of every file; libarchive has the last
// word on what a candidate holds.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quindle {

enum class ArchiveSignature : uint8_t {
    None,
    Zip,
    SevenZip,
    Rar,
    Cab,
    Tar,
    Cpio,
    Iso9660,
    Udf,        // UDF without an ISO 9660 part (an image with both shows Iso9660)
    Compressed, // a compressed stream: an archive only when what it holds is one
    Sector16,   // zeros or a boot sector: look at the volume descriptor at 32 KiB
};

// Bytes SniffHead wants (fewer when the file is shorter).
constexpr size_t kSniffHeadBytes = 512;
// Where ISO 9660 and UDF put their first volume descriptor, and the bytes to read there.
constexpr uint64_t kVolumeDescriptorOffset = 32768;
constexpr size_t kVolumeDescriptorBytes = 2048;
// No archive is shorter (an empty zip is 22 bytes).
constexpr uint64_t kMinArchiveBytes = 20;

// The first bytes of a file of `size` bytes.
ArchiveSignature SniffHead(std::string_view head, uint64_t size);
// The sector at kVolumeDescriptorOffset of a file SniffHead called Sector16: Iso9660, Udf or None.
ArchiveSignature SniffVolumeDescriptor(std::string_view sector);

// Whether a member's name ends as an archive's usually does (".zip", ".tar.gz", ".iso",
// ASCII letters in either case). Indexed mode looks into such members only: looking into
// every member of a zip would decompress the start of each, where the listing reads its
// index alone. The name decides whether to look, never what a member is.
bool LooksLikeArchiveName(std::string_view name);

// "zip", "7z", ... for a signature (what the format is called before libarchive reads it).
const char* SignatureName(ArchiveSignature s);

} // namespace quindle
