#include "archives/ZipIndex.h"

#include <algorithm>
#include <cstring>
#include <ctime>

namespace quindle {

namespace {

constexpr size_t kEndBytes = 22;     // end of central directory record, without its comment
constexpr size_t kEntryBytes = 46;   // central directory entry, without name, extra, comment
constexpr size_t kLocalBytes = 30;   // local header, without name and extra
constexpr size_t kLocatorBytes = 20; // zip64 end locator, just before the end record
constexpr uint32_t kMaxField = 0xFFFFFFFF;

constexpr uint16_t kEncrypted = 0x0001;
constexpr uint16_t kLengthsAfterData = 0x0008;
constexpr uint16_t kStrongEncryption = 0x0040;
constexpr uint16_t kUtf8Name = 0x0800;
constexpr uint16_t kMaskedHeaders = 0x2000;

uint16_t U16(const char* p) {
    return static_cast<uint16_t>(static_cast<unsigned char>(p[0]) | static_cast<unsigned char>(p[1]) << 8);
}
uint32_t U32(const char* p) { return U16(p) | static_cast<uint32_t>(U16(p + 2)) << 16; }
bool Is(const char* p, const char* sig) { return std::memcmp(p, sig, 4) == 0; }

// Well-formed UTF-8: shortest forms, no surrogates, nothing past U+10FFFF.
bool ValidUtf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t n;
        uint32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            n = 1, cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 2, cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 3, cp = c & 0x07;
        } else {
            return false;
        }
        if (s.size() - i <= n) return false;
        for (size_t k = 1; k <= n; ++k) {
            const auto d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = cp << 6 | (d & 0x3F);
        }
        if ((n == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF)))
            return false;
        i += n + 1;
    }
    return true;
}

// What a header's extra fields say; false when they hold a field this reader does not
// know (libarchive may read it), or are malformed (libarchive then fails the member).
struct Extras {
    bool hasTime = false;
    uint32_t mtime = 0;
};
bool ReadExtras(std::string_view extra, Extras& out) {
    size_t at = 0;
    while (at < extra.size()) {
        if (extra.size() - at < 4) return false;
        const uint16_t id = U16(extra.data() + at), length = U16(extra.data() + at + 2);
        at += 4;
        if (length > extra.size() - at) return false;
        const std::string_view data = extra.substr(at, length);
        at += length;
        switch (id) {
        case 0x5455: // extended time ("UT"): flags, then the times they name, modification first
            if (data.empty()) return false;
            if (data[0] & 1) {
                if (data.size() < 5) return false;
                out.hasTime = true;
                out.mtime = U32(data.data() + 1);
            }
            break;
        case 0x7875: // owner and group ("ux"): nothing a listing keeps
            break;
        default: return false;
        }
    }
    return true;
}

// A DOS date and time (local time, two-second steps) as seconds since 1970, as libarchive
// gives it: through mktime, the zone deciding summer time.
int64_t DosTime(uint16_t time, uint16_t date) {
    std::tm tm{};
    tm.tm_year = ((date >> 9) & 0x7F) + 80;
    tm.tm_mon = ((date >> 5) & 0x0F) - 1;
    tm.tm_mday = date & 0x1F;
    tm.tm_hour = (time >> 11) & 0x1F;
    tm.tm_min = (time >> 5) & 0x3F;
    tm.tm_sec = (time << 1) & 0x3E;
    tm.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&tm));
}

// The end record: the last one in the final 64 KiB, whose comment runs exactly to the end.
const char* FindEnd(std::string_view bytes) {
    if (bytes.size() < kEndBytes) return nullptr;
    const size_t last = bytes.size() - kEndBytes;
    const size_t first = last > 0xFFFF ? last - 0xFFFF : 0;
    for (size_t at = last + 1; at-- > first;) {
        const char* p = bytes.data() + at;
        if (Is(p, "PK\5\6")) return U16(p + 20) == bytes.size() - at - kEndBytes ? p : nullptr;
    }
    return nullptr;
}

} // namespace

bool ReadZipIndex(std::string_view bytes, std::vector<ZipIndexEntry>& out) {
    out.clear();
    const char* end = FindEnd(bytes);
    if (!end) return false;
    const auto endAt = static_cast<size_t>(end - bytes.data());
    const uint16_t count = U16(end + 10);
    const uint32_t dirBytes = U32(end + 12), dirAt = U32(end + 16);
    // One disk, no zip64, the directory right before its end record (nothing prepended),
    // and at least one member.
    if (U16(end + 4) != 0 || U16(end + 6) != 0 || U16(end + 8) != count || count == 0 || count == 0xFFFF ||
        dirBytes == kMaxField || dirAt == kMaxField || uint64_t{dirAt} + dirBytes != endAt ||
        dirBytes / kEntryBytes < count)
        return false;
    if (endAt >= kLocatorBytes && Is(end - kLocatorBytes, "PK\6\7")) return false;

    struct Found {
        ZipIndexEntry entry;
        uint32_t local;
    };
    std::vector<Found> found;
    found.reserve(count);
    size_t at = dirAt;
    for (uint16_t i = 0; i < count; ++i) {
        if (endAt - at < kEntryBytes) return false;
        const char* p = bytes.data() + at;
        if (!Is(p, "PK\1\2")) return false;
        const uint8_t system = static_cast<uint8_t>(p[5]);
        const uint16_t flags = U16(p + 8), method = U16(p + 10), dosTime = U16(p + 12), dosDate = U16(p + 14);
        const uint32_t crc = U32(p + 16), packed = U32(p + 20), size = U32(p + 24);
        const uint16_t nameLength = U16(p + 28), extraLength = U16(p + 30), commentLength = U16(p + 32);
        const uint32_t attributes = U32(p + 38), local = U32(p + 42);
        const size_t whole = kEntryBytes + nameLength + extraLength + commentLength;
        if (endAt - at < whole) return false;
        at += whole;
        if ((flags & (kStrongEncryption | kMaskedHeaders)) || U16(p + 34) != 0 || packed == kMaxField ||
            size == kMaxField || local == kMaxField)
            return false;
        const std::string_view name(p + kEntryBytes, nameLength);
        if (name.empty() || name.find('\0') != std::string_view::npos || name.find('\\') != std::string_view::npos ||
            ((flags & kUtf8Name) && !ValidUtf8(name)))
            return false;
        Extras central;
        if (!ReadExtras(std::string_view(p + kEntryBytes + nameLength, extraLength), central)) return false;

        // The local header says the same, before the directory.
        if (local > dirAt || dirAt - local < kLocalBytes) return false;
        const char* h = bytes.data() + local;
        const uint16_t localName = U16(h + 26), localExtra = U16(h + 28);
        if (!Is(h, "PK\3\4") || U16(h + 6) != flags || U16(h + 8) != method || U16(h + 10) != dosTime ||
            U16(h + 12) != dosDate || dirAt - local - kLocalBytes < size_t{localName} + localExtra ||
            std::string_view(h + kLocalBytes, localName) != name)
            return false;
        // Sizes after the data leave zeros here; any other value is the one libarchive takes.
        const bool after = flags & kLengthsAfterData;
        for (const auto& [here, there] : {std::pair{U32(h + 14), crc}, {U32(h + 18), packed}, {U32(h + 22), size}})
            if (here != there && !(after && here == 0)) return false;
        Extras own;
        if (!ReadExtras(std::string_view(h + kLocalBytes + localName, localExtra), own) ||
            own.hasTime != central.hasTime || own.mtime != central.mtime)
            return false;

        ZipIndexEntry e;
        e.name = name;
        e.size = size;
        e.encrypted = flags & kEncrypted;
        e.mtime = own.hasTime ? int64_t{own.mtime} : DosTime(dosTime, dosDate);
        // The kind: a Unix maker's mode, MS-DOS's folder bit, a file otherwise (libarchive
        // takes a type it is not given for a file); a name ending in "/" is a folder
        // whatever the rest says.
        if (name.back() == '/') {
            e.kind = MemberKind::Folder;
        } else if (system == 3) {
            switch (attributes >> 16 & 0xF000) {
            case 0: [[fallthrough]];
            case 0x8000: e.kind = MemberKind::File; break;
            case 0x4000: e.kind = MemberKind::Folder; break;
            // A link (its target is its data), a device, a FIFO (libarchive takes it for a
            // file), or no valid type: rare in a zip, and libarchive's to tell.
            default: return false;
            }
        } else if (system == 0) {
            e.kind = attributes & 0x10 ? MemberKind::Folder : MemberKind::File;
        }
        found.push_back({e, local});
    }
    if (at != endAt) return false;

    std::stable_sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return a.local < b.local; });
    for (size_t i = 1; i < found.size(); ++i)
        if (found[i].local == found[i - 1].local) return false;
    out.reserve(found.size());
    for (const Found& f : found) out.push_back(f.entry);
    return true;
}

} // namespace quindle
