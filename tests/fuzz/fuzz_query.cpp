// The query parser and its matching on arbitrary bytes: every term a query is split into,
// matched against an arbitrary folded name, agrees with a plain reference (std::string
// find for a substring, a recursive glob over code points), and a name a term matches
// holds the term's required bytes (what the fast scan looks for first). Size and date
// texts parse to what plain arithmetic gives.
//
// Input: one byte n, then n bytes of query, the rest is the name.
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include "index/CaseFold.h"
#include "index/Query.h"

using namespace quindle;
using namespace quindle::fuzz;

namespace {

// The engine's reading of bytes: valid UTF-8 is one code point, any other byte stands
// for itself as 0xDC00 + byte.
std::u32string Chars(std::string_view s) {
    std::u32string out;
    for (size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        size_t n = b < 0x80 ? 1 : (b >= 0xC2 && b < 0xE0) ? 2 : (b >= 0xE0 && b < 0xF0) ? 3 : (b >= 0xF0 && b < 0xF5) ? 4 : 0;
        char32_t c = n == 1 ? b : n == 2 ? (b & 0x1F) : n == 3 ? (b & 0x0F) : (b & 0x07);
        bool ok = n > 0 && i + n <= s.size();
        for (size_t k = 1; ok && k < n; ++k) {
            const auto x = static_cast<unsigned char>(s[i + k]);
            ok = (x & 0xC0) == 0x80;
            c = (c << 6) | (x & 0x3F);
        }
        if (ok && ((n == 3 && (c < 0x800 || (c >= 0xD800 && c < 0xE000))) || (n == 4 && (c < 0x10000 || c > 0x10FFFF))))
            ok = false;
        if (!ok) {
            out += static_cast<char32_t>(0xDC00 + b);
            ++i;
        } else {
            out += c;
            i += n;
        }
    }
    return out;
}

bool PlainGlob(std::u32string_view p, std::u32string_view s, int& budget) {
    if (--budget < 0) return false;
    if (p.empty()) return s.empty();
    if (p[0] == U'*') return PlainGlob(p.substr(1), s, budget) || (!s.empty() && PlainGlob(p, s.substr(1), budget));
    if (p[0] == U'?') return !s.empty() && PlainGlob(p.substr(1), s.substr(1), budget);
    if (p[0] == U'[') {
        size_t j = 1;
        const bool negate = j < p.size() && (p[j] == U'!' || p[j] == U'^');
        if (negate) ++j;
        const size_t first = j;
        while (j < p.size() && (p[j] != U']' || j == first)) ++j;
        if (j < p.size()) {
            if (s.empty()) return false;
            bool in = false;
            for (size_t k = first; k < j; ++k) {
                if (k + 2 < j && p[k + 1] == U'-') {
                    in = in || (s[0] >= p[k] && s[0] <= p[k + 2]);
                    k += 2;
                } else {
                    in = in || s[0] == p[k];
                }
            }
            return in != negate && PlainGlob(p.substr(j + 1), s.substr(1), budget);
        }
    }
    return !s.empty() && s[0] == p[0] && PlainGlob(p.substr(1), s.substr(1), budget);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t n = std::min<size_t>(data[0], size - 1);
    const std::string_view query(reinterpret_cast<const char*>(data) + 1, n);
    const std::string_view raw(reinterpret_cast<const char*>(data) + 1 + n, size - 1 - n);
    const std::string name = Folded(raw);
    if (name.size() > raw.size() + raw.size() / 2) Fail("folding grew a name by more than half");

    for (const QueryTerm& t : ParseQuery(query)) {
        if (t.text.empty() || t.text.find_first_of(" \t\\") != std::string::npos) Fail("a term holds a blank or a backslash");
        const bool match = TermMatches(t, name);
        if (match && name.find(t.required) == std::string::npos) Fail("a match without the required bytes");
        if (!t.glob) {
            if (match != (name.find(t.text) != std::string::npos)) Fail("substring differs from find");
        } else {
            int budget = 200000;
            const bool plain = PlainGlob(Chars(t.text), Chars(name), budget);
            if (budget >= 0 && plain != match) Fail("glob differs from the plain glob");
        }
    }

    // A size: digits with one optional suffix, the value as plain 128-bit arithmetic gives it.
    const auto size_ = ParseSizeText(query);
    unsigned __int128 v = 0;
    bool ok = !query.empty();
    size_t digits = query.size();
    unsigned shift = 0;
    if (ok && std::strchr("KkMmGg", query.back()) && query.back() != '\0') {
        shift = (query.back() == 'K' || query.back() == 'k') ? 10 : (query.back() == 'M' || query.back() == 'm') ? 20 : 30;
        --digits;
    }
    ok = ok && digits > 0 && digits <= 20;
    for (size_t i = 0; ok && i < digits; ++i) {
        ok = query[i] >= '0' && query[i] <= '9';
        v = v * 10 + static_cast<unsigned>(query[i] - '0');
    }
    if (ok) v <<= shift;
    ok = ok && v <= UINT64_MAX;
    if (ok != size_.has_value() || (ok && *size_ != static_cast<uint64_t>(v))) Fail("size text");
    if (const auto day = ParseLocalDate(query); day && query.size() != 10) Fail("a date of other than ten characters");
    return 0;
}
