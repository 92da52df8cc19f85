#include "search/CountOccurrences.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <string>

#include "platform/Errors.h"
#include "search/TISearch.h"
#include "support/TempDrive.h"

using quindle::CountOccurrences;
using quindle::CountOccurrencesInText;
using quindle::EFileError;
using quindle::TOccurrenceCounter;
using quindle::TTISearch;
using quindle::test::TempDir;

namespace {

std::string Upper(std::string s) {
    for (auto& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return s;
}

// The file's text as the search sees it: split into lines at CR LF, lone CR or lone LF,
// each line followed by CR LF.
std::string JoinLines(const std::string& raw) {
    std::string out, line;
    size_t p = 0;
    while (p < raw.size()) {
        const char c = raw[p++];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && p < raw.size() && raw[p] == '\n') ++p;
            out += line + "\r\n";
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty()) out += line + "\r\n";
    return out;
}

// The count the package search defines: one matcher over the upper-cased joined text.
int MatcherCount(const std::string& raw, const std::string& word) {
    const std::string text = Upper(JoinLines(raw));
    TTISearch s;
    s.SetPattern(Upper(word));
    s.FindFirst(text);
    if (!s.Found) return 0;
    int count = 1;
    while (!s.AtEnd()) {
        s.FindNext();
        if (s.Found) ++count;
    }
    return count;
}

int ReferenceCount(const std::string& text, const std::string& word) {
    const std::string t = Upper(text), w = Upper(word);
    int count = 0;
    for (auto it = t.begin();; it += static_cast<std::ptrdiff_t>(w.size()), ++count) {
        it = std::search(it, t.end(), w.begin(), w.end());
        if (it == t.end()) return count;
    }
}

std::string RandomString(std::mt19937& rng, const std::string& alpha, size_t n) {
    std::string s;
    for (size_t k = 0; k < n; ++k) s += alpha[rng() % alpha.size()];
    return s;
}

} // namespace

TEST(CountOccurrences, MissingEmptyAndShortFiles) {
    TempDir dir;
    EXPECT_EQ(CountOccurrences(dir.path() + "/nothere.dat", "Title"), 0);
    EXPECT_EQ(CountOccurrences(dir.path() + "/no/such/folder/x.dat", "Title"), 0);
    const std::string empty = dir.MakeFile("empty.dat");
    EXPECT_EQ(CountOccurrences(empty, "a"), 0);
    EXPECT_EQ(CountOccurrences(empty, "\r\n"), 0); // an empty file has no line at all
    const std::string small = dir.MakeFile("small.dat", "abc");
    EXPECT_EQ(CountOccurrences(small, "abcd"), 0);
    EXPECT_EQ(CountOccurrences(small, ""), 0);
    EXPECT_EQ(CountOccurrences(small, "ABC"), 1);
}

TEST(CountOccurrences, RecordFile) {
    TempDir dir;
    const std::string rec =
        "[Info]\r\nTitle=Photos title\r\nSerial=1234\r\n[E:\\Docs]\r\nreport.txt=12\r\nTITLE.DOC=7\r\n";
    const std::string path = dir.MakeFile("1234.dat", rec);
    EXPECT_EQ(CountOccurrences(path, "Title"), 3);
    EXPECT_EQ(CountOccurrences(path, "="), 4);
    EXPECT_EQ(CountOccurrences(path, "\r\n["), 1);
    EXPECT_EQ(CountOccurrences(path, "\r\n"), 6);
}

TEST(CountOccurrences, LineEndsAreJoinedWithCrLf) {
    TempDir dir;
    const std::string mixed = dir.MakeFile("mixed.dat", "a\nb\rc\r\nd");
    EXPECT_EQ(CountOccurrences(mixed, "\r\n"), 4); // the last line gets its CR LF too
    EXPECT_EQ(CountOccurrences(mixed, "b\r\nC"), 1);
    EXPECT_EQ(CountOccurrences(mixed, "\n"), 4);
    EXPECT_EQ(CountOccurrences(mixed, "d\r\n"), 1);
    // Already CR LF, but no line end after the last line.
    const std::string crlf = dir.MakeFile("crlf.dat", "x\r\ny");
    EXPECT_EQ(CountOccurrences(crlf, "y\r\n"), 1);
    EXPECT_EQ(CountOccurrences(crlf, "\r\n"), 2);
    // CR CR LF is a line, then an empty line; LF CR likewise.
    const std::string doubled = dir.MakeFile("doubled.dat", "a\r\r\nb\n\r");
    EXPECT_EQ(CountOccurrences(doubled, "\r\n\r\n"), 2);
    EXPECT_EQ(CountOccurrences(doubled, "\r\r"), 0);
}

TEST(CountOccurrences, NulBytesAreOrdinaryCharacters) {
    TempDir dir;
    const std::string path = dir.MakeFile("nul.dat", std::string("ab\0ab\0AB\r\nab", 13));
    EXPECT_EQ(CountOccurrences(path, "ab"), 4); // counted past the NUL bytes
    EXPECT_EQ(CountOccurrences(path, std::string("b\0a", 3)), 2);
}

TEST(CountOccurrences, UnreadableFilesRaiseFileError) {
    TempDir dir;
    const std::string folder = dir.MakeDir("5678.dat");
    try {
        CountOccurrences(folder, "x");
        ADD_FAILURE() << "a folder was counted";
    } catch (const EFileError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file " + folder);
    }
    if (geteuid() != 0) { // root reads everything
        const std::string locked = dir.MakeFile("locked.dat", "secret");
        ASSERT_EQ(chmod(locked.c_str(), 0), 0);
        EXPECT_THROW(CountOccurrences(locked, "secret"), EFileError);
    }
    const std::string fifo = dir.path() + "/fifo.dat";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_THROW(CountOccurrences(fifo, "x"), EFileError); // and does not hang
}

TEST(CountOccurrences, CounterReusesItsBufferSafely) {
    TempDir dir;
    TOccurrenceCounter counter;
    const std::string big = dir.MakeFile("big.dat", std::string(100000, 'q') + "needle");
    const std::string small = dir.MakeFile("small.dat", "need");
    EXPECT_EQ(counter.Count(big, "needle"), 1);
    EXPECT_EQ(counter.Count(small, "needle"), 0); // nothing left over from the big file
    EXPECT_EQ(counter.Count(small, "qq"), 0);
    EXPECT_EQ(counter.Count(big, "qqq"), 33333);
    EXPECT_EQ(counter.Count(dir.path() + "/gone.dat", "q"), 0);
}

TEST(CountOccurrences, LongRunsAndLongWords) {
    // Matches far longer than a vector block; candidates inside a match are dropped.
    const std::string run(10000, 'a');
    EXPECT_EQ(CountOccurrencesInText(run, std::string(33, 'A')), 10000u / 33);
    EXPECT_EQ(CountOccurrencesInText(run, std::string(100, 'a')), 100u);
    EXPECT_EQ(CountOccurrencesInText(run, "aa"), 5000u);
    EXPECT_EQ(CountOccurrencesInText(run, std::string(33, 'A'), quindle::TCountEngine::Sse2), 10000u / 33);
    EXPECT_EQ(CountOccurrencesInText(run + "b", "ab"), 1u);
    // Bytes outside ASCII only match themselves; 0x20 apart is not "the other case" for them.
    EXPECT_EQ(CountOccurrencesInText(std::string(40, '\xC9') + "\xE9", "\xE9"), 1u);
    EXPECT_EQ(CountOccurrencesInText(std::string(40, '[') + "{", "{"), 1u);
}

TEST(CountOccurrences, InTextAgreesWithMatcherOnRandomTexts) {
    std::mt19937 rng(77);
    const std::string alphabets[] = {"aAbB", "ab", "abababx", "aaaaAb", "aA{[bB"};
    for (int round = 0; round < 4000; ++round) {
        const std::string& alpha = alphabets[round % 5];
        const std::string text = RandomString(rng, alpha, rng() % 300);
        std::string word = RandomString(rng, alpha, 1 + rng() % (round % 7 == 0 ? 40 : 12));
        if (rng() % 3 == 0) { // periodic words are where skipping goes wrong
            const std::string unit = word.substr(0, 1 + rng() % 2);
            for (size_t k = 0; k < word.size(); ++k) word[k] = unit[k % unit.size()];
        }
        const uint64_t got = CountOccurrencesInText(text, word);
        ASSERT_EQ(CountOccurrencesInText(text, word, quindle::TCountEngine::Sse2), got);
        ASSERT_EQ(CountOccurrencesInText(text, word, quindle::TCountEngine::Scalar), got);
        ASSERT_EQ(got, static_cast<uint64_t>(ReferenceCount(text, word))) << "\"" << word << "\" in \"" << text << "\"";
        // No line ends in these texts, so the matcher over the joined text agrees too.
        ASSERT_EQ(got, static_cast<uint64_t>(MatcherCount(text, word))) << "\"" << word << "\" in \"" << text << "\"";
    }
}

TEST(CountOccurrences, FilesAgreeWithMatcherUnderLineEndVariations) {
    TempDir dir;
    std::mt19937 rng(4242);
    const std::string alphabets[] = {"aAb\r\n", "ab\n", "aB\r", "aab\r\n\r\n", std::string("ab\r\n\0", 5)};
    TOccurrenceCounter counter;
    for (int round = 0; round < 400; ++round) {
        const std::string& alpha = alphabets[round % 5];
        const std::string raw = RandomString(rng, alpha, rng() % 400);
        const std::string word = RandomString(rng, alpha, 1 + rng() % 6);
        const std::string path = dir.MakeFile("r" + std::to_string(round % 10) + ".dat", raw);
        const int expected = MatcherCount(raw, word);
        ASSERT_EQ(expected, ReferenceCount(JoinLines(raw), word));
        ASSERT_EQ(CountOccurrences(path, word), expected) << "word \"" << word << "\" file \"" << raw << "\"";
        ASSERT_EQ(counter.Count(path, word), expected);
    }
}
