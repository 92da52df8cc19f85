#include "browse/DriveComboBox.h"

#include <gtest/gtest.h>

#include "support/TempDrive.h"

using namespace quindle;
using quindle::test::TempDrive;
using Names = std::vector<std::string>;

namespace {

struct Drives : ::testing::Test {
    TempDrive a{'A', std::nullopt, DriveKind::Removable, std::string("Floppy")};
    TempDrive c{'C', 1u, DriveKind::Fixed, std::string("System")};
    TempDrive d{'D', std::nullopt, DriveKind::CDRom};
    TempDrive f{'F', 2u, DriveKind::Fixed, std::string("Mixed Ä")};
    TempDrive r{'R', 3u, DriveKind::RamDisk, std::string("Scratch")};
    AppContext ctx;
    std::string log; // events in order: 'C' change, 'K' click

    void SetUp() override {
        std::vector<DriveInfo> table = {a.Info(), c.Info(), d.Info(), f.Info(), r.Info()};
        table[2].root = d.path() + "/no-disc"; // a CD drive without a disc: not ready
        DriveInfo net;
        net.letter = 'N';
        net.root = c.path();
        net.kind = DriveKind::Remote;
        net.remoteName = "//Server/Share";
        table.push_back(net);
        DriveInfo netNoName = net;
        netNoName.letter = 'M';
        netNoName.remoteName.clear();
        netNoName.label = "Team";
        table.push_back(netNoName);
        DriveInfo odd = net;
        odd.letter = 'U';
        odd.kind = DriveKind::Unknown;
        table.push_back(odd);
        ctx.platform.SetDrives(table);
        ctx.platform.SetCurrentDir("C:\\");
    }
    void Record(TDriveComboBox& cb) {
        cb.OnChange = [this](TDriveComboBox&) { log += 'C'; };
        cb.OnClick = [this](TDriveComboBox&) { log += 'K'; };
    }
};

struct Recorder : DriveComboObserver {
    int lists = 0, selections = 0;
    void DriveListChanged() override { ++lists; }
    void DriveSelectionChanged() override { ++selections; }
};

} // namespace

TEST_F(Drives, ItemsPerKindInBothCases) {
    TDriveComboBox cb(ctx);
    EXPECT_EQ(cb.Drive(), 'C') << "the current directory's drive";
    EXPECT_EQ(cb.Count(), 0) << "no list before the window exists";
    cb.CreateWnd();
    EXPECT_EQ(cb.Items(), (Names{"a:", "c: [system]", "d: []", "f: [mixed Ä]", "m: [team]", "n: //server/share",
                                 "r: [scratch]"}));
    EXPECT_EQ(cb.Glyph(0), DriveGlyph::Floppy);
    EXPECT_EQ(cb.Glyph(1), DriveGlyph::Hard);
    EXPECT_EQ(cb.Glyph(2), DriveGlyph::CDRom);
    EXPECT_EQ(cb.Glyph(4), DriveGlyph::Network);
    EXPECT_EQ(cb.Glyph(5), DriveGlyph::Network);
    EXPECT_EQ(cb.Glyph(6), DriveGlyph::Ram);
    EXPECT_EQ(cb.Drive(), 'c');
    EXPECT_EQ(cb.ItemIndex(), 1);

    Record(cb);
    cb.SetTextCase(tcUpperCase);
    EXPECT_EQ(cb.Items(), (Names{"A:", "C: [SYSTEM]", "D: []", "F: [MIXED Ä]", "M: [TEAM]", "N: //SERVER/SHARE",
                                 "R: [SCRATCH]"}));
    EXPECT_EQ(cb.Drive(), 'C');
    EXPECT_EQ(cb.Text(), "C: [SYSTEM]");
    EXPECT_EQ(log, "C") << "the new list re-selects the drive";

    // The label text follows the case of the letter asked for, not TextCase.
    EXPECT_EQ(cb.GetVolumeLabelText('f'), "[mixed Ä]");
    EXPECT_EQ(cb.GetNetworkShareText('N'), "//SERVER/SHARE");
    EXPECT_EQ(cb.GetNetworkShareText('c'), "[system]") << "no remote name: the label";
}

TEST_F(Drives, SettingDriveSelectsAndFiresOnlyOnChange) {
    TDriveComboBox cb(ctx);
    cb.SetTextCase(tcUpperCase);
    cb.CreateWnd();
    Recorder rec;
    cb.AddObserver(&rec);
    Record(cb);

    cb.SetDrive('C');
    cb.SetDrive('c');
    EXPECT_EQ(log, "") << "the same drive again fires nothing";

    cb.SetDrive('r');
    EXPECT_EQ(cb.Drive(), 'R');
    EXPECT_EQ(cb.ItemIndex(), 6);
    EXPECT_EQ(log, "C");
    EXPECT_GE(rec.selections, 1);

    cb.SetDrive('Q'); // not listed: stored, selection kept
    EXPECT_EQ(cb.Drive(), 'Q');
    EXPECT_EQ(cb.ItemIndex(), 6);
    EXPECT_EQ(log, "CC");

    cb.SetDrive(0);
    EXPECT_EQ(cb.Drive(), 0);
    EXPECT_EQ(cb.ItemIndex(), -1);
    cb.SetDrive(0);
    EXPECT_EQ(log, "CCCC") << "with no item selected, even a repeat fires";

    cb.BuildList();
    EXPECT_EQ(rec.lists, 1);
    cb.RemoveObserver(&rec);
    cb.BuildList();
    EXPECT_EQ(rec.lists, 1);
}

TEST_F(Drives, UserPickFiresChangeTwiceForANewDriveOnceForTheSame) {
    TDriveComboBox cb(ctx);
    cb.SetTextCase(tcUpperCase);
    cb.CreateWnd();
    Record(cb);
    cb.UserSelect(3);
    EXPECT_EQ(log, "KCC");
    EXPECT_EQ(cb.Drive(), 'F');
    EXPECT_EQ(cb.Text(), "F: [MIXED Ä]");
    log.clear();
    cb.UserSelect(3);
    EXPECT_EQ(log, "KC");
    log.clear();
    cb.UserSelect(42);
    EXPECT_EQ(log, "") << "no such item";
    EXPECT_EQ(TDriveComboBox::ItemHeightFor(8), 11);
    EXPECT_EQ(TDriveComboBox::ItemHeightFor(17), 17);
}
