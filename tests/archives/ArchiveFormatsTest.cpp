// Archives made by their own tools: every format lists the same tree; files that are no
// archives stay files; archives inside archives; what each mode lists.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "ArchiveRig.h"

using namespace quindle;
using namespace quindle::test;

namespace {

const char* kIso = "xorriso -as mkisofs -quiet -R -graft-points -o t.iso tree=tree 2>/dev/null";

struct Made {
    const char* file;
    const char* tool;
    const char* script;
    const char* format;
};

const Made kFormats[] = {
    {"t.zip", "zip", "zip -qr t.zip tree", "zip"},
    {"t.7z", "7z", "7z a -bd -bso0 -bsp0 t.7z tree", "7z"},
    {"t.tar", "tar", "tar cf t.tar tree", "tar"},
    {"t.tgz", "gzip", "tar czf t.tgz tree", "tar.gz"},
    {"t.tbz", "bzip2", "tar cjf t.tbz tree", "tar.bz2"},
    {"t.txz", "xz", "tar cJf t.txz tree", "tar.xz"},
    {"t.tzst", "zstd", "tar --zstd -cf t.tzst tree", "tar.zst"},
    {"t.tlz4", "lz4", "tar -I lz4 -cf t.tlz4 tree", "tar.lz4"},
    {"newc.cpio", "cpio", "find tree | cpio --quiet -o -H newc > newc.cpio", "cpio"},
    {"odc.cpio", "cpio", "find tree | cpio --quiet -o -H odc > odc.cpio", "cpio"},
    {"bin.cpio", "cpio", "find tree | cpio --quiet -o -H bin > bin.cpio", "cpio"},
    {"t.cpio.gz", "cpio", "find tree | cpio --quiet -o -H newc | gzip > t.cpio.gz", "cpio.gz"},
    {"t.iso", "xorriso", kIso, "iso9660"},
    {"t.iso.xz", "xorriso", "xorriso -as mkisofs -quiet -R -graft-points -o t.iso tree=tree 2>/dev/null && xz t.iso",
     "iso9660.xz"},
    // The content tells, never the name.
    {"notes.txt", "zip", "zip -qr notes.zip tree && mv notes.zip notes.txt", "zip"},
    {"archive", "tar", "tar czf archive tree", "tar.gz"},
};

TEST(ArchiveFormats, EveryFormatListsTheSameTree) {
    TempDir dir;
    ASSERT_TRUE(Shell(dir, kTree));
    for (const Made& m : kFormats) {
        if (!HasTool(m.tool)) {
            ADD_FAILURE() << m.tool << " is missing (scripts/setup installs it)";
            continue;
        }
        ASSERT_TRUE(Shell(dir, m.script)) << m.file;
        for (const ArchiveMode mode : {ArchiveMode::Indexed, ArchiveMode::All}) {
            const ArchiveListing l = ListIn(dir, m.file, Mode(mode));
            EXPECT_EQ(l.Status(), ArchiveStatus::Listed) << m.file << ": " << l.Info().reason << " " << l.Info().detail;
            EXPECT_EQ(l.Info().format, m.format) << m.file;
            EXPECT_EQ(Members(l), kTreeMembers) << m.file;
            for (size_t i = 0; i < l.members.size(); ++i)
                EXPECT_EQ(l.members[i].mtime, kMadeAt) << m.file << ": " << l.Path(i);
            EXPECT_EQ(l.droppedMembers, 0u);
        }
    }
}

TEST(ArchiveFormats, CabinetsHoldFilesAloneTheirFoldersAreImplied) {
    if (!HasTool("gcab")) {
        ADD_FAILURE() << "gcab is missing (scripts/setup installs it)";
        return;
    }
    TempDir dir;
    ASSERT_TRUE(Shell(dir, std::string(kTree) + "find tree -type f | sort | xargs gcab -c t.cab\n"
                                                "gcab -c -z packed.cab tree/docs/b.txt tree/a.txt\n"));
    for (const char* file : {"t.cab", "packed.cab"})
        for (const ArchiveMode mode : {ArchiveMode::Indexed, ArchiveMode::All}) {
            const ArchiveListing l = ListIn(dir, file, Mode(mode));
            ASSERT_EQ(l.Status(), ArchiveStatus::Listed) << file << ": " << l.Info().detail;
            EXPECT_EQ(l.Info().format, "cab");
            auto expected = std::string(file) == "t.cab"
                                ? std::map<std::string, std::string>{{"tree/docs/deep", "d*"},
                                                                     {"tree/docs/deep/c.txt", "f 100"}}
                                : std::map<std::string, std::string>{};
            expected.insert({{"tree", "d*"}, {"tree/a.txt", "f 6"}, {"tree/docs", "d*"}, {"tree/docs/b.txt", "f 3893"}});
            EXPECT_EQ(Members(l), expected) << file;
            // DOS dates, in local time: whole seconds of two.
            for (size_t i = 0; i < l.members.size(); ++i) EXPECT_EQ(l.members[i].mtime, kMadeAt) << file << ": " << l.Path(i);
        }
}

TEST(ArchiveFormats, FilesThatAreNoArchivesStayFiles) {
    TempDir dir;
    struct Case {
        const char* file;
        const char* script;
    } cases[] = {
        {"fake.zip", "echo 'not a zip at all, only text' > fake.zip"},
        {"text.gz", "seq 1 100000 | gzip > text.gz"},
        {"text.xz", "seq 1 100000 | xz > text.xz"},
        {"text.zst", "seq 1 100000 | zstd -q > text.zst"},
        {"text.bz2", "seq 1 100000 | bzip2 > text.bz2"},
        // libarchive reads a block of zeros as an empty tar: a compressed disk image is none.
        {"disk.img.gz", "head -c 3000000 /dev/zero | gzip > disk.img.gz"},
        {"disk.img", "head -c 100000 /dev/zero > disk.img"},
        {"boot.img", "{ head -c 510 /dev/zero; printf '\\125\\252'; head -c 70000 /dev/urandom; } > boot.img"},
        {"empty.tar", ": > empty.tar"},
        {"tiny.zip", "printf 'PK\\003\\004' > tiny.zip"},
        {"program", "cp /bin/true program"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(Shell(dir, c.script)) << c.file;
        for (const ArchiveMode mode : {ArchiveMode::Indexed, ArchiveMode::All}) {
            const ArchiveListing l = ListIn(dir, c.file, Mode(mode));
            EXPECT_EQ(l.Status(), ArchiveStatus::NotArchive) << c.file << ": " << l.Info().reason;
            EXPECT_TRUE(l.members.empty()) << c.file;
        }
    }
}

TEST(ArchiveFormats, OnlyRegularFilesAreOpenedAndNoneInModeNone) {
    TempDir dir;
    ASSERT_TRUE(Shell(dir, std::string(kTree) + "tar cf t.tar tree && ln -s t.tar link.tar && mkfifo fifo"));
    EXPECT_EQ(ListIn(dir, "t.tar").Status(), ArchiveStatus::Listed);
    EXPECT_EQ(ListIn(dir, "t.tar", Mode(ArchiveMode::None)).Status(), ArchiveStatus::NotArchive);
    EXPECT_EQ(ListIn(dir, "link.tar").Status(), ArchiveStatus::NotArchive); // a link is never followed
    EXPECT_EQ(ListIn(dir, "fifo").Status(), ArchiveStatus::NotArchive);     // and a FIFO never waited on
    EXPECT_EQ(ListIn(dir, "tree").Status(), ArchiveStatus::NotArchive);
    EXPECT_EQ(ListIn(dir, "missing").Status(), ArchiveStatus::NotArchive);

    // The same file through a descriptor and as bytes.
    const int fd = open((dir.path() + "/t.tar").c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(Members(ListArchiveFd(fd, {})), kTreeMembers);
    close(fd);
    EXPECT_EQ(Members(ListArchiveBytes(dir.Read("t.tar"), {})), kTreeMembers);
}

TEST(ArchiveFormats, FoldersOnlyNamedInPathsAreImplied) {
    TempDir dir;
    ASSERT_TRUE(Shell(dir, std::string(kTree) +
                               "tar cf file-only.tar tree/docs/deep/c.txt\n"
                               "zip -qrD nodirs.zip tree\n"
                               "ln -s a.txt tree/link && ln tree/a.txt tree/hard\n"
                               "touch -h -d @1500000000 tree/link tree\n"
                               "tar cf links.tar tree\n"
                               "zip -qry links.zip tree\n"
                               "find tree | cpio --quiet -o -H newc > links.cpio\n"
                               "mkfifo tree/fifo && touch -h -d @1500000000 tree tree/fifo && tar cf fifo.tar tree"));
    const ArchiveListing only = ListIn(dir, "file-only.tar");
    EXPECT_EQ(Members(only), (std::map<std::string, std::string>{{"tree", "d*"},
                                                                 {"tree/docs", "d*"},
                                                                 {"tree/docs/deep", "d*"},
                                                                 {"tree/docs/deep/c.txt", "f 100"}}));
    for (size_t i = 0; i < only.members.size(); ++i) EXPECT_EQ(only.members[i].mtime, kMadeAt) << only.Path(i);

    auto noEmpty = kTreeMembers;
    noEmpty.erase("tree/empty"); // an empty folder without its own entry leaves no trace
    for (auto& [path, looks] : noEmpty)
        if (looks == "d") looks = "d*";
    EXPECT_EQ(Members(ListIn(dir, "nodirs.zip")), noEmpty);

    // A link is a link of its target's length; a hard link has its target's size.
    auto withLinks = kTreeMembers;
    withLinks["tree/link"] = "l 5";
    withLinks["tree/hard"] = "f 6";
    for (const char* file : {"links.tar", "links.zip", "links.cpio"}) {
        auto want = withLinks;
        EXPECT_EQ(Members(ListIn(dir, file)), want) << file;
    }
    auto withFifo = withLinks;
    withFifo["tree/fifo"] = "o";
    EXPECT_EQ(Members(ListIn(dir, "fifo.tar")), withFifo);
}

// level1.zip > level2.tar.gz > level3.7z > level4.zip: three levels are listed, the fourth is a file.
const char* kNested = R"(
mkdir n4 n3 n2 n1
echo deep > n4/deep.txt && (cd n4 && zip -q ../n3/level4.zip deep.txt)
echo three > n3/three.txt && (cd n3 && 7z a -bd -bso0 -bsp0 ../n2/level3.7z level4.zip three.txt)
echo two > n2/two.txt && tar czf n1/level2.tar.gz -C n2 level3.7z two.txt
(cd n1 && zip -q ../level1.zip level2.tar.gz)
)";

TEST(NestedArchives, ThreeLevelsAreListedTheFourthIsAFile) {
    TempDir dir;
    ASSERT_TRUE(Shell(dir, kNested));
    const auto size4 = std::to_string(dir.Read("n3/level4.zip").size());
    const auto size3 = std::to_string(dir.Read("n2/level3.7z").size());
    const auto size2 = std::to_string(dir.Read("n1/level2.tar.gz").size());
    for (const ArchiveMode mode : {ArchiveMode::Indexed, ArchiveMode::All}) {
        const ArchiveListing l = ListIn(dir, "level1.zip", Mode(mode));
        ASSERT_EQ(l.Status(), ArchiveStatus::Listed);
        EXPECT_EQ(Members(l), (std::map<std::string, std::string>{
                                  {"level2.tar.gz", "f " + size2},
                                  {"level2.tar.gz/level3.7z", "f " + size3 + " @level2.tar.gz"},
                                  {"level2.tar.gz/level3.7z/level4.zip", "f " + size4 + " @level2.tar.gz/level3.7z"},
                                  {"level2.tar.gz/level3.7z/three.txt", "f 6 @level2.tar.gz/level3.7z"},
                                  {"level2.tar.gz/two.txt", "f 4 @level2.tar.gz"},
                              }));
        const ArchiveInfo* two = NestedAt(l, "level2.tar.gz");
        const ArchiveInfo* three = NestedAt(l, "level2.tar.gz/level3.7z");
        ASSERT_TRUE(two && three);
        EXPECT_EQ(two->format, "tar.gz");
        EXPECT_EQ(two->depth, 2u);
        EXPECT_EQ(three->format, "7z");
        EXPECT_EQ(three->status, ArchiveStatus::Listed);
        EXPECT_EQ(NestedAt(l, "level2.tar.gz/level3.7z/level4.zip"), nullptr);
    }
    ArchiveOptions two;
    two.limits.maxDepth = 2;
    const ArchiveListing l = ListIn(dir, "level1.zip", two);
    EXPECT_EQ(NestedAt(l, "level2.tar.gz/level3.7z"), nullptr);
    EXPECT_EQ(Members(l).count("level2.tar.gz/level3.7z/three.txt"), 0u);
}

TEST(NestedArchives, EachWayOfReadingAnInnerArchive) {
    TempDir dir;
    ASSERT_TRUE(Shell(dir, std::string(kTree) + kIso +
                               "\nzip -qr t.zip tree && 7z a -bd -bso0 -bsp0 t.7z tree && tar czf t.tgz tree\n"
                               "printf 'x' > pad && zip -q damaged.zip pad && head -c 30 t.zip > cut.zip\n"
                               "tar cf outer.tar t.iso t.zip t.7z t.tgz cut.zip"));
    auto under = [](const std::string& archive) {
        std::map<std::string, std::string> m;
        for (const auto& [path, looks] : kTreeMembers) m[archive + "/" + path] = looks + " @" + archive;
        return m;
    };
    auto expectInside = [&](const ArchiveListing& l, const std::string& archive, bool listed) {
        const auto all = Members(l);
        for (const auto& [path, looks] : under(archive)) {
            const auto it = all.find(path);
            if (listed)
                EXPECT_TRUE(it != all.end() && it->second == looks) << path;
            else
                EXPECT_TRUE(it == all.end()) << path;
        }
    };

    // Zip and 7z read into memory; ISO and gzip streamed from the tar's data; a zip cut
    // short is a damaged archive inside a sound one.
    const ArchiveListing l = ListIn(dir, "outer.tar");
    ASSERT_EQ(l.Status(), ArchiveStatus::Listed);
    for (const char* a : {"t.iso", "t.zip", "t.7z", "t.tgz"}) {
        expectInside(l, a, true);
        ASSERT_TRUE(NestedAt(l, a)) << a;
        EXPECT_EQ(NestedAt(l, a)->status, ArchiveStatus::Listed) << a;
    }
    ASSERT_TRUE(NestedAt(l, "cut.zip"));
    EXPECT_EQ(NestedAt(l, "cut.zip")->status, ArchiveStatus::Error);
    EXPECT_EQ(NestedAt(l, "cut.zip")->reason, kDamagedReason);
    EXPECT_EQ(Members(l)["cut.zip"], "f 30");

    // Larger than memory holds for them: a zip is read as a stream, a 7z is not listed.
    ArchiveOptions small;
    small.limits.nestedBufferBytes = 64;
    const ArchiveListing s = ListIn(dir, "outer.tar", small);
    ASSERT_EQ(s.Status(), ArchiveStatus::Listed);
    expectInside(s, "t.zip", true);
    expectInside(s, "t.7z", false);
    EXPECT_EQ(NestedAt(s, "t.7z")->status, ArchiveStatus::Error);
    EXPECT_EQ(NestedAt(s, "t.7z")->reason, kNestedTooLargeReason);
}

TEST(ArchiveModes, IndexedListsWhatReadsLittleAllListsEverything) {
    TempDir dir;
    ASSERT_TRUE(Shell(dir, std::string(kTree) +
                               "zip -qr t.zip tree && tar czf t.tgz tree && tar cf t.tar tree\n"
                               "seq 1 100000 | gzip > text.gz\n"
                               "7z a -bd -bso0 -bsp0 holds-zip.7z t.zip\n"
                               "tar cf holds-both.tar t.zip t.tgz t.tar"));
    ArchiveOptions indexed = Mode(ArchiveMode::Indexed), all = Mode(ArchiveMode::All);
    for (ArchiveOptions* o : {&indexed, &all}) o->limits.indexedStreamBytes = 200;

    // A compressed tarball over the size: skipped, once it is known to be one.
    const ArchiveListing skipped = ListIn(dir, "t.tgz", indexed);
    EXPECT_EQ(skipped.Status(), ArchiveStatus::Skipped);
    EXPECT_EQ(skipped.Info().reason, kSkippedReason);
    EXPECT_EQ(skipped.Info().format, "tar.gz");
    EXPECT_EQ(Members(ListIn(dir, "t.tgz", all)), kTreeMembers);
    EXPECT_EQ(ListIn(dir, "text.gz", indexed).Status(), ArchiveStatus::NotArchive);
    // Uncompressed ones are listed at any size.
    EXPECT_EQ(Members(ListIn(dir, "t.tar", indexed)), kTreeMembers);

    // Indexed mode looks into members named like archives; All into every member. The
    // content decides: a member named .zip that is none is a file like any other.
    ASSERT_TRUE(Shell(dir, "cp t.zip inner.dat && echo 'no zip' > fake.zip && zip -q holds-named.zip inner.dat fake.zip t.zip"));
    const ArchiveListing named = ListIn(dir, "holds-named.zip", Mode(ArchiveMode::Indexed));
    EXPECT_EQ(NestedAt(named, "inner.dat"), nullptr);
    EXPECT_EQ(NestedAt(named, "fake.zip"), nullptr);
    ASSERT_TRUE(NestedAt(named, "t.zip"));
    EXPECT_EQ(Members(named).size(), 3 + kTreeMembers.size());
    const ArchiveListing every = ListIn(dir, "holds-named.zip", Mode(ArchiveMode::All));
    ASSERT_TRUE(NestedAt(every, "inner.dat"));
    EXPECT_EQ(NestedAt(every, "inner.dat")->status, ArchiveStatus::Listed);
    EXPECT_EQ(NestedAt(every, "fake.zip"), nullptr);
    EXPECT_EQ(Members(every).size(), 3 + 2 * kTreeMembers.size());

    // Inside a 7z, indexed mode does not look (that decodes what listing skips).
    const ArchiveListing in7 = ListIn(dir, "holds-zip.7z", Mode(ArchiveMode::Indexed));
    EXPECT_EQ(NestedAt(in7, "t.zip"), nullptr);
    EXPECT_EQ(Members(in7).size(), 1u);
    const ArchiveListing all7 = ListIn(dir, "holds-zip.7z", Mode(ArchiveMode::All));
    ASSERT_TRUE(NestedAt(all7, "t.zip"));
    EXPECT_EQ(Members(all7).size(), 1 + kTreeMembers.size());

    // Archives inside archives over the size are skipped in indexed mode, whatever their format.
    const ArchiveListing both = ListIn(dir, "holds-both.tar", indexed);
    for (const char* a : {"t.zip", "t.tgz", "t.tar"}) {
        ASSERT_TRUE(NestedAt(both, a)) << a;
        EXPECT_EQ(NestedAt(both, a)->status, ArchiveStatus::Skipped) << a;
    }
    EXPECT_EQ(Members(both).size(), 3u);
    const ArchiveListing bothAll = ListIn(dir, "holds-both.tar", all);
    EXPECT_EQ(Members(bothAll).size(), 3 + 3 * kTreeMembers.size());
}

// Bytes this process has read so far (every read and pread).
uint64_t BytesRead() {
    std::ifstream io("/proc/self/io");
    std::string key;
    uint64_t value = 0;
    while (io >> key >> value)
        if (key == "rchar:") return value;
    return 0;
}

TEST(ArchiveModes, IndexedFormatsSkipMemberDataWithoutReadingIt) {
    TempDir dir;
    ASSERT_TRUE(Shell(dir, "mkdir -p big/sub && head -c 40000000 /dev/urandom > big/sub/big.bin\n"
                           "seq 1 10 > big/small.txt && cp big/small.txt big/sub/small2.txt\n"
                           "tar cf big.tar big && zip -q0r big.zip big && 7z a -bd -bso0 -bsp0 -mx=0 big.7z big\n"
                           "find big | cpio --quiet -o -H newc > big.cpio\n"
                           "xorriso -as mkisofs -quiet -R -o big.iso big 2>/dev/null"));
    for (const char* file : {"big.tar", "big.zip", "big.7z", "big.cpio", "big.iso"}) {
        const uint64_t before = BytesRead();
        const ArchiveListing l = ListIn(dir, file);
        const uint64_t read = BytesRead() - before;
        EXPECT_EQ(l.Status(), ArchiveStatus::Listed) << file;
        EXPECT_GE(l.members.size(), 4u) << file;
        EXPECT_LT(read, 2u << 20) << file << " read " << read << " bytes to list";
    }
}

} // namespace
