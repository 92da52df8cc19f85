// A settings file that is damaged or holds text where numbers belong: every value reads
// as missing or as what it can be, and the drive table built from it stays usable.
#include <gtest/gtest.h>

#include <QStandardPaths>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "platform/Drives.h"
#include "ui/app/Settings.h"

using namespace quindle;

namespace {

std::string SettingsFile() {
    const char* home = std::getenv("XDG_CONFIG_HOME");
    return std::string(home ? home : "") + "/Tavrel/Quindle.conf";
}

void WriteSettings(const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(SettingsFile()).parent_path());
    std::ofstream(SettingsFile(), std::ios::binary | std::ios::trunc) << text;
}

} // namespace

TEST(SettingsReliability, DamagedFileReadsAsMissingValues) {
    // Binary garbage: nothing reads, nothing throws.
    std::mt19937 rng(7);
    std::string garbage(4096, '\0');
    for (char& c : garbage) c = static_cast<char>(rng());
    WriteSettings(garbage);
    EXPECT_FALSE(ReadSetupInt("top").has_value());
    EXPECT_FALSE(ReadSetupInt("Display").has_value());
    EXPECT_TRUE(ReadDriveMappings().empty());

    // Text where integers belong; a half-written line at the end.
    WriteSettings("[Setup]\ntop=abc\nleft= 42 \nDisplay=1x\n[Drives]\nE\\path=/no/such/folder\nE\\kind=floppy\n"
                  "E\\serial=-3\nF\\path=\nG\\kind=cdrom\n\xff\\path=/tmp\nH\\path=/tmp\nH\\ser");
    EXPECT_FALSE(ReadSetupInt("top").has_value());
    EXPECT_EQ(ReadSetupInt("left"), 42);
    EXPECT_FALSE(ReadSetupInt("Display").has_value());
    const auto mappings = ReadDriveMappings();
    std::string letters;
    for (const auto& m : mappings) letters += m.letter;
    EXPECT_EQ(letters, "EH"); // F and G have no path; the non-letter group is no drive
    const auto table = BuildDriveTable(mappings, {}, SystemPaths{"/nonexistent", "", ""});
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table[0].root, "/no/such/folder");
    EXPECT_EQ(table[0].kind, DriveKind::Fixed);
    EXPECT_FALSE(table[0].serial.has_value());
    EXPECT_FALSE(DriveReady(table[0]));

    // Writing the window position back repairs the values.
    WriteSetup(10, 20, 1);
    EXPECT_EQ(ReadSetupInt("top"), 10);
    EXPECT_EQ(ReadSetupInt("Display"), 1);
    std::filesystem::remove(SettingsFile());
}
