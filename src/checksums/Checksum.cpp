#include "checksums/Checksum.h"

#include <xxhash.h>
#ifdef QUINDLE_XXH_DISPATCH
// The library's x86 dispatch picks AVX2 (or AVX-512) where the processor has it: more than
// twice the speed of the SSE2 code the plain functions are built for.
#include <xxh_x86dispatch.h>
#endif

#include <cstring>
#include <new>

namespace quindle {

namespace {

Checksum FromHash(const XXH128_hash_t& h) {
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, h);
    Checksum c;
    static_assert(sizeof canonical.digest == sizeof c.bytes);
    std::memcpy(c.bytes.data(), canonical.digest, c.bytes.size());
    return c;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

std::string Checksum::Hex() const {
    static const char digits[] = "0123456789abcdef";
    std::string s(32, '0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        s[2 * i] = digits[bytes[i] >> 4];
        s[2 * i + 1] = digits[bytes[i] & 15];
    }
    return s;
}

std::optional<Checksum> Checksum::FromHex(std::string_view text) {
    if (text.size() != 32) return std::nullopt;
    Checksum c;
    for (size_t i = 0; i < c.bytes.size(); ++i) {
        const int hi = HexValue(text[2 * i]), lo = HexValue(text[2 * i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        c.bytes[i] = static_cast<uint8_t>(hi << 4 | lo);
    }
    return c;
}

Checksum ChecksumOf(const void* data, size_t size) { return FromHash(XXH3_128bits(data, size)); }

ChecksumStream::ChecksumStream() : state_(XXH3_createState()) {
    if (!state_) throw std::bad_alloc();
    Reset();
}

ChecksumStream::~ChecksumStream() { XXH3_freeState(state_); }

void ChecksumStream::Reset() { XXH3_128bits_reset(state_); }

void ChecksumStream::Update(const void* data, size_t size) { XXH3_128bits_update(state_, data, size); }

Checksum ChecksumStream::Digest() const { return FromHash(XXH3_128bits_digest(state_)); }

} // namespace quindle
