#pragma once
// The checksum of a file's content: XXH3-128 (libxxhash) of every byte, kept in the
// canonical byte order, the order `xxhsum -H2` prints it in: 32 lower-case hex digits.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct XXH3_state_s;

namespace quindle {

struct Checksum {
    std::array<uint8_t, 16> bytes{}; // canonical: the high 64 bits first, big-endian

    // "6bba86c7e069f56d5a10b435f1c8e49c": exactly as `xxhsum -H2` prints it.
    std::string Hex() const;
    // The 32 hex digits of Hex() (either case) back; nullopt for anything else.
    static std::optional<Checksum> FromHex(std::string_view text);

    bool operator==(const Checksum&) const = default;
};

// The checksum of bytes in memory.
Checksum ChecksumOf(const void* data, size_t size);

// The checksum of bytes that come in pieces (a file read in chunks, an archive member).
// The same bytes give the same checksum however they are cut.
class ChecksumStream {
public:
    ChecksumStream(); // throws std::bad_alloc when the state cannot be had
    ~ChecksumStream();
    ChecksumStream(const ChecksumStream&) = delete;
    ChecksumStream& operator=(const ChecksumStream&) = delete;

    // Starts over: the checksum of no bytes yet.
    void Reset();
    void Update(const void* data, size_t size);
    // The checksum of the bytes since the last Reset (the stream may go on).
    Checksum Digest() const;

private:
    XXH3_state_s* state_;
};

} // namespace quindle
