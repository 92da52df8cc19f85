#include "search/TISearch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

using quindle::TTISearch;

namespace {

unsigned char AsciiFold(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c | 0x20) : c; }

// Independent reference: leftmost match, then search on from its end.
int ReferenceCount(const std::string& text, const std::string& pattern) {
    auto eq = [](char a, char b) { return AsciiFold(static_cast<unsigned char>(a)) == AsciiFold(static_cast<unsigned char>(b)); };
    std::vector<int> starts;
    int count = 0;
    auto it = text.begin();
    for (;;) {
        it = std::search(it, text.end(), pattern.begin(), pattern.end(), eq);
        if (it == text.end()) break;
        ++count;
        it += static_cast<std::ptrdiff_t>(pattern.size());
    }
    return count;
}

// All match starts, collected the way the package search drives the matcher.
std::vector<int> MatcherStarts(const std::string& text, const std::string& pattern) {
    TTISearch s;
    s.SetPattern(pattern);
    std::vector<int> starts;
    const int first = s.FindFirst(text);
    if (!s.Found) {
        EXPECT_EQ(first, 0);
        return starts;
    }
    starts.push_back(first);
    while (!s.AtEnd()) {
        const int p = s.FindNext();
        if (s.Found) {
            EXPECT_EQ(p, s.MatchPosition);
            starts.push_back(p);
        } else {
            EXPECT_EQ(p, 0);
            EXPECT_EQ(s.MatchPosition, 0);
        }
    }
    return starts;
}

} // namespace

TEST(TTISearch, NewInstanceIsEmpty) {
    TTISearch s;
    EXPECT_TRUE(s.Text.empty());
    EXPECT_TRUE(s.Pattern.empty());
    EXPECT_EQ(s.Position, 0);
    EXPECT_EQ(s.PatternLength, 0);
    EXPECT_EQ(s.TextLength, 0);
    EXPECT_EQ(s.MatchPosition, 0);
    EXPECT_FALSE(s.Found);
    EXPECT_FALSE(s.Finished);
    EXPECT_TRUE(std::all_of(s.SkipTable.begin(), s.SkipTable.end(), [](int v) { return v == 0; }));
}

TEST(TTISearch, WorkedExampleTablesAndPositions) {
    TTISearch s;
    s.SetPattern("abc");
    EXPECT_EQ(s.PatternLength, 3);
    EXPECT_EQ(s.DefaultShift, 4);
    EXPECT_EQ(s.HalfPatternLength, 1);
    EXPECT_EQ(s.SkipTable['a'], 3);
    EXPECT_EQ(s.SkipTable['b'], 2);
    EXPECT_EQ(s.SkipTable['c'], 1);
    EXPECT_EQ(s.SkipTable['x'], 4);
    EXPECT_EQ(s.SkipTable[0], 4);
    EXPECT_EQ(s.SkipTable['A'], 4); // the table is indexed by folded codes only

    EXPECT_EQ(s.FindFirst("xxabcabc"), 3);
    EXPECT_TRUE(s.Found);
    EXPECT_EQ(s.MatchPosition, 3);
    EXPECT_EQ(s.Position, 5);
    EXPECT_FALSE(s.AtEnd());
    EXPECT_EQ(s.FindNext(), 6);
    EXPECT_TRUE(s.Found);
    EXPECT_TRUE(s.AtEnd());
    EXPECT_TRUE(s.Finished);

    // A repeated character keeps the shift of its rightmost occurrence.
    s.SetPattern("abca");
    EXPECT_EQ(s.SkipTable['a'], 1);
    EXPECT_EQ(s.SkipTable['b'], 3);
    EXPECT_EQ(s.SkipTable['c'], 2);
    EXPECT_EQ(s.SkipTable['z'], 5);
}

TEST(TTISearch, MatchesNeverOverlap) {
    EXPECT_EQ(MatcherStarts("AAAA", "AA"), (std::vector<int>{1, 3}));
    EXPECT_EQ(MatcherStarts("AAA", "AA"), (std::vector<int>{1}));
    EXPECT_EQ(MatcherStarts("abababab", "aba"), (std::vector<int>{1, 5}));

    TTISearch s;
    s.SetPattern("AA");
    EXPECT_EQ(s.FindFirst("AAA"), 1);
    EXPECT_FALSE(s.AtEnd());
    EXPECT_EQ(s.FindNext(), 0);
    EXPECT_FALSE(s.Found);
    EXPECT_TRUE(s.AtEnd());
}

TEST(TTISearch, OccurrenceAfterShortBackwardMismatchIsFound) {
    // The window BAAA matches AAA from its end and fails on B at pattern index 1.
    EXPECT_EQ(MatcherStarts("BAAAAA", "AAAA"), (std::vector<int>{2}));
    EXPECT_EQ(MatcherStarts("BAAAAB AAAA", "AAAA"), (std::vector<int>{2, 8}));
    EXPECT_EQ(MatcherStarts("xabcdeabcdef", "abcdef"), (std::vector<int>{7}));
}

TEST(TTISearch, FoldsAsciiCaseOnly) {
    for (const char* text : {"TITLE", "title", "tItLe", "xxTitle"}) EXPECT_EQ(MatcherStarts(text, "Title").size(), 1u) << text;
    EXPECT_EQ(MatcherStarts("a[b", "A{B").size(), 0u); // '[' and '{' differ by 0x20 but are not letters

    // UTF-8 é (C3 A9) and É (C3 89) are different bytes and stay different.
    EXPECT_EQ(MatcherStarts("caf\xC3\x89", "caf\xC3\xA9").size(), 0u);
    EXPECT_EQ(MatcherStarts("CAF\xC3\xA9!", "caf\xC3\xA9").size(), 1u);
    TTISearch s;
    s.SetPattern("x");
    EXPECT_EQ(s.FoldTable['Q'], 'q');
    EXPECT_EQ(s.FoldTable[0xC9], 0xC9);
    EXPECT_EQ(s.FoldTable[0], 0);
}

TEST(TTISearch, ShortTextsAndEnds) {
    TTISearch s;
    s.SetPattern("abc");
    EXPECT_EQ(s.FindFirst(""), 0);
    EXPECT_FALSE(s.Found);
    EXPECT_TRUE(s.AtEnd());
    EXPECT_EQ(s.FindFirst("ab"), 0);
    EXPECT_TRUE(s.AtEnd());

    // A match ending on the last character ends the search at once.
    EXPECT_EQ(s.FindFirst("xyzABC"), 4);
    EXPECT_TRUE(s.AtEnd());
    // Exactly the pattern.
    EXPECT_EQ(s.FindFirst("abc"), 1);
    EXPECT_TRUE(s.AtEnd());
    // No match at all: FindFirst leaves the position past the end.
    EXPECT_EQ(s.FindFirst("abxabxab"), 0);
    EXPECT_EQ(s.MatchPosition, 0);
    EXPECT_TRUE(s.AtEnd());

    // A shorter text keeps the old position.
    EXPECT_EQ(s.FindFirst("xxabcx"), 3);
    EXPECT_EQ(s.FindFirst("a"), 0);
    EXPECT_EQ(s.Position, 5);
}

TEST(TTISearch, OneCharacterPatternCountsEveryOccurrence) {
    EXPECT_EQ(MatcherStarts("aAbaAa", "a"), (std::vector<int>{1, 2, 4, 5, 6}));
    EXPECT_EQ(MatcherStarts("bbb", "A").size(), 0u);
    EXPECT_EQ(MatcherStarts(std::string("a\0a", 3), std::string(1, '\0')), (std::vector<int>{2}));
}

TEST(TTISearch, AgreesWithReferenceOnRandomTexts) {
    std::mt19937 rng(20261208);
    const std::vector<std::string> alphabets = {"ab", "aAbB", "aab", "aAbB#", "abc", "aaaab"};
    int mismatches = 0;
    for (int round = 0; round < 60000 && mismatches < 5; ++round) {
        const std::string& alpha = alphabets[round % alphabets.size()];
        const size_t m = 1 + rng() % 12;
        std::string pattern;
        if (rng() % 3 == 0) { // periodic pattern
            const size_t period = 1 + rng() % 3;
            std::string unit;
            for (size_t k = 0; k < period; ++k) unit += alpha[rng() % alpha.size()];
            while (pattern.size() < m) pattern += unit[pattern.size() % period];
        } else {
            for (size_t k = 0; k < m; ++k) pattern += alpha[rng() % alpha.size()];
        }
        std::string text;
        const size_t n = rng() % 80;
        for (size_t k = 0; k < n; ++k) text += alpha[rng() % alpha.size()];
        if (rng() % 4 == 0 && n > 0) { // plant a copy of the pattern in the other case
            std::string planted = pattern;
            for (auto& c : planted) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
            text.insert(rng() % text.size(), planted);
        }
        const auto starts = MatcherStarts(text, pattern);
        const int expected = ReferenceCount(text, pattern);
        if (static_cast<int>(starts.size()) != expected) {
            ++mismatches;
            ADD_FAILURE() << "pattern \"" << pattern << "\" text \"" << text << "\": " << starts.size() << " vs " << expected;
        }
        // Starts strictly increase and never overlap.
        for (size_t k = 1; k < starts.size(); ++k) EXPECT_GE(starts[k] - starts[k - 1], static_cast<int>(m));
    }
}
