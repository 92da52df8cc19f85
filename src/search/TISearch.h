#pragma once
// Case-insensitive substring matcher with a shift table (Boyer-Moore-Horspool /
// Sunday quick search). Positions are 1-based, as the package search counts them.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace quindle {

class TTISearch {
public:
    TTISearch() = default;

    // Stores the pattern and rebuilds FoldTable and SkipTable. The pattern must not be
    // empty (the package search refuses an empty word before it gets here).
    void SetPattern(std::string_view pattern);

    // Starts a search over `text` and returns the 1-based start of the first match, or 0.
    // The matcher does not copy the text: `text` must stay alive and unchanged until the
    // last FindNext/AtEnd call (or the next FindFirst). Texts of 2 GiB or more do not fit
    // the 32-bit positions and are refused with std::length_error.
    int32_t FindFirst(std::string_view text);

    // Searches on after the last window; returns the 1-based start of the next match, or 0.
    // A match never overlaps the previous one.
    int32_t FindNext();

    // True when nothing is left to search; also kept in Finished.
    bool AtEnd();

    // State, public as the package search reads Found after each search. Fields in the
    // order of the original record layout.
    std::string_view Text;              // not owned, see FindFirst
    std::string Pattern;                // owned copy
    int32_t Position = 0;               // 1-based right end of the current window; 0 before the first
    int32_t HalfPatternLength = 0;      // PatternLength div 2
    int32_t PatternLength = 0;
    int32_t DefaultShift = 0;           // PatternLength + 1
    int32_t TextLength = 0;
    std::array<int32_t, 256> SkipTable{}; // shift per folded character code
    std::array<uint8_t, 256> FoldTable{}; // lower-case form of each code
    bool Finished = false;
    bool Found = false;
    int32_t MatchPosition = 0;          // 1-based start of the last match; 0 when none

private:
    // Folded text character at 1-based index i; past the end the text's terminator 0.
    uint8_t FoldedAt(int32_t i) const {
        return i <= TextLength ? FoldTable[static_cast<uint8_t>(Text[static_cast<size_t>(i) - 1])] : 0;
    }
    uint8_t FoldedPattern(int32_t j) const {
        return FoldTable[static_cast<uint8_t>(Pattern[static_cast<size_t>(j) - 1])];
    }
};

} // namespace quindle
