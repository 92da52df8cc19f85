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

// The bytes as valid UTF-8, for showing and exporting names: a valid UTF-8 sequence stays
// as it is, and every other byte stands for the Latin-1 character of its value (U+0080 to
// U+00FF), so no byte is lost and a name written under an 8-bit code page still reads.
// `latin1Bytes`, when given, grows by the number of bytes taken as Latin-1.
std::string ShowableUtf8(std::string_view bytes, size_t* latin1Bytes = nullptr);
// Length of the valid UTF-8 sequence at the start of `s`; 0 when there is none.
size_t Utf8SequenceLength(std::string_view s);

// Whether `hay` holds `folded` (already lower-cased by LowerByte), ASCII case ignored.
bool HoldsFolded(std::string_view hay, std::string_view folded);
// Whether the name as it is shown (ShowableUtf8) holds `folded`. The bytes are looked at
// first: a match there is a match in the shown text too, since a valid UTF-8 filter cannot
// begin inside another character's sequence. Only a name that is not UTF-8 shows otherwise.
bool ShownHolds(std::string_view name, std::string_view folded);

// Case-insensitive match of a name against a pattern with '*' and '?'. "*.*" matches every name.
bool MatchesMask(std::string_view name, std::string_view pattern);

} // namespace quindle
