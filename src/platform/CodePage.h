#pragma once
// Per-byte case rules of the system code page. On Linux the code page is UTF-8 and
// only ASCII letters fold; bytes 128-255 are left as they are. Every case-insensitive
// comparison of the program goes through here, so another code page can be added in
// one place.
#include <string>
#include <string_view>

namespace quindle {

inline unsigned char LowerByte(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }
inline unsigned char UpperByte(unsigned char c) { return (c >= 'a' && c <= 'z') ? c - 32 : c; }

std::string AnsiLowerCase(std::string_view s);
std::string AnsiUpperCase(std::string_view s);

// <0, 0, >0 like strcmp, comparing folded bytes (names differing only in case compare equal).
int CompareText(std::string_view a, std::string_view b);
inline bool SameText(std::string_view a, std::string_view b) { return a.size() == b.size() && CompareText(a, b) == 0; }

// Case-insensitive match of a name against a pattern with '*' and '?'. "*.*" matches every name.
bool MatchesMask(std::string_view name, std::string_view pattern);

} // namespace quindle
