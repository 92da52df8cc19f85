#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/Drives.h"
#include "support/TempDrive.h"

using namespace quindle;
using quindle::test::TempDir;

namespace {

// A machine with the usual pseudo file systems, a bind mount of the root disk, a USB
// stick, an ISO image, two network shares and RAM disks in and out of the media folders.
const char* kMachine =
    "22 27 0:21 / /proc rw,relatime shared:5 - proc proc rw\n"
    "23 27 0:22 / /sys rw,relatime shared:6 - sysfs sysfs rw\n"
    "24 27 0:6 / /dev rw,relatime - devtmpfs devtmpfs rw,size=1k\n"
    "25 24 0:23 / /dev/shm rw,relatime - tmpfs tmpfs rw\n"
    "26 24 0:24 / /dev/pts rw,relatime - devpts devpts rw,mode=600\n"
    "27 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n"
    "28 23 0:29 / /sys/fs/cgroup/cpu rw - cgroup cgroup rw,cpu\n"
    "29 23 0:38 / /sys/fs/cgroup/unified rw - cgroup2 cgroup2 rw\n"
    "30 27 0:40 / /run rw,nosuid - tmpfs tmpfs rw\n"
    "31 27 0:41 / /tmp rw - tmpfs tmpfs rw\n"
    "32 22 0:42 / /proc/sys/fs/binfmt_misc rw - binfmt_misc binfmt_misc rw\n"
    "33 27 8:2 /srv/data /home/ann/data rw - ext4 /dev/sda2 rw\n"
    "34 27 8:17 /photos /home/ann/photos rw - vfat /dev/sdb1 rw\n"
    "35 27 8:17 / /media/ann/MY\\040STICK rw,nosuid shared:40 master:1 - vfat /dev/sdb1 rw,uid=1000\n"
    "36 27 7:0 / /mnt/iso rw - iso9660 /dev/loop0 ro\n"
    "37 27 0:50 / /net/home rw - nfs4 fileserver:/export/home rw,vers=4.2\n"
    "38 27 0:51 / /mnt/share rw - cifs //nas/public rw\n"
    "39 27 0:52 / /mnt/scratch rw - tmpfs tmpfs rw,size=1g\n"
    "40 27 7:1 / /snap/core/123 ro - squashfs /dev/loop1 ro\n"
    "41 27 0:53 / /var/lib/docker/overlay2/abc/merged rw - overlay overlay rw\n"
    "42 30 0:54 / /run/user/1000/gvfs rw - fuse.gvfsd-fuse gvfsd-fuse rw\n"
    "43 27 0:55 / /home/ann/nas2 rw - cifs //nas/public rw\n"
    "this line is not a mount\n"
    "44 27 8:33 / /mnt/broken rw\n";

const DriveInfo* ByRoot(const std::vector<DriveInfo>& v, const std::string& root) {
    for (const auto& d : v)
        if (d.root == root) return &d;
    return nullptr;
}

const DriveInfo* ByLetter(const std::vector<DriveInfo>& v, char letter) {
    for (const auto& d : v)
        if (d.letter == letter) return &d;
    return nullptr;
}

} // namespace

TEST(MountInfo, ParsesFieldsUnescapesAndSkipsMalformedLines) {
    const auto m = ParseMountInfo(kMachine);
    ASSERT_EQ(m.size(), 22u); // the last two lines are malformed
    EXPECT_EQ(m[5].mountPoint, "/");
    EXPECT_EQ(m[5].major, 8u);
    EXPECT_EQ(m[5].minor, 2u);
    EXPECT_EQ(m[5].fsType, "ext4");
    EXPECT_EQ(m[5].source, "/dev/sda2");
    // Optional fields of any number before the separator.
    EXPECT_EQ(m[13].mountPoint, "/media/ann/MY STICK");
    EXPECT_EQ(m[13].fsType, "vfat");
    EXPECT_EQ(m[12].root, "/photos");

    const auto e = ParseMountInfo("1 2 3:4 /a\\134b /x\\011y\\012z\\040 rw - ext4 /dev/with\\040blank rw\r\n"
                                  "1 2 3:4 / /ok rw - ext4 /dev/a\n"  // no superoptions is malformed
                                  "x 2 3:4 / /bad rw - ext4 /dev/a rw\n"
                                  "1 2 34 / /bad rw - ext4 /dev/a rw\n"
                                  "1 2 3:4 / /short - ext4 /dev/a rw\n"
                                  "5 6 0:9 / /tail\\04 rw - tmpfs t rw");
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[0].root, "/a\\b");
    EXPECT_EQ(e[0].mountPoint, "/x\ty\nz ");
    EXPECT_EQ(e[0].source, "/dev/with blank");
    EXPECT_EQ(e[1].mountPoint, "/tail\\04"); // an incomplete escape stays as it is
}

TEST(MountInfo, DiscoveryKeepsRealDisksOncePerDevice) {
    TempDir sys; // empty sysfs: nothing is removable
    const auto d = DiscoverDrives(ParseMountInfo(kMachine), SystemPaths{sys.path(), "", ""});

    std::vector<std::string> roots;
    for (const auto& x : d) roots.push_back(std::string(1, x.letter) + "=" + x.root);
    EXPECT_EQ(roots, (std::vector<std::string>{"C=/", "D=/media/ann/MY STICK", "E=/mnt/iso", "F=/net/home",
                                               "G=/mnt/share", "H=/mnt/scratch"}));

    // The bind mount of the root disk is no drive; of the stick only its whole mount is.
    EXPECT_EQ(ByRoot(d, "/home/ann/data"), nullptr);
    EXPECT_EQ(ByRoot(d, "/home/ann/photos"), nullptr);
    // The same share mounted twice is one drive.
    EXPECT_EQ(ByRoot(d, "/home/ann/nas2"), nullptr);

    EXPECT_EQ(ByLetter(d, 'C')->kind, DriveKind::Fixed);
    EXPECT_EQ(ByLetter(d, 'D')->kind, DriveKind::Fixed); // no sysfs says otherwise
    EXPECT_EQ(ByLetter(d, 'E')->kind, DriveKind::CDRom);
    EXPECT_EQ(ByLetter(d, 'F')->kind, DriveKind::Remote);
    EXPECT_EQ(ByLetter(d, 'F')->remoteName, "fileserver:/export/home");
    EXPECT_EQ(ByLetter(d, 'G')->kind, DriveKind::Remote);
    EXPECT_EQ(ByLetter(d, 'G')->remoteName, "//nas/public");
    EXPECT_EQ(ByLetter(d, 'H')->kind, DriveKind::RamDisk);
    EXPECT_TRUE(ByLetter(d, 'C')->remoteName.empty());
    EXPECT_EQ(ByLetter(d, 'D')->source, "/dev/sdb1");
    EXPECT_EQ(ByLetter(d, 'D')->major, 8u);
    EXPECT_EQ(ByLetter(d, 'D')->minor, 17u);
}

TEST(MountInfo, BindMountBeforeTheWholeDiskAndCoveredMounts) {
    const auto d = DiscoverDrives(ParseMountInfo("1 0 8:1 / / rw - ext4 /dev/sda1 rw\n"
                                                 "2 1 8:17 /sub /srv/sub rw - ext4 /dev/sdb1 rw\n"
                                                 "3 1 8:17 / /mnt/disk rw - ext4 /dev/sdb1 rw\n"
                                                 "4 1 8:33 / /mnt/old rw - ext4 /dev/sdc1 rw\n"
                                                 "5 1 8:49 / /mnt/old rw - xfs /dev/sdd1 rw\n"
                                                 "6 1 0:77 / /mnt/ram rw - ramfs none rw\n"),
                                  SystemPaths{"/nonexistent", "", ""});
    ASSERT_EQ(d.size(), 4u);
    EXPECT_EQ(d[1].root, "/mnt/disk"); // the whole file system wins over the earlier bind mount
    EXPECT_EQ(d[1].letter, 'D');
    EXPECT_EQ(d[2].root, "/mnt/old"); // only the mount on top is visible
    EXPECT_EQ(d[2].source, "/dev/sdd1");
    EXPECT_EQ(d[3].kind, DriveKind::RamDisk);

    // No root mount: no C:, the others still start at D:. Past Z: nothing more.
    std::string many;
    for (int i = 0; i < 30; ++i) many += "1 0 8:" + std::to_string(i) + " / /mnt/d" + std::to_string(i) + " rw - ext4 /dev/x rw\n";
    const auto m = DiscoverDrives(ParseMountInfo(many), SystemPaths{"/nonexistent", "", ""});
    ASSERT_EQ(m.size(), 23u);
    EXPECT_EQ(m.front().letter, 'D');
    EXPECT_EQ(m.back().letter, 'Z');

    // A file bind-mounted over a file (as a container's /etc/resolv.conf) is no drive; a
    // folder mounted beside it is.
    TempDir t;
    const std::string file = t.MakeFile("resolv.conf", "x");
    const std::string dir = t.MakeDir("stick");
    const auto f = DiscoverDrives(ParseMountInfo("1 0 8:1 / / rw - ext4 /dev/sda1 rw\n"
                                                 "2 1 8:1 /etc/resolv.conf " + file + " rw - ext4 /dev/sda1 rw\n"
                                                 "3 1 8:2 /x " + file + " rw - ext4 /dev/sdb1 rw\n"
                                                 "4 1 8:3 / " + dir + " rw - vfat /dev/sdc1 rw\n"),
                                  SystemPaths{"/nonexistent", "", ""});
    ASSERT_EQ(f.size(), 2u);
    EXPECT_EQ(f[1].root, dir);
}

TEST(MountInfo, KindsFromAFakeSysfsTree) {
    namespace fs = std::filesystem;
    TempDir sys;
    // A USB stick: its partition hangs below a usb bus; its disk says removable 0.
    sys.MakeDir("devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/block/sdb/sdb1");
    sys.MakeFile("devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/block/sdb/sdb1/partition", "1\n");
    sys.MakeFile("block/sdb/removable", "0\n");
    // A card reader on the PCI bus whose disk says removable 1.
    sys.MakeDir("devices/pci0000:00/0000:00:1f.2/ata1/block/sdc");
    sys.MakeFile("block/sdc/removable", "1\n");
    // An internal disk.
    sys.MakeDir("devices/pci0000:00/0000:00:1f.2/ata2/block/sda/sda1");
    sys.MakeFile("devices/pci0000:00/0000:00:1f.2/ata2/block/sda/sda1/partition", "1\n");
    sys.MakeFile("block/sda/removable", "0\n");
    sys.MakeDir("dev/block");
    fs::create_symlink("../../devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/block/sdb/sdb1",
                       sys.path() + "/dev/block/8:17");
    fs::create_symlink("../../devices/pci0000:00/0000:00:1f.2/ata1/block/sdc", sys.path() + "/dev/block/8:32");
    fs::create_symlink("../../devices/pci0000:00/0000:00:1f.2/ata2/block/sda/sda1", sys.path() + "/dev/block/8:1");
    // An optical drive says removable too, but is a CD-ROM.
    sys.MakeDir("devices/pci0000:00/0000:00:1f.2/ata3/block/sr0");
    sys.MakeFile("block/sr0/removable", "1\n");
    fs::create_symlink("../../devices/pci0000:00/0000:00:1f.2/ata3/block/sr0", sys.path() + "/dev/block/11:0");

    const auto d = DiscoverDrives(ParseMountInfo("1 0 8:1 / / rw - ext4 /dev/sda1 rw\n"
                                                 "2 1 8:17 / /media/u/STICK rw - vfat /dev/sdb1 rw\n"
                                                 "3 1 8:32 / /media/u/CARD rw - exfat /dev/sdc rw\n"
                                                 "4 1 11:0 / /media/u/DISC rw - udf /dev/sr0 rw\n"),
                                  SystemPaths{sys.path(), "", ""});
    ASSERT_EQ(d.size(), 4u);
    EXPECT_EQ(d[0].kind, DriveKind::Fixed);
    EXPECT_EQ(d[1].kind, DriveKind::Removable);
    EXPECT_EQ(d[2].kind, DriveKind::Removable);
    EXPECT_EQ(d[3].kind, DriveKind::CDRom);
}

TEST(DriveTable, MappingFirstBadFieldsIgnoredOneByOne) {
    TempDir a, b;
    const std::string mounts = "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n"
                               "2 1 8:17 / /media/u/STICK rw - vfat /dev/sdb1 rw\n"
                               "3 1 8:33 / /mnt/other rw - ext4 /dev/sdc1 rw\n"
                               "4 1 0:60 / /mnt/share rw - cifs //nas/public rw\n";
    const std::vector<DriveMapping> mapping = {
        {'D', a.path() + "/", "cdrom", "4294967295", "Backup"},
        {'e', b.path(), "floppy", "-5", ""},            // bad kind and negative serial
        {'F', "/no/such/folder", "", "4294967296", ""}, // out of range; the folder is missing
        {'G', "", "fixed", "1", ""},                    // no path: no drive
        {'D', "/tmp", "", "", ""},                      // D: already mapped
        {'H', "/mnt/share", "", "12abc", "Nas"},        // onto a discovered share
        {'?', "/tmp", "", "", ""},                      // no letter
    };
    const auto t = BuildDriveTable(mapping, ParseMountInfo(mounts), SystemPaths{"/nonexistent", "", ""});

    std::vector<std::string> letters;
    for (const auto& d : t) letters.push_back(std::string(1, d.letter) + "=" + d.root);
    EXPECT_EQ(letters, (std::vector<std::string>{"D=" + a.path(), "E=" + b.path(), "F=/no/such/folder",
                                                 "H=/mnt/share", "C=/", "G=/media/u/STICK", "I=/mnt/other"}));

    const DriveInfo* d = ByLetter(t, 'D');
    EXPECT_EQ(d->kind, DriveKind::CDRom);
    EXPECT_EQ(d->serial, 4294967295u);
    EXPECT_EQ(d->label, "Backup");
    const DriveInfo* e = ByLetter(t, 'E');
    EXPECT_EQ(e->kind, DriveKind::Fixed);
    EXPECT_FALSE(e->serial.has_value());
    EXPECT_FALSE(e->label.has_value());
    const DriveInfo* f = ByLetter(t, 'F');
    EXPECT_FALSE(f->serial.has_value());
    EXPECT_FALSE(DriveReady(*f));
    EXPECT_FALSE(QueryVolumeSerial(*f).has_value());
    EXPECT_FALSE(QueryVolumeLabel(*f).has_value());
    // A mapping onto a mount keeps what the system knows of it, and the mount isn't listed twice.
    const DriveInfo* h = ByLetter(t, 'H');
    EXPECT_EQ(h->kind, DriveKind::Remote);
    EXPECT_EQ(h->remoteName, "//nas/public");
    EXPECT_FALSE(h->serial.has_value());
    EXPECT_EQ(h->label, "Nas");

    EXPECT_EQ(ParseDecimalSerial(" 0 "), 0u);
    EXPECT_EQ(ParseDecimalSerial("439041101"), 439041101u);
    for (const char* bad : {"", "+1", "1e3", "99999999999", "0x10", "1 2"}) EXPECT_FALSE(ParseDecimalSerial(bad)) << bad;
    EXPECT_EQ(ParseDriveKind("RAMDISK"), DriveKind::RamDisk);
    EXPECT_EQ(ParseDriveKind("hard"), DriveKind::Unknown);
}

TEST(Volumes, SerialAndLabelSources) {
    TempDir root;
    DriveInfo d;
    d.letter = 'E';
    d.root = root.path();

    // Nothing at the root: a hash of the root path, the same every time, differing by path.
    const auto hashed = QueryVolumeSerial(d);
    ASSERT_TRUE(hashed.has_value());
    EXPECT_EQ(*hashed, Fnv1a32(root.path()));
    EXPECT_EQ(QueryVolumeSerial(d), hashed);
    EXPECT_NE(Fnv1a32(root.path() + "x"), *hashed);
    EXPECT_EQ(Fnv1a32(""), 2166136261u);
    EXPECT_EQ(Fnv1a32("a"), 0xE40C292Cu);
    EXPECT_EQ(QueryVolumeLabel(d), "");

    root.MakeFile(".windows-serial", "  0x1a2b3C4d\r\n");
    root.MakeFile(".windows-label", "Holiday 2003\r\nsecond line\n");
    EXPECT_EQ(QueryVolumeSerial(d), 0x1A2B3C4Du);
    EXPECT_EQ(QueryVolumeLabel(d), "Holiday 2003");

    // A serial file that says nothing sensible is passed over.
    root.MakeFile(".windows-serial", "not hex\n");
    EXPECT_EQ(QueryVolumeSerial(d), hashed);

    // The mapping wins over the files.
    d.serial = 7;
    d.label = "Fixed";
    EXPECT_EQ(QueryVolumeSerial(d), 7u);
    EXPECT_EQ(QueryVolumeLabel(d), "Fixed");

    // An unreadable root is not ready, as is a missing one.
    if (geteuid() != 0) {
        chmod(root.path().c_str(), 0);
        EXPECT_FALSE(QueryVolumeSerial(d).has_value());
        EXPECT_FALSE(QueryVolumeLabel(d).has_value());
        chmod(root.path().c_str(), 0700);
    }
    d.root = root.path() + "/gone";
    EXPECT_FALSE(QueryVolumeSerial(d).has_value());
    EXPECT_FALSE(QueryVolumeLabel(d).has_value());
}

TEST(Volumes, FileSystemSerialAndLabelFromUdev) {
    TempDir root, udev, dev;
    DriveInfo d;
    d.letter = 'F';
    d.root = root.path();
    d.fsType = "ext4";
    d.source = "/dev/sdq1";
    d.major = 65;
    d.minor = 1;
    const SystemPaths paths{"/nonexistent", dev.path(), udev.path()};

    udev.MakeFile("b65:1", "S:disk/by-uuid/x\nE:ID_FS_TYPE=ext4\nE:ID_FS_UUID=c0ffee12-3456-789a-bcde-f0123456789a\n"
                           "E:ID_FS_LABEL=My_Data\nE:ID_FS_LABEL_ENC=My\\x20Data\n");
    EXPECT_EQ(QueryVolumeSerial(d, paths), 0xC0FFEE12u);
    EXPECT_EQ(QueryVolumeLabel(d, paths), "My Data");

    // /dev/disk links come first; a link that can't be followed is matched by node name.
    dev.MakeDir("by-uuid");
    dev.MakeDir("by-label");
    std::filesystem::create_symlink("../../sdz9", dev.path() + "/by-uuid/0000-0001");
    std::filesystem::create_symlink("../../sdq1", dev.path() + "/by-uuid/1A2B-3C4D");
    std::filesystem::create_symlink("../../sdq1", dev.path() + "/by-label/OLD\\x20DISK");
    d.fsType = "vfat"; // not a real FAT mount: the ioctl fails and the UUID answers
    EXPECT_EQ(QueryVolumeSerial(d, paths), 0x1A2B3C4Du);
    EXPECT_EQ(QueryVolumeLabel(d, paths), "OLD DISK");

    // The root's own files still come before the file system.
    root.MakeFile(".windows-serial", "DEADBEEF");
    EXPECT_EQ(QueryVolumeSerial(d, paths), 0xDEADBEEFu);

    // A mapped folder that isn't a mount root never takes the disk's serial.
    DriveInfo mapped;
    mapped.root = root.MakeDir("sub");
    EXPECT_EQ(QueryVolumeSerial(mapped, paths), Fnv1a32(mapped.root));
    EXPECT_EQ(QueryVolumeLabel(mapped, paths), "");
}

TEST(Volumes, SerialTextsAndUdevParsing) {
    EXPECT_EQ(SerialFromUuid("1A2B-3C4D", "vfat"), 0x1A2B3C4Du);
    EXPECT_EQ(SerialFromUuid("1a2b-3c4d", "exfat"), 0x1A2B3C4Du);
    EXPECT_EQ(SerialFromUuid("01D2A3B4C5D6E7F8", "ntfs"), 0xC5D6E7F8u);
    EXPECT_EQ(SerialFromUuid("01D2A3B4C5D6E7F8", "fuseblk"), 0xC5D6E7F8u);
    EXPECT_EQ(SerialFromUuid("3f1c2a9e-0b7d-4c55-9e21-aa00bb11cc22", "ext4"), 0x3F1C2A9Eu);
    EXPECT_EQ(SerialFromUuid("2003-05-17-12-00-00-00", "iso9660"), 0x20030517u);
    EXPECT_FALSE(SerialFromUuid("", "ext4"));
    EXPECT_FALSE(SerialFromUuid("zz12-3456", "vfat"));

    EXPECT_EQ(ParseHexSerial("1A2B3C4D"), 0x1A2B3C4Du);
    EXPECT_EQ(ParseHexSerial("\t0XFFFFFFFF \n"), 0xFFFFFFFFu);
    EXPECT_EQ(ParseHexSerial("1a2b-3c4d"), 0x1A2B3C4Du);
    EXPECT_EQ(ParseHexSerial("0"), 0u);
    for (const char* bad : {"", "0x", "123456789", "12 34", "-1A2B", "1A2B-", "1A--2B", "0x-1", "G1"})
        EXPECT_FALSE(ParseHexSerial(bad)) << bad;

    EXPECT_EQ(DecodeUdevEscapes("A\\x20B\\x5cC\\x2"), "A B\\C\\x2");
    auto p = ParseUdevData("E:ID_FS_LABEL=Plain\r\nE:ID_FS_UUID=ab\nE:ID_FS_UUID_ENC=zz\n");
    EXPECT_EQ(p.uuid, "ab");
    EXPECT_EQ(p.label, "Plain");
    p = ParseUdevData("S:x\nE:ID_FS_LABEL_ENC=caf\\xc3\\xa9\nE:ID_FS_LABEL=caf__\n");
    EXPECT_EQ(p.label, "caf\xc3\xa9");
    EXPECT_FALSE(p.uuid);
    EXPECT_FALSE(ParseUdevData("E:ID_FS_TYPE=ext4\n").label);
}
