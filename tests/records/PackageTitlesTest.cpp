#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include <random>

#include "platform/Errors.h"
#include "records/IniFile.h"
#include "records/PackageTitles.h"
#include "support/TempDrive.h"

using namespace quindle;
using quindle::test::TempDir;
using quindle::test::WriteHostFile;

namespace {

const std::string kInfo = "Special Information about this disk by Quindle";

std::string StoreTitle(const std::string& path, const std::string& key = "Title") {
    return TIniFile32(path).ReadString(kInfo, key, "");
}

// Lines that sit close to the rules: headers with other cases, blanks or a second header,
// keys differing in case or by a blank, values holding "=" or "[", lines without "=".
const std::vector<std::string> kLines = {
    "",
    "[" + kInfo + "]",
    "[SPECIAL INFORMATION ABOUT THIS DISK BY QUINDLE]",
    "[special information about this disk by quindle]",
    " [" + kInfo + "]",
    "[" + kInfo + "] ",
    "[" + kInfo,
    "[Docs]",
    "[E:\\]",
    "Title=Backup disk",
    "Title=",
    "Title=a=b",
    "Title =spaced",
    "title=lower",
    "TITLE=upper",
    "Title",
    "Titles=plural",
    "=Title",
    "Description=Letters",
    "Volume Serial=439041101",
    "readme.txt=1",
    "name[1].txt=2",
    "Title=has [ bracket",
    "x=y]",
    std::string("nul\0Title=in", 12),
    std::string("Title=after\0nul", 15),
};
const std::vector<std::string> kBreaks = {"\r\n", "\r\n", "\r\n", "\n", "\r", "\r\r\n", "\n\r"};

std::string RandomText(std::mt19937& rng) {
    std::string text;
    const int lines = std::uniform_int_distribution<int>(0, 14)(rng);
    for (int i = 0; i < lines; ++i) {
        text += kLines[std::uniform_int_distribution<size_t>(0, kLines.size() - 1)(rng)];
        // Now and then the last line has no line break.
        if (i + 1 < lines || rng() % 4 != 0) text += kBreaks[std::uniform_int_distribution<size_t>(0, kBreaks.size() - 1)(rng)];
    }
    return text;
}

} // namespace

TEST(PackageTitles, AgreesWithTheStoreOnRandomRecords) {
    TempDir dir;
    const std::string path = dir.path() + "/r.dat";
    std::mt19937 rng(20240607);
    TRecordTitleReader reader;
    int nonEmpty = 0;
    for (int round = 0; round < 1000; ++round) {
        const std::string text = RandomText(rng);
        WriteHostFile(path, text);
        for (const std::string key : {"Title", "Description", ""}) {
            const std::string expected = StoreTitle(path, key);
            ASSERT_EQ(reader.Read(path, kInfo, key), expected) << "round " << round << " key '" << key << "'";
            ASSERT_EQ(FindIniValue(text, kInfo, key), expected);
        }
        if (!StoreTitle(path).empty()) ++nonEmpty;
        ASSERT_EQ(ReadRecordTitle(path, kInfo), StoreTitle(path));
    }
    // The random texts must exercise both outcomes.
    EXPECT_GT(nonEmpty, 50);
    EXPECT_LT(nonEmpty, 950);
}

TEST(PackageTitles, FirstHeaderWinsInALargeRecordAndItsSectionEndsAtABracket) {
    TempDir dir;
    const std::string path = dir.path() + "/big.dat";
    std::string body = "\r\n[E:\\]\r\n";
    for (int i = 0; i < 50000; ++i) body += "file" + std::to_string(i) + ".txt=" + std::to_string(i + 1) + "\r\n";
    // An information header early in the file hides the one at the end.
    WriteHostFile(path, "\r\n[" + kInfo + "]\r\nTitle=early\r\n" + body + "\r\n[" + kInfo + "]\r\nTitle=late\r\n");
    EXPECT_EQ(ReadRecordTitle(path, kInfo), "early");
    // The normal layout: the information section last.
    WriteHostFile(path, body + "\r\n[" + kInfo + "]\r\nVolume Serial=1\r\nTitle=late\r\n");
    EXPECT_EQ(ReadRecordTitle(path, kInfo), "late");
    // A value holding "[" ends the section before Title is reached.
    WriteHostFile(path, body + "\r\n[" + kInfo + "]\r\nDescription=a[b\r\nTitle=late\r\n");
    EXPECT_EQ(ReadRecordTitle(path, kInfo), "");
    EXPECT_EQ(StoreTitle(path), "");
    // A header that is only part of a line is no header.
    WriteHostFile(path, body + "x[" + kInfo + "]\r\nTitle=no\r\n");
    EXPECT_EQ(ReadRecordTitle(path, kInfo), "");
}

TEST(PackageTitles, MissingFileIsEmptyAndUnreadableFileRaisesTheStoresError) {
    TempDir dir;
    EXPECT_EQ(ReadRecordTitle(dir.path() + "/none.dat", kInfo), "");
    EXPECT_EQ(ReadRecordTitle(dir.path() + "/none/deeper.dat", kInfo), "");
    const std::string folder = dir.MakeDir("x.dat");
    // None of these is a regular file; a device never ends and a FIFO never answers, so
    // reading either would hang or grow without bound.
    const std::string zero = dir.path() + "/zero.dat", fifo = dir.path() + "/fifo.dat", sock = dir.path() + "/sock.dat";
    ASSERT_EQ(symlink("/dev/zero", zero.c_str()), 0);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int s = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(sock.size(), sizeof addr.sun_path);
    std::memcpy(addr.sun_path, sock.c_str(), sock.size() + 1);
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    for (const std::string& odd : {folder, zero, fifo, sock}) {
        try {
            ReadRecordTitle(odd, kInfo);
            ADD_FAILURE() << odd << " must not read as a record";
        } catch (const EFileError& e) {
            EXPECT_EQ(std::string(e.what()), "Cannot open file " + odd);
        }
    }
    close(s);
    // The reader stays usable after a failure and after a large file.
    TRecordTitleReader reader;
    const std::string big = dir.path() + "/big.dat";
    WriteHostFile(big, std::string(3 << 20, 'a') + "\r\n[" + kInfo + "]\r\nTitle=big\r\n");
    const std::string small = dir.path() + "/small.dat";
    WriteHostFile(small, "[" + kInfo + "]\nTitle=small");
    EXPECT_THROW(reader.Read(folder, kInfo), EFileError);
    EXPECT_EQ(reader.Read(big, kInfo), "big");
    EXPECT_EQ(reader.Read(small, kInfo), "small");
}

TEST(PackageTitles, ARememberedTitleIsReadAgainOnceTheRecordChanges) {
    TempDir dir;
    const std::string path = dir.path() + "/7.dat";
    const std::string info = "Special Information about this disk by Quindle";
    WriteHostFile(path, "\r\n[" + info + "]\r\nTitle=First\r\n");
    TRecordTitleReader reader;
    EXPECT_EQ(reader.Read(path, info), "First");
    EXPECT_EQ(reader.Read(path, info), "First");
    {
        // A change through the store replaces the file (a new inode), or appends in place.
        TIniFile32 store(path);
        store.WriteString(info, "Title", "Second");
    }
    EXPECT_EQ(reader.Read(path, info), "Second");
    {
        TIniFile32 store(path);
        store.WriteString(info, "Title", "Third!");
    }
    EXPECT_EQ(reader.Read(path, info), "Third!");
    EXPECT_EQ(reader.Read(path, info, "Description"), "");
    std::remove(path.c_str());
    EXPECT_EQ(reader.Read(path, info), "");
}

// No line holds a line break, so a section name holding one has no header, even where
// its bytes stand in the text across a break: reader and store both give "".
TEST(PackageTitles, SectionNameWithALineBreakHasNoHeader) {
    struct Case {
        std::string section, text;
    };
    const std::vector<Case> cases = {
        {"\n", "\r\n[\n]\r\nTitle=x\r\n"},
        {"\r", "[\r]\nTitle=x\n"},
        {"A\r\nB", "[A\r\nB]\r\nTitle=x\r\n"},
        {"A]\r\n[B", "[A]\r\n[B]\r\nTitle=x\r\n"},
        {"\n", "\n\n[\n]\r\x81s\n\n[x"}, // found by fuzz_package_titles
    };
    TempDir dir;
    const std::string path = dir.path() + "/r.dat";
    for (const Case& c : cases) {
        for (const std::string key : {"Title", ""}) {
            SCOPED_TRACE("section '" + c.section + "' key '" + key + "'");
            WriteHostFile(path, c.text);
            const std::string expected = TIniFile32(path).ReadString(c.section, key, "");
            EXPECT_EQ(expected, "");
            EXPECT_EQ(FindIniValue(c.text, c.section, key), expected);
            EXPECT_EQ(TRecordTitleReader().Read(path, c.section, key), expected);
        }
    }
}
