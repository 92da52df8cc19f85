// The pieces under the listing: telling archives by their first bytes, making member
// paths safe, and the mode names the command line and the dialog share.
#include <gtest/gtest.h>

#include <string>

#include "archives/ArchiveSniff.h"
#include "archives/Archives.h"
#include "archives/MemberTree.h"

using namespace quindle;

namespace {

// A tar header for `name` with its checksum right (or off by one).
std::string TarHeader(const std::string& name, bool ustar, bool rightSum = true) {
    std::string h(512, '\0');
    h.replace(0, name.size(), name);
    h.replace(100, 7, "0000644");
    h.replace(124, 11, "00000000001");
    h.replace(136, 11, "13260462540");
    h[156] = '0';
    if (ustar) h.replace(257, 8, std::string("ustar\0" "00", 8));
    unsigned sum = 0;
    for (size_t i = 0; i < 512; ++i) sum += (i >= 148 && i < 156) ? ' ' : static_cast<unsigned char>(h[i]);
    if (!rightSum) ++sum;
    char field[8];
    std::snprintf(field, sizeof field, "%06o", sum);
    h.replace(148, 6, field, 6);
    h[154] = '\0';
    h[155] = ' ';
    return h;
}

std::string Padded(std::string head, char fill = 'x') {
    head.resize(512, fill);
    return head;
}

// A binary cpio header (little-endian) naming `name`.
std::string BinaryCpio(const std::string& name, bool nulTerminated = true) {
    std::string h(26, '\0');
    h[0] = '\xC7';
    h[1] = '\x71';
    const size_t nameSize = name.size() + 1;
    h[20] = static_cast<char>(nameSize & 0xFF);
    h[21] = static_cast<char>(nameSize >> 8);
    h += name;
    h += nulTerminated ? '\0' : 'x';
    return Padded(h);
}

TEST(ArchiveSniff, TellsFormatsByTheirMarksOnly) {
    const std::string zeros(512, '\0');
    std::string boot = zeros;
    boot[510] = '\x55';
    boot[511] = '\xAA';
    const uint64_t big = 1 << 20;
    struct Case {
        const char* what;
        std::string head;
        uint64_t size;
        ArchiveSignature want;
    } cases[] = {
        {"zip", Padded("PK\x03\x04"), big, ArchiveSignature::Zip},
        {"empty zip", Padded("PK\x05\x06"), 22, ArchiveSignature::Zip},
        {"spanned zip", Padded("PK\x07\x08PK\x03\x04"), big, ArchiveSignature::Zip},
        {"PK and no zip", Padded("PKZIP is a program"), big, ArchiveSignature::None},
        {"7z", Padded("7z\xBC\xAF\x27\x1C\x00\x04"), big, ArchiveSignature::SevenZip},
        {"rar 4", Padded(std::string("Rar!\x1A\x07\x00", 7)), big, ArchiveSignature::Rar},
        {"rar 5", Padded(std::string("Rar!\x1A\x07\x01\x00", 8)), big, ArchiveSignature::Rar},
        {"cab", Padded(std::string("MSCF\0\0\0\0", 8)), big, ArchiveSignature::Cab},
        {"ustar", TarHeader("a.txt", true), big, ArchiveSignature::Tar},
        {"old tar", TarHeader("a.txt", false), big, ArchiveSignature::Tar},
        {"old tar, wrong sum", TarHeader("a.txt", false, false), big, ArchiveSignature::None},
        {"old tar, no name", TarHeader("", false), big, ArchiveSignature::None},
        {"tar cut short", TarHeader("a.txt", true).substr(0, 300), 300, ArchiveSignature::None},
        {"cpio newc", Padded("070701000001A4000081A4", '0'), big, ArchiveSignature::Cpio},
        {"cpio newc, no digits", Padded("070701 is a number", '0'), big, ArchiveSignature::None},
        {"cpio odc", Padded("070707" + std::string(70, '1')), big, ArchiveSignature::Cpio},
        {"cpio binary", BinaryCpio("a.txt"), big, ArchiveSignature::Cpio},
        {"cpio binary, name not ended", BinaryCpio("a.txt", false), big, ArchiveSignature::None},
        {"gzip", Padded("\x1F\x8B\x08\x00"), big, ArchiveSignature::Compressed},
        {"bzip2", Padded("BZh91AY&SY"), big, ArchiveSignature::Compressed},
        {"text that starts like bzip2", Padded("BZh9 is not a stream"), big, ArchiveSignature::None},
        {"xz", Padded(std::string("\xFD" "7zXZ\0", 6)), big, ArchiveSignature::Compressed},
        {"zstd", Padded("\x28\xB5\x2F\xFD"), big, ArchiveSignature::Compressed},
        {"lz4", Padded("\x04\x22\x4D\x18"), big, ArchiveSignature::Compressed},
        {"lzip", Padded("LZIP\x01"), big, ArchiveSignature::Compressed},
        {"zeros", zeros, big, ArchiveSignature::Sector16},
        {"boot sector", boot, big, ArchiveSignature::Sector16},
        {"zeros, too short for a volume", zeros, 32768 + 1024, ArchiveSignature::None},
        {"text", Padded("hello"), big, ArchiveSignature::None},
        {"an ELF program", Padded("\x7F" "ELF"), big, ArchiveSignature::None},
        {"a zip's mark in a tiny file", "PK\x03\x04", 4, ArchiveSignature::None},
    };
    for (const auto& c : cases) EXPECT_EQ(SniffHead(c.head, c.size), c.want) << c.what;

    std::string iso(2048, '\0');
    iso.replace(0, 6, "\x01" "CD001");
    EXPECT_EQ(SniffVolumeDescriptor(iso), ArchiveSignature::Iso9660);
    std::string udf(2048, '\0');
    udf.replace(0, 6, std::string("\0BEA01", 6));
    EXPECT_EQ(SniffVolumeDescriptor(udf), ArchiveSignature::Udf);
    EXPECT_EQ(SniffVolumeDescriptor(std::string(2048, '\0')), ArchiveSignature::None);
    EXPECT_EQ(SniffVolumeDescriptor("\x01" "CD0"), ArchiveSignature::None);
}

TEST(MemberPath, StaysInsideItsArchiveAndKeepsEveryOtherByte) {
    struct Case {
        std::string raw;
        PathVerdict verdict;
        std::string path;
    } cases[] = {
        {"a/b.txt", PathVerdict::Ok, "a/b.txt"},
        {"/abs/x", PathVerdict::Ok, "abs/x"},
        {"///abs//x//", PathVerdict::Ok, "abs/x"},
        {"./a/./b", PathVerdict::Ok, "a/b"},
        {"folder/", PathVerdict::Ok, "folder"},
        {"...", PathVerdict::Ok, "..."},
        {"..hidden/.x", PathVerdict::Ok, "..hidden/.x"},
        {"a\\..\\b", PathVerdict::Ok, "a\\..\\b"},
        {"line\nbreak\r", PathVerdict::Ok, "line\nbreak\r"},
        {"\xFF\xFE/\xC3", PathVerdict::Ok, "\xFF\xFE/\xC3"},
        {"../x", PathVerdict::Unsafe, ""},
        {"a/../b", PathVerdict::Unsafe, ""},
        {"a/..", PathVerdict::Unsafe, ""},
        {"/..", PathVerdict::Unsafe, ""},
        {"", PathVerdict::Empty, ""},
        {"/", PathVerdict::Empty, ""},
        {"./", PathVerdict::Empty, ""},
        {"././/.", PathVerdict::Empty, ""},
        {std::string(kMaxMemberPath, 'n'), PathVerdict::Ok, std::string(kMaxMemberPath, 'n')},
        {std::string(kMaxMemberPath + 1, 'n'), PathVerdict::Unsafe, ""},
        {"./" + std::string(kMaxMemberPath, 'n'), PathVerdict::Ok, std::string(kMaxMemberPath, 'n')},
    };
    for (const auto& c : cases) {
        // Appended after what is there (the path of the archive around), never touching it.
        std::string out = "outer.zip/";
        const std::string shown = c.raw.size() < 100 ? c.raw : std::to_string(c.raw.size()) + " bytes";
        EXPECT_EQ(AppendMemberPath(c.raw, out), c.verdict) << shown;
        EXPECT_TRUE(out == "outer.zip/" + c.path) << shown;
    }
}

TEST(ArchiveSniff, NamesLikeArchivesOnlyDecideWhereIndexedModeLooks) {
    for (const char* yes : {"a.zip", "B.ZIP", "x.tar.gz", "x.TGZ", "disc.iso", "lib.jar", "a.b.7z", "s.tar.zst",
                            "a.tbz2", "A.TLZ4", ".tar.gz", "..lz"})
        EXPECT_TRUE(LooksLikeArchiveName(yes)) << yes;
    for (const char* no : {"zip", ".zip", "a.zipx", "a.txt", "a.gzip", "a.zip.part", "tar", "photo.jpg", "",
                           "a.", ".", "a.tbz22", "a.zip\\", "a.zip/"})
        EXPECT_FALSE(LooksLikeArchiveName(no)) << no;
}

TEST(ArchiveModeNames, ParseExactlyTheThreeNames) {
    for (const ArchiveMode m : {ArchiveMode::None, ArchiveMode::Indexed, ArchiveMode::All})
        EXPECT_EQ(ParseArchiveMode(ArchiveModeName(m)), m);
    EXPECT_EQ(ParseArchiveMode("indexed"), ArchiveMode::Indexed);
    for (const char* bad : {"", "All", "NONE", "index", "all ", " none", "yes", "1"})
        EXPECT_EQ(ParseArchiveMode(bad), std::nullopt) << bad;
}

// Members collected in any order come out one per path, folders first, siblings sorted.
TEST(MemberTree, OrdersMembersAndImpliesFolders) {
    ArchiveListing l;
    l.archives[0].status = ArchiveStatus::Listed;
    MemberCollector c;
    c.Add("b/z.txt", 0, MemberKind::File, 3, 300);
    c.Add("a-b", 0, MemberKind::File, 1, 100);
    c.Add("a/y/x.txt", 0, MemberKind::File, 5, 500);
    c.Add("a", 0, MemberKind::Folder, 0, 50);
    c.Add("b/z.txt", 0, MemberKind::File, 4, 400); // the later one stands
    c.Add("hard", 0, MemberKind::File, 0, 10, "a/y/x.txt");
    ASSERT_TRUE(c.Build(l, 100));
    const char* want[] = {"a", "a/y", "a/y/x.txt", "a-b", "b", "b/z.txt", "hard"};
    ASSERT_EQ(l.members.size(), std::size(want));
    for (size_t i = 0; i < l.members.size(); ++i) EXPECT_EQ(l.Path(i), want[i]);
    EXPECT_FALSE(l.members[0].implied);
    EXPECT_EQ(l.members[0].mtime, 50);       // its own
    EXPECT_TRUE(l.members[1].implied);
    EXPECT_EQ(l.members[1].mtime, 500);      // its newest content's
    EXPECT_EQ(l.members[4].mtime, 400);
    EXPECT_EQ(l.members[5].size, 4u);
    EXPECT_EQ(l.members[6].size, 5u);        // its target's

    // A bound cuts the ordered list, so what stays is still a whole tree.
    MemberCollector d;
    d.Add("p/q/r/s.txt", 0, MemberKind::File, 1, 1);
    d.Add("p/t.txt", 0, MemberKind::File, 1, 1);
    ArchiveListing cut;
    EXPECT_FALSE(d.Build(cut, 3));
    ASSERT_EQ(cut.members.size(), 3u);
    EXPECT_EQ(cut.Path(2), "p/q/r");
}

} // namespace
