#include "search/TISearch.h"

#include <limits>
#include <stdexcept>

#include "platform/CodePage.h"

namespace quindle {

void TTISearch::SetPattern(std::string_view pattern) {
    if (pattern.size() >= static_cast<size_t>(std::numeric_limits<int32_t>::max() / 4))
        throw std::length_error("pattern too long for the matcher");
    Pattern.assign(pattern);
    PatternLength = static_cast<int32_t>(Pattern.size());
    DefaultShift = PatternLength + 1;
    HalfPatternLength = PatternLength / 2;

    for (int c = 0; c < 256; ++c) FoldTable[c] = LowerByte(static_cast<unsigned char>(c));

    SkipTable.fill(DefaultShift);
    // Left to right, so a repeated character keeps the shift of its rightmost occurrence.
    for (int32_t k = 1; k <= PatternLength; ++k) SkipTable[FoldedPattern(k)] = DefaultShift - k;
}

int32_t TTISearch::FindFirst(std::string_view text) {
    // Position runs up to TextLength + DefaultShift + 1; keep that inside 32 bits.
    if (text.size() >= static_cast<size_t>(std::numeric_limits<int32_t>::max() - 2 - DefaultShift))
        throw std::length_error("text too long for the matcher");
    Text = text;
    TextLength = static_cast<int32_t>(text.size());
    Found = false;
    MatchPosition = 0;
    if (TextLength < PatternLength) return 0;
    Position = 0;
    return FindNext();
}

int32_t TTISearch::FindNext() {
    Found = false;
    MatchPosition = 0;
    if (PatternLength == 0) { // outside the contract: find nothing rather than loop
        Position = TextLength;
        return 0;
    }
    Position += PatternLength;
    while (Position <= TextLength) {
        int32_t i = Position;
        int32_t j = PatternLength;
        if (FoldedAt(i) != FoldedPattern(j)) {
            Position += SkipTable[FoldedAt(Position + 1)];
            continue;
        }
        do {
            --j;
            --i;
        } while (j > 0 && FoldedAt(i) == FoldedPattern(j));
        if (j == 0) {
            Found = true;
            MatchPosition = Position - PatternLength + 1;
            return MatchPosition; // Position stays on the match's last character: no overlap
        }
        if (j < HalfPatternLength) {
            // A blind jump by DefaultShift here would pass over an occurrence starting
            // inside the window (AAAA in BAAAAA). The shift of the character just after the
            // window never passes one.
            Position += SkipTable[FoldedAt(Position + 1)];
        } else {
            // Shift of the leftmost matched character. Safe: with that character's rightmost
            // pattern occurrence at k, any smaller shift t would put a copy of it at k + t,
            // because the shifted pattern has to agree with the matched suffix.
            Position += SkipTable[FoldedAt(i + 1)];
        }
    }
    return 0;
}

bool TTISearch::AtEnd() {
    Finished = (Position >= TextLength) || (PatternLength > TextLength);
    return Finished;
}

} // namespace quindle
