#include "search/CountOccurrences.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/CodePage.h"
#include "platform/Errors.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QUINDLE_X86_SIMD 1
#endif

namespace quindle {

namespace {

// The search upper-cases text and word and the matcher then folds to lower case, so two
// bytes are equal when this composition maps them to the same code.
const std::array<uint8_t, 256>& SearchFold() {
    static const std::array<uint8_t, 256> table = [] {
        std::array<uint8_t, 256> t{};
        for (int c = 0; c < 256; ++c) t[c] = LowerByte(UpperByte(static_cast<unsigned char>(c)));
        return t;
    }();
    return table;
}

// The raw bytes that fold to one code, as a test the vector filter can make in two
// instructions: byte b belongs when (b | orBits) == target. That covers a code with one raw
// form (orBits 0) and a pair differing in one bit (a letter: 'A' and 'a' differ in 0x20).
struct ByteClass {
    uint8_t orBits = 0;
    uint8_t target = 0;
};

// The folded word plus what the vector filter needs for its first and last character.
struct Needle {
    const uint8_t* fold = nullptr;
    std::string word; // folded
    size_t m = 0;
    ByteClass first, last;
    bool filterable = true; // false when a code's raw forms do not fit a ByteClass
    // The word's first 16 characters as ByteClasses, for checking a candidate with one
    // vector compare; lanes past the word's end accept any byte (0xFF | b == 0xFF).
    bool vectorCheck = false;
    uint8_t checkOr[16];
    uint8_t checkTarget[16];
};

bool MakeByteClass(const std::array<uint8_t, 256>& fold, uint8_t code, ByteClass& out) {
    uint8_t raw[3];
    int n = 0;
    for (int c = 0; c < 256 && n < 3; ++c)
        if (fold[c] == code) raw[n++] = static_cast<uint8_t>(c);
    if (n == 1) {
        out = {0, raw[0]};
        return true;
    }
    if (n == 2) {
        const uint8_t diff = raw[0] ^ raw[1];
        if ((diff & (diff - 1)) == 0) { // exactly one bit apart
            out = {diff, static_cast<uint8_t>(raw[0] | diff)};
            return true;
        }
    }
    return false;
}

// ByteClass of every folded code, built once; `valid` false where none fits.
struct ClassTable {
    std::array<ByteClass, 256> cls{};
    std::array<bool, 256> valid{};
};

const ClassTable& SearchClasses() {
    static const ClassTable table = [] {
        ClassTable t;
        for (int c = 0; c < 256; ++c) t.valid[c] = MakeByteClass(SearchFold(), static_cast<uint8_t>(c), t.cls[c]);
        return t;
    }();
    return table;
}

Needle MakeNeedle(std::string_view word) {
    const ClassTable& classes = SearchClasses();
    Needle nd;
    nd.fold = SearchFold().data();
    nd.m = word.size();
    nd.word.resize(word.size());
    for (size_t k = 0; k < word.size(); ++k) nd.word[k] = static_cast<char>(nd.fold[static_cast<uint8_t>(word[k])]);
    if (nd.m > 0) {
        const uint8_t f = static_cast<uint8_t>(nd.word.front()), l = static_cast<uint8_t>(nd.word.back());
        nd.filterable = classes.valid[f] && classes.valid[l];
        nd.first = classes.cls[f];
        nd.last = classes.cls[l];
    }
    nd.vectorCheck = true;
    for (size_t k = 0; k < 16; ++k) {
        ByteClass bc{0xFF, 0xFF};
        if (k < nd.m) {
            const uint8_t c = static_cast<uint8_t>(nd.word[k]);
            if (!classes.valid[c]) nd.vectorCheck = false;
            bc = classes.cls[c];
        }
        nd.checkOr[k] = bc.orBits;
        nd.checkTarget[k] = bc.target;
    }
    return nd;
}

inline bool MatchFrom(const uint8_t* t, size_t p, const Needle& nd, size_t from, size_t to) {
    const uint8_t* w = reinterpret_cast<const uint8_t*>(nd.word.data());
    for (size_t k = from; k < to; ++k)
        if (nd.fold[t[p + k]] != w[k]) return false;
    return true;
}

// Leftmost, non-overlapping count from position `next` on, one position at a time. Used for
// the tail the vector loop leaves and where no vector filter applies.
uint64_t CountScalar(const uint8_t* t, size_t n, const Needle& nd, size_t next) {
    uint64_t count = 0;
    const size_t m = nd.m;
    for (size_t p = next; p + m <= n;) {
        if (MatchFrom(t, p, nd, 0, m)) {
            ++count;
            p += m;
        } else {
            ++p;
        }
    }
    return count;
}

// Whole check of a candidate whose first and last byte already fit.
inline bool Verify(const uint8_t* t, size_t n, size_t p, const Needle& nd) {
#ifdef QUINDLE_X86_SIMD
    if (nd.vectorCheck && n - p >= 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + p));
        const __m128i orBits = _mm_loadu_si128(reinterpret_cast<const __m128i*>(nd.checkOr));
        const __m128i target = _mm_loadu_si128(reinterpret_cast<const __m128i*>(nd.checkTarget));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_or_si128(x, orBits), target)) != 0xFFFF) return false;
        return nd.m <= 16 || MatchFrom(t, p, nd, 16, nd.m - 1);
    }
#else
    (void)n;
#endif
    return MatchFrom(t, p, nd, 1, nd.m - 1);
}

// The vector loop: Ops::Mask marks, for 64 consecutive start positions, those whose first
// and last byte fit the word; each candidate is then checked in full. A candidate that
// starts inside the previous match is dropped, so the count equals the matcher's.
// `next` comes back as the first start position the loop has not looked at.
template <class Ops>
inline uint64_t CountBlocks(const Ops& ops, const uint8_t* t, size_t n, const Needle& nd, size_t& next) {
    constexpr size_t W = 64;
    const size_t m = nd.m;
    uint64_t count = 0;
    size_t i = 0; // first start allowed (just after the last match)
    size_t b = 0;
    if (n >= m + W - 1) {
        const size_t lastBlock = n - m - (W - 1); // the last byte read is t[b + m - 1 + W - 1]
        while (b <= lastBlock) {
            uint64_t mask = ops.Mask(t + b, t + b + m - 1);
            if (mask != 0) {
                if (i > b) mask &= ~uint64_t{0} << (i - b); // i - b < 64 here
                while (mask != 0) {
                    const size_t p = b + static_cast<size_t>(__builtin_ctzll(mask));
                    mask &= mask - 1;
                    if (p < i) continue;
                    if (m <= 2 || Verify(t, n, p, nd)) {
                        ++count;
                        i = p + m;
                    }
                }
            }
            b += W;
            if (b < i) b = i; // a match longer than a block
        }
    }
    next = b > i ? b : i;
    return count;
}

#ifdef QUINDLE_X86_SIMD

struct Sse2Ops {
    __m128i fOr, fTarget, lOr, lTarget;
    explicit Sse2Ops(const Needle& nd)
        : fOr(_mm_set1_epi8(static_cast<char>(nd.first.orBits))),
          fTarget(_mm_set1_epi8(static_cast<char>(nd.first.target))),
          lOr(_mm_set1_epi8(static_cast<char>(nd.last.orBits))),
          lTarget(_mm_set1_epi8(static_cast<char>(nd.last.target))) {}
    uint64_t Mask16(const uint8_t* a, const uint8_t* z) const {
        const __m128i x = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a)), fOr);
        const __m128i y = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(z)), lOr);
        const __m128i hit = _mm_and_si128(_mm_cmpeq_epi8(x, fTarget), _mm_cmpeq_epi8(y, lTarget));
        return static_cast<uint32_t>(_mm_movemask_epi8(hit));
    }
    uint64_t Mask(const uint8_t* a, const uint8_t* z) const {
        return Mask16(a, z) | Mask16(a + 16, z + 16) << 16 | Mask16(a + 32, z + 32) << 32 |
               Mask16(a + 48, z + 48) << 48;
    }
};

struct Avx2Ops {
    __m256i fOr, fTarget, lOr, lTarget;
    __attribute__((target("avx2"))) explicit Avx2Ops(const Needle& nd)
        : fOr(_mm256_set1_epi8(static_cast<char>(nd.first.orBits))),
          fTarget(_mm256_set1_epi8(static_cast<char>(nd.first.target))),
          lOr(_mm256_set1_epi8(static_cast<char>(nd.last.orBits))),
          lTarget(_mm256_set1_epi8(static_cast<char>(nd.last.target))) {}
    __attribute__((target("avx2"))) uint64_t Mask32(const uint8_t* a, const uint8_t* z) const {
        const __m256i x = _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a)), fOr);
        const __m256i y = _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(z)), lOr);
        const __m256i hit = _mm256_and_si256(_mm256_cmpeq_epi8(x, fTarget), _mm256_cmpeq_epi8(y, lTarget));
        return static_cast<uint32_t>(_mm256_movemask_epi8(hit));
    }
    __attribute__((target("avx2"))) uint64_t Mask(const uint8_t* a, const uint8_t* z) const {
        return Mask32(a, z) | Mask32(a + 32, z + 32) << 32;
    }
};

uint64_t CountSse2(const uint8_t* t, size_t n, const Needle& nd, size_t& next) {
    const Sse2Ops ops(nd);
    return CountBlocks(ops, t, n, nd, next);
}

// flatten pulls CountBlocks and the AVX2 helpers into this one function, compiled for AVX2;
// it is only called after the processor has been asked.
__attribute__((target("avx2"), flatten)) uint64_t CountAvx2(const uint8_t* t, size_t n, const Needle& nd,
                                                             size_t& next) {
    const Avx2Ops ops(nd);
    return CountBlocks(ops, t, n, nd, next);
}

bool HasAvx2() {
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
}

#endif

constexpr size_t kSlack = 64;                    // room for a final CR LF, and spare
constexpr size_t kKeepBytes = size_t{64} << 20; // larger buffers are given back after a count

[[noreturn]] void CannotOpen(const std::string& fileName) {
    throw EFileError(Format("Cannot open file %s", fileName));
}

struct FdCloser {
    int fd;
    ~FdCloser() { ::close(fd); }
};

} // namespace

uint64_t CountOccurrencesInText(std::string_view text, std::string_view word, TCountEngine engine) {
    if (word.empty() || text.size() < word.size()) return 0;
    const Needle nd = MakeNeedle(word);
    const auto* t = reinterpret_cast<const uint8_t*>(text.data());
    const size_t n = text.size();
    size_t next = 0;
    uint64_t count = 0;
#ifdef QUINDLE_X86_SIMD
    if (nd.filterable && engine != TCountEngine::Scalar)
        count = (engine == TCountEngine::Auto && HasAvx2()) ? CountAvx2(t, n, nd, next) : CountSse2(t, n, nd, next);
#else
    (void)engine;
#endif
    return count + CountScalar(t, n, nd, next);
}

void TOccurrenceCounter::Reserve(size_t bytes) {
    if (cap_ >= bytes + kSlack) return;
    size_t cap = cap_ < 4096 ? 4096 : cap_;
    while (cap < bytes + kSlack) cap *= 2;
    std::unique_ptr<char[]> nb(new char[cap]); // uninitialised: the read fills it
    if (len_ > 0) std::memcpy(nb.get(), buf_.get(), len_);
    buf_ = std::move(nb);
    cap_ = cap;
}

bool TOccurrenceCounter::ReadFile(const std::string& fileName) {
    len_ = 0;
    // O_NONBLOCK so that a FIFO by that name cannot hang the search at open.
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return false;
        CannotOpen(fileName);
    }
    FdCloser closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) CannotOpen(fileName);
    // One byte more than the size, so the read that sees the end fits without growing.
    Reserve(static_cast<size_t>(st.st_size) + 1);
    for (;;) {
        if (len_ + kSlack == cap_) Reserve(cap_); // the file grew while we read it
        const ssize_t r = ::read(fd, buf_.get() + len_, cap_ - kSlack - len_);
        if (r < 0) {
            if (errno == EINTR) continue;
            CannotOpen(fileName);
        }
        if (r == 0) break;
        len_ += static_cast<size_t>(r);
    }
    return true;
}

void TOccurrenceCounter::ReleaseIfHuge() {
    if (cap_ > kKeepBytes) {
        buf_.reset();
        cap_ = 0;
        len_ = 0;
    }
    if (normalised_.capacity() > kKeepBytes) std::string().swap(normalised_);
}

int32_t TOccurrenceCounter::Count(const std::string& fileName, std::string_view word) {
    if (word.empty()) return 0;
    if (!ReadFile(fileName)) return 0;

    std::string_view text(buf_.get(), len_);

    // The file is searched as its lines joined with CR LF after each. Rewriting the line
    // ends only inserts CR and LF bytes, so a word that holds neither counts the same over
    // the raw bytes; only a word with CR or LF needs the rewritten text.
    const auto& fold = SearchFold();
    bool wordHasLineEnd = false;
    for (char c : word) {
        const uint8_t f = fold[static_cast<uint8_t>(c)];
        if (f == fold['\r'] || f == fold['\n']) wordHasLineEnd = true;
    }
    if (wordHasLineEnd && len_ > 0) {
        const char* t = buf_.get();
        size_t lone = 0;
        for (size_t p = 0; p < len_; ++p) {
            if (t[p] == '\r' && (p + 1 == len_ || t[p + 1] != '\n')) ++lone;
            else if (t[p] == '\n' && (p == 0 || t[p - 1] != '\r')) ++lone;
        }
        if (lone == 0) {
            // Already CR LF throughout; only a last line without its line end needs one.
            if (t[len_ - 1] != '\n') {
                buf_[len_] = '\r';
                buf_[len_ + 1] = '\n';
                text = std::string_view(buf_.get(), len_ + 2);
            }
        } else {
            normalised_.clear();
            normalised_.reserve(len_ + lone + 2);
            for (size_t p = 0; p < len_; ++p) {
                const char c = t[p];
                if (c == '\r') {
                    normalised_ += "\r\n";
                    if (p + 1 < len_ && t[p + 1] == '\n') ++p;
                } else if (c == '\n') {
                    normalised_ += "\r\n";
                } else {
                    normalised_ += c;
                }
            }
            if (normalised_.back() != '\n') normalised_ += "\r\n";
            text = normalised_;
        }
    }

    const uint64_t count = CountOccurrencesInText(text, word);
    ReleaseIfHuge();
    return count > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())
               ? std::numeric_limits<int32_t>::max()
               : static_cast<int32_t>(count);
}

int32_t CountOccurrences(const std::string& fileName, std::string_view word) {
    thread_local TOccurrenceCounter counter;
    return counter.Count(fileName, word);
}

} // namespace quindle
