// UDF images made by genisoimage (a UDF tree beside an ISO 9660 one) and mkudffs, and the
// same images with their ISO 9660 part taken out, as DVD and Blu-ray images come.
#include <cstdlib>

#include "ArchiveRig.h"

using namespace quindle;
using namespace quindle::test;

namespace {

// genisoimage writes local times with their offset from UTC: an offset of its own, so that
// a date read without it is off by hours.
std::string Genisoimage(const std::string& args) {
    return "TZ=Asia/Kolkata genisoimage -quiet -input-charset utf-8 -udf " + args + " 2>/dev/null\n";
}

// The image `from` with its ISO 9660 descriptors taken out: the UDF sequence moves to 32 KiB.
std::string Pure(const std::string& from, const std::string& to) {
    return "python3 - '" + from + "' '" + to + R"(' <<'PY'
import sys
d = bytearray(open(sys.argv[1], 'rb').read())
S = 2048
marks = [s for s in range(16, 64) if d[s * S + 1:s * S + 6] in (b'CD001', b'BEA01', b'NSR02', b'NSR03', b'TEA01')]
seq = [bytes(d[s * S:(s + 1) * S]) for s in marks if d[s * S + 1:s * S + 6] != b'CD001']
assert len(seq) == 3, seq
for s in marks: d[s * S:(s + 1) * S] = bytes(S)
for k, v in enumerate(seq): d[(16 + k) * S:(17 + k) * S] = v
open(sys.argv[2], 'wb').write(d)
PY
)";
}

// `file` with its anchors (at block 256, the last block and 256 before it; 2 KiB blocks)
// overwritten: its UDF volume is lost.
std::string LoseAnchor(const std::string& file) {
    return "python3 - '" + file + R"(' <<'PY'
import sys
f = open(sys.argv[1], 'r+b')
n = f.seek(0, 2) // 2048
for at in (256, n - 1, n - 257):
    f.seek(at * 2048)
    if f.read(2) == bytes((2, 0)):
        f.seek(at * 2048)
        f.write(b'lost')
PY
)";
}

// `from` (a UDF volume of one physical partition) with a metadata partition laid over that
// partition block for block, as UDF 2.50 discs (Blu-ray) keep their directories: the file
// set and the root directory are reached through the metadata file. `broken`: 1 loses the
// metadata file (its mirror serves), 2 both.
std::string Metadata(const std::string& from, const std::string& to, int broken) {
    return "python3 - '" + from + "' '" + to + "' " + std::to_string(broken) + R"( <<'PY'
import sys, struct
src, dst, broken = sys.argv[1], sys.argv[2], int(sys.argv[3])  # 1: the file lost, its mirror kept; 2: both lost
d = bytearray(open(src, 'rb').read())
S = 2048
def u16(o): return struct.unpack_from('<H', d, o)[0]
def u32(o): return struct.unpack_from('<I', d, o)[0]
def tag(o, ident, loc):
    struct.pack_into('<HH', d, o, ident, 2)
    struct.pack_into('<I', d, o + 12, loc)
    d[o + 4] = sum(d[o + i] for i in range(16) if i != 4) & 0xFF
blocks = [b for b in range(len(d) // S) if u16(b * S) in (5, 6) and u32(b * S + 12) == b]
part = [b for b in blocks if u16(b * S) == 5][0]
start, length, number = u32(part * S + 188), u32(part * S + 192), u16(part * S + 22)
free = [m for m in range(length - 1, 0, -1) if not any(d[(start + m) * S:(start + m + 1) * S])][:2]
real, zero = free[0], free[1]
fe = (start + real) * S
d[fe + 27] = 250                              # the metadata file
struct.pack_into('<Q', d, fe + 56, length * S)  # its bytes: the whole partition, block for block
struct.pack_into('<II', d, fe + 168, 0, 8)
struct.pack_into('<II', d, fe + 176, length * S, 0)
tag(fe, 261, real)
for lvd in (b * S for b in blocks if u16(b * S) == 6):
    mtl, n = u32(lvd + 264), u32(lvd + 268)
    m = lvd + 440 + mtl
    d[m:m + 64] = bytes(64)
    d[m], d[m + 1] = 2, 64
    d[m + 5:m + 28] = b'*UDF Metadata Partition'
    struct.pack_into('<HHIII', d, m + 36, 1, number, zero if broken else real, zero if broken == 2 else real, 0xFFFFFFFF)
    struct.pack_into('<II', d, lvd + 264, mtl + 64, n + 1)
    fsd_block = u32(lvd + 252)
    struct.pack_into('<H', d, lvd + 256, n)       # the file set, through the metadata partition
    tag(lvd, 6, u32(lvd + 12))
fsd = (start + fsd_block) * S
struct.pack_into('<H', d, fsd + 408, 1)          # and the root directory
tag(fsd, 256, fsd_block)
open(dst, 'wb').write(d)
PY
)";
}

// `file` with some of its files turned into symbolic links: each "name=target" pair gives
// the file's name and its target's path components (ECMA-167), written over its data.
std::string Links(const std::string& file, const std::string& pairs) {
    return "python3 - '" + file + "' " + pairs + R"( <<'PY'
import sys, struct
d = bytearray(open(sys.argv[1], 'rb').read())
S = 2048
def u16(o): return struct.unpack_from('<H', d, o)[0]
def u32(o): return struct.unpack_from('<I', d, o)[0]
def tagged(o, ident): return u16(o) == ident and d[o + 4] == sum(d[o + i] for i in range(16) if i != 4) & 0xFF
part = [b for b in range(len(d) // S) if tagged(b * S, 5)][0] * S
start = u32(part + 188)
for pair in sys.argv[2:]:
    name, target = pair.split('=')
    components = b''
    for c in target.split('/'):
        if c == '': components += bytes((2, 0, 0, 0)); continue
        if c == '..': components += bytes((3, 0, 0, 0)); continue
        components += bytes((5, len(c) + 1, 0, 0, 8)) + c.encode()
    fid = next(o for o in range(0, len(d) - 64, 4) if tagged(o, 257) and d[o + 38 + u16(o + 36):o + 38 + u16(o + 36) + d[o + 19]] == b'' + name.encode())
    fe = (start + u32(fid + 24)) * S
    d[fe + 27] = 12
    struct.pack_into('<Q', d, fe + 56, len(components))
    ad = fe + 176 + u32(fe + 168)
    struct.pack_into('<I', d, ad, len(components))
    data = (start + u32(ad + 4)) * S
    d[data:data + len(components)] = components
    d[fe + 4] = sum(d[fe + i] for i in range(16) if i != 4) & 0xFF
open(sys.argv[1], 'wb').write(d)
PY
)";
}

bool HaveTools() {
    // mkudffs lies in /usr/sbin, outside a user's search path on Debian.
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
    if (path.find("/usr/sbin") == std::string::npos) setenv("PATH", (path + ":/usr/sbin:/sbin").c_str(), 1);
    for (const char* tool : {"genisoimage", "mkudffs", "python3", "zip"})
        if (!HasTool(tool)) {
            ADD_FAILURE() << tool << " is missing (scripts/setup installs it)";
            return false;
        }
    return true;
}

TEST(UdfImages, WithAndWithoutAnIso9660PartTheUdfTreeIsListed) {
    if (!HaveTools()) return;
    TempDir dir;
    ASSERT_TRUE(Shell(dir, std::string(kTree) + "mkdir top && cp -a tree top/\n" + Genisoimage("-R -o bridge.iso top") +
                               Pure("bridge.iso", "pure.udf")));
    for (const char* file : {"bridge.iso", "pure.udf"})
        for (const ArchiveMode mode : {ArchiveMode::Indexed, ArchiveMode::All}) {
            const ArchiveListing l = ListIn(dir, file, Mode(mode));
            ASSERT_EQ(l.Status(), ArchiveStatus::Listed) << file << ": " << l.Info().reason << " " << l.Info().detail;
            EXPECT_EQ(l.Info().format, "udf") << file;
            EXPECT_EQ(Members(l), kTreeMembers) << file;
            for (size_t i = 0; i < l.members.size(); ++i) EXPECT_EQ(l.members[i].mtime, kMadeAt) << file << ": " << l.Path(i);
        }
    // Nothing read as UDF unless asked: mode None.
    EXPECT_EQ(ListIn(dir, "pure.udf", Mode(ArchiveMode::None)).Status(), ArchiveStatus::NotArchive);
}

TEST(UdfImages, WhereTheIso9660PartHoldsLessTheUdfTreeIsListed) {
    if (!HaveTools()) return;
    TempDir dir;
    // Names as they are in the UDF tree; ISO 9660's own (no Rock Ridge, no Joliet) are
    // short, upper case ASCII, as on Windows' install images, whose ISO 9660 part holds a
    // notice alone.
    ASSERT_TRUE(Shell(dir, "mkdir -p n/sub && printf a > 'n/naïve.txt' && printf bb > 'n/日本.txt' && printf d > n/.hidden\n"
                           "printf ccc > 'n/Long file name.txt' && printf 'a UDF disc' > n/README.TXT\n" +
                               Genisoimage("-o n.iso n") + Pure("n.iso", "n.udf") +
                               "cp n.iso lost.iso && cp n.udf lost.udf\n" + LoseAnchor("lost.iso") +
                               LoseAnchor("lost.udf")));
    const std::map<std::string, std::string> udf = {
        {".hidden", "f 1"},   {"Long file name.txt", "f 3"}, {"README.TXT", "f 10"},
        {"naïve.txt", "f 1"}, {"sub", "d"},                  {"日本.txt", "f 2"},
    };
    for (const char* file : {"n.iso", "n.udf"}) {
        const ArchiveListing l = ListIn(dir, file);
        EXPECT_EQ(l.Info().format, "udf") << file;
        EXPECT_EQ(Members(l), udf) << file;
    }
    // The UDF volume lost: the image's ISO 9660 part is read, or without one it is damaged.
    const ArchiveListing iso = ListIn(dir, "lost.iso");
    EXPECT_EQ(iso.Status(), ArchiveStatus::Listed);
    EXPECT_EQ(iso.Info().format, "iso9660");
    EXPECT_EQ(Members(iso).count("README.TXT"), 1u);
    EXPECT_EQ(Members(iso).count("Long file name.txt"), 0u);
    const ArchiveListing lost = ListIn(dir, "lost.udf");
    EXPECT_EQ(lost.Status(), ArchiveStatus::Error);
    EXPECT_EQ(lost.Info().reason, kDamagedReason);
    EXPECT_TRUE(lost.members.empty());
}

TEST(UdfImages, ArchivesInsideImagesAndImagesInsideArchives) {
    if (!HaveTools()) return;
    TempDir dir;
    ASSERT_TRUE(Shell(dir, std::string(kTree) +
                               "zip -qr inner.zip tree && mkdir -p img/sub && cp inner.zip img/sub/ && cp inner.zip "
                               "img/data.bin\n" +
                               Genisoimage("-o img.iso img") + Pure("img.iso", "disc.iso") +
                               "zip -q0 outer.zip disc.iso\n"));
    const auto inner = std::to_string(dir.Read("inner.zip").size());
    // Indexed mode looks into members named like archives; All into every one.
    for (const ArchiveMode mode : {ArchiveMode::Indexed, ArchiveMode::All})
        for (const char* file : {"img.iso", "disc.iso"}) {
            const ArchiveListing l = ListIn(dir, file, Mode(mode));
            ASSERT_EQ(l.Status(), ArchiveStatus::Listed) << file << ": " << l.Info().reason << " " << l.Info().detail;
            const auto m = Members(l);
            EXPECT_EQ(m.at("sub/inner.zip"), "f " + inner);
            EXPECT_EQ(m.at("sub/inner.zip/tree/docs/b.txt"), "f 3893 @sub/inner.zip") << file;
            ASSERT_TRUE(NestedAt(l, "sub/inner.zip"));
            EXPECT_EQ(NestedAt(l, "sub/inner.zip")->format, "zip");
            EXPECT_EQ(NestedAt(l, "sub/inner.zip")->depth, 2u);
            EXPECT_EQ(m.count("data.bin/tree/a.txt"), mode == ArchiveMode::All ? 1u : 0u) << file;
        }
    // A UDF image inside a zip: read into memory, then like any image, down to the third level.
    const ArchiveListing l = ListIn(dir, "outer.zip");
    ASSERT_EQ(l.Status(), ArchiveStatus::Listed);
    ASSERT_TRUE(NestedAt(l, "disc.iso"));
    EXPECT_EQ(NestedAt(l, "disc.iso")->format, "udf");
    EXPECT_EQ(Members(l).at("disc.iso/sub/inner.zip/tree/a.txt"), "f 6 @disc.iso/sub/inner.zip");
    ArchiveOptions two;
    two.limits.maxDepth = 2;
    EXPECT_EQ(Members(ListIn(dir, "outer.zip", two)).count("disc.iso/sub/inner.zip/tree/a.txt"), 0u);
    ArchiveOptions small;
    small.limits.nestedBufferBytes = 4096;
    const ArchiveListing s = ListIn(dir, "outer.zip", small);
    ASSERT_TRUE(NestedAt(s, "disc.iso"));
    EXPECT_EQ(NestedAt(s, "disc.iso")->reason, kNestedTooLargeReason);
}

TEST(UdfImages, AMetadataPartitionIsReadThroughItsFileOrItsMirror) {
    if (!HaveTools()) return;
    TempDir dir;
    ASSERT_TRUE(Shell(dir, std::string(kTree) + "mkdir top && cp -a tree top/\n" + Genisoimage("-R -o bridge.iso top") +
                               Pure("bridge.iso", "pure.udf") + Metadata("pure.udf", "meta.udf", 0) +
                               Metadata("pure.udf", "mirror.udf", 1) + Metadata("pure.udf", "lost.udf", 2) +
                               Metadata("bridge.iso", "lost.iso", 2)));
    for (const char* file : {"meta.udf", "mirror.udf"}) {
        const ArchiveListing l = ListIn(dir, file);
        ASSERT_EQ(l.Status(), ArchiveStatus::Listed) << file << ": " << l.Info().detail;
        EXPECT_EQ(l.Info().format, "udf");
        EXPECT_EQ(Members(l), kTreeMembers) << file;
    }
    const ArchiveListing lost = ListIn(dir, "lost.udf");
    EXPECT_EQ(lost.Status(), ArchiveStatus::Error);
    EXPECT_EQ(lost.Info().reason, kDamagedReason);
    EXPECT_EQ(lost.Info().detail, "metadata file cannot be read");
    // An image with an ISO 9660 part falls back to it.
    const ArchiveListing iso = ListIn(dir, "lost.iso");
    EXPECT_EQ(iso.Info().format, "iso9660");
    EXPECT_EQ(Members(iso), kTreeMembers);
}

TEST(UdfImages, ALinksSizeIsItsTargetsLength) {
    if (!HaveTools()) return;
    TempDir dir;
    ASSERT_TRUE(Shell(dir, std::string(kTree) + "mkdir top && cp -a tree top/\n" + Genisoimage("-o links.iso top") +
                               Links("links.iso", "a.txt=docs/b.txt c.txt=/x/../y")));
    auto expected = kTreeMembers;
    expected["tree/a.txt"] = "l 10";
    expected["tree/docs/deep/c.txt"] = "l 7";
    const ArchiveListing l = ListIn(dir, "links.iso");
    EXPECT_EQ(l.Info().format, "udf");
    EXPECT_EQ(Members(l), expected);
}

TEST(UdfImages, VolumesAsMkudffsMakesThemAndWhatIsNoVolume) {
    if (!HaveTools()) return;
    // Loses the image's virtual allocation table (UDF 2.01: an extended file entry of type 248).
    const char* kLoseTable = "python3 -c \"\n"
                             "d = bytearray(open('v.udf', 'rb').read())\n"
                             "at = [b for b in range(len(d) // 2048) if d[b * 2048:b * 2048 + 2] == bytes((10, 1)) "
                             "and d[b * 2048 + 27] == 248]\n"
                             "assert at\n"
                             "for b in at: d[b * 2048:(b + 1) * 2048] = bytes(2048)\n"
                             "open('v.udf', 'wb').write(d)\"";
    struct Case {
        const char* args;
        const char* after;
        ArchiveStatus status;
        const char* reason;
    };
    const Case cases[] = {
        {"-m hd -r 2.01 -b 2048", "", ArchiveStatus::Listed, ""},
        {"-m hd -r 1.02 -b 2048", "", ArchiveStatus::Listed, ""},
        {"-m hd -r 2.01 -b 512", "", ArchiveStatus::Listed, ""},
        {"-m hd -r 2.01 -b 4096", "", ArchiveStatus::Listed, ""},
        {"-m dvdrw -r 2.01 -b 2048", "", ArchiveStatus::Listed, ""}, // a sparable partition
        // Discs written in sessions: a virtual partition, its allocation table at the end of
        // what was written, the image padded with zeros after it.
        {"-m cdr -r 2.01 -b 2048", "", ArchiveStatus::Listed, ""},
        {"-m cdr -r 1.50 -b 2048", "", ArchiveStatus::Listed, ""},
        {"-m dvdr -r 2.01 -b 2048", "", ArchiveStatus::Listed, ""},
        {"-m bdr -r 2.50 -b 2048", "", ArchiveStatus::Listed, ""}, // a metadata partition too
        {"-m cdr -r 2.01 -b 2048", kLoseTable, ArchiveStatus::Error, kDamagedReason},
    };
    TempDir dir;
    for (const Case& c : cases) {
        ASSERT_TRUE(Shell(dir, std::string("rm -f v.udf && truncate -s 40M v.udf && mkudffs ") + c.args + " v.udf\n" +
                               c.after));
        const ArchiveListing l = ListIn(dir, "v.udf");
        EXPECT_EQ(l.Status(), c.status) << c.args << c.after << ": " << l.Info().detail;
        EXPECT_EQ(l.Info().reason, c.reason) << c.args << c.after;
        EXPECT_EQ(l.Info().format, "udf") << c.args;
        EXPECT_TRUE(l.members.empty()) << c.args; // a new volume's root is empty
    }
    // The marks of a UDF volume and nothing after them.
    ASSERT_TRUE(Shell(dir, "python3 -c \"\n"
                           "d = bytearray(300 * 2048)\n"
                           "for k, m in enumerate((b'BEA01', b'NSR02', b'TEA01')): d[(16 + k) * 2048 + 1:(16 + k) * 2048 + 6] = m\n"
                           "open('marks.udf', 'wb').write(d)\n\""));
    const ArchiveListing marks = ListIn(dir, "marks.udf");
    EXPECT_EQ(marks.Status(), ArchiveStatus::Error);
    EXPECT_EQ(marks.Info().reason, kDamagedReason);
}

TEST(UdfImages, AnImageCutShortListsNothingItDoesNotHold) {
    if (!HaveTools()) return;
    TempDir dir;
    ASSERT_TRUE(Shell(dir, std::string(kTree) + "mkdir top && cp -a tree top/\n" + Genisoimage("-R -o bridge.iso top") +
                               Pure("bridge.iso", "pure.udf")));
    const std::string whole = dir.Read("pure.udf");
    for (size_t cut = 34 * 1024; cut < whole.size(); cut += 2048 * 7 + 100) {
        dir.MakeFile("cut.udf", whole.substr(0, cut));
        const ArchiveListing l = ListIn(dir, "cut.udf");
        if (l.Status() == ArchiveStatus::Error) continue;
        EXPECT_EQ(l.Status(), ArchiveStatus::Listed) << cut;
        for (const auto& [path, looks] : Members(l)) EXPECT_EQ(kTreeMembers.count(path), 1u) << cut << ": " << path;
    }
}

} // namespace
