// Damaged, encrypted and hostile archives, and the bounds of a listing: none of them
// ever fails the caller, and each stays within its bounds.
#include <unistd.h>

#include "ArchiveRig.h"

using namespace quindle;
using namespace quindle::test;

namespace {

const char* kLongTree = R"(
mkdir -p tree/docs
printf 'hello\n' > tree/a.txt
seq 1 200000 > tree/docs/long.txt
seq 1 1000 > tree/docs/b.txt
find tree -exec touch -h -d @1500000000 {} +
)";

// Writes `bytes` flipped (xor 0xFF) into a copy of `from` at `at` (negative: from the end).
std::string Flip(const char* from, const char* to, long at, int bytes) {
    return std::string("python3 - <<'EOF'\n"
                       "d = bytearray(open('") + from + "','rb').read())\n"
           "at = " + std::to_string(at) + "\n"
           "at = at if at >= 0 else len(d) + at\n"
           "for i in range(at, at + " + std::to_string(bytes) + "): d[i] ^= 0xFF\n"
           "open('" + to + "','wb').write(d)\n"
           "EOF\n";
}

std::string Cut(const char* from, const char* to, int percent) {
    return std::string("head -c $(( $(stat -c %s ") + from + ") * " + std::to_string(percent) + " / 100 )) " + from +
           " > " + to + "\n";
}

TEST(DamagedArchives, StayFilesWithTheReason) {
    TempDir dir;
    ASSERT_TRUE(Shell(dir, std::string(kLongTree) +
                               "zip -qr t.zip tree && tar cf t.tar tree && tar czf t.tgz tree && tar cJf t.txz tree\n"
                               "7z a -bd -bso0 -bsp0 t.7z tree && find tree | cpio --quiet -o -H newc > t.cpio\n"
                               "xorriso -as mkisofs -quiet -R -o t.iso tree 2>/dev/null\n" +
                               Cut("t.zip", "cut.zip", 50) + Cut("t.tar", "cut.tar", 50) + Cut("t.tgz", "cut.tgz", 60) +
                               Cut("t.txz", "cut.txz", 60) + Cut("t.7z", "cut.7z", 90) + Cut("t.cpio", "cut.cpio", 50) +
                               // The volume descriptors, without the folders they point to.
                               "head -c 40000 t.iso > cut.iso\n" +
                               // The central directory's first mark; the 7z header at the end.
                               "python3 -c \"d=open('t.zip','rb').read(); i=d.find(b'PK\\x01\\x02'); "
                               "open('mark.zip','wb').write(d[:i]+b'PK\\x01\\x09'+d[i+4:])\"\n" +
                               Flip("t.7z", "flip.7z", -20, 8) +
                               // The first header's checksum still holds; the second's size field does not.
                               Flip("t.tar", "flip.tar", 512 + 512 + 124, 4)));
    for (const char* file : {"cut.zip", "cut.tar", "cut.tgz", "cut.txz", "cut.7z", "cut.cpio", "cut.iso", "mark.zip",
                             "flip.7z", "flip.tar"}) {
        for (const ArchiveMode mode : {ArchiveMode::Indexed, ArchiveMode::All}) {
            const ArchiveListing l = ListIn(dir, file, Mode(mode));
            EXPECT_EQ(l.Status(), ArchiveStatus::Error) << file;
            EXPECT_EQ(l.Info().reason, kDamagedReason) << file << ": " << l.Info().detail;
            EXPECT_TRUE(l.members.empty()) << file;
        }
    }
}

TEST(EncryptedArchives, ReadableNamesAreListedEncryptedNamesAreAnError) {
    TempDir dir;
    ASSERT_TRUE(Shell(dir, std::string(kLongTree) +
                               "zip -qr inner.zip tree\n"
                               "zip -q -P secret -r enc.zip tree inner.zip\n"
                               "7z a -bd -bso0 -bsp0 -psecret enc-data.7z tree\n"
                               "7z a -bd -bso0 -bsp0 -psecret -mhe=on enc-names.7z tree"));
    const std::map<std::string, std::string> tree = {
        {"tree", "d"}, {"tree/a.txt", "f 6"}, {"tree/docs", "d"}, {"tree/docs/b.txt", "f 3893"},
        {"tree/docs/long.txt", "f 1288895"},
    };
    auto withInner = tree;
    withInner["inner.zip"] = "f " + std::to_string(dir.Read("inner.zip").size());
    // Its data cannot be read, so the zip inside stays a file, without an error of its own.
    const ArchiveListing zip = ListIn(dir, "enc.zip", Mode(ArchiveMode::All));
    EXPECT_EQ(zip.Status(), ArchiveStatus::Listed) << zip.Info().detail;
    EXPECT_EQ(Members(zip), withInner);
    EXPECT_EQ(NestedAt(zip, "inner.zip"), nullptr);

    const ArchiveListing data = ListIn(dir, "enc-data.7z", Mode(ArchiveMode::All));
    EXPECT_EQ(data.Status(), ArchiveStatus::Listed) << data.Info().detail;
    EXPECT_EQ(Members(data), tree);

    const ArchiveListing names = ListIn(dir, "enc-names.7z");
    EXPECT_EQ(names.Status(), ArchiveStatus::Error);
    EXPECT_EQ(names.Info().reason, kEncryptedReason) << names.Info().detail;
    EXPECT_TRUE(names.members.empty());
}

// Member names no extraction should follow, and names a Linux disk may hold.
const char* kHostile = R"(python3 - <<'EOF'
import io, tarfile, zipfile
T = 1500000000
names = ['../escape.txt', '/abs/root.txt', './a/./b/c.txt', 'a/../../up.txt', 'back\\slash.txt',
         'line\nbreak.txt', 'dots/...', 'dots/..hidden', '.', './', 'twice.txt', 'twice.txt',
         'file-then-folder', 'file-then-folder/inside.txt', 'RAW@@.txt']
data = {'twice.txt': [b'first', b'second!']}
with tarfile.open('hostile.tar', 'w', format=tarfile.GNU_FORMAT) as t:
    for n in names:
        body = data[n].pop(0) if n in data else b'x'
        i = tarfile.TarInfo(n.replace('@@', '\udcff\udcfe'))
        i.mtime = T
        if n.endswith('/') or n == '.':
            i.type = tarfile.DIRTYPE
            t.addfile(i)
        else:
            i.size = len(body)
            t.addfile(i, io.BytesIO(body))
    i = tarfile.TarInfo('up-link'); i.type = tarfile.SYMTYPE; i.linkname = '../../etc/passwd'; i.mtime = T
    t.addfile(i)
data = {'twice.txt': [b'first', b'second!']}
with zipfile.ZipFile('hostile.zip', 'w') as z:
    for n in names:
        if n in ('.', './'):
            continue
        z.writestr(zipfile.ZipInfo(n, (2017, 7, 14, 2, 40, 0)), data[n].pop(0) if n in data else b'x')
# Bytes that are not UTF-8, in a name without the zip's UTF-8 mark.
d = open('hostile.zip', 'rb').read()
open('hostile.zip', 'wb').write(d.replace(b'RAW@@', b'RAW\xff\xfe'))
EOF
)";

TEST(HostileArchives, NoMemberLeavesItsArchiveAndNamesKeepTheirBytes) {
    TempDir dir;
    ASSERT_TRUE(Shell(dir, kHostile));
    const std::map<std::string, std::string> want = {
        {"abs", "d*"},
        {"abs/root.txt", "f 1"},
        {"a", "d*"},
        {"a/b", "d*"},
        {"a/b/c.txt", "f 1"},
        {"back\\slash.txt", "f 1"},
        {"line\nbreak.txt", "f 1"},
        {"dots", "d*"},
        {"dots/...", "f 1"},
        {"dots/..hidden", "f 1"},
        {"twice.txt", "f 7"},             // the later one, as extraction leaves it
        {"file-then-folder", "d"},        // named as a folder after: a folder
        {"file-then-folder/inside.txt", "f 1"},
        {"RAW\xFF\xFE.txt", "f 1"},
    };
    auto tarWant = want;
    tarWant["up-link"] = "l 16"; // listed, never followed
    const ArchiveListing tar = ListIn(dir, "hostile.tar");
    EXPECT_EQ(tar.Status(), ArchiveStatus::Listed);
    EXPECT_EQ(Members(tar), tarWant);
    EXPECT_EQ(tar.droppedMembers, 2u); // "../escape.txt" and "a/../../up.txt"

    // A zip keeps "/" as its only separator; a backslash in its names comes from Windows
    // tools that wrote their own separator, and libarchive reads it as one.
    auto zipWant = want;
    zipWant.erase("back\\slash.txt");
    zipWant["back"] = "d*";
    zipWant["back/slash.txt"] = "f 1";
    const ArchiveListing zip = ListIn(dir, "hostile.zip");
    EXPECT_EQ(zip.Status(), ArchiveStatus::Listed);
    EXPECT_EQ(Members(zip), zipWant);
    EXPECT_EQ(zip.droppedMembers, 2u);
}

TEST(ArchiveBounds, AHundredThousandMembersAndTheBoundsOfAListing) {
    // The files the archive is made of live in memory: a hundred thousand of them on disk
    // would take minutes to make and remove.
    TempDir dir(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
    ASSERT_TRUE(Shell(dir, "python3 -c \"\n"
                           "import os\n"
                           "for d in range(100):\n"
                           "    os.makedirs(f'many/d{d:03}')\n"
                           "    for f in range(1000): open(f'many/d{d:03}/f{f:04}.txt', 'w').write('x')\n\"\n"
                           "tar cf many.tar many && rm -r many"));
    const ArchiveListing all = ListIn(dir, "many.tar");
    EXPECT_EQ(all.Status(), ArchiveStatus::Listed);
    EXPECT_EQ(all.members.size(), 1u + 100u + 100000u);

    struct Case {
        const char* what;
        ArchiveOptions options;
        const char* reason;
    };
    ArchiveOptions members, names, time, stop;
    members.limits.maxMembers = 1000;
    names.limits.maxNameBytes = 20000;
    time.limits.maxMillis = 0;
    int asked = 0;
    stop.stop = [&asked] { return ++asked > 50; };
    const Case cases[] = {
        {"members", members, kMembersReason},
        {"names", names, kMembersReason},
        {"time", time, kTimeReason},
        {"stopped", stop, kStoppedReason},
    };
    for (const Case& c : cases) {
        const ArchiveListing l = ListIn(dir, "many.tar", c.options);
        EXPECT_EQ(l.Status(), ArchiveStatus::Partial) << c.what;
        EXPECT_EQ(l.Info().reason, c.reason) << c.what;
        EXPECT_LT(l.members.size(), 2000u) << c.what;
    }
    EXPECT_EQ(ListIn(dir, "many.tar", members).members.size(), 1000u);
}

TEST(ArchiveBounds, DecompressingStopsAtItsBoundAlsoInsideAnotherArchive) {
    TempDir dir;
    // 256 MiB of zeros between two small files, gzip-compressed to about 250 KiB.
    ASSERT_TRUE(Shell(dir, R"(python3 - <<'EOF'
import io, tarfile
class Zeros(io.RawIOBase):
    def __init__(self, n): self.left = n
    def readable(self): return True
    def readinto(self, b):
        n = min(len(b), self.left); b[:n] = bytes(n); self.left -= n; return n
with tarfile.open('bomb.tgz', 'w:gz', compresslevel=1) as t:
    for name, size in (('before.txt', 1), ('zeros.bin', 256 << 20), ('after.txt', 1)):
        i = tarfile.TarInfo(name); i.size = size; i.mtime = 1500000000
        t.addfile(i, io.BytesIO(b'x') if size == 1 else io.BufferedReader(Zeros(size), 1 << 20))
EOF
zip -q bomb.zip bomb.tgz)"));
    ArchiveOptions bound = Mode(ArchiveMode::All);
    bound.limits.maxDecompressedBytes = 16 << 20;
    const ArchiveListing l = ListIn(dir, "bomb.tgz", bound);
    EXPECT_EQ(l.Status(), ArchiveStatus::Partial);
    EXPECT_EQ(l.Info().reason, kBytesReason);
    EXPECT_EQ(Members(l), (std::map<std::string, std::string>{{"before.txt", "f 1"}, {"zeros.bin", "f 268435456"}}));

    const ArchiveListing outer = ListIn(dir, "bomb.zip", bound);
    EXPECT_EQ(outer.Status(), ArchiveStatus::Partial);
    EXPECT_EQ(outer.Info().reason, kBytesReason);
    ASSERT_TRUE(NestedAt(outer, "bomb.tgz"));
    EXPECT_EQ(NestedAt(outer, "bomb.tgz")->status, ArchiveStatus::Partial);
    EXPECT_EQ(Members(outer).count("bomb.tgz/after.txt"), 0u);
    EXPECT_EQ(Members(outer)["bomb.tgz/before.txt"], "f 1 @bomb.tgz");

    // Without the bound it is listed whole.
    EXPECT_EQ(ListIn(dir, "bomb.tgz", Mode(ArchiveMode::All)).members.size(), 3u);
}

} // namespace
