#include "platform/CodePage.h"

namespace quindle {

std::string AnsiLowerCase(std::string_view s) {
    std::string r(s);
    for (auto& c : r) c = static_cast<char>(LowerByte(static_cast<unsigned char>(c)));
    return r;
}

std::string AnsiUpperCase(std::string_view s) {
    std::string r(s);
    for (auto& c : r) c = static_cast<char>(UpperByte(static_cast<unsigned char>(c)));
    return r;
}

int CompareText(std::string_view a, std::string_view b) {
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        const int ca = LowerByte(static_cast<unsigned char>(a[i]));
        const int cb = LowerByte(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca - cb;
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

size_t Utf8SequenceLength(std::string_view s) {
    if (s.empty()) return 0;
    const auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char c = b(0);
    if (c < 0x80) return 1;
    // The range the second byte must lie in; overlong forms, surrogates and code points
    // above U+10FFFF are not UTF-8.
    size_t n = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) n = 2;
    else if (c == 0xE0) n = 3, lo = 0xA0;
    else if (c == 0xED) n = 3, hi = 0x9F;
    else if (c >= 0xE1 && c <= 0xEF) n = 3;
    else if (c == 0xF0) n = 4, lo = 0x90;
    else if (c == 0xF4) n = 4, hi = 0x8F;
    else if (c >= 0xF1 && c <= 0xF3) n = 4;
    else return 0;
    if (s.size() < n || b(1) < lo || b(1) > hi) return 0;
    for (size_t i = 2; i < n; ++i)
        if (b(i) < 0x80 || b(i) > 0xBF) return 0;
    return n;
}

std::string ShowableUtf8(std::string_view bytes, size_t* latin1Bytes) {
    std::string out;
    out.reserve(bytes.size());
    size_t taken = 0;
    for (size_t i = 0; i < bytes.size();) {
        const size_t n = Utf8SequenceLength(bytes.substr(i));
        if (n > 0) {
            out.append(bytes.data() + i, n);
            i += n;
            continue;
        }
        const unsigned char c = static_cast<unsigned char>(bytes[i++]);
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        ++taken;
    }
    if (latin1Bytes) *latin1Bytes += taken;
    return out;
}

bool MatchesMask(std::string_view name, std::string_view pattern) {
    if (pattern == "*.*" || pattern == "*") return true;
    // Iterative glob with backtracking to the last '*'.
    size_t n = 0, p = 0, starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' || LowerByte(static_cast<unsigned char>(pattern[p])) ==
                                             LowerByte(static_cast<unsigned char>(name[n])))) {
            ++p;
            ++n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    // "name." patterns: a trailing ".*" also matches a name without extension.
    if (p + 2 == pattern.size() && pattern[p] == '.' && pattern[p + 1] == '*') return true;
    return p == pattern.size();
}

bool HoldsFolded(std::string_view hay, std::string_view folded) {
    if (folded.empty()) return true;
    if (hay.size() < folded.size()) return false;
    const unsigned char first = static_cast<unsigned char>(folded[0]);
    for (size_t i = 0, last = hay.size() - folded.size(); i <= last; ++i) {
        if (LowerByte(static_cast<unsigned char>(hay[i])) != first) continue;
        size_t k = 1;
        while (k < folded.size() &&
               LowerByte(static_cast<unsigned char>(hay[i + k])) == static_cast<unsigned char>(folded[k]))
            ++k;
        if (k == folded.size()) return true;
    }
    return false;
}

bool ShownHolds(std::string_view name, std::string_view folded) {
    if (HoldsFolded(name, folded)) return true;
    bool ascii = true; // valid UTF-8, shown as it is: the common case, settled at once
    for (const char c : name) ascii &= static_cast<unsigned char>(c) < 0x80;
    if (ascii) return false;
    for (size_t i = 0; i < name.size();) {
        const size_t n = Utf8SequenceLength(name.substr(i));
        if (n == 0) return HoldsFolded(ShowableUtf8(name), folded);
        i += n;
    }
    return false;
}

} // namespace quindle
