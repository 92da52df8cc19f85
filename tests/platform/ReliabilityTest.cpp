// Drive mappings from a damaged or stale settings file: bad fields are dropped one by one,
// a folder that is gone makes a drive that is not ready, and nothing throws.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/Drives.h"
#include "platform/Platform.h"
#include "support/TempDrive.h"

using namespace quindle;
using quindle::test::TempDir;

TEST(DriveTableReliability, StaleAndBadMappingsLeaveAUsableTable) {
    TempDir gone, fine, file;
    const std::string goneRoot = gone.path() + "/was-here";
    const std::string notAFolder = file.MakeFile("plain.txt", "x");
    const std::vector<DriveMapping> mapping = {
        {'E', goneRoot, "removable", "77", "Old stick"},
        {'F', fine.path(), "tape", "12abc", ""},              // unknown kind, serial with letters
        {'G', fine.path() + "/", " cdrom ", "-1", ""},        // blanks around the kind, negative serial
        {'H', notAFolder, "", "4294967296", ""},              // a file, and a serial one past 32 bits
        {'I', std::string("\0/x", 3), "", "", ""},            // a path holding NUL
        {'J', "   ", "fixed", "1", ""},                       // blank path: no drive
        {'\xE9', fine.path(), "", "", ""},                    // no letter at all
    };
    const auto table = BuildDriveTable(mapping, ParseMountInfo("garbage\n\n1 2\n"), SystemPaths{"/nonexistent", "", ""});
    std::string letters;
    for (const auto& d : table) letters += d.letter;
    EXPECT_EQ(letters, "EFGHI");

    Platform p;
    p.SetDrives(table);
    // A missing folder: the drive is listed but not ready; nothing of it can be read.
    EXPECT_EQ(p.FindDrive('E')->serial, 77u);
    EXPECT_EQ(p.FindDrive('E')->kind, DriveKind::Removable);
    EXPECT_FALSE(p.SetCurrentDir("E:\\"));
    EXPECT_FALSE(p.GetVolumeSerial('E').has_value());
    EXPECT_FALSE(p.FindFiles("E:\\", "*.*", faDirectory, [](const SearchRec&) {}));
    EXPECT_FALSE(p.FileExists("E:\\anything"));
    // Bad fields fall back to what the drive itself tells.
    EXPECT_EQ(p.FindDrive('F')->kind, DriveKind::Fixed);
    EXPECT_FALSE(p.FindDrive('F')->serial.has_value());
    EXPECT_TRUE(p.GetVolumeSerial('F').has_value());
    EXPECT_EQ(p.FindDrive('G')->kind, DriveKind::CDRom);
    EXPECT_FALSE(p.FindDrive('G')->serial.has_value());
    EXPECT_TRUE(p.SetCurrentDir("G:\\"));
    EXPECT_FALSE(p.FindDrive('H')->serial.has_value());
    EXPECT_FALSE(p.SetCurrentDir("H:\\"));
    EXPECT_FALSE(p.SetCurrentDir("I:\\"));
    EXPECT_EQ(p.GetCurrentDir(), "G:\\");

    // The folder comes back (the stick is plugged in again): the drive is ready.
    std::filesystem::create_directory(goneRoot);
    EXPECT_TRUE(p.SetCurrentDir("E:\\"));
    EXPECT_EQ(p.GetVolumeSerial('E'), 77u);
}
