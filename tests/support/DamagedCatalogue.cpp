#include "support/DamagedCatalogue.h"

#include <unistd.h>
#include <zstd.h>

#include <cstdint>
#include <stdexcept>

#include "catalogue/CatalogueFile.h"
#include "support/TempDrive.h"

namespace quindle::test {

namespace {

uint64_t GetU64(const std::string& s, size_t at) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= uint64_t(static_cast<uint8_t>(s[at + i])) << (8 * i);
    return v;
}
void SetU64(std::string& s, size_t at, uint64_t v, int bytes = 8) {
    for (int i = 0; i < bytes; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}

std::string Compress(const std::string& raw) {
    ZSTD_CCtx* c = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(c, ZSTD_c_checksumFlag, 1);
    std::string out(ZSTD_compressBound(raw.size()), '\0');
    const size_t n = ZSTD_compress2(c, out.data(), out.size(), raw.data(), raw.size());
    ZSTD_freeCCtx(c);
    if (ZSTD_isError(n)) throw std::runtime_error("zstd");
    out.resize(n);
    return out;
}

// The frame with its header rewritten to announce `claim` bytes (8-byte content size, a
// window of 1 MiB); its blocks and checksum as they were.
std::string ClaimingFrame(const std::string& frame, uint64_t claim) {
    const auto fhd = static_cast<uint8_t>(frame[4]);
    const bool single = fhd & 0x20;
    static constexpr int kDictBytes[] = {0, 1, 2, 4};
    const int dictBytes = kDictBytes[fhd & 3];
    const int fcsFlag = fhd >> 6;
    const int fcsBytes = fcsFlag == 0 ? (single ? 1 : 0) : fcsFlag == 1 ? 2 : fcsFlag == 2 ? 4 : 8;
    const size_t blocks = 5 + (single ? 0 : 1) + dictBytes + fcsBytes;
    std::string out = frame.substr(0, 4);
    out += static_cast<char>(0xC0 | (fhd & 0x04)); // content size in 8 bytes, checksum flag kept
    out += static_cast<char>(10 << 3);              // window 2^(10+10)
    out += std::string(8, '\0');
    SetU64(out, 6, claim);
    return out + frame.substr(blocks);
}

// Preamble, header block (decompressed, to be changed) and entries frame of a catalogue.
struct Parts {
    std::string preamble, header, entries;
};
Parts Split(const std::string& file) {
    const uint64_t h = GetU64(file, 12) & 0xFFFFFFFF, e = GetU64(file, 16);
    const std::string frame = file.substr(kCataloguePreamble, h);
    Parts p{file.substr(0, kCataloguePreamble), std::string(ZSTD_getFrameContentSize(frame.data(), frame.size()), '\0'),
            file.substr(kCataloguePreamble + h, e)};
    if (ZSTD_isError(ZSTD_decompress(p.header.data(), p.header.size(), frame.data(), frame.size())))
        throw std::runtime_error("not a catalogue");
    return p;
}
// The file from its parts, the preamble's lengths those of the parts; `entriesLength`
// (when not 0) is the length the entries take in the file, zeros after the frame.
void Join(const std::string& path, Parts p, uint64_t entriesLength = 0) {
    const std::string header = Compress(p.header);
    if (!entriesLength) entriesLength = p.entries.size();
    SetU64(p.preamble, 12, header.size(), 4);
    SetU64(p.preamble, 16, entriesLength);
    WriteHostFile(path, p.preamble + header + p.entries);
    if (truncate(path.c_str(), static_cast<off_t>(kCataloguePreamble + header.size() + entriesLength)) != 0)
        throw std::runtime_error("truncate");
}

// Offsets in the header block (docs/catalogue.md).
constexpr size_t kEntryCount = 0, kNameBytes = 8, kEntriesRaw = 16, kFiles = 28, kFolders = 36;

} // namespace

const char* CatalogueDamageName(CatalogueDamage how) {
    switch (how) {
    case CatalogueDamage::Grown: return "grown to a sparse 200 GB";
    case CatalogueDamage::LengthsOff: return "preamble lengths not adding up";
    case CatalogueDamage::HugeClaim: return "a frame claiming 2^40 bytes";
    case CatalogueDamage::HugeCount: return "a header claiming 4 billion entries";
    }
    return "";
}

void DamageCatalogue(const std::string& path, CatalogueDamage how) {
    const std::string file = ReadHostFile(path);
    switch (how) {
    case CatalogueDamage::Grown:
        if (truncate(path.c_str(), off_t(200) << 30) != 0) throw std::runtime_error("truncate");
        return;
    case CatalogueDamage::LengthsOff: {
        std::string off = file;
        SetU64(off, 16, GetU64(file, 16) + 1);
        WriteHostFile(path, off);
        return;
    }
    case CatalogueDamage::HugeClaim: {
        Parts p = Split(file);
        SetU64(p.header, kEntriesRaw, uint64_t(1) << 40);
        p.entries = ClaimingFrame(p.entries, uint64_t(1) << 40);
        Join(path, std::move(p));
        return;
    }
    case CatalogueDamage::HugeCount: {
        Parts p = Split(file);
        const uint64_t n = UINT32_MAX - 1, folders = GetU64(p.header, kFolders);
        // As few bytes as that many entries can take (version 2: a flags byte each), in a
        // frame no shorter than zstd needs.
        const uint64_t raw = 5 * n - 1 + (n - folders) + GetU64(p.header, kNameBytes);
        SetU64(p.header, kEntryCount, n);
        SetU64(p.header, kFiles, n - folders);
        SetU64(p.header, kEntriesRaw, raw);
        p.entries = ClaimingFrame(p.entries, raw);
        Join(path, std::move(p), raw / 32768 + 1);
        return;
    }
    }
}

} // namespace quindle::test
