#include "index/Query.h"

#include <algorithm>
#include <cstring>
#include <ctime>

#include "index/CaseFold.h"

namespace quindle {

namespace {

// The code point at s[i] and its length; a byte outside valid UTF-8 stands for itself.
char32_t Decode(std::string_view s, size_t i, size_t& len) {
    const auto b = static_cast<unsigned char>(s[i]);
    len = 1;
    if (b < 0x80) return b;
    // 0xF5..0xFF never lead a character, nor do 0x80..0xC1.
    int n = b >= 0xF5 ? 0 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 ? 2 : 0;
    if (n == 0 || i + static_cast<size_t>(n) > s.size()) return 0xDC00 + b;
    char32_t cp = b & (n == 2 ? 0x1F : n == 3 ? 0x0F : 0x07);
    for (int k = 1; k < n; ++k) {
        const auto c = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
        if ((c & 0xC0) != 0x80) return 0xDC00 + b;
        cp = (cp << 6) | (c & 0x3F);
    }
    if ((n == 3 && (cp < 0x800 || (cp >= 0xD800 && cp < 0xE000))) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
        return 0xDC00 + b;
    len = static_cast<size_t>(n);
    return cp;
}

// Whether a literal matched by its bytes at text[s, s + len) ends where one of the text's
// characters ends: "jp\xC3" (a lone byte) must not match the start of "jp\xC3\xA4" (ä).
bool EndsOnCharacter(std::string_view text, size_t s, size_t len) {
    const size_t end = s + len;
    // Only a continuation byte after the match can belong to a character begun inside it.
    if (end >= text.size() || (static_cast<unsigned char>(text[end]) & 0xC0) != 0x80) return true;
    size_t i = s, n = 0;
    while (i < end) {
        Decode(text, i, n);
        i += n;
    }
    return i == end;
}

// The class starting at p[i] == '['; returns the index after its "]", or 0 when the "["
// opens no class (no closing "]"), in which case it is a plain character. A quoted
// character (plain[j]) is a member of the class whatever it is: it neither negates, nor
// makes a range, nor closes the class.
size_t ParseClass(std::string_view p, const std::vector<uint8_t>& plain, size_t i, GlobToken& t) {
    const auto special = [&](size_t j, char c) { return p[j] == c && (plain.empty() || !plain[j]); };
    size_t j = i + 1;
    t = GlobToken{};
    t.type = GlobToken::Class;
    if (j < p.size() && (special(j, '!') || special(j, '^'))) {
        t.negate = true;
        ++j;
    }
    bool first = true;
    while (j < p.size()) {
        if (special(j, ']') && !first) return j + 1;
        first = false;
        size_t len;
        const char32_t lo = Decode(p, j, len);
        j += len;
        char32_t hi = lo;
        if (j + 1 < p.size() && special(j, '-') && !special(j + 1, ']')) {
            hi = Decode(p, j + 1, len);
            j += 1 + len;
        }
        // A range such as "z-a" holds nothing, as in the shell.
        t.ranges.emplace_back(lo, hi);
    }
    return 0;
}

bool ClassHas(const GlobToken& t, char32_t c) {
    bool in = false;
    for (const auto& [lo, hi] : t.ranges)
        if (c >= lo && c <= hi) {
            in = true;
            break;
        }
    return in != t.negate;
}

// `plain[i]`: byte i was typed in double quotes and is a plain character (empty: none was).
std::vector<GlobToken> CompileGlob(std::string_view p, const std::vector<uint8_t>& plain, bool& isGlob) {
    std::vector<GlobToken> out;
    isGlob = false;
    const auto literal = [&](std::string_view bytes) {
        if (out.empty() || out.back().type != GlobToken::Literal) out.push_back(GlobToken{});
        out.back().literal.append(bytes);
    };
    for (size_t i = 0; i < p.size();) {
        const char c = p[i];
        if (!plain.empty() && plain[i]) {
            literal(p.substr(i, 1));
            ++i;
        } else if (c == '*') {
            isGlob = true;
            if (out.empty() || out.back().type != GlobToken::AnyRun) {
                GlobToken t;
                t.type = GlobToken::AnyRun;
                out.push_back(t);
            }
            ++i;
        } else if (c == '?') {
            isGlob = true;
            GlobToken t;
            t.type = GlobToken::AnyOne;
            out.push_back(t);
            ++i;
        } else if (c == '[') {
            GlobToken t;
            if (const size_t end = ParseClass(p, plain, i, t)) {
                isGlob = true;
                out.push_back(std::move(t));
                i = end;
            } else {
                literal(p.substr(i, 1));
                ++i;
            }
        } else {
            literal(p.substr(i, 1));
            ++i;
        }
    }
    return out;
}

} // namespace

bool GlobMatches(const std::vector<GlobToken>& tokens, std::string_view text) {
    // Iterative matching with one remembered star: on a mismatch after a star, the star
    // takes one more code point. Linear in practice, never exponential.
    size_t t = 0, s = 0;
    size_t starT = SIZE_MAX, starS = 0;
    while (true) {
        if (t < tokens.size()) {
            const GlobToken& g = tokens[t];
            if (g.type == GlobToken::AnyRun) {
                starT = ++t;
                starS = s;
                continue;
            }
            if (s < text.size() || (g.type == GlobToken::Literal && g.literal.empty())) {
                bool ok = false;
                size_t len = 0;
                if (g.type == GlobToken::Literal) {
                    len = g.literal.size();
                    ok = text.size() - s >= len && std::memcmp(text.data() + s, g.literal.data(), len) == 0 &&
                         EndsOnCharacter(text, s, len);
                } else {
                    const char32_t c = Decode(text, s, len);
                    ok = g.type == GlobToken::AnyOne || ClassHas(g, c);
                }
                if (ok) {
                    ++t;
                    s += len;
                    continue;
                }
            }
        } else if (s == text.size()) {
            return true;
        }
        if (starT == SIZE_MAX || starS >= text.size()) return false;
        size_t len;
        Decode(text, starS, len);
        starS += len;
        s = starS;
        t = starT;
    }
}

bool TermMatches(const QueryTerm& term, std::string_view folded) {
    if (term.glob) return GlobMatches(term.tokens, folded);
    if (term.text.empty()) return true;
    if (folded.size() < term.text.size()) return false;
    return memmem(folded.data(), folded.size(), term.text.data(), term.text.size()) != nullptr;
}

namespace {

bool Blank(char c) { return c == ' ' || c == '\t'; }

// ASCII letters only, for a term that is not UTF-8 (as names that are not are folded).
void AppendAsciiFolded(std::string& out, std::string_view s) {
    for (const char c : s) out += c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

} // namespace

std::vector<QueryTerm> ParseQuery(std::string_view text) {
    std::vector<QueryTerm> terms;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && Blank(text[i])) ++i;
        if (i == text.size()) break;
        // One term: up to a blank outside double quotes. The quotes are dropped; what they
        // enclose, blanks included, is plain text (a quote left open runs to the end).
        std::vector<std::pair<std::string_view, bool>> pieces; // bytes, quoted
        std::string whole;
        bool quoted = false, anyQuote = false;
        for (size_t start = i; i <= text.size(); ++i) {
            const bool end = i == text.size() || (!quoted && Blank(text[i]));
            if (!end && text[i] != '"') continue;
            if (i > start) pieces.emplace_back(text.substr(start, i - start), quoted);
            if (end) break;
            quoted = !quoted;
            anyQuote = true;
            start = i + 1;
        }
        for (const auto& [bytes, q] : pieces) whole += bytes;
        if (whole.empty()) continue; // "" alone
        QueryTerm t;
        // Folded piece by piece, by the rule for the whole term, so that each folded byte
        // keeps whether it was quoted.
        const bool utf8 = AppendFolded(t.text, whole);
        if (anyQuote) {
            t.text.clear();
            for (const auto& [bytes, q] : pieces) {
                const size_t at = t.text.size();
                if (utf8) AppendFolded(t.text, bytes);
                else AppendAsciiFolded(t.text, bytes);
                t.quoted.resize(t.text.size(), 0);
                if (q) std::fill(t.quoted.begin() + static_cast<long>(at), t.quoted.end(), 1);
            }
        }
        // Folder separators stay separators in quotes too.
        for (char& c : t.text)
            if (c == '\\' || c == '/') {
                c = '/';
                t.path = true;
            }
        t.tokens = CompileGlob(t.text, t.quoted, t.glob);
        if (t.glob) {
            for (const GlobToken& g : t.tokens)
                if (g.type == GlobToken::Literal && g.literal.size() > t.required.size()) t.required = g.literal;
        } else {
            t.tokens.clear();
            t.required = t.text;
        }
        terms.push_back(std::move(t));
    }
    return terms;
}

std::optional<uint64_t> ParseSizeText(std::string_view text) {
    if (text.empty()) return std::nullopt;
    unsigned shift = 0;
    switch (text.back()) {
    case 'K': case 'k': shift = 10; break;
    case 'M': case 'm': shift = 20; break;
    case 'G': case 'g': shift = 30; break;
    default: break;
    }
    if (shift) text.remove_suffix(1);
    if (text.empty() || text.size() > 20) return std::nullopt;
    uint64_t v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const uint64_t d = static_cast<uint64_t>(c - '0');
        if (v > (UINT64_MAX - d) / 10) return std::nullopt;
        v = v * 10 + d;
    }
    if (shift && v > (UINT64_MAX >> shift)) return std::nullopt;
    return v << shift;
}

std::optional<int64_t> ParseLocalDate(std::string_view text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
    int parts[3] = {0, 0, 0};
    const size_t starts[3] = {0, 5, 8}, lens[3] = {4, 2, 2};
    for (int k = 0; k < 3; ++k)
        for (size_t i = 0; i < lens[k]; ++i) {
            const char c = text[starts[k] + i];
            if (c < '0' || c > '9') return std::nullopt;
            parts[k] = parts[k] * 10 + (c - '0');
        }
    std::tm tm{};
    tm.tm_year = parts[0] - 1900;
    tm.tm_mon = parts[1] - 1;
    tm.tm_mday = parts[2];
    tm.tm_isdst = -1;
    std::tm check = tm;
    const time_t t = std::mktime(&check);
    if (t == static_cast<time_t>(-1) && !(parts[0] == 1969 && parts[1] == 12 && parts[2] == 31)) return std::nullopt;
    // mktime normalizes 2023-02-30 to March 2: such a day does not exist.
    if (check.tm_year != tm.tm_year || check.tm_mon != tm.tm_mon || check.tm_mday != tm.tm_mday) return std::nullopt;
    return static_cast<int64_t>(t);
}

} // namespace quindle
