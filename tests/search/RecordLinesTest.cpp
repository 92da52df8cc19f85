#include "search/RecordLines.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "platform/Errors.h"
#include "search/CountOccurrences.h"
#include "support/TempDrive.h"

using quindle::EFileError;
using quindle::ForEachMatchingLine;
using quindle::RecordLine;
using quindle::TRecordText;
using quindle::test::TempDir;

namespace {

const char* const kInfo = "Special Information about this disk by Quindle";

// One line as "section|key|value|flags" (h header, i info), easy to compare in a table.
std::string Show(const RecordLine& l) {
    std::string s = std::string(l.section) + "|" + std::string(l.key) + "|" + std::string(l.value) + "|";
    if (l.header) s += "h";
    if (l.info) s += "i";
    return s;
}

std::vector<std::string> Matches(const std::string& path, const std::string& word) {
    std::vector<std::string> out;
    ForEachMatchingLine(path, word, kInfo, [&](const RecordLine& l) { out.push_back(Show(l)); });
    return out;
}

const std::string kRecord =
    "\r\n[E:\\]\r\nreadme.txt=1\r\nsetup.exe=2\r\n\r\n[Docs]\r\na.doc=1\r\nREADME.md=2\r\na=b.txt=3\r\n"
    "x[1].txt=4\r\n\r\n[Special Information about this disk by Quindle]\r\nVolume Serial=439041101\r\n"
    "Memorization Date=07/12/2026 14:05:09\r\nTitle=Readme = docs\r\nDescription=\r\nAdditional=\r\n";

} // namespace

TEST(RecordLines, MatchingLinesCarrySectionKeyAndInformationFlag) {
    TempDir dir;
    const std::string path = dir.MakeFile("1.dat", kRecord);
    struct Case {
        std::string word;
        std::vector<std::string> lines;
    } cases[] = {
        {"readme", {"E:\\|readme.txt|1|", "Docs|README.md|2|", "Special Information about this disk by Quindle|Title|Readme = docs|i"}},
        {"DOCS", {"Docs|[Docs]||h", "Special Information about this disk by Quindle|Title|Readme = docs|i"}},
        // A name holding "=" keeps it; a line with "[" stays in its section.
        {"b.txt", {"Docs|a=b.txt|3|"}},
        {"[1]", {"Docs|x[1].txt|4|"}},
        {"special", {"Special Information about this disk by Quindle|[Special Information about this disk by Quindle]||hi"}},
        {"description", {"Special Information about this disk by Quindle|Description||i"}},
        {"nowhere", {}},
        {"", {}},
        {"txt\r\nsetup", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(Matches(path, c.word), c.lines) << c.word;
}

TEST(RecordLines, LineEndsAsTheStoreReadsThem) {
    TempDir dir;
    struct Case {
        std::string text;
        std::vector<std::string> lines; // every line, via ForEachLine
    } cases[] = {
        {"", {}},
        {"a=1", {"|a|1|"}},
        {"a=1\r\n", {"|a|1|"}},
        {"[S]\rb=2\nc=3\r\n\r\nd", {"S|[S]||h", "S|b|2|", "S|c|3|", "S|||", "S|d||"}},
        {"\n\r[s]\n\r\n", {"|||", "|||", "s|[s]||h", "s|||"}},
        {std::string("n\0ul=1\r\n", 8), {std::string("|n\0ul|1|", 8)}},
        {"[]\r\n[x\r\ny=1", {"|[]||h", "|[x||", "|y|1|"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> got;
        TRecordText::FromText(c.text).ForEachLine(kInfo, [&](const RecordLine& l) { got.push_back(Show(l)); });
        EXPECT_EQ(got, c.lines) << c.text;
    }
    // The same split seen through a file: lone CR and lone LF end lines, as in the store.
    const std::string path = dir.MakeFile("2.dat", "[E:\\]\ra.txt=1\nb.TXT=2\r\nc.doc=3");
    EXPECT_EQ(Matches(path, "TXT"), (std::vector<std::string>{"E:\\|a.txt|1|", "E:\\|b.TXT|2|"}));
}

TEST(RecordLines, EveryLineHoldingTheWordIsListedWhereverTheCountFindsOne) {
    // Lines with several matches, matches at the very start and end, and a last line
    // without its line end: a line is listed exactly when counting it alone finds the word.
    TempDir dir;
    std::string text = "\r\n[E:\\]\r\n";
    const char* names[] = {"aaa", "a", "xaax", "AaA.aa", "b", "aa", "AA=aa", "ba"};
    for (const char* n : names) text += std::string(n) + "=1\r\n";
    text += "aa";
    const std::string path = dir.MakeFile("3.dat", text);
    std::vector<std::string> got;
    ForEachMatchingLine(path, "aA", kInfo, [&](const RecordLine& l) { got.emplace_back(l.text); });
    std::vector<std::string> want;
    TRecordText::FromText(text).ForEachLine(kInfo, [&](const RecordLine& l) {
        if (quindle::CountOccurrencesInText(quindle::AnsiUpperCase(l.text), "AA") > 0) want.emplace_back(l.text);
    });
    EXPECT_EQ(got, want);
    EXPECT_EQ(got.size(), 6u);
    EXPECT_EQ(got.back(), "aa");
}

TEST(RecordLines, MissingFileIsEmptyUnreadableOnesRaiseCannotOpen) {
    TempDir dir;
    EXPECT_TRUE(Matches(dir.path() + "/none.dat", "a").empty());
    const std::string folder = dir.MakeDir("folder.dat");
    const std::string fifo = dir.path() + "/fifo.dat";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string link = dir.path() + "/zero.dat";
    ASSERT_EQ(::symlink("/dev/zero", link.c_str()), 0);
    for (const std::string& bad : {folder, fifo, link}) {
        try {
            Matches(bad, "a");
            ADD_FAILURE() << bad;
        } catch (const EFileError& e) {
            EXPECT_EQ(std::string(e.what()), "Cannot open file " + bad);
        }
    }
}
