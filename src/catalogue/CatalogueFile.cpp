#include "catalogue/CatalogueFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zstd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

#include "platform/Errors.h"

namespace quindle {

const char* CatalogueProblemText(CatalogueProblem p) {
    switch (p) {
    case CatalogueProblem::None: return "";
    case CatalogueProblem::Missing: return "no catalogue";
    case CatalogueProblem::NotBound: return "the catalogue does not belong to this record";
    case CatalogueProblem::Damaged: return "the catalogue is damaged";
    case CatalogueProblem::Unsupported: return "unsupported catalogue version";
    case CatalogueProblem::Unreadable: return "the catalogue cannot be read";
    case CatalogueProblem::NoRecord: return "no record";
    case CatalogueProblem::TooLarge: return "the catalogue is too large for this computer's memory";
    }
    return "";
}

namespace {

constexpr size_t kMaxHeaderBlock = 1 << 16;
// How many bytes the entries block may claim per byte of its frame. No zstd frame can hold
// more: a block holds at most 128 KiB and takes at least 4 bytes (a run of one byte: a
// 3-byte block header and the byte). A tighter bound would refuse catalogues the writer
// makes: ordinary disks compress 1.5 to 4 times (/usr 3.8, /etc 2.0), but a backup disk of
// hard-linked snapshots repeats its tree again and again (300 snapshots of /usr/include:
// 821 times, growing with every snapshot; zstd reaches 8000 on repeated data).
constexpr uint64_t kMaxRatio = 32768;
constexpr uint64_t kMaxBody = uint64_t(1) << 38;

// ---- little-endian fields and LEB128 numbers --------------------------------------------

void PutU32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>(v >> (8 * i));
}
void PutU64(std::string& out, uint64_t v) {
    for (int i = 0; i < 8; ++i) out += static_cast<char>(v >> (8 * i));
}
void PutBytes(std::string& out, std::string_view s) {
    PutU32(out, static_cast<uint32_t>(s.size()));
    out += s;
}
inline size_t VarintSize(uint64_t v) {
    size_t n = 1;
    while (v >= 0x80) {
        v >>= 7;
        ++n;
    }
    return n;
}
inline char* PutVarint(char* p, uint64_t v) {
    while (v >= 0x80) {
        *p++ = static_cast<char>(v | 0x80);
        v >>= 7;
    }
    *p++ = static_cast<char>(v);
    return p;
}
inline uint64_t ZigZag(int64_t v) { return (static_cast<uint64_t>(v) << 1) ^ static_cast<uint64_t>(v >> 63); }
// a - b, wrapping: times of any value round-trip, without signed overflow.
inline int64_t TimeStep(int64_t a, int64_t b) {
    return static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b));
}
inline int64_t UnZigZag(uint64_t v) { return static_cast<int64_t>(v >> 1) ^ -static_cast<int64_t>(v & 1); }

// Bounds-checked reading; any shortfall marks the reader failed and yields zeros.
class Reader {
public:
    Reader(const char* p, size_t n) : p_(reinterpret_cast<const unsigned char*>(p)), end_(p_ + n) {}
    bool Ok() const { return ok_; }
    size_t Left() const { return static_cast<size_t>(end_ - p_); }
    uint64_t Fixed(int bytes) {
        if (Left() < static_cast<size_t>(bytes)) return Fail();
        uint64_t v = 0;
        for (int i = 0; i < bytes; ++i) v |= uint64_t(p_[i]) << (8 * i);
        p_ += bytes;
        return v;
    }
    std::string_view Bytes(size_t n) {
        if (Left() < n) {
            Fail();
            return {};
        }
        std::string_view s(reinterpret_cast<const char*>(p_), n);
        p_ += n;
        return s;
    }
    uint64_t Varint() {
        uint64_t v = 0;
        for (int shift = 0; shift < 64 && p_ < end_; shift += 7) {
            const unsigned char b = *p_++;
            if (shift == 63 && b > 1) return Fail();
            v |= uint64_t(b & 0x7F) << shift;
            if (!(b & 0x80)) return v;
        }
        return Fail();
    }
    const char* Here() const { return reinterpret_cast<const char*>(p_); }

private:
    uint64_t Fail() {
        ok_ = false;
        p_ = end_;
        return 0;
    }
    const unsigned char* p_;
    const unsigned char* end_;
    bool ok_ = true;
};

struct CCtxFree {
    void operator()(ZSTD_CCtx* c) const { ZSTD_freeCCtx(c); }
};
struct DCtxFree {
    void operator()(ZSTD_DCtx* c) const { ZSTD_freeDCtx(c); }
};

// One compressor per thread, kept between frames: setting up its tables for every small
// catalogue cost more than compressing it. One grown past a few MiB for a large disk is
// let go after its frame rather than held for the life of the program.
thread_local std::unique_ptr<ZSTD_CCtx, CCtxFree> tCompressor;
constexpr size_t kKeptCompressorBytes = size_t(4) << 20;

ZSTD_CCtx* Compressor(int level) {
    if (!tCompressor) tCompressor.reset(ZSTD_createCCtx());
    if (!tCompressor) throw std::bad_alloc();
    ZSTD_CCtx_reset(tCompressor.get(), ZSTD_reset_session_and_parameters);
    ZSTD_CCtx_setParameter(tCompressor.get(), ZSTD_c_checksumFlag, 1);
    ZSTD_CCtx_setParameter(tCompressor.get(), ZSTD_c_compressionLevel, level);
    return tCompressor.get();
}

// Appends one zstd frame of `raw` with its content checksum to out, at the given level.
void AppendFrame(std::string& out, int level, std::string_view raw) {
    ZSTD_CCtx* cctx = Compressor(level);
    const size_t at = out.size();
    out.resize(at + ZSTD_compressBound(raw.size()));
    const size_t n = ZSTD_compress2(cctx, out.data() + at, out.size() - at, raw.data(), raw.size());
    if (ZSTD_sizeof_CCtx(cctx) > kKeptCompressorBytes) tCompressor.reset();
    if (ZSTD_isError(n)) throw std::length_error(ZSTD_getErrorName(n));
    out.resize(at + n);
}

// Compresses what is put into it as one zstd frame of `pledged` bytes, with its content
// checksum, appended to `out`. The bytes pass through a small staging block, so the entries'
// bytes are never whole in memory beside the catalogue.
class FrameSink {
public:
    FrameSink(int level, uint64_t pledged, std::string& out)
        : cctx_(Compressor(level)), out_(out), pledged_(pledged), in_(new char[kStage]),
          outStage_(new char[kStage]) {
        // At most a window of 256 KiB and tables to match: the window and tables are what the
        // encoding holds beside the catalogue. A catalogue of 200,000 entries came out 7%
        // larger than with level 3's own window of 2 MiB, and no smaller from 512 KiB up
        // (zstd makes them smaller still for a smaller catalogue).
        ZSTD_CCtx_setParameter(cctx_, ZSTD_c_windowLog, 18);
        ZSTD_CCtx_setParameter(cctx_, ZSTD_c_hashLog, 15);
        ZSTD_CCtx_setParameter(cctx_, ZSTD_c_chainLog, 14);
        ZSTD_CCtx_setPledgedSrcSize(cctx_, pledged);
        // Room for the largest frame there can be, taken at once: pages not written stay
        // untouched, and the frame is never copied to grow.
        out_.reserve(out_.size() + ZSTD_compressBound(pledged));
    }
    void Put(const void* p, size_t n) {
        const auto* bytes = static_cast<const char*>(p);
        while (n > 0) {
            const size_t k = std::min(n, kStage - used_);
            std::memcpy(in_.get() + used_, bytes, k);
            used_ += k;
            put_ += k;
            bytes += k;
            n -= k;
            if (used_ == kStage) Flush(ZSTD_e_continue);
        }
    }
    void Varint(uint64_t v) {
        if (kStage - used_ < 10) Flush(ZSTD_e_continue);
        const size_t n = static_cast<size_t>(PutVarint(in_.get() + used_, v) - (in_.get() + used_));
        used_ += n;
        put_ += n;
    }
    // Ends the frame; throws std::length_error when the bytes put are not those pledged.
    void End() {
        if (put_ != pledged_) throw std::length_error("catalogue columns");
        Flush(ZSTD_e_end);
        if (ZSTD_sizeof_CCtx(cctx_) > kKeptCompressorBytes) tCompressor.reset();
    }

private:
    // Bytes staged on either side of the compressor (which keeps its own window): small, as
    // zstd takes any amount at a time.
    static constexpr size_t kStage = size_t(32) << 10;

    void Flush(ZSTD_EndDirective mode) {
        ZSTD_inBuffer in{in_.get(), used_, 0};
        for (;;) {
            ZSTD_outBuffer o{outStage_.get(), kStage, 0};
            const size_t left = ZSTD_compressStream2(cctx_, &o, &in, mode);
            if (ZSTD_isError(left)) throw std::length_error(ZSTD_getErrorName(left));
            out_.append(outStage_.get(), o.pos);
            if (mode == ZSTD_e_end ? left == 0 : in.pos == in.size) break;
        }
        used_ = 0;
    }

    ZSTD_CCtx* cctx_;
    std::string& out_;
    uint64_t pledged_, put_ = 0;
    std::unique_ptr<char[]> in_, outStage_;
    size_t used_ = 0;
};

std::string EncodeHeaderBlock(const Catalogue& cat, uint64_t bodyRaw) {
    const DiskFigures& f = cat.header.figures;
    const RecordBinding& b = cat.header.binding;
    std::string h;
    PutU64(h, cat.Count());
    PutU64(h, cat.names.size());
    PutU64(h, bodyRaw);
    PutU32(h, f.complete ? 1 : 0);
    for (uint64_t v : {f.files, f.folders, f.bytes, f.capacity, f.freeBytes, f.walkMillis}) PutU64(h, v);
    PutU64(h, static_cast<uint64_t>(f.walkEnd));
    PutBytes(h, f.fileSystem.substr(0, 255));
    PutBytes(h, f.root.substr(0, 255));
    for (uint64_t v : {b.digestLow, b.digestHigh, b.boundBytes, b.recordSize, b.recordInode}) PutU64(h, v);
    PutU64(h, static_cast<uint64_t>(b.recordMtimeNs));
    PutU64(h, f.unreadEntries);
    for (uint64_t v : {f.hiddenEntries, f.archiveMembers, f.archivesListed, f.archivesUnlisted, f.checksummed,
                       f.contentUnread})
        PutU64(h, v);
    PutU64(h, f.archiveMode);
    return h;
}

bool DecodeHeaderBlock(std::string_view raw, uint32_t version, CatalogueHeader& out, uint64_t& bodyRaw) {
    Reader r(raw.data(), raw.size());
    out.entryCount = r.Fixed(8);
    out.nameBytes = r.Fixed(8);
    bodyRaw = r.Fixed(8);
    const uint32_t flags = static_cast<uint32_t>(r.Fixed(4));
    DiskFigures& f = out.figures;
    f.complete = flags & 1;
    for (uint64_t* v : {&f.files, &f.folders, &f.bytes, &f.capacity, &f.freeBytes, &f.walkMillis}) *v = r.Fixed(8);
    f.walkEnd = static_cast<int64_t>(r.Fixed(8));
    for (std::string* s : {&f.fileSystem, &f.root}) {
        const uint64_t n = r.Fixed(4);
        if (n > 255) return false;
        *s = std::string(r.Bytes(n));
    }
    RecordBinding& b = out.binding;
    for (uint64_t* v : {&b.digestLow, &b.digestHigh, &b.boundBytes, &b.recordSize, &b.recordInode}) *v = r.Fixed(8);
    b.recordMtimeNs = static_cast<int64_t>(r.Fixed(8));
    // Appended to version 1 later: a header written before has none (and no unread entries).
    if (version >= 2 || r.Left() >= 8) f.unreadEntries = r.Fixed(8);
    if (version >= 2) {
        for (uint64_t* v : {&f.hiddenEntries, &f.archiveMembers, &f.archivesListed, &f.archivesUnlisted,
                            &f.checksummed, &f.contentUnread})
            *v = r.Fixed(8);
        // The walk's choices, appended after the counts.
        if (r.Left() >= 8) {
            const uint64_t mode = r.Fixed(8);
            if (mode > 2) return false;
            f.archiveMode = static_cast<uint8_t>(mode);
        }
    }
    // Later versions may append fields; this one reads what it knows. Each count is checked
    // alone before any sum of them, so that no sum can wrap.
    const uint64_t n = out.entryCount;
    if (!r.Ok() || n < 1 || n > UINT32_MAX - 1 || out.nameBytes > UINT32_MAX) return false;
    for (const uint64_t v : {f.files, f.folders, f.unreadEntries, f.hiddenEntries, f.archiveMembers,
                             f.archivesListed, f.archivesUnlisted, f.checksummed, f.contentUnread})
        if (v > n) return false;
    // Members are neither files nor folders; archives, checksums and unread contents are
    // files' (members' too).
    const uint64_t fileLike = f.files + f.archiveMembers;
    return f.files + f.folders + f.archiveMembers == n && f.folders >= 1 &&
           f.archivesListed + f.archivesUnlisted <= fileLike && f.checksummed <= fileLike &&
           f.contentUnread <= fileLike;
}

// Version 2's notes: on archives (listed or not) and on files whose content was not read.
uint64_t MostNotes(const CatalogueHeader& h) {
    const DiskFigures& f = h.figures;
    return f.archivesListed + f.archivesUnlisted + f.contentUnread;
}

} // namespace

EncodedEntries EncodeCatalogueEntries(const Catalogue& cat, int compressionLevel) {
    const size_t n = cat.Count();
    if (n == 0 || n >= UINT32_MAX || cat.names.size() > UINT32_MAX) throw std::length_error("catalogue too large");
    // Columns: kinds, name lengths, names, parent distances, sizes (entries that are not
    // folders), modification times (differences to the entry before, zigzag).
    const bool sums = !cat.checksums.empty();
    if (cat.flags.size() != n || (sums && cat.checksums.size() != n)) throw std::length_error("catalogue columns");
    size_t raw = 2 * n + cat.names.size();
    size_t noted = 0;
    uint64_t after = 0; // notes by entry, ascending (the file gives them in entry order)
    for (const auto& [entry, note] : cat.notes) {
        if (entry >= n || entry < after || !(cat.flags[entry] & kEntryNoted) || note.empty() ||
            note.size() > kMaxNoteBytes)
            throw std::length_error("catalogue notes");
        after = uint64_t(entry) + 1;
        raw += VarintSize(note.size()) + note.size();
        ++noted;
    }
    for (size_t i = 0; i < n; ++i) {
        if (cat.flags[i] & kEntryNoted) --noted;
        if ((cat.flags[i] & kEntryChecksummed) && !sums) throw std::length_error("catalogue checksums");
        if (cat.flags[i] & kEntryChecksummed) raw += 16;
    }
    if (noted != 0) throw std::length_error("catalogue notes");
    int64_t prevTime = 0;
    for (size_t i = 0; i < n; ++i) {
        raw += VarintSize(cat.nameStart[i + 1] - cat.nameStart[i]);
        if (i > 0) raw += VarintSize(i - cat.parent[i]);
        if (cat.kind[i] != static_cast<uint8_t>(EntryKind::Folder)) raw += VarintSize(cat.size[i]);
        raw += VarintSize(ZigZag(TimeStep(cat.mtime[i], prevTime)));
        prevTime = cat.mtime[i];
    }
    EncodedEntries e;
    e.rawBytes = raw;
    FrameSink body(compressionLevel, raw, e.frame);
    body.Put(cat.kind.data(), n); // n >= 1
    for (size_t i = 0; i < n; ++i) body.Varint(cat.nameStart[i + 1] - cat.nameStart[i]);
    body.Put(cat.names.data(), cat.names.size());
    for (size_t i = 1; i < n; ++i) body.Varint(i - cat.parent[i]);
    for (size_t i = 0; i < n; ++i)
        if (cat.kind[i] != static_cast<uint8_t>(EntryKind::Folder)) body.Varint(cat.size[i]);
    prevTime = 0;
    for (size_t i = 0; i < n; ++i) {
        body.Varint(ZigZag(TimeStep(cat.mtime[i], prevTime)));
        prevTime = cat.mtime[i];
    }
    body.Put(cat.flags.data(), n);
    for (const auto& note : cat.notes) {
        body.Varint(note.second.size());
        body.Put(note.second.data(), note.second.size());
    }
    for (size_t i = 0; i < n; ++i)
        if (cat.flags[i] & kEntryChecksummed) body.Put(cat.checksums[i].data(), 16);
    body.End();
    return e;
}

namespace {

// The file up to its entries' frame: preamble, lengths and header block.
std::string EncodeCatalogueHead(const Catalogue& cat, const EncodedEntries& entries, int compressionLevel = 3) {
    std::string out(kCatalogueMagic, sizeof kCatalogueMagic);
    PutU32(out, kCatalogueVersion);
    out.resize(kCataloguePreamble);
    AppendFrame(out, compressionLevel, EncodeHeaderBlock(cat, entries.rawBytes));
    const uint64_t headerLen = out.size() - kCataloguePreamble;
    std::string lengths;
    PutU32(lengths, static_cast<uint32_t>(headerLen));
    PutU64(lengths, entries.frame.size());
    out.replace(12, lengths.size(), lengths);
    return out;
}

} // namespace

std::string EncodeCatalogue(const Catalogue& cat, const EncodedEntries& entries, int compressionLevel) {
    return EncodeCatalogueHead(cat, entries, compressionLevel) + entries.frame;
}

std::string EncodeCatalogue(const Catalogue& cat, int compressionLevel) {
    return EncodeCatalogue(cat, EncodeCatalogueEntries(cat, compressionLevel), compressionLevel);
}

namespace {

// The content size one whole zstd frame announces; nothing when the bytes are not exactly
// one frame with its size.
std::optional<uint64_t> FrameContentSize(std::string_view frame) {
    const unsigned long long announced = ZSTD_getFrameContentSize(frame.data(), frame.size());
    if (announced == ZSTD_CONTENTSIZE_UNKNOWN || announced == ZSTD_CONTENTSIZE_ERROR) return std::nullopt;
    if (ZSTD_findFrameCompressedSize(frame.data(), frame.size()) != frame.size()) return std::nullopt;
    return announced;
}

// Decompresses one frame into out[0, size): false unless it gives exactly `size` bytes.
// One context per thread, made once: a package's catalogues are read one after the other.
bool Decompress(std::string_view frame, char* out, size_t size) {
    thread_local std::unique_ptr<ZSTD_DCtx, DCtxFree> dctx;
    if (!dctx) dctx.reset(ZSTD_createDCtx());
    if (!dctx) throw std::bad_alloc();
    const size_t n = ZSTD_decompressDCtx(dctx.get(), out, size, frame.data(), frame.size());
    return !ZSTD_isError(n) && n == size;
}

// The fewest and the most bytes the entries block can take for the header's counts: per
// entry a kind byte, a name length, a time and (all but the root) a parent distance, per
// entry that is not a folder a size, and the names. Lengths and distances are below 2^32
// (1 to 5 bytes of LEB128), sizes and times 64 bits (1 to 10 bytes).
// Version 2 adds a flags byte per entry, 16 bytes per checksum and the notes (each a
// length of 1 or 2 bytes and 1 to kMaxNoteBytes bytes), and members that are not folders
// have sizes too.
uint64_t FewestEntryBytes(const CatalogueHeader& h) {
    const uint64_t n = h.entryCount;
    const uint64_t v1 = 3 * n + (n - 1) + h.figures.files + h.nameBytes;
    if (h.version < 2) return v1;
    return v1 + n + 16 * h.figures.checksummed + 2 * (h.figures.archivesUnlisted + h.figures.contentUnread);
}
uint64_t MostEntryBytes(const CatalogueHeader& h) {
    const uint64_t n = h.entryCount;
    if (h.version < 2) return 16 * n + 5 * (n - 1) + 10 * h.figures.files + h.nameBytes;
    return 16 * n + 5 * (n - 1) + 10 * (h.figures.files + h.figures.archiveMembers) + h.nameBytes + n +
           16 * h.figures.checksummed + (2 + kMaxNoteBytes) * MostNotes(h);
}

// Bytes the columns take in memory beyond the names: 25 an entry for kinds, name offsets,
// parents, sizes and times, a flags byte, 16 for checksums when the disk has any, and a
// string per note.
uint64_t ColumnBytes(const CatalogueHeader& h) {
    const uint64_t n = h.entryCount;
    return 26 * n + (h.figures.checksummed ? 16 * n : 0) + 48 * MostNotes(h) + h.nameBytes;
}

// The memory of this machine: a catalogue that needs more cannot be read here, whatever
// else is free.
uint64_t PhysicalMemory() {
    static const uint64_t bytes = [] {
        const long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGE_SIZE);
        return pages > 0 && page > 0 ? uint64_t(pages) * uint64_t(page) : UINT64_MAX;
    }();
    return bytes;
}

struct Parsed {
    CatalogueHeader header;
    uint64_t bodyRaw = 0;   // the entries block decompressed, as the header gives it
    uint64_t bodyAt = 0;    // where the entries block's frame starts in the file
    uint64_t bodyLen = 0;   // its length, as the preamble gives it
    uint64_t fileSize = 0;  // what the preamble's lengths add up to
};

// The preamble and the header block, from `bytes` (which may end after the header block).
// Every claim the two make about the entries is checked against the others before anything
// is allocated for the entries: the file size is the caller's to compare.
std::optional<Parsed> ParsePreamble(std::string_view bytes, CatalogueProblem& problem) {
    problem = CatalogueProblem::Damaged;
    if (bytes.size() < kCataloguePreamble || std::memcmp(bytes.data(), kCatalogueMagic, sizeof kCatalogueMagic) != 0)
        return std::nullopt;
    Reader r(bytes.data() + 8, kCataloguePreamble - 8);
    const uint64_t version = r.Fixed(4);
    if (version != 1 && version != kCatalogueVersion) {
        problem = CatalogueProblem::Unsupported;
        return std::nullopt;
    }
    const uint64_t headerLen = r.Fixed(4), bodyLen = r.Fixed(8);
    if (headerLen == 0 || headerLen > kMaxHeaderBlock || bodyLen == 0 || bodyLen > kMaxBody) return std::nullopt;
    if (bytes.size() < kCataloguePreamble + headerLen) return std::nullopt;
    Parsed p;
    p.header.version = static_cast<uint32_t>(version);
    p.bodyAt = kCataloguePreamble + headerLen;
    p.bodyLen = bodyLen;
    p.fileSize = p.bodyAt + bodyLen;
    const std::string_view frame = bytes.substr(kCataloguePreamble, headerLen);
    const auto headerRaw = FrameContentSize(frame);
    if (!headerRaw || *headerRaw == 0 || *headerRaw > kMaxHeaderBlock) return std::nullopt;
    std::string raw(*headerRaw, '\0');
    if (!Decompress(frame, raw.data(), raw.size()) || !DecodeHeaderBlock(raw, p.header.version, p.header, p.bodyRaw))
        return std::nullopt;
    const CatalogueHeader& h = p.header;
    if (p.bodyRaw < FewestEntryBytes(h) || p.bodyRaw > MostEntryBytes(h) || p.bodyRaw > bodyLen * kMaxRatio ||
        bodyLen > ZSTD_compressBound(p.bodyRaw))
        return std::nullopt;
    // Reading takes the frame, its content and the column arrays.
    if (bodyLen + p.bodyRaw + ColumnBytes(h) > PhysicalMemory()) {
        problem = CatalogueProblem::TooLarge;
        return std::nullopt;
    }
    problem = CatalogueProblem::None;
    return p;
}

bool Add(uint64_t& sum, uint64_t v) { return !__builtin_add_overflow(sum, v, &sum); }

bool DecodeBody(std::string_view body, Catalogue& c) {
    const size_t n = c.header.entryCount;
    const bool v2 = c.header.version >= 2;
    const DiskFigures& fig = c.header.figures;
    Reader r(body.data(), body.size());
    const std::string_view kinds = r.Bytes(n);
    if (!r.Ok()) return false;
    c.kind.assign(kinds.begin(), kinds.end());
    if (c.kind[0] != static_cast<uint8_t>(EntryKind::Folder)) return false;
    for (uint8_t k : c.kind)
        if (k >= kEntryKindCount) return false;

    c.nameStart.resize(n + 1);
    uint64_t at = 0;
    c.nameStart[0] = 0;
    for (size_t i = 0; i < n; ++i) {
        const uint64_t len = r.Varint();
        // Only the root has an empty name.
        if ((len == 0) != (i == 0) || len > c.header.nameBytes - at) return false;
        at += len;
        c.nameStart[i + 1] = static_cast<uint32_t>(at);
    }
    if (!r.Ok() || at != c.header.nameBytes) return false;
    const std::string_view names = r.Bytes(at);
    if (!r.Ok()) return false;
    // A name is one path component: no "/" and no NUL.
    if (std::memchr(names.data(), '/', names.size()) || std::memchr(names.data(), '\0', names.size())) return false;
    c.names.assign(names.begin(), names.end());

    // Parents are checked once the flags are known (a version-2 archive holds entries too).
    c.parent.resize(n);
    c.parent[0] = kNoParent;
    for (size_t i = 1; i < n; ++i) {
        const uint64_t d = r.Varint();
        if (d == 0 || d > i) return false;
        c.parent[i] = static_cast<uint32_t>(i - d);
    }
    c.size.assign(n, 0);
    for (size_t i = 0; i < n; ++i)
        if (c.kind[i] != static_cast<uint8_t>(EntryKind::Folder)) c.size[i] = r.Varint();
    c.mtime.resize(n);
    int64_t time = 0;
    for (size_t i = 0; i < n; ++i) {
        time = static_cast<int64_t>(static_cast<uint64_t>(time) + static_cast<uint64_t>(UnZigZag(r.Varint())));
        c.mtime[i] = time;
    }
    if (!r.Ok()) return false;
    if (v2) {
        const std::string_view flags = r.Bytes(n);
        if (!r.Ok()) return false;
        c.flags.assign(flags.begin(), flags.end());
    } else {
        c.flags.assign(n, 0);
    }

    // What each entry is, against its parent and the header's counts.
    const auto folder = static_cast<uint8_t>(EntryKind::Folder), file = static_cast<uint8_t>(EntryKind::File);
    uint64_t folders = 0, hidden = 0, members = 0, archives = 0, unlisted = 0, sums = 0, notedFiles = 0, notes = 0;
    if (c.flags[0] != 0) return false;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t f = c.flags[i], k = c.kind[i];
        if (f & ~kEntryFlagsKnown) return false;
        if ((f & (kEntryArchive | kEntryChecksummed | kEntryNoted)) && k != file) return false;
        if ((f & kEntryPartial) && !(f & kEntryArchive)) return false;
        if (i > 0) {
            const uint32_t p = c.parent[i];
            const uint8_t pf = c.flags[p];
            if (c.kind[p] != folder && !(pf & kEntryArchive)) return false;
            // Inside an archive everything is a member, and nothing else is; below a hidden
            // folder everything is hidden.
            if (((f & kEntryMember) != 0) != ((pf & (kEntryMember | kEntryArchive)) != 0)) return false;
            if ((pf & kEntryHidden) && !(f & kEntryHidden)) return false;
        }
        if (f & kEntryMember) ++members;
        else folders += k == folder;
        hidden += f & kEntryHidden ? 1 : 0;
        sums += f & kEntryChecksummed ? 1 : 0;
        if (f & kEntryNoted) {
            ++notes;
            if (!(f & kEntryArchive)) ++notedFiles;
            else if (!(f & kEntryPartial)) ++unlisted;
        }
        archives += f & kEntryArchive ? 1 : 0;
    }
    if (folders != fig.folders || hidden != fig.hiddenEntries || members != fig.archiveMembers ||
        sums != fig.checksummed || notedFiles != fig.contentUnread || unlisted != fig.archivesUnlisted ||
        archives != fig.archivesListed + fig.archivesUnlisted)
        return false;

    // Notes, in entry order; each takes at least 2 bytes, so their count is checked against
    // the bytes left before any room is made for them.
    if (notes > r.Left() / 2) return false;
    c.notes.clear();
    c.notes.reserve(notes);
    for (size_t i = 0; i < n && notes > 0; ++i) {
        if (!(c.flags[i] & kEntryNoted)) continue;
        const uint64_t len = r.Varint();
        if (len == 0 || len > kMaxNoteBytes || len > r.Left()) return false;
        c.notes.emplace_back(static_cast<uint32_t>(i), std::string(r.Bytes(len)));
        --notes;
    }
    // Checksums, the last column: exactly 16 bytes for each flagged entry are left.
    if (!r.Ok() || r.Left() / 16 != sums || r.Left() % 16 != 0) return false;
    c.checksums.clear();
    if (sums > 0) {
        c.checksums.resize(n);
        for (size_t i = 0; i < n; ++i)
            if (c.flags[i] & kEntryChecksummed) std::memcpy(c.checksums[i].data(), r.Bytes(16).data(), 16);
    }
    if (!r.Ok() || r.Left() != 0) return false;
    // Folder totals, and the figures the header promises.
    for (size_t i = n; i-- > 1;)
        if (SumsIntoParent(c, i) && !Add(c.size[c.parent[i]], c.size[i])) return false;
    return c.size[0] == fig.bytes;
}

} // namespace

namespace {

// The entries block's frame as the header announced it.
std::optional<Catalogue> DecodeEntries(const Parsed& p, std::string_view frame, CatalogueProblem& problem) {
    problem = CatalogueProblem::Damaged;
    const auto announced = FrameContentSize(frame);
    if (!announced || *announced != p.bodyRaw) return std::nullopt;
    // Not zeroed first: only the pages the frame really fills are ever touched.
    const std::unique_ptr<char[]> body(new char[p.bodyRaw]);
    if (!Decompress(frame, body.get(), p.bodyRaw)) return std::nullopt;
    Catalogue c;
    c.header = p.header;
    if (!DecodeBody(std::string_view(body.get(), p.bodyRaw), c)) return std::nullopt;
    problem = CatalogueProblem::None;
    return c;
}

// Reads up to `n` bytes at `offset`; false (Unreadable) on an error, fewer bytes at the end.
bool ReadAt(int fd, uint64_t offset, size_t n, std::string& out, CatalogueProblem& problem) {
    out.resize(n);
    size_t done = 0;
    while (done < n) {
        const ssize_t got = pread(fd, out.data() + done, n - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            problem = CatalogueProblem::Unreadable;
            return false;
        }
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    out.resize(done);
    return true;
}

// An open catalogue file whose preamble and header are read and agree with its size; the
// entries are not read yet.
class OpenedFile {
public:
    explicit OpenedFile(const std::string& path)
        : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)), openError_(fd_ < 0 ? errno : 0) {}
    ~OpenedFile() {
        if (fd_ >= 0) close(fd_);
    }
    OpenedFile(const OpenedFile&) = delete;
    OpenedFile& operator=(const OpenedFile&) = delete;

    std::optional<Parsed> Head(CatalogueProblem& problem) {
        if (fd_ < 0) {
            problem = openError_ == ENOENT || openError_ == ENOTDIR ? CatalogueProblem::Missing
                                                                    : CatalogueProblem::Unreadable;
            return std::nullopt;
        }
        struct stat st;
        if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
            problem = CatalogueProblem::Unreadable;
            return std::nullopt;
        }
        // Never more than the preamble and the largest header block, whatever the file's size.
        std::string head;
        const uint64_t size = static_cast<uint64_t>(st.st_size);
        if (!ReadAt(fd_, 0, static_cast<size_t>(std::min<uint64_t>(size, kCataloguePreamble + kMaxHeaderBlock)), head,
                    problem))
            return std::nullopt;
        auto p = ParsePreamble(head, problem);
        if (!p) return std::nullopt;
        // A file cut short or grown (a failed copy, a file-system fault) is damaged before
        // its entries are read.
        if (p->fileSize != size) {
            problem = CatalogueProblem::Damaged;
            return std::nullopt;
        }
        return p;
    }
    bool Read(uint64_t offset, size_t n, std::string& out, CatalogueProblem& problem) {
        return ReadAt(fd_, offset, n, out, problem);
    }

private:
    int fd_;
    int openError_;
};

} // namespace

std::optional<CatalogueHeader> DecodeCatalogueHeader(std::string_view bytes, CatalogueProblem& problem,
                                                     uint64_t* fileSize) {
    try {
        auto p = ParsePreamble(bytes, problem);
        if (!p) return std::nullopt;
        if (fileSize) *fileSize = p->fileSize;
        return p->header;
    } catch (const std::bad_alloc&) {
        problem = CatalogueProblem::TooLarge;
        return std::nullopt;
    }
}

std::optional<Catalogue> DecodeCatalogue(std::string_view bytes, CatalogueProblem& problem) {
    try {
        auto p = ParsePreamble(bytes, problem);
        if (!p) return std::nullopt;
        if (bytes.size() != p->fileSize) {
            problem = CatalogueProblem::Damaged;
            return std::nullopt;
        }
        return DecodeEntries(*p, bytes.substr(p->bodyAt), problem);
    } catch (const std::bad_alloc&) {
        problem = CatalogueProblem::TooLarge;
        return std::nullopt;
    }
}

std::optional<Catalogue> ReadCatalogueFile(const std::string& path, CatalogueProblem& problem) {
    try {
        OpenedFile file(path);
        const auto p = file.Head(problem);
        if (!p) return std::nullopt;
        std::string frame;
        if (!file.Read(p->bodyAt, p->bodyLen, frame, problem)) return std::nullopt;
        if (frame.size() != p->bodyLen) { // cut short since
            problem = CatalogueProblem::Damaged;
            return std::nullopt;
        }
        return DecodeEntries(*p, frame, problem);
    } catch (const std::bad_alloc&) {
        problem = CatalogueProblem::TooLarge;
        return std::nullopt;
    }
}

std::optional<CatalogueHeader> ReadCatalogueHeaderFile(const std::string& path, CatalogueProblem& problem) {
    try {
        OpenedFile file(path);
        auto p = file.Head(problem);
        if (!p) return std::nullopt;
        return std::move(p->header);
    } catch (const std::bad_alloc&) {
        problem = CatalogueProblem::TooLarge;
        return std::nullopt;
    }
}

void WriteCatalogueFile(const std::string& path, const Catalogue& cat, unsigned mode, const EncodedEntries* entries) {
    // The head and the entries' frame are written one after the other: the frame, most of
    // the file, is never copied.
    EncodedEntries own;
    std::string head;
    try {
        if (!entries) {
            own = EncodeCatalogueEntries(cat);
            entries = &own;
        }
        head = EncodeCatalogueHead(cat, *entries);
    } catch (const std::length_error&) {
        throw EFileError(Format("Cannot create file %s", path));
    }
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) throw EFileError(Format("Cannot create file %s", path));
    bool ok = true;
    for (const std::string_view part : {std::string_view(head), std::string_view(entries->frame)})
        for (size_t done = 0; ok && done < part.size();) {
            const ssize_t n = write(fd, part.data() + done, part.size() - done);
            if (n < 0 && errno == EINTR) continue;
            ok = n > 0;
            if (ok) done += static_cast<size_t>(n);
        }
    ok = ok && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok) {
        unlink(path.c_str());
        throw EFileError(Format("Cannot create file %s", path));
    }
}

} // namespace quindle
