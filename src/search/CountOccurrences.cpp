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

// The folded word plus what the vector filter needs: the raw byte values that fold to the
// word's first and to its last character (a letter has two, anything else one).
struct Needle {
    const uint8_t* fold = nullptr;
    std::string word; // folded
    size_t m = 0;
    uint8_t first[2] = {0, 0};
    uint8_t last[2] = {0, 0};
    bool filterable = true; // false when some folded code has more than two raw forms
};

bool Preimages(const std::array<uint8_t, 256>& fold, uint8_t target, uint8_t out[2]) {
    int n = 0;
    for (int c = 0; c < 256; ++c) {
        if (fold[c] != target) continue;
        if (n == 2) return false;
        out[n++] = static_cast<uint8_t>(c);
    }
    if (n == 1) out[1] = out[0];
    return n > 0;
}

Needle MakeNeedle(std::string_view word) {
    Needle nd;
    nd.fold = SearchFold().data();
    nd.m = word.size();
    nd.word.resize(word.size());
    for (size_t k = 0; k < word.size(); ++k) nd.word[k] = static_cast<char>(nd.fold[static_cast<uint8_t>(word[k])]);
    if (nd.m > 0) {
        nd.filterable = Preimages(SearchFold(), static_cast<uint8_t>(nd.word.front()), nd.first) &&
                        Preimages(SearchFold(), static_cast<uint8_t>(nd.word.back()), nd.last);
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

// The vector loop: Ops::Mask marks, for W consecutive start positions, those whose first
// and last byte fit the word; each candidate is then checked in full. A candidate that
// starts inside the previous match is dropped, so the count equals the matcher's.
// `next` comes back as the first start position the loop has not looked at.
template <class Ops>
inline uint64_t CountBlocks(const Ops& ops, const uint8_t* t, size_t n, const Needle& nd, size_t& next) {
    constexpr size_t W = Ops::W;
    const size_t m = nd.m;
    uint64_t count = 0;
    size_t i = 0; // first start allowed (just after the last match)
    size_t b = 0;
    if (n >= m + W - 1) {
        const size_t lastBlock = n - m - (W - 1); // the last byte read is t[b + m - 1 + W - 1]
        while (b <= lastBlock) {
            uint32_t mask = ops.Mask(t + b, t + b + m - 1);
            while (mask != 0) {
                const size_t p = b + static_cast<size_t>(__builtin_ctz(mask));
                mask &= mask - 1;
                if (p < i) continue;
                if (m <= 2 || MatchFrom(t, p, nd, 1, m - 1)) {
                    ++count;
                    i = p + m;
                }
            }
            b += W;
            if (b < i) b = i;
        }
    }
    next = b > i ? b : i;
    return count;
}

#ifdef QUINDLE_X86_SIMD

struct Sse2Ops {
    static constexpr size_t W = 16;
    __m128i f0, f1, l0, l1;
    explicit Sse2Ops(const Needle& nd)
        : f0(_mm_set1_epi8(static_cast<char>(nd.first[0]))), f1(_mm_set1_epi8(static_cast<char>(nd.first[1]))),
          l0(_mm_set1_epi8(static_cast<char>(nd.last[0]))), l1(_mm_set1_epi8(static_cast<char>(nd.last[1]))) {}
    uint32_t Mask(const uint8_t* a, const uint8_t* z) const {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(z));
        const __m128i fx = _mm_or_si128(_mm_cmpeq_epi8(x, f0), _mm_cmpeq_epi8(x, f1));
        const __m128i fy = _mm_or_si128(_mm_cmpeq_epi8(y, l0), _mm_cmpeq_epi8(y, l1));
        return static_cast<uint32_t>(_mm_movemask_epi8(_mm_and_si128(fx, fy)));
    }
};

struct Avx2Ops {
    static constexpr size_t W = 32;
    __m256i f0, f1, l0, l1;
    __attribute__((target("avx2"))) explicit Avx2Ops(const Needle& nd)
        : f0(_mm256_set1_epi8(static_cast<char>(nd.first[0]))), f1(_mm256_set1_epi8(static_cast<char>(nd.first[1]))),
          l0(_mm256_set1_epi8(static_cast<char>(nd.last[0]))), l1(_mm256_set1_epi8(static_cast<char>(nd.last[1]))) {}
    __attribute__((target("avx2"))) uint32_t Mask(const uint8_t* a, const uint8_t* z) const {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a));
        const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(z));
        const __m256i fx = _mm256_or_si256(_mm256_cmpeq_epi8(x, f0), _mm256_cmpeq_epi8(x, f1));
        const __m256i fy = _mm256_or_si256(_mm256_cmpeq_epi8(y, l0), _mm256_cmpeq_epi8(y, l1));
        return static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_and_si256(fx, fy)));
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
