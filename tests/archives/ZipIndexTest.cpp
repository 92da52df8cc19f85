// A zip listed from its own central directory lists exactly as libarchive lists it, and the
// directory reader vouches only for zips whose reading is certain: every other zip (links,
// damage, other writers' fields, archives inside) goes through libarchive as before.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ArchiveRig.h"
#include "archives/ZipIndex.h"

using namespace quindle;
using namespace quindle::test;

namespace {

// Everything a listing says, member by member.
std::string Said(const ArchiveListing& l) {
    std::string s = std::to_string(static_cast<int>(l.Status())) + " " + l.Info().format + " " + l.Info().reason +
                    " dropped " + std::to_string(l.droppedMembers) + " archives " + std::to_string(l.archives.size()) +
                    "\n";
    for (size_t i = 0; i < l.members.size(); ++i)
        s += l.Path(i) + " | " + Looks(l, i) + " | " + std::to_string(l.members[i].mtime) + "\n";
    return s;
}

ArchiveListing Through(const TempDir& dir, const std::string& zip, bool zipIndex) {
    ArchiveOptions o;
    o.zipIndex = zipIndex;
    return ListIn(dir, zip, o);
}

// A zip made by `script` (zip, python3's zipfile, a byte patch), and whether the directory
// reader should vouch for it.
struct Case {
    const char* what;
    std::string script;
    bool vouched;
};

} // namespace

TEST(ZipIndex, ListsEveryZipAsLibarchiveDoesAndVouchesOnlyForCertainOnes) {
    if (!HasTool("zip") || !HasTool("python3")) GTEST_SKIP() << "zip and python3 make the archives";
    // Python writes members as it is told: names, kinds and times no archiver would.
    const std::string py = "python3 - <<'EOF'\nimport zipfile, stat\n";
    const Case cases[] = {
        {"Info-ZIP: folders, files, times in the extended field", "zip -qr x.zip t", true},
        {"Info-ZIP without extra fields: DOS times, through the zone", "zip -qrX x.zip t", true},
        {"folders left out: implied by the paths", "zip -qrD x.zip t", true},
        {"encrypted: names readable", "zip -qr -P secret x.zip t", true},
        {"an archive comment", "zip -qr x.zip t && echo 'a comment, PK' | zip -qz x.zip", true},
        {"a link: its target is its data", "zip -qry x.zip t", false},
        {"an archive inside: declined, libarchive reads its data", "cp x0.zip t/inner.zip && zip -qr x.zip t", true},
        {"names of every kind",
         (py + "z = zipfile.ZipFile('x.zip', 'w')\n"
               "for n in ('../up', '/abs/x', './dot/./a', 'a/../b', 'sp ace', 'nl\\nx', 'caf\\u00e9', '\\u65e5\\u672c/x',"
               " 'dup', 'dup', 'd/', 'd/e'):\n"
               "    z.writestr(n, b'x' * len(n))\nz.close()\nEOF"),
         true},
        {"kinds from MS-DOS and Unix makers",
         (py + "z = zipfile.ZipFile('x.zip', 'w')\n"
               "for n, system, attr in (('dosdir', 0, 0x10), ('dosfile', 0, 0x21), ('typeless', 3, 0o644 << 16),"
               " ('unixdir', 3, (stat.S_IFDIR | 0o755) << 16), ('unixfile', 3, (stat.S_IFREG | 0o600) << 16),"
               " ('slashed/', 3, (stat.S_IFREG | 0o644) << 16), ('amiga', 1, 0)):\n"
               "    i = zipfile.ZipInfo(n, (1999, 12, 31, 23, 59, 58)); i.create_system = system; i.external_attr = attr\n"
               "    z.writestr(i, b'abc')\nz.close()\nEOF"),
         true},
        {"sizes after the data: zeros in the local headers",
         "python3 - <<'EOF' | cat > x.zip\nimport zipfile, sys\nz = zipfile.ZipFile(sys.stdout.buffer, 'w')\n"
         "z.writestr('s', b'x' * 70000)\nz.writestr('d/t', b'', zipfile.ZIP_DEFLATED)\nz.close()\nEOF",
         true},
        {"sizes after the data that the local header gives otherwise",
         "zip -qr -P secret x0s.zip t && python3 - <<'EOF'\n"
         "d = bytearray(open('x0s.zip', 'rb').read()); c = d.rfind(b'PK\\1\\2')\n"
         "d[c + 24] ^= 0x40; open('x.zip', 'wb').write(d)\nEOF",
         false},
        {"a FIFO and a device",
         py + "z = zipfile.ZipFile('x.zip', 'w')\n"
              "for n, mode in (('fifo', stat.S_IFIFO), ('dev', stat.S_IFCHR)):\n"
              "    i = zipfile.ZipInfo(n); i.create_system = 3; i.external_attr = (mode | 0o644) << 16; z.writestr(i, b'abc')\n"
              "z.close()\nEOF",
         false},
        {"a name with a backslash",
         py + "z = zipfile.ZipFile('x.zip', 'w'); z.writestr('a\\\\b', b'x'); z.close()\nEOF", false},
        {"a name not in UTF-8, unmarked",
         (py + "z = zipfile.ZipFile('x.zip', 'w'); z.writestr('rAw', b'x'); z.close()\n"
               "d = open('x.zip', 'rb').read().replace(b'rAw', b'r\\xffw'); open('x.zip', 'wb').write(d)\nEOF"),
         true},
        {"a local header that names another member (damaged)",
         (py + "z = zipfile.ZipFile('x.zip', 'w'); z.writestr('same', b'x'); z.close()\n"
               "d = bytearray(open('x.zip', 'rb').read()); d[30] = ord('S'); open('x.zip', 'wb').write(d)\nEOF"),
         false},
        {"data after the end record",
         "zip -qr x.zip t && printf 'trailing' >> x.zip", false},
        {"a field of another writer (NTFS times)",
         (py + "z = zipfile.ZipFile('x.zip', 'w'); i = zipfile.ZipInfo('n');"
               " i.extra = b'\\x0a\\x00\\x04\\x00abcd'; z.writestr(i, b'x'); z.close()\nEOF"),
         false},
        {"no member at all", py + "zipfile.ZipFile('x.zip', 'w').close()\nEOF", false},
    };
    TempDir dir;
    ASSERT_TRUE(Shell(dir, "mkdir -p t/d/e t/empty && printf 'a\\n' > t/a && printf 'bb\\n' > t/d/e/b && "
                           "ln -s ../a t/d/l && touch -h -d @1500000000 t t/* t/d/* t/d/e/* && "
                           "zip -qr x0.zip t"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(Shell(dir, "rm -f x.zip t/inner.zip\n" + c.script));
        const ArchiveListing fast = Through(dir, "x.zip", true), slow = Through(dir, "x.zip", false);
        EXPECT_EQ(Said(fast), Said(slow));
        if (c.vouched) EXPECT_EQ(fast.Status(), ArchiveStatus::Listed);
        const std::string bytes = dir.Read("x.zip");
        std::vector<ZipIndexEntry> entries;
        EXPECT_EQ(ReadZipIndex(bytes, entries), c.vouched);
    }
}

TEST(ZipIndex, TakesTheMembersTimesKindsAndSizesFromTheDirectory) {
    if (!HasTool("python3")) GTEST_SKIP() << "python3 makes the archive";
    TempDir dir;
    // Written to a pipe: every member's sizes follow its data (zeros in its local header);
    // an extended time field in both headers.
    ASSERT_TRUE(Shell(dir, "python3 - <<'EOF' | cat > x.zip\n"
                           "import zipfile, struct, sys\n"
                           "z = zipfile.ZipFile(sys.stdout.buffer, 'w')\n"
                           "i = zipfile.ZipInfo('timed', (2001, 2, 3, 4, 5, 6)); i.extra = b'UT\\x05\\x00\\x01' + struct.pack('<I', 1234567890)\n"
                           "z.writestr(i, b'12345')\n"
                           "with z.open(zipfile.ZipInfo('streamed'), 'w') as f: f.write(b'x' * 70000)\n"
                           "z.writestr('dir/', b'')\n"
                           "z.close()\nEOF"));
    const std::string bytes = dir.Read("x.zip");
    std::vector<ZipIndexEntry> e;
    ASSERT_TRUE(ReadZipIndex(bytes, e));
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0].name, "timed");
    EXPECT_EQ(e[0].mtime, 1234567890); // the extended field's, not the DOS time's
    EXPECT_EQ(e[0].size, 5u);
    EXPECT_EQ(e[1].name, "streamed");
    EXPECT_EQ(e[1].size, 70000u);
    EXPECT_EQ(e[2].kind, MemberKind::Folder);
    // Cut anywhere, the directory is no longer certain: libarchive decides.
    for (const size_t cut : {bytes.size() - 1, bytes.size() - 22, bytes.size() / 2, size_t{30}})
        EXPECT_FALSE(ReadZipIndex(std::string_view(bytes).substr(0, cut), e)) << cut;
}
