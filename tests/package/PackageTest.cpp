// The package: which files are its disks (one rule for the dialog, the index and every
// command), what a disk is called, and its catalogues read off the calling thread.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "catalogue/DiskCatalogue.h"
#include "index/PackageIndex.h"
#include "package/Package.h"
#include "records/DiskRecord.h"
#include "records/IniFile.h"
#include "support/TempDrive.h"
#include "support/WalkRig.h"

using namespace quindle;
using quindle::test::TempDir;
using quindle::test::TempDrive;
using quindle::test::WalkRig;
using quindle::test::WriteHostFile;

namespace {

const std::string kInfo = "Special Information about this disk by Quindle";

std::string Record(const std::string& serial, const std::string& title, const std::string& body = "a.txt=1\r\n") {
    return "\r\n[E:\\]\r\n" + body + "\r\n[" + kInfo + "]\r\nVolume Serial=" + serial +
           "\r\nMemorization Date=01/02/2026 03:04:05\r\nTitle=" + title + "\r\nDescription=d " + serial +
           "\r\nAdditional=x " + serial + "\r\n";
}

} // namespace

TEST(Package, TheDisksAreTheDialogsListingForTheDialogTheIndexAndEveryCommand) {
    WalkRig rig;
    const std::string dir = rig.ctx.PackageFolder;
    for (const char* name : {"10.dat", "2.dat", "X.DAT", ".7.dat", "a.dat.tmp", "5.cat", "notes.txt"})
        WriteHostFile(dir + name, Record("1", name));
    ASSERT_EQ(mkdir((dir + "folder.dat").c_str(), 0755), 0);   // a folder is no disk
    ASSERT_EQ(mkfifo((dir + "pipe.dat").c_str(), 0644), 0);    // nor a FIFO (a system file)
    ASSERT_EQ(symlink("10.dat", (dir + "11.dat").c_str()), 0); // a link is a file

    // The dialog's own lister, set by the same rule.
    TFileListBox dialogList(rig.ctx);
    dialogList.SetMultiSelect(true);
    SetPackageListerRule(dialogList);
    dialogList.SetDirectory(dir);
    dialogList.RefreshList();
    const std::vector<std::string> listed = PackageRecordFiles(dir);
    EXPECT_EQ(listed, dialogList.CopyItems());
    const std::set<std::string> want{"10.dat", "2.dat", "X.DAT", ".7.dat", "11.dat"};
    EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()), want);

    // Find files and locate search exactly these disks.
    PackageIndex index(dir, kInfo);
    index.Refresh(2);
    std::set<std::string> indexed;
    for (const auto& d : index.Snapshot()->disks) indexed.insert(d->serial);
    std::set<std::string> serials;
    for (const std::string& name : want) serials.insert(SerialOfRecordName(name));
    EXPECT_EQ(indexed, serials);
}

TEST(Package, ADisksInformationIsReadFromTheRecordsTailAsTheStoreReadsIt) {
    TempDir dir;
    const std::string big(100 * 1024, 'n');
    const struct {
        const char* what;
        std::string text;
    } cases[] = {
        {"small", Record("1", "Small")},
        {"long record, information in the tail", Record("2", "Long", [&] {
             std::string body;
             for (int i = 0; i < 20000; ++i) body += "file" + std::to_string(i) + ".txt=" + std::to_string(i) + "\r\n";
             return body;
         }())},
        {"an additional text longer than the tail", "\r\n[E:\\]\r\na=1\r\n\r\n[" + kInfo +
                                                          "]\r\nTitle=Huge\r\nDescription=dd\r\nAdditional=" + big + "\r\n"},
        {"no information section", "\r\n[E:\\]\r\na=1\r\n"},
        {"lone LF line ends, header in other case",
         "\n[E:\\]\na=1\n[" + std::string("SPECIAL information about this disk by Quindle") + "]\nTitle=Lf\n"},
    };
    for (const auto& c : cases) {
        const std::string path = dir.path() + "/77.dat";
        WriteHostFile(path, c.text);
        const DiskInfo info = ReadDiskInfo(path, kInfo);
        TIniFile32 store(path);
        EXPECT_TRUE(info.readable) << c.what;
        EXPECT_EQ(info.serial, "77") << c.what;
        EXPECT_EQ(info.title, store.ReadString(kInfo, "Title", "")) << c.what;
        EXPECT_EQ(info.description, store.ReadString(kInfo, "Description", "")) << c.what;
        EXPECT_EQ(info.additional, store.ReadString(kInfo, "Additional", "")) << c.what;
        EXPECT_EQ(info.date, store.ReadString(kInfo, "Memorization Date", "")) << c.what;
        if (c.text.find(big) != std::string::npos) EXPECT_EQ(info.additional, big);
    }
    // Nothing to read: the serial alone, never a hang on a FIFO or a folder.
    ASSERT_EQ(mkfifo((dir.path() + "/5.dat").c_str(), 0644), 0);
    ASSERT_EQ(mkdir((dir.path() + "/6.dat").c_str(), 0755), 0);
    for (const char* name : {"/4.dat", "/5.dat", "/6.dat"}) {
        const DiskInfo info = ReadDiskInfo(dir.path() + name, kInfo);
        EXPECT_FALSE(info.readable) << name;
        EXPECT_EQ(info.title, "") << name;
        EXPECT_EQ(info.serial, std::string(name).substr(1, 1)) << name;
    }
    // The name shown for a disk.
    EXPECT_EQ((DiskInfo{"5", "Holiday"}).NameWithSerial(), "Holiday (5)");
    EXPECT_EQ((DiskInfo{"5", ""}).NameWithSerial(), "5");
    EXPECT_EQ((DiskInfo{"5", ""}).Name(), "5");
}

TEST(Package, CataloguesLoadWithTheirTitlesSkipTheUnusableAndStopOnCancel) {
    WalkRig rig;
    TempDrive e('E', 5u), f('F', 6u);
    e.MakeFile("a.txt", "a");
    f.MakeFile("b/c.txt", "bc");
    rig.Map(e);
    rig.Map(f);
    ASSERT_TRUE(MemorizeDiskWithInfo(rig.ctx, *rig.tree, *rig.lister, 'E', "5", RecordPath(rig.ctx, "5"),
                                     {"Photos", "", ""}));
    rig.Memorize('F', "6");
    WriteHostFile(rig.ctx.PackageFolder + "7.dat", Record("7", "No catalogue"));
    WriteHostFile(rig.ctx.PackageFolder + "8.dat", Record("8", "Damaged"));
    WriteHostFile(rig.ctx.PackageFolder + "8.cat", std::string("QNDLCAT\x1a\x01\0\0\0", 12) + std::string(64, '\xff'));
    const std::vector<std::string> files = PackageRecordFiles(rig.ctx);
    ASSERT_EQ(files, (std::vector<std::string>{"5.dat", "6.dat", "7.dat", "8.dat"}));

    for (const unsigned threads : {1u, 2u, 4u}) {
        LoadProgress progress;
        const PackageCatalogues p = LoadPackageCatalogues(rig.ctx.PackageFolder, files, kInfo, threads, &progress);
        EXPECT_FALSE(p.cancelled);
        ASSERT_EQ(p.disks.size(), 2u);
        EXPECT_EQ(p.disks[0].info.NameWithSerial(), "Photos (5)");
        EXPECT_EQ(p.disks[1].Serial(), "6");
        EXPECT_EQ(p.disks[1].catalogue.header.figures.files, 1u);
        ASSERT_EQ(p.skipped.size(), 2u);
        EXPECT_EQ(p.skipped[0].info.NameWithSerial(), "No catalogue (7)");
        EXPECT_EQ(p.skipped[0].reason, "no catalogue");
        EXPECT_EQ(p.skipped[1].reason, "the catalogue is damaged");
        EXPECT_EQ(progress.done.load(), 4u);
        EXPECT_EQ(progress.total.load(), 4u);
    }
    // One at a time, in order, the unusable ones named; Cancel stops before the next disk.
    std::vector<std::string> seen;
    ForEachPackageDisk(rig.ctx.PackageFolder, files, kInfo, [&](LoadedDisk& d) {
        seen.push_back(d.info.serial + (d.catalogue ? "+" : ":" + d.reason));
    });
    EXPECT_EQ(seen, (std::vector<std::string>{"5+", "6+", "7:no catalogue", "8:the catalogue is damaged"}));
    LoadProgress cancel;
    seen.clear();
    ForEachPackageDisk(
        rig.ctx.PackageFolder, files, kInfo,
        [&](LoadedDisk& d) {
            seen.push_back(d.info.serial);
            cancel.cancel = true;
        },
        &cancel);
    EXPECT_EQ(seen, std::vector<std::string>{"5"});
    const PackageCatalogues none = LoadPackageCatalogues(rig.ctx.PackageFolder, files, kInfo, 2, &cancel);
    EXPECT_TRUE(none.cancelled);
    EXPECT_TRUE(none.disks.empty());
    EXPECT_TRUE(none.skipped.empty());
}
