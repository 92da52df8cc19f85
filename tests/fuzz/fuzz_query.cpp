// The query parser and its matching on arbitrary bytes: a query splits into the terms a
// plain reading of its blanks and double quotes gives (quoted text plain, its blanks kept);
// every term, matched against an arbitrary folded name, agrees with a plain reference
// (std::string find for a substring, a recursive glob over code points in which quoted
// characters are themselves), and a name a term matches holds the term's required bytes
// (what the fast scan looks for first). Size and date texts parse to what plain
// arithmetic gives.
//
// Input: one byte n, then n bytes of query, the rest is the name.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "index/CaseFold.h"
#include "index/Query.h"

using namespace quindle;
using namespace quindle::fuzz;

namespace {

// The engine's reading of bytes: valid UTF-8 is one code point, any other byte stands
// for itself as 0xDC00 + byte. `starts` receives where each code point starts.
std::u32string Chars(std::string_view s, std::vector<size_t>* starts = nullptr) {
    std::u32string out;
    for (size_t i = 0; i < s.size();) {
        if (starts) starts->push_back(i);
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

// A pattern's code points and, for each, whether it was quoted (then it is itself).
struct Pattern {
    std::u32string c;
    std::vector<bool> q;
};

Pattern PatternOf(const QueryTerm& t) {
    Pattern p;
    std::vector<size_t> starts;
    p.c = Chars(t.text, &starts);
    for (const size_t at : starts) p.q.push_back(!t.quoted.empty() && t.quoted[at]);
    return p;
}

// The pattern from code point `at` on against all of `s`.
bool PlainGlob(const Pattern& p, size_t at, std::u32string_view s, int& budget) {
    if (--budget < 0) return false;
    if (at == p.c.size()) return s.empty();
    const auto is = [&](size_t k, char32_t ch) { return k < p.c.size() && p.c[k] == ch && !p.q[k]; };
    if (is(at, U'*')) return PlainGlob(p, at + 1, s, budget) || (!s.empty() && PlainGlob(p, at, s.substr(1), budget));
    if (is(at, U'?')) return !s.empty() && PlainGlob(p, at + 1, s.substr(1), budget);
    if (is(at, U'[')) {
        size_t j = at + 1;
        const bool negate = is(j, U'!') || is(j, U'^');
        if (negate) ++j;
        const size_t first = j;
        while (j < p.c.size() && (!is(j, U']') || j == first)) ++j;
        if (j < p.c.size()) {
            if (s.empty()) return false;
            bool in = false;
            for (size_t k = first; k < j; ++k) {
                if (k + 2 < j && is(k + 1, U'-')) {
                    in = in || (s[0] >= p.c[k] && s[0] <= p.c[k + 2]);
                    k += 2;
                } else {
                    in = in || s[0] == p.c[k];
                }
            }
            return in != negate && PlainGlob(p, j + 1, s.substr(1), budget);
        }
    }
    return !s.empty() && s[0] == p.c[at] && PlainGlob(p, at + 1, s.substr(1), budget);
}

// The terms of an ASCII query as the manual reads it: blanks outside double quotes
// separate terms, quotes toggle and are dropped, a quote left open runs to the end, an
// empty term is none. Each term's text (folded, "\\" as "/") and which bytes were quoted.
std::vector<std::pair<std::string, std::vector<uint8_t>>> PlainTerms(std::string_view q) {
    std::vector<std::pair<std::string, std::vector<uint8_t>>> out;
    std::string text;
    std::vector<uint8_t> quoted;
    bool inQuotes = false;
    const auto end = [&] {
        if (!text.empty()) out.emplace_back(text, quoted);
        text.clear();
        quoted.clear();
    };
    for (const char c : q) {
        if (c == '"') inQuotes = !inQuotes;
        else if ((c == ' ' || c == '\t') && !inQuotes) end();
        else {
            text += c == '\\' ? '/' : (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
            quoted.push_back(inQuotes);
        }
    }
    end();
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t n = std::min<size_t>(data[0], size - 1);
    const std::string_view query(reinterpret_cast<const char*>(data) + 1, n);
    const std::string_view raw(reinterpret_cast<const char*>(data) + 1 + n, size - 1 - n);
    const std::string name = Folded(raw);
    if (name.size() > raw.size() + raw.size() / 2) Fail("folding grew a name by more than half");

    const std::vector<QueryTerm> terms = ParseQuery(query);
    const bool ascii = std::all_of(query.begin(), query.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii) {
        const auto plainTerms = PlainTerms(query);
        if (plainTerms.size() != terms.size()) Fail("terms differ from the plain reading");
        for (size_t k = 0; k < terms.size(); ++k) {
            std::vector<uint8_t> quoted = terms[k].quoted;
            if (quoted.empty()) quoted.assign(terms[k].text.size(), 0);
            if (terms[k].text != plainTerms[k].first || quoted != plainTerms[k].second)
                Fail("a term differs from the plain reading", terms[k].text);
        }
    }
    for (const QueryTerm& t : terms) {
        if (t.text.empty() || t.text.find('\\') != std::string::npos) Fail("a term is empty or holds a backslash");
        if (!t.quoted.empty() && t.quoted.size() != t.text.size()) Fail("quoted bytes not one per byte");
        for (size_t i = 0; i < t.text.size(); ++i)
            if ((t.text[i] == ' ' || t.text[i] == '\t') && (t.quoted.empty() || !t.quoted[i]))
                Fail("a term holds a blank that was not quoted");
        const bool match = TermMatches(t, name);
        if (match && name.find(t.required) == std::string::npos) Fail("a match without the required bytes");
        if (!t.glob) {
            if (match != (name.find(t.text) != std::string::npos)) Fail("substring differs from find");
        } else {
            int budget = 200000;
            const bool plain = PlainGlob(PatternOf(t), 0, Chars(name), budget);
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
