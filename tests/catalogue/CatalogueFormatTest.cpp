// Version 2 of the catalogue file: flags, notes and checksums, version 1 still read, and
// every new claim checked against the bytes before the reader makes room for it.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <zstd.h>

#include <functional>

#include "catalogue/CatalogueFile.h"
#include "catalogue/EntryText.h"

using namespace quindle;

namespace {

// A version-1 file as the writer of version 1 wrote it: root; Docs (1700000000) holding
// a.txt (5 bytes) and .hidden (7 bytes); link (4 bytes, time -5); "caf\xe9" (1000000
// bytes). ext4, "E:\", capacity 2^30, free 2^20, 42 ms, ended 1700000300, complete,
// binding {1, 2, 3, 4, 5, 6}.
const std::string kVersion1(
    "\x51\x4e\x44\x4c\x43\x41\x54\x1a\x01\x00\x00\x00\x65\x00\x00\x00"
    "\x52\x00\x00\x00\x00\x00\x00\x00\x28\xb5\x2f\xfd\x24\x9b\xc5\x02"
    "\x00\x14\x03\x06\x00\x18\x00\x45\x00\x01\x00\x00\x00\x04\x00\x02"
    "\x00\x4c\x42\x0f\x00\x40\x00\x10\x00\x2a\x00\x2c\xf2\x53\x65\x65"
    "\x78\x74\x34\x03\x00\x00\x00\x45\x3a\x5c\x01\x05\x06\x00\x00\x00"
    "\x00\x00\x00\x00\x11\x00\x60\x20\x02\xf9\xc4\x40\x01\x02\x74\x02"
    "\xa0\xe0\xce\xad\x0c\xb0\x58\x02\x06\x83\xc0\xe0\x62\x90\x09\x18"
    "\x18\x8c\x02\x06\x06\x03\x0f\x00\x0b\x4e\xe2\x21\x05\x28\xb5\x2f"
    "\xfd\x24\x45\x29\x02\x00\x00\x00\x01\x01\x02\x01\x00\x04\x05\x07"
    "\x04\x04\x44\x6f\x63\x73\x61\x2e\x74\x78\x74\x2e\x68\x69\x64\x64"
    "\x65\x6e\x6c\x69\x6e\x6b\x63\x61\x66\xe9\x01\x01\x02\x04\x05\x05"
    "\x07\x04\xc0\x84\x3d\x00\x80\xc4\x9f\xd5\x0c\xc8\x01\xc7\x85\xaf"
    "\x5f\x89\xc0\xf0\xf5\x0b\x9a\xc7\x9f\xd5\x0c\x29\xb9\x9a\xd1",
    207);

std::string Compress(std::string_view raw) {
    std::string out(ZSTD_compressBound(raw.size()), '\0');
    ZSTD_CCtx* c = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(c, ZSTD_c_checksumFlag, 1);
    const size_t n = ZSTD_compress2(c, out.data(), out.size(), raw.data(), raw.size());
    ZSTD_freeCCtx(c);
    out.resize(ZSTD_isError(n) ? 0 : n);
    return out;
}

std::string Decompress(std::string_view frame) {
    std::string raw(ZSTD_getFrameContentSize(frame.data(), frame.size()), '\0');
    EXPECT_FALSE(ZSTD_isError(ZSTD_decompress(raw.data(), raw.size(), frame.data(), frame.size())));
    return raw;
}

uint64_t GetU64(std::string_view s, size_t at) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= uint64_t(static_cast<uint8_t>(s[at + i])) << (8 * i);
    return v;
}
void SetU64(std::string& s, size_t at, uint64_t v, int bytes = 8) {
    for (int i = 0; i < bytes; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}

// A file opened up: the header block and the entries block, both decompressed.
struct Opened {
    std::string preamble, header, body;
};
Opened Open(const std::string& file) {
    const uint64_t h = GetU64(file, 12) & 0xFFFFFFFF;
    return {file.substr(0, kCataloguePreamble), Decompress(std::string_view(file).substr(kCataloguePreamble, h)),
            Decompress(std::string_view(file).substr(kCataloguePreamble + h))};
}
// The file again, the header's entries size made to agree with the body.
std::string Close(Opened o) {
    SetU64(o.header, 16, o.body.size());
    const std::string header = Compress(o.header), body = Compress(o.body);
    SetU64(o.preamble, 12, header.size(), 4);
    SetU64(o.preamble, 16, body.size());
    return o.preamble + header + body;
}

// Offsets in the version-2 header block of the counts appended after the unread entries,
// from its end (the walk's archive choice comes last).
constexpr size_t kHiddenCount = 56, kMembers = 48, kListed = 40, kUnlisted = 32, kChecksummed = 24,
                 kContentUnread = 16, kArchiveChoice = 8;

Checksum128 Sum(uint8_t seed) {
    Checksum128 s;
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<uint8_t>(seed + i);
    return s;
}

// Every flag: a hidden folder and a file below it, an archive listed whole with a folder
// of members, one listed in part, one not listed, a file whose content was not read, and
// checksums.
Catalogue Full() {
    CatalogueBuilder b;
    const uint32_t git = b.Add(0, ".git", EntryKind::Folder, 0, 10);
    b.SetHidden(git);
    b.Add(git, "HEAD", EntryKind::File, 3, 11);                          // 2: hidden by its folder
    const uint32_t zip = b.Add(0, "a.zip", EntryKind::File, 1000, 12);  // 3
    b.SetArchive(zip, false);
    b.SetChecksum(zip, Sum(1));
    const uint32_t inner = b.Add(zip, "inner", EntryKind::Folder, 0, 13); // 4: a member folder
    b.Add(inner, "m.txt", EntryKind::File, 400, 14);                      // 5
    b.Add(zip, "top.txt", EntryKind::File, 50, 15);                       // 6
    const uint32_t part = b.Add(0, "part.tar", EntryKind::File, 700, 16); // 7
    b.SetArchive(part, true);
    b.SetNote(part, "truncated archive");
    b.Add(part, "first", EntryKind::File, 9, 17);                         // 8
    const uint32_t bad = b.Add(0, "bad.7z", EntryKind::File, 60, 18);     // 9
    b.SetArchive(bad, false);
    b.SetNote(bad, std::string(5000, 'x')); // cut to the longest note
    const uint32_t locked = b.Add(0, "locked.bin", EntryKind::File, 80, 19); // 10
    b.SetNote(locked, "Permission denied");
    const uint32_t plain = b.Add(0, "plain.txt", EntryKind::File, 5, 20); // 11
    b.SetChecksum(plain, Sum(100));
    DiskFigures f;
    f.root = "E:\\";
    f.complete = true;
    return b.Finish(f);
}

} // namespace

TEST(CatalogueFormat, Version1FilesStillReadWithoutFlagsNotesOrChecksums) {
    CatalogueProblem problem = CatalogueProblem::None;
    const auto c = DecodeCatalogue(kVersion1, problem);
    ASSERT_TRUE(c) << CatalogueProblemText(problem);
    EXPECT_EQ(c->header.version, 1u);
    ASSERT_EQ(c->Count(), 6u);
    EXPECT_EQ(c->Path(3), "Docs/.hidden");
    EXPECT_EQ(c->mtime[4], -5);
    EXPECT_EQ(c->size[0], 1000012u);
    EXPECT_EQ(c->flags, std::vector<uint8_t>(6, 0));
    EXPECT_TRUE(c->notes.empty());
    EXPECT_TRUE(c->checksums.empty());
    EXPECT_EQ(c->ChecksumOf(5), nullptr);
    EXPECT_EQ(c->Note(5), "");
    const DiskFigures& f = c->header.figures;
    EXPECT_EQ(f.files, 4u);
    EXPECT_EQ(f.folders, 2u);
    EXPECT_EQ(f.hiddenEntries + f.archiveMembers + f.checksummed, 0u);
    EXPECT_EQ(c->header.binding.recordMtimeNs, 6);
    // Written again it is version 2, and reads back the same.
    const std::string again = EncodeCatalogue(*c);
    EXPECT_EQ(again[8], 2);
    const auto back = DecodeCatalogue(again, problem);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->names, c->names);
    EXPECT_EQ(back->size, c->size);
    EXPECT_EQ(back->mtime, c->mtime);
    EXPECT_EQ(back->flags, c->flags);
    // Versions neither writer made are refused as such.
    for (const char version : {'\0', '\3'}) {
        std::string other = again;
        other[8] = version;
        EXPECT_FALSE(DecodeCatalogue(other, problem));
        EXPECT_EQ(problem, CatalogueProblem::Unsupported);
    }
}

TEST(CatalogueFormat, Version2KeepsEveryFlagNoteAndChecksumAndCountsMembersApart) {
    const Catalogue c = Full();
    const DiskFigures& f = c.header.figures;
    // Members count neither as files nor folders, nor in any total above their archive.
    EXPECT_EQ(f.files, 6u);   // HEAD, a.zip, part.tar, bad.7z, locked.bin, plain.txt
    EXPECT_EQ(f.folders, 2u); // the root and .git
    EXPECT_EQ(f.archiveMembers, 4u);
    EXPECT_EQ(f.bytes, 3u + 1000 + 700 + 60 + 80 + 5);
    EXPECT_EQ(c.size[4], 400u); // a member folder sums its members
    EXPECT_EQ(c.size[3], 1000u); // an archive keeps its own size
    EXPECT_EQ(f.hiddenEntries, 2u);
    EXPECT_EQ(f.archivesListed, 2u);
    EXPECT_EQ(f.archivesUnlisted, 1u);
    EXPECT_EQ(f.contentUnread, 1u);
    EXPECT_EQ(f.checksummed, 2u);
    EXPECT_EQ(c.Path(5), "a.zip/inner/m.txt");

    CatalogueProblem problem = CatalogueProblem::None;
    const auto back = DecodeCatalogue(EncodeCatalogue(c), problem);
    ASSERT_TRUE(back) << CatalogueProblemText(problem);
    EXPECT_EQ(back->header.version, 2u);
    EXPECT_EQ(back->flags, c.flags);
    EXPECT_EQ(back->notes, c.notes);
    EXPECT_EQ(back->size, c.size);
    EXPECT_EQ(back->parent, c.parent);
    const DiskFigures& g = back->header.figures;
    EXPECT_EQ(std::tie(g.files, g.folders, g.bytes, g.hiddenEntries, g.archiveMembers, g.archivesListed,
                       g.archivesUnlisted, g.checksummed, g.contentUnread),
              std::tie(f.files, f.folders, f.bytes, f.hiddenEntries, f.archiveMembers, f.archivesListed,
                       f.archivesUnlisted, f.checksummed, f.contentUnread));
    struct Expect {
        uint32_t entry;
        bool hidden, member, archive;
        std::string_view note;
        int sum; // seed of its checksum; -1: none
    };
    const std::string longest(kMaxNoteBytes, 'x');
    const Expect expected[] = {
        {1, true, false, false, "", -1},  {2, true, false, false, "", -1},
        {3, false, false, true, "", 1},   {4, false, true, false, "", -1},
        {5, false, true, false, "", -1},  {7, false, false, true, "truncated archive", -1},
        {8, false, true, false, "", -1},  {9, false, false, true, longest, -1},
        {10, false, false, false, "Permission denied", -1}, {11, false, false, false, "", 100},
    };
    for (const Expect& x : expected) {
        SCOPED_TRACE(back->Path(x.entry));
        EXPECT_EQ(back->Hidden(x.entry), x.hidden);
        EXPECT_EQ(back->Member(x.entry), x.member);
        EXPECT_EQ(back->IsArchive(x.entry), x.archive);
        EXPECT_EQ(back->Note(x.entry), x.note);
        const Checksum128* sum = back->ChecksumOf(x.entry);
        EXPECT_EQ(sum != nullptr, x.sum >= 0);
        if (sum && x.sum >= 0) EXPECT_EQ(*sum, Sum(static_cast<uint8_t>(x.sum)));
    }
    // A note, a checksum or an archive is a file's: on anything else the builder takes none,
    // and drops them from a file a later look found to be a folder.
    CatalogueBuilder odd;
    const uint32_t folder = odd.Add(0, "d", EntryKind::Folder, 0, 1);
    odd.SetNote(folder, "no");
    odd.SetChecksum(folder, Sum(3));
    odd.SetArchive(folder, false);
    const uint32_t became = odd.Add(0, "f", EntryKind::File, 1, 1);
    odd.SetNote(became, "gone");
    odd.SetChecksum(became, Sum(4));
    odd.SetEntry(became, EntryKind::Folder, 0, 1);
    const Catalogue oddOne = odd.Finish({});
    EXPECT_EQ(oddOne.flags, std::vector<uint8_t>(3, 0));
    EXPECT_TRUE(oddOne.notes.empty());
    EXPECT_TRUE(DecodeCatalogue(EncodeCatalogue(oddOne), problem)) << CatalogueProblemText(problem);

    // Checksums take 16 bytes an entry, flags one.
    CatalogueBuilder plain;
    plain.Add(0, "a", EntryKind::File, 1, 1);
    const Catalogue without = plain.Finish({});
    EXPECT_GE(back->MemoryBytes(), without.MemoryBytes() + 12 * 16);

    // JSON: "hidden" only where it is true.
    std::string json;
    AppendEntryJsonFields(json, *back, 2);
    EXPECT_EQ(json, ",\"kind\":\"file\",\"size\":3,\"mtime\":11,\"hidden\":true");
    json.clear();
    AppendEntryJsonFields(json, *back, 11, false);
    EXPECT_EQ(json, ",\"kind\":\"file\",\"size\":null,\"mtime\":null");
}

// What a hostile or broken file may claim in the new columns, each refused as damage.
TEST(CatalogueFormat, DamagedVersion2ColumnsAreRefusedWithoutAllocatingWhatTheyClaim) {
    // Full()'s entries block ends with the flags (12), the notes and the checksums (2 x 16).
    const std::string file = EncodeCatalogue(Full());
    const Opened good = Open(file);
    const size_t n = 12, sums = 32;
    const size_t notes = 1 + 17 + 2 + kMaxNoteBytes + 1 + 17;
    const size_t flagsAt = good.body.size() - sums - notes - n, notesAt = flagsAt + n;
    ASSERT_EQ(static_cast<uint8_t>(good.body[flagsAt + 7]), kEntryArchive | kEntryPartial | kEntryNoted);
    ASSERT_EQ(good.body[notesAt], 17);
    struct Case {
        const char* what;
        std::function<void(Opened&)> damage;
    };
    const auto flag = [&](size_t entry, uint8_t set, uint8_t clear = 0) {
        return [=](Opened& o) {
            o.body[flagsAt + entry] = static_cast<char>((static_cast<uint8_t>(o.body[flagsAt + entry]) | set) & ~clear);
        };
    };
    const Case cases[] = {
        {"a flag bit not defined", flag(11, 0x40)},
        {"the highest bit", flag(11, 0x80)},
        {"the root flagged", flag(0, kEntryHidden)},
        {"a member outside any archive", flag(11, kEntryMember)},
        {"an archive's member not flagged a member", flag(6, 0, kEntryMember)},
        {"below a hidden folder, not hidden", flag(2, 0, kEntryHidden)},
        {"a folder flagged an archive", flag(1, kEntryArchive)},
        {"partial without being an archive", flag(11, kEntryPartial)},
        {"a folder checksummed", flag(4, kEntryChecksummed)},
        {"a note on a folder", [&](Opened& o) {
             // locked.bin's note moved to the folder .git: the counts still agree.
             o.body[flagsAt + 1] = static_cast<char>(o.body[flagsAt + 1] | kEntryNoted);
             o.body[flagsAt + 10] = static_cast<char>(o.body[flagsAt + 10] & ~kEntryNoted);
             std::string moved = o.body.substr(notesAt + 18 + 2 + kMaxNoteBytes, 18);
             o.body.erase(notesAt + 18 + 2 + kMaxNoteBytes, 18);
             o.body.insert(notesAt, moved);
         }},
        {"a checksum flagged without its bytes", flag(10, kEntryChecksummed)},
        {"a note flagged without its bytes", flag(11, kEntryNoted)},
        {"the last note longer than what is left",
         [&](Opened& o) { o.body[notesAt + 18 + 2 + kMaxNoteBytes] = 17 + 32 + 1; }},
        {"a note longer than any",
         [&](Opened& o) {
             // The 4096-byte note's length, 2 bytes of LEB128, made 4097.
             o.body[notesAt + 18] = static_cast<char>(0x81);
         }},
        {"an empty note", [&](Opened& o) { o.body[notesAt] = 0; }},
        {"a byte after the checksums", [&](Opened& o) { o.body += 'x'; }},
        {"a checksum cut short", [&](Opened& o) { o.body.pop_back(); }},
        {"the hidden count off", [&](Opened& o) { SetU64(o.header, o.header.size() - kHiddenCount, 3); }},
        {"the member count off", [&](Opened& o) { SetU64(o.header, o.header.size() - kMembers, 3); }},
        {"archives listed off", [&](Opened& o) { SetU64(o.header, o.header.size() - kListed, 1); }},
        {"archives not listed off", [&](Opened& o) { SetU64(o.header, o.header.size() - kUnlisted, 2); }},
        {"unread contents off", [&](Opened& o) { SetU64(o.header, o.header.size() - kContentUnread, 0); }},
        {"the header cut before its counts", [&](Opened& o) { o.header.resize(o.header.size() - kContentUnread); }},
        {"an archive choice none of the three", [&](Opened& o) { SetU64(o.header, o.header.size() - kArchiveChoice, 3); }},
    };
    CatalogueProblem problem = CatalogueProblem::None;
    ASSERT_TRUE(DecodeCatalogue(Close(good), problem)) << "the file opened and closed again reads";
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        Opened o = good;
        k.damage(o);
        EXPECT_FALSE(DecodeCatalogue(Close(o), problem));
        EXPECT_EQ(problem, CatalogueProblem::Damaged);
    }

    // Claims far beyond the bytes: a billion checksums, a billion entries all checksummed,
    // notes on a billion archives. The reader must refuse them before making room.
    const auto peakKb = [] {
        struct rusage u {};
        getrusage(RUSAGE_SELF, &u);
        return u.ru_maxrss;
    };
    const uint64_t billion = 1000000000;
    const Case huge[] = {
        {"a billion checksums", [&](Opened& o) { SetU64(o.header, o.header.size() - kChecksummed, billion); }},
        {"a billion entries checksummed",
         [&](Opened& o) {
             SetU64(o.header, 0, billion);
             SetU64(o.header, 28, billion - 2); // files: the counts still add up
             SetU64(o.header, o.header.size() - kMembers, 0);
             SetU64(o.header, o.header.size() - kChecksummed, billion - 2);
         }},
        {"a billion notes on unlisted archives",
         [&](Opened& o) {
             SetU64(o.header, 0, billion);
             SetU64(o.header, 28, billion - 2);
             SetU64(o.header, o.header.size() - kMembers, 0);
             SetU64(o.header, o.header.size() - kUnlisted, billion - 2);
             SetU64(o.header, o.header.size() - kListed, 0);
         }},
    };
    for (const Case& k : huge) {
        SCOPED_TRACE(k.what);
        Opened o = good;
        k.damage(o);
        const long before = peakKb();
        EXPECT_FALSE(DecodeCatalogue(Close(o), problem));
        EXPECT_EQ(problem, CatalogueProblem::Damaged);
        EXPECT_LT(peakKb() - before, 16 * 1024) << "memory taken for what the file claims";
    }
}
