// UDF images over arbitrary descriptors: no crash, no hang, and every listing keeps its
// shape, in either mode.
//
// An image's descriptors lie far apart (the anchor at block 256), so an input is a list of
// patches laid on an image of zeros that holds a volume recognition sequence at 32 KiB:
// each patch is its offset (4 bytes, little-endian), its length (2 bytes) and its bytes.
// The image ends with the last patch, and at most at kMaxImage. The seeds are images made
// by genisoimage and mkudffs, cut into their runs of bytes that are not zeros.
#include <cstdint>
#include <cstring>
#include <string>

#include "ArchiveFuzz.h"
#include "archives/UdfImage.h"

using namespace quindle;
using namespace quindle::fuzz;

namespace {

constexpr size_t kMaxImage = size_t{2} << 20;

std::string Image(const uint8_t* data, size_t size) {
    std::string image(19 * 2048, '\0'); // the marks in blocks 16 to 18
    const char* marks[] = {"BEA01", "NSR02", "TEA01"};
    for (size_t k = 0; k < 3; ++k) std::memcpy(image.data() + (16 + k) * 2048 + 1, marks[k], 5);
    for (size_t p = 0; p + 6 <= size;) {
        const uint32_t offset = data[p] | data[p + 1] << 8 | data[p + 2] << 16 | static_cast<uint32_t>(data[p + 3]) << 24;
        const size_t length = std::min<size_t>(data[p + 4] | data[p + 5] << 8, size - p - 6);
        p += 6;
        if (offset < kMaxImage && length <= kMaxImage - offset) {
            if (image.size() < offset + length) image.resize(offset + length, '\0');
            std::memcpy(image.data() + offset, data + p, length);
        }
        p += length;
    }
    return image;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string image = Image(data, size);
    for (const ArchiveMode mode : {ArchiveMode::Indexed, ArchiveMode::All})
        CheckListing(ListArchiveBytes(image, ArchiveFuzzOptions(mode)), mode == ArchiveMode::All ? "all" : "indexed");
    // The reader alone, and a file's bytes read through its extents as a nested listing
    // reads them: whatever the extents claim, no read leaves the image.
    MemoryImage bytes(image);
    size_t entries = 0;
    ListUdf(bytes, [&](const UdfEntry& e) {
        if (e.path.empty() || e.path.front() == '/' || e.path.back() == '/') Fail("entry path", e.path);
        UdfFileBytes file(bytes, e);
        char head[600];
        if (file.ReadAt(0, head, sizeof head) > file.Size()) Fail("read past a file's end", e.path);
        if (file.Size() > 1000) file.ReadAt(file.Size() - 1000, head, sizeof head);
        return ++entries < 5000;
    });
    return 0;
}
