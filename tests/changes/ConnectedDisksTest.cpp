// Which disks of the package are in a drive: matched through the drive table, which the
// mount watch keeps up to date as disks come and go.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "changes/DiskChanges.h"
#include "platform/MountWatch.h"
#include "support/PrivateMounts.h"
#include "support/TempDrive.h"
#include "support/WalkRig.h"

using namespace quindle;
using quindle::test::TempDrive;
using quindle::test::WalkRig;

TEST(ConnectedDisks, RecordsMatchedToReadyDrives) {
    WalkRig rig;
    TempDrive e('E', 5u), f('F', 6u);
    rig.Map(e);
    rig.Map(f);
    const std::vector<std::string> records = {"5.dat", "6.dat", "8.dat", "05.dat", "x.dat"};
    auto connected = ConnectedDisks(rig.ctx.platform, records);
    ASSERT_EQ(connected.size(), 2u);
    EXPECT_EQ(connected[0].serial, "5");
    EXPECT_EQ(connected[0].letter, 'E');
    EXPECT_EQ(connected[1].recordFile, "6.dat");
    EXPECT_EQ(ConnectedDriveOf(rig.ctx.platform, 6), std::optional<char>('F'));
    EXPECT_EQ(ConnectedDriveOf(rig.ctx.platform, 8), std::nullopt);
    // A drive whose folder is gone is no longer connected.
    std::filesystem::rename(f.path(), f.path() + ".away");
    connected = ConnectedDisks(rig.ctx.platform, records);
    ASSERT_EQ(connected.size(), 1u);
    EXPECT_EQ(connected[0].serial, "5");
    EXPECT_EQ(ConnectedDriveOf(rig.ctx.platform, 6), std::nullopt);
    std::filesystem::rename(f.path() + ".away", f.path());
}

TEST(ConnectedDisks, MountAndUnmountOfATmpfsAreNoticedByTheDriveTable) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root; run the tests as root to cover it";
    ASSERT_TRUE(quindle::test::PrivateMounts()) << "no mount namespace of its own";
    char where[] = "/mnt/quindle-test-XXXXXX";
    ASSERT_NE(mkdtemp(where), nullptr);
    MountWatch watch;
    ASSERT_GE(watch.Fd(), 0);
    EXPECT_FALSE(watch.Changed());
    const auto noticed = [&] {
        pollfd p{watch.Fd(), POLLPRI, 0};
        return poll(&p, 1, 2000) > 0 && (p.revents & POLLPRI);
    };
    const auto drives = [&] { return DiscoverDrives(ParseMountInfo(watch.Read())); };
    const auto driveAt = [&](const std::vector<DriveInfo>& table) -> const DriveInfo* {
        for (const DriveInfo& d : table)
            if (d.root == where) return &d;
        return nullptr;
    };

    ASSERT_EQ(mount("quindle-test", where, "tmpfs", 0, "size=1m"), 0) << "mount failed";
    EXPECT_TRUE(noticed()) << "no notification within 2 s of the mount";
    auto table = drives();
    EXPECT_FALSE(watch.Changed()) << "reading the table clears the mark";
    const DriveInfo* d = driveAt(table);
    ASSERT_NE(d, nullptr) << "the tmpfs is no drive";
    EXPECT_EQ(d->kind, DriveKind::RamDisk);
    test::WriteHostFile(std::string(where) + "/.windows-serial", "1A2B-3C4D\n");
    Platform platform;
    platform.SetDrives(table);
    auto connected = ConnectedDisks(platform, {"1.dat", "439041101.dat"});
    ASSERT_EQ(connected.size(), 1u);
    EXPECT_EQ(connected[0].serial, "439041101");
    EXPECT_EQ(connected[0].letter, d->letter);

    ASSERT_EQ(umount(where), 0);
    EXPECT_TRUE(noticed()) << "no notification within 2 s of the unmount";
    table = drives();
    EXPECT_EQ(driveAt(table), nullptr);
    platform.SetDrives(table);
    EXPECT_TRUE(ConnectedDisks(platform, {"1.dat", "439041101.dat"}).empty());
    rmdir(where);
}
