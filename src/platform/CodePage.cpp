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

} // namespace quindle
