#include "catalogue/EntryText.h"

#include "checksums/Checksum.h"

#include <ctime>

#include "catalogue/Catalogue.h"

namespace quindle {

namespace {

// Length of the well-formed UTF-8 sequence at s[i] (RFC 3629: no overlong forms, no
// surrogates, nothing above U+10FFFF), 0 when there is none.
size_t Utf8Length(std::string_view s, size_t i) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
    const unsigned char c = b(0);
    if (c < 0x80) return 1;
    size_t n;
    unsigned char lo = 0x80, hi = 0xBF; // range of the second byte
    if (c >= 0xC2 && c <= 0xDF) n = 2;
    else if (c == 0xE0) n = 3, lo = 0xA0;
    else if (c >= 0xE1 && c <= 0xEC) n = 3;
    else if (c == 0xED) n = 3, hi = 0x9F;
    else if (c >= 0xEE && c <= 0xEF) n = 3;
    else if (c == 0xF0) n = 4, lo = 0x90;
    else if (c >= 0xF1 && c <= 0xF3) n = 4;
    else if (c == 0xF4) n = 4, hi = 0x8F;
    else return 0;
    if (i + n > s.size() || b(1) < lo || b(1) > hi) return 0;
    for (size_t k = 2; k < n; ++k)
        if ((b(k) & 0xC0) != 0x80) return 0;
    return n;
}

} // namespace

void AppendJsonString(std::string& out, std::string_view bytes) {
    static const char hex[] = "0123456789abcdef";
    out += '"';
    for (size_t i = 0; i < bytes.size();) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        const size_t n = Utf8Length(bytes, i);
        if (n == 0) { // a byte that is not UTF-8: its own escape
            out += "\\udc";
            out += hex[c >> 4];
            out += hex[c & 15];
            ++i;
            continue;
        }
        if (n > 1) {
            out.append(bytes.data() + i, n);
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20) {
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
        i += n;
    }
    out += '"';
}

void AppendEntryJsonFields(std::string& out, const Catalogue& c, size_t i, bool details) {
    out += ",\"kind\":\"";
    out += EntryKindName(c.Kind(i));
    if (details)
        out += "\",\"size\":" + std::to_string(c.size[i]) + ",\"mtime\":" + std::to_string(c.mtime[i]);
    else
        out += "\",\"size\":null,\"mtime\":null";
    if (c.Hidden(i)) out += ",\"hidden\":true";
    if (c.Member(i)) {
        size_t a = c.parent[i];
        while (a > 0 && !c.IsArchive(a)) a = c.parent[a];
        out += ",\"archive\":";
        AppendJsonString(out, c.Path(a, '/'));
    }
    if (c.IsArchive(i) && !c.Note(i).empty()) {
        // A listing that stopped at a bound keeps what it read; one that failed has none.
        out += (c.flags[i] & kEntryPartial) ? ",\"archive_partial\":" : ",\"archive_error\":";
        AppendJsonString(out, c.Note(i));
    }
    // The content's checksum goes with the size and date it was read at.
    if (const Checksum128* sum = details ? c.ChecksumOf(i) : nullptr) out += ",\"xxh128\":\"" + Checksum{*sum}.Hex() + '"';
}

std::string EntryNoteText(const Catalogue& c, size_t i) {
    const std::string_view note = c.Note(i);
    if (note.empty()) return {};
    const char* what = !c.IsArchive(i) ? "Content not read: " : (c.flags[i] & kEntryPartial) ? "Listed in part: " : "Not listed: ";
    return what + std::string(note);
}

std::string IsoUtc(int64_t seconds) {
    const time_t t = static_cast<time_t>(seconds);
    std::tm tm{};
    char buf[64];
    if (!gmtime_r(&t, &tm) || std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm) == 0) return "?";
    return buf;
}

} // namespace quindle
