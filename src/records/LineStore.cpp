#include "records/LineStore.h"

#include <algorithm>

namespace quindle {

namespace {

bool HoldsBracket(std::string_view line) { return line.find('[') != std::string_view::npos; }

} // namespace

// ---- one chunk ------------------------------------------------------------------------

void TLineStore::Chunk::Push(std::string_view line) {
    if (count > 0) starts.push_back(static_cast<uint16_t>(text.size()));
    text.append(line);
    SetBit(count++, HoldsBracket(line));
}

void TLineStore::Chunk::SetBit(uint32_t j, bool on) {
    const uint64_t m = uint64_t(1) << (j % 64);
    uint64_t& w = bits[j / 64];
    if (((w & m) != 0) == on) return;
    w ^= m;
    if (on)
        ++brackets;
    else
        --brackets;
}

// Lines from j on move down one; line j gets `on`. Callers keep count below kChunkLines.
void TLineStore::Chunk::InsertBit(uint32_t j, bool on) {
    const uint32_t w0 = j / 64;
    for (uint32_t w = count / 64; w > w0; --w) bits[w] = (bits[w] << 1) | (bits[w - 1] >> 63);
    const uint64_t low = (uint64_t(1) << (j % 64)) - 1;
    bits[w0] = (bits[w0] & low) | ((bits[w0] & ~low) << 1) | (uint64_t(on) << (j % 64));
    if (on) ++brackets;
}

uint32_t TLineStore::Chunk::NextBit(uint32_t j) const {
    if (brackets == 0) return count;
    for (uint32_t w = j / 64; w * 64 < count; ++w) {
        uint64_t x = bits[w];
        if (w == j / 64) x &= ~uint64_t(0) << (j % 64);
        if (x) return std::min(count, w * 64 + static_cast<uint32_t>(__builtin_ctzll(x)));
    }
    return count;
}

uint32_t TLineStore::Chunk::PrevBit(uint32_t j) const {
    if (brackets == 0) return count;
    for (uint32_t w = (j + 63) / 64; w-- > 0;) {
        uint64_t x = bits[w];
        if (w == j / 64) x &= (uint64_t(1) << (j % 64)) - 1;
        if (x) return w * 64 + 63 - static_cast<uint32_t>(__builtin_clzll(x));
    }
    return count;
}

// ---- the store ------------------------------------------------------------------------

TLineStore::Place TLineStore::Locate(size_t i) const {
    if (hint_ < chunks_.size() && first_[hint_] <= i && i - first_[hint_] < chunks_[hint_]->count)
        return {hint_, static_cast<uint32_t>(i - first_[hint_])};
    const size_t c = static_cast<size_t>(std::upper_bound(first_.begin(), first_.end(), i) - first_.begin()) - 1;
    hint_ = c;
    return {c, static_cast<uint32_t>(i - first_[c])};
}

std::string_view TLineStore::operator[](size_t i) const {
    const Place p = Locate(i);
    return chunks_[p.chunk]->Line(p.line);
}

bool TLineStore::HasBracket(size_t i) const {
    const Place p = Locate(i);
    return chunks_[p.chunk]->Bit(p.line);
}

size_t TLineStore::NextBracket(size_t after) const {
    const size_t i = after == npos ? 0 : after + 1;
    if (lastBracket_ == npos || i > lastBracket_) return count_;
    const Place p = Locate(i);
    for (size_t c = p.chunk; c < chunks_.size(); ++c) {
        const Chunk& ch = *chunks_[c];
        const uint32_t j = ch.NextBit(c == p.chunk ? p.line : 0);
        if (j < ch.count) return first_[c] + j;
    }
    return count_;
}

size_t TLineStore::PrevBracket(size_t before) const {
    if (lastBracket_ == npos) return npos;
    return lastBracket_ < before ? lastBracket_ : ScanBack(before);
}

size_t TLineStore::ScanBack(size_t before) const {
    if (before == 0) return npos;
    const Place p = before >= count_ ? Place{chunks_.size() - 1, chunks_.back()->count} : Locate(before);
    for (size_t c = p.chunk + 1; c-- > 0;) {
        const Chunk& ch = *chunks_[c];
        const uint32_t j = ch.PrevBit(c == p.chunk ? p.line : ch.count);
        if (j < ch.count) return first_[c] + j;
    }
    return npos;
}

// A chunk that takes no more lines gives back the room its buffers grew into.
void TLineStore::Seal(Chunk& c) {
    if (c.text.capacity() - c.text.size() > 4096) c.text.shrink_to_fit();
    if (c.starts.capacity() - c.starts.size() > 64) c.starts.shrink_to_fit();
}

TLineStore::Chunk& TLineStore::NewChunk() {
    if (!chunks_.empty()) Seal(*chunks_.back());
    chunks_.push_back(std::make_unique<Chunk>());
    first_.push_back(count_);
    return *chunks_.back();
}

void TLineStore::Touched(size_t chunk) { bytesValid_ = std::min(bytesValid_, chunk + 1); }

void TLineStore::BracketAdded(size_t i) {
    if (lastBracket_ == npos || i > lastBracket_) lastBracket_ = i;
}

void TLineStore::Append(std::string_view line) {
    Chunk& ch = chunks_.empty() || !chunks_.back()->Fits(line.size()) ? NewChunk() : *chunks_.back();
    ch.Push(line);
    if (ch.Bit(ch.count - 1)) BracketAdded(count_);
    ++count_;
    textBytes_ += line.size();
    Touched(chunks_.size() - 1);
}

void TLineStore::Append(std::string&& line) {
    if (line.size() <= kChunkBytes) {
        Append(std::string_view(line));
        return;
    }
    Chunk& ch = NewChunk();
    ch.text = std::move(line);
    if (ch.text.capacity() - ch.text.size() > ch.text.size() / 4) ch.text.shrink_to_fit();
    ch.count = 1;
    ch.SetBit(0, HoldsBracket(ch.text));
    if (ch.Bit(0)) BracketAdded(count_);
    ++count_;
    textBytes_ += ch.text.size();
    Touched(chunks_.size() - 1);
}

void TLineStore::Repack(size_t c, const std::vector<std::string>& lines) {
    std::vector<std::unique_ptr<Chunk>> made;
    made.push_back(std::make_unique<Chunk>());
    for (const std::string& l : lines) {
        if (!made.back()->Fits(l.size())) {
            Seal(*made.back());
            made.push_back(std::make_unique<Chunk>());
        }
        made.back()->Push(l);
    }
    const size_t oldCount = chunks_[c]->count;
    std::vector<size_t> firsts;
    for (size_t at = first_[c]; const auto& m : made) {
        firsts.push_back(at);
        at += m->count;
    }
    chunks_.erase(chunks_.begin() + static_cast<ptrdiff_t>(c));
    first_.erase(first_.begin() + static_cast<ptrdiff_t>(c));
    chunks_.insert(chunks_.begin() + static_cast<ptrdiff_t>(c), std::make_move_iterator(made.begin()),
                   std::make_move_iterator(made.end()));
    first_.insert(first_.begin() + static_cast<ptrdiff_t>(c), firsts.begin(), firsts.end());
    // The chunks after the rebuilt ones move by the lines it gained.
    const size_t gained = lines.size() - oldCount;
    for (size_t k = c + made.size(); k < first_.size(); ++k) first_[k] += gained;
    hint_ = c;
}

void TLineStore::Insert(size_t at, std::string_view line) {
    if (at >= count_) {
        Append(line);
        return;
    }
    const Place p = Locate(at);
    Chunk& ch = *chunks_[p.chunk];
    const bool bracket = HoldsBracket(line);
    if (ch.count < kChunkLines && ch.text.size() + line.size() <= kChunkBytes) {
        const size_t s = ch.Start(p.line);
        ch.text.insert(s, line);
        // Lines from p.line on start line.size() bytes later; the new line starts at s.
        const size_t from = p.line == 0 ? 0 : p.line - 1;
        for (size_t k = from; k < ch.starts.size(); ++k) ch.starts[k] = static_cast<uint16_t>(ch.starts[k] + line.size());
        ch.starts.insert(ch.starts.begin() + static_cast<ptrdiff_t>(from),
                         static_cast<uint16_t>(p.line == 0 ? line.size() : s));
        ch.InsertBit(p.line, bracket);
        ++ch.count;
        for (size_t k = p.chunk + 1; k < first_.size(); ++k) ++first_[k];
    } else {
        std::vector<std::string> lines;
        lines.reserve(ch.count + 1);
        for (uint32_t j = 0; j < ch.count; ++j) {
            if (j == p.line) lines.emplace_back(line);
            lines.emplace_back(ch.Line(j));
        }
        Repack(p.chunk, lines);
    }
    ++count_;
    textBytes_ += line.size();
    if (lastBracket_ != npos && lastBracket_ >= at) ++lastBracket_;
    if (bracket) BracketAdded(at);
    Touched(p.chunk);
}

void TLineStore::Replace(size_t at, std::string_view line) {
    const Place p = Locate(at);
    Chunk& ch = *chunks_[p.chunk];
    const size_t s = ch.Start(p.line), oldLen = ch.End(p.line) - s;
    const bool had = ch.Bit(p.line), bracket = HoldsBracket(line);
    if (ch.count == 1 || ch.text.size() - oldLen + line.size() <= kChunkBytes) {
        ch.text.replace(s, oldLen, line);
        for (size_t k = p.line; k < ch.starts.size(); ++k)
            ch.starts[k] = static_cast<uint16_t>(ch.starts[k] - oldLen + line.size());
        ch.SetBit(p.line, bracket);
    } else {
        std::vector<std::string> lines;
        lines.reserve(ch.count);
        for (uint32_t j = 0; j < ch.count; ++j) lines.emplace_back(j == p.line ? line : ch.Line(j));
        Repack(p.chunk, lines);
    }
    textBytes_ = textBytes_ - oldLen + line.size();
    if (bracket) {
        BracketAdded(at);
    } else if (had && lastBracket_ == at) {
        // The last "[" line lost its bracket: the one before it is the last now.
        lastBracket_ = ScanBack(at);
    }
    Touched(p.chunk);
}

uint64_t TLineStore::BytesBefore(size_t line) const {
    if (line >= count_) return Bytes();
    const Place p = Locate(line);
    if (bytesBefore_.size() < chunks_.size()) bytesBefore_.resize(chunks_.size());
    if (bytesValid_ == 0) {
        bytesBefore_[0] = 0;
        bytesValid_ = 1;
    }
    for (; bytesValid_ <= p.chunk; ++bytesValid_) {
        const Chunk& prev = *chunks_[bytesValid_ - 1];
        bytesBefore_[bytesValid_] = bytesBefore_[bytesValid_ - 1] + prev.text.size() + 2 * uint64_t(prev.count);
    }
    return bytesBefore_[p.chunk] + chunks_[p.chunk]->Start(p.line) + 2 * uint64_t(p.line);
}

} // namespace quindle
