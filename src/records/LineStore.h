#pragma once
// TLineStore: the lines of a record held in memory compactly enough that any file fits
// in a small multiple of its size, whatever its shape (a file of bare line breaks has
// one line per byte; a file may be one line of hundreds of megabytes).
//
// The lines are kept in chunks of up to kChunkLines lines. A chunk holds its lines'
// bytes back to back in one buffer, a 16-bit start offset per line after its first, and
// one bit per line telling whether the line holds "[". A chunk of more than one line
// keeps its text within kChunkBytes, so that the 16-bit offsets reach; a longer line
// gets a chunk of its own. An empty line costs about two bytes and a bit.
//
// Line indices are 0-based and the chunk of a line is found by a binary search over the
// chunks' first lines (with a one-chunk cache for runs of nearby lookups). Appending is
// O(1) amortised; inserting or replacing a line moves bytes within one chunk only, and
// an insert renumbers the later chunks' first lines.
//
// A view returned by operator[] or given to ForEach stays valid until the next change.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quindle {

class TLineStore {
public:
    static constexpr uint32_t kChunkLines = 1024;
    static constexpr size_t kChunkBytes = 65535;
    static constexpr size_t npos = static_cast<size_t>(-1);

    size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    std::string_view operator[](size_t i) const;
    bool HasBracket(size_t i) const;
    // The first line after `after` that holds "[", or size(); after may be npos (from the start).
    size_t NextBracket(size_t after) const;
    // The last line before `before` that holds "[", or npos.
    size_t PrevBracket(size_t before) const;

    void Append(std::string_view line);
    // Takes the buffer over when the line needs a chunk of its own (no copy of a long line).
    void Append(std::string&& line);
    void Insert(size_t at, std::string_view line); // at <= size()
    void Replace(size_t at, std::string_view line);

    // Size of the lines as saved, each followed by CR LF: all of them, or those before `line`.
    uint64_t Bytes() const { return textBytes_ + 2 * static_cast<uint64_t>(count_); }
    uint64_t BytesBefore(size_t line) const;

    // Calls fn(index, line) for the lines from `from` on, in order, while fn returns true.
    template <class Fn> void ForEach(size_t from, Fn fn) const;

private:
    struct Chunk {
        std::string text;
        std::vector<uint16_t> starts; // starts[j - 1]: offset in text of line j >= 1
        uint32_t count = 0;
        uint32_t brackets = 0; // lines holding "["
        uint64_t bits[kChunkLines / 64] = {};

        size_t Start(uint32_t j) const { return j == 0 ? 0 : starts[j - 1]; }
        size_t End(uint32_t j) const { return j + 1 == count ? text.size() : starts[j]; }
        std::string_view Line(uint32_t j) const {
            const size_t s = Start(j);
            return std::string_view(text).substr(s, End(j) - s);
        }
        bool Bit(uint32_t j) const { return (bits[j / 64] >> (j % 64)) & 1; }
        bool Fits(size_t len) const { return count == 0 || (count < kChunkLines && text.size() + len <= kChunkBytes); }
        void Push(std::string_view line);
        void SetBit(uint32_t j, bool on);
        void InsertBit(uint32_t j, bool on);
        // First line at or after j holding "[", or count.
        uint32_t NextBit(uint32_t j) const;
        // Last line before j holding "[", or count.
        uint32_t PrevBit(uint32_t j) const;
    };
    struct Place {
        size_t chunk;
        uint32_t line;
    };

    Place Locate(size_t i) const;
    Chunk& NewChunk();
    void Seal(Chunk& c);
    void Touched(size_t chunk);
    // Rebuilds chunk c from `lines` (its lines with an edit applied), over as many chunks as needed.
    void Repack(size_t c, const std::vector<std::string>& lines);
    void Renumber(size_t fromChunk);
    void BracketAdded(size_t i);
    size_t ScanBack(size_t before) const; // PrevBracket without the shortcut

    std::vector<std::unique_ptr<Chunk>> chunks_;
    std::vector<size_t> first_; // index of each chunk's first line
    size_t count_ = 0;
    uint64_t textBytes_ = 0;
    size_t lastBracket_ = npos; // the last line holding "["
    mutable size_t hint_ = 0;   // chunk of the last lookup
    // bytesBefore_[c]: saved size of the chunks before c, valid for c < bytesValid_.
    mutable std::vector<uint64_t> bytesBefore_;
    mutable size_t bytesValid_ = 0;
};

template <class Fn> void TLineStore::ForEach(size_t from, Fn fn) const {
    if (from >= count_) return;
    Place p = Locate(from);
    size_t index = from;
    for (size_t c = p.chunk; c < chunks_.size(); ++c) {
        const Chunk& ch = *chunks_[c];
        for (uint32_t j = c == p.chunk ? p.line : 0; j < ch.count; ++j, ++index)
            if (!fn(index, ch.Line(j))) return;
    }
}

} // namespace quindle
