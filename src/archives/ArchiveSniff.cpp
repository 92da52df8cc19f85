#include "archives/ArchiveSniff.h"

#include <cstring>

#include "platform/CodePage.h"

namespace quindle {

namespace {

bool StartsWith(std::string_view s, std::string_view prefix, size_t at = 0) {
    return s.size() >= at + prefix.size() && std::memcmp(s.data() + at, prefix.data(), prefix.size()) == 0;
}

unsigned Byte(std::string_view s, size_t i) { return static_cast<unsigned char>(s[i]); }

// A tar header block: "ustar" at 257 (POSIX and GNU), or an old-style header whose checksum
// holds (the sum of its bytes with the checksum field read as blanks, as unsigned or as
// signed bytes, both of which writers have used) and that names something.
bool IsTarHeader(std::string_view h) {
    if (h.size() < 512) return false;
    if (StartsWith(h, "ustar", 257)) return true;
    if (h[0] == '\0') return false;
    // The checksum field: octal digits, led by blanks, ended by NUL or blank.
    unsigned long stored = 0;
    size_t i = 148;
    while (i < 156 && h[i] == ' ') ++i;
    size_t digits = 0;
    for (; i < 156 && h[i] >= '0' && h[i] <= '7'; ++i, ++digits) stored = stored * 8 + static_cast<unsigned>(h[i] - '0');
    if (digits == 0) return false;
    for (; i < 156; ++i)
        if (h[i] != ' ' && h[i] != '\0') return false;
    unsigned long sumUnsigned = 0;
    long sumSigned = 0;
    for (size_t j = 0; j < 512; ++j) {
        const bool field = j >= 148 && j < 156;
        sumUnsigned += field ? ' ' : Byte(h, j);
        sumSigned += field ? ' ' : static_cast<signed char>(h[j]);
    }
    return stored == sumUnsigned || static_cast<long>(stored) == sumSigned;
}

// cpio: the ASCII forms (odc "070707", newc "070701", with checksum "070702") followed by
// their header digits, or the old binary form in either byte order with a name that fits.
bool IsCpioHeader(std::string_view h) {
    if (StartsWith(h, "070707") || StartsWith(h, "070701") || StartsWith(h, "070702")) {
        const bool odc = h[5] == '7';
        const size_t len = odc ? 76 : 110;
        if (h.size() < len) return false;
        for (size_t i = 6; i < len; ++i) {
            const char c = h[i];
            const bool ok = odc ? (c >= '0' && c <= '7')
                                : ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'));
            if (!ok) return false;
        }
        return true;
    }
    if (h.size() < 28) return false;
    bool little;
    if (Byte(h, 0) == 0xC7 && Byte(h, 1) == 0x71)
        little = true;
    else if (Byte(h, 0) == 0x71 && Byte(h, 1) == 0xC7)
        little = false;
    else
        return false;
    auto u16 = [&](size_t at) { return little ? Byte(h, at) | Byte(h, at + 1) << 8 : Byte(h, at) << 8 | Byte(h, at + 1); };
    const unsigned nameSize = u16(20);
    // The name ends with its NUL where the header says; a first header lies within the head.
    if (nameSize < 2 || 26 + nameSize > h.size()) return false;
    if (h[26 + nameSize - 1] != '\0') return false;
    for (size_t i = 26; i < 26 + nameSize - 1; ++i)
        if (h[i] == '\0') return false;
    return true;
}

// "BZh", the block size, then a block's mark or the end-of-stream mark.
bool IsBzip2(std::string_view h) {
    return h.size() >= 10 && StartsWith(h, "BZh") && h[3] >= '1' && h[3] <= '9' &&
           (StartsWith(h, "\x31\x41\x59\x26\x53\x59", 4) || StartsWith(h, "\x17\x72\x45\x38\x50\x90", 4));
}

bool AllZero(std::string_view s) {
    for (const char c : s)
        if (c != '\0') return false;
    return true;
}

} // namespace

ArchiveSignature SniffHead(std::string_view h, uint64_t size) {
    if (size < kMinArchiveBytes || h.size() < 4) return ArchiveSignature::None;
    if (StartsWith(h, "PK\x03\x04") || StartsWith(h, "PK\x05\x06") || StartsWith(h, "PK\x07\x08PK\x03\x04"))
        return ArchiveSignature::Zip;
    if (StartsWith(h, "7z\xBC\xAF\x27\x1C")) return ArchiveSignature::SevenZip;
    if (StartsWith(h, std::string_view("Rar!\x1A\x07\x00", 7)) || StartsWith(h, std::string_view("Rar!\x1A\x07\x01\x00", 8)))
        return ArchiveSignature::Rar;
    if (StartsWith(h, std::string_view("MSCF\0\0\0\0", 8))) return ArchiveSignature::Cab;
    if (IsTarHeader(h)) return ArchiveSignature::Tar;
    if (IsCpioHeader(h)) return ArchiveSignature::Cpio;
    // Compressed streams by their own marks: gzip (deflate), bzip2, xz, lzip, zstd, lz4
    // frames, compress (.Z).
    if (StartsWith(h, "\x1F\x8B\x08") || IsBzip2(h) || StartsWith(h, std::string_view("\xFD" "7zXZ\0", 6)) ||
        StartsWith(h, "LZIP") || StartsWith(h, "\x28\xB5\x2F\xFD") || StartsWith(h, "\x04\x22\x4D\x18") ||
        StartsWith(h, "\x1F\x9D"))
        return ArchiveSignature::Compressed;
    // ISO 9660 and UDF leave the first 32 KiB to the system: zeros, or a boot sector in
    // images that also start computers.
    if (size >= kVolumeDescriptorOffset + kVolumeDescriptorBytes && h.size() >= 512 &&
        (AllZero(h.substr(0, 512)) || (Byte(h, 510) == 0x55 && Byte(h, 511) == 0xAA)))
        return ArchiveSignature::Sector16;
    return ArchiveSignature::None;
}

ArchiveSignature SniffVolumeDescriptor(std::string_view sector) {
    // A descriptor's type byte, then its standard identifier.
    if (StartsWith(sector, "CD001", 1)) return ArchiveSignature::Iso9660;
    if (StartsWith(sector, std::string_view("\0BEA01", 6))) return ArchiveSignature::Udf;
    return ArchiveSignature::None;
}

bool LooksLikeArchiveName(std::string_view name) {
    // Those the formats read here are known by; compressed tarballs by the compression's
    // ending (a compressed single file among them is told apart by its content).
    static constexpr std::string_view kEndings[] = {
        ".zip", ".jar", ".war", ".apk", ".7z",  ".rar",  ".cab", ".iso", ".tar",  ".tgz", ".tbz",
        ".tbz2", ".txz", ".tzst", ".tlz4", ".cpio", ".gz", ".bz2", ".xz",  ".zst", ".lz4", ".lz",
    };
    // Every ending is a dot and letters: a name ends so when what follows its last dot, with
    // a name before it, is one of them. (Asked of every member listed: one pass, not one
    // comparison an ending.)
    constexpr size_t kLongest = 5;
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || name.size() - dot > kLongest) return false;
    char lower[kLongest];
    for (size_t i = dot; i < name.size(); ++i) lower[i - dot] = static_cast<char>(LowerByte(static_cast<unsigned char>(name[i])));
    const std::string_view ending(lower, name.size() - dot);
    for (const std::string_view e : kEndings)
        if (ending == e) return true;
    return false;
}

const char* SignatureName(ArchiveSignature s) {
    switch (s) {
    case ArchiveSignature::Zip: return "zip";
    case ArchiveSignature::SevenZip: return "7z";
    case ArchiveSignature::Rar: return "rar";
    case ArchiveSignature::Cab: return "cab";
    case ArchiveSignature::Tar: return "tar";
    case ArchiveSignature::Cpio: return "cpio";
    case ArchiveSignature::Iso9660: return "iso9660";
    case ArchiveSignature::Udf: return "udf";
    case ArchiveSignature::Compressed: return "compressed";
    case ArchiveSignature::Sector16:
    case ArchiveSignature::None: break;
    }
    return "";
}

} // namespace quindle
