#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>

#include "browse/DirectoryOutline.h"
#include "browse/FileListBox.h"
#include "records/DiskRecord.h"
#include "records/IniFile.h"
#include "records/Memorizer.h"
#include "support/NoPermissionOverride.h"
#include "support/TempDrive.h"
#include "support/WalkRig.h"

using namespace quindle;
using quindle::test::ReadHostFile;
using quindle::test::TempDir;
using quindle::test::TempDrive;
using Rig = quindle::test::WalkRig;

namespace {

std::string Lines(std::initializer_list<const char*> lines) {
    std::string s;
    for (const char* l : lines) s += std::string(l) + "\r\n";
    return s;
}

bool IsHidden(const AppContext& ctx, const std::string& path) {
    const int a = ctx.platform.FileGetAttr(path);
    return a >= 0 && (a & faHidden);
}

bool XattrsWork(const std::string& dir) {
    const std::string probe = dir + "/.probe";
    test::WriteHostFile(probe, "");
    const bool ok = setxattr(probe.c_str(), "user.test", "1", 1, 0) == 0;
    unlink(probe.c_str());
    return ok;
}

// A/one.txt, B/two.txt and C/three.txt: a walk of four directories, root first.
void MakeThreeFolders(const TempDrive& e) {
    e.MakeFile("A/one.txt");
    e.MakeFile("B/two.txt");
    e.MakeFile("C/three.txt");
}

} // namespace

TEST(Memorizer, WorkedExampleRecordMatchesByteForByte) {
    Rig rig;
    TempDrive e('E', 439041101u);
    for (const char* f : {"readme.txt", "setup.exe", "Docs/a.doc", "Docs/b.doc", "Docs/c.doc", "Docs/Old/a.doc",
                          "Docs/Old/z.txt", "Music/song.mp3"})
        e.MakeFile(f, "x");
    rig.Map(e);
    const std::string serial = GetVolumeSerial(rig.ctx, 'E');
    ASSERT_EQ(serial, "439041101");
    const std::string path = rig.Memorize('E', serial);
    EXPECT_EQ(path, rig.package.path() + "/439041101.dat");
    std::tm when{};
    when.tm_mday = 7;
    when.tm_mon = 11;
    when.tm_year = 2026 - 1900;
    when.tm_hour = 14;
    when.tm_min = 5;
    when.tm_sec = 9;
    WriteDiskInfo(rig.ctx, path, serial, FormatMemorizationDate(when), "Backup disk", "Letters", "");
    EXPECT_EQ(ReadHostFile(path),
              Lines({"", "[E:\\]", "readme.txt=1", "setup.exe=2", "", "[Docs]", "a.doc=1", "b.doc=2", "c.doc=3",
                     "z.txt=2", "", "[Music]", "song.mp3=1", "", "[Special Information about this disk by Quindle]",
                     "Volume Serial=439041101", "Memorization Date=07/12/2026 14:05:09", "Title=Backup disk",
                     "Description=Letters", "Additional="}));
    // One pump per visited directory: E:\, Docs, Docs\Old, Music.
    EXPECT_EQ(rig.pumps, 4);
    if (XattrsWork(rig.package.path())) {
        EXPECT_TRUE(IsHidden(rig.ctx, path));
    }
}

TEST(Memorizer, RootOnlyDriveNamesAndSerialEdges) {
    Rig rig;
    TempDrive f('F', 0u);
    f.MakeFile("b=c.txt");
    f.MakeFile("A.txt");
    f.MakeFile("a2.txt");
    rig.Map(f);
    const std::string serial = GetVolumeSerial(rig.ctx, 'f');
    EXPECT_EQ(serial, "0");
    const std::string path = rig.Memorize('F', serial);
    EXPECT_EQ(path, rig.package.path() + "/0.dat");
    // Sorted ignoring case; a name holding "=" is written whole.
    EXPECT_EQ(ReadHostFile(path), Lines({"", "[F:\\]", "A.txt=1", "a2.txt=2", "b=c.txt=3"}));

    TempDrive g('G', 4294967295u);
    rig.Map(g);
    EXPECT_EQ(GetVolumeSerial(rig.ctx, 'G'), "4294967295");
    TempDrive missing('H');
    rig.Map(missing);
    rmdir(missing.path().c_str());
    EXPECT_EQ(GetVolumeSerial(rig.ctx, 'H'), "");
    EXPECT_EQ(RecordPath(rig.ctx, ""), rig.package.path() + "/.dat");
}

TEST(Memorizer, ReMemorizingReplacesTheWholeRecord) {
    Rig rig;
    TempDrive e('E', 7u);
    e.MakeFile("Old/gone.txt");
    rig.Map(e);
    const std::string path = rig.Memorize('E', "7");
    EXPECT_NE(ReadHostFile(path).find("gone.txt"), std::string::npos);
    std::filesystem::remove_all(e.path() + "/Old");
    e.MakeFile("New/here.txt");
    rig.Memorize('E', "7");
    EXPECT_EQ(ReadHostFile(path), Lines({"", "[New]", "here.txt=1"}));
}

TEST(Memorizer, EmptyDiskStillGetsARecordWithItsInformation) {
    Rig rig;
    TempDrive e('E', 99u);
    e.MakeDir("EmptyFolder/Deeper");
    rig.Map(e);
    const std::string path = rig.Memorize('E', "99");
    ASSERT_TRUE(rig.ctx.platform.FileExists(path));
    WriteDiskInfo(rig.ctx, path, "99", "01/01/2026", "Blank", "", "");
    TIniFile32 store(path);
    EXPECT_EQ(store.ReadString(rig.ctx.InfoSection, "Title", "?"), "Blank");
}

TEST(Memorizer, LineBreaksInNamesNeverAddLines) {
    Rig rig;
    TempDrive e('E', 5u);
    e.MakeFile("evil\n[Special Information about this disk by Quindle]\nTitle=forged");
    e.MakeFile("cr\rname.txt");
    rig.Map(e);
    const std::string path = rig.Memorize('E', "5");
    EXPECT_EQ(ReadHostFile(path),
              Lines({"", "[E:\\]", "cr?name.txt=1", "evil?[Special Information about this disk by Quindle]?Title=forged=2"}));
}

TEST(Memorizer, UnenterableDirectoryIsSkippedAndTheWalkGoesOn) {
    Rig rig;
    TempDrive e('E', 6u);
    e.MakeFile("Locked/secret.txt");
    e.MakeFile("Open/visible.txt");
    e.MakeFile("root.txt");
    chmod((e.path() + "/Locked").c_str(), 0);
    rig.Map(e);
    const test::WithoutPermissionOverride asAnyUser;
    if (const int fd = open((e.path() + "/Locked").c_str(), O_RDONLY | O_DIRECTORY); fd >= 0) {
        close(fd);
        GTEST_SKIP() << "permissions do not hold here";
    }
    const std::string path = rig.Memorize('E', "6");
    EXPECT_EQ(ReadHostFile(path), Lines({"", "[E:\\]", "root.txt=1", "", "[Open]", "visible.txt=1"}));
}

TEST(Memorizer, AbortLeavesAHiddenRecordOfTheDirectoriesDone) {
    Rig rig;
    TempDrive e('E', 8u);
    MakeThreeFolders(e);
    rig.Map(e);
    const std::string path = RecordPath(rig.ctx, "8");
    // The user clicks Abort while the walk pumps before its third directory; the walk
    // writes into its own file, and the record is not there yet.
    rig.onPump = [&] {
        if (rig.pumps == 3) {
            EXPECT_FALSE(std::filesystem::exists(path));
            std::vector<std::string> walkFiles;
            for (const auto& entry : std::filesystem::directory_iterator(rig.package.path()))
                walkFiles.push_back(entry.path().string());
            ASSERT_EQ(walkFiles.size(), 1u);
            EXPECT_EQ(std::filesystem::path(walkFiles[0]).filename().string().rfind(".~walk-", 0), 0u);
            rig.ctx.AbortFlag = true;
        }
    };
    MemorizeDisk(rig.ctx, *rig.tree, *rig.lister, 'E', path);
    EXPECT_TRUE(rig.ctx.AbortFlag);
    ASSERT_FALSE(rig.log.empty());
    EXPECT_EQ(rig.log.back(), "Operation aborted by user");
    EXPECT_EQ(ReadHostFile(path), Lines({"", "[A]", "one.txt=1"}));
    if (XattrsWork(rig.package.path())) {
        EXPECT_TRUE(IsHidden(rig.ctx, path));
    }
}

TEST(Memorizer, TheProgramEndingMidWalkKeepsTheOldRecordUntouched) {
    // The main window closes while the walk pumps before its third directory: the walk
    // stops there, the part walked is dropped and the disk keeps what it had (its old
    // record, or none), with no walk file and no "aborted" line left behind.
    for (const bool hadRecord : {true, false}) {
        SCOPED_TRACE(hadRecord ? "an old record" : "no record");
        Rig rig;
        TempDrive e('E', 9u);
        MakeThreeFolders(e);
        rig.Map(e);
        const std::string path = RecordPath(rig.ctx, "9");
        const std::string old = Lines({"", "[Old]", "kept.txt=1", "[Special Information about this disk by Quindle]",
                                       "Title=Old title"});
        if (hadRecord) test::WriteHostFile(path, old);
        int pumpsAfterClose = 0;
        rig.onPump = [&] {
            if (rig.ctx.Quitting) ++pumpsAfterClose;
            if (rig.pumps == 3) rig.ctx.AbortFlag = rig.ctx.Quitting = true;
        };
        const bool complete = MemorizeDiskWithInfo(rig.ctx, *rig.tree, *rig.lister, 'E', "9", path,
                                                   {"New title", "", ""});
        EXPECT_FALSE(complete);
        EXPECT_EQ(pumpsAfterClose, 0); // no directory after the close
        if (hadRecord)
            EXPECT_EQ(ReadHostFile(path), old);
        else
            EXPECT_FALSE(std::filesystem::exists(path));
        size_t left = 0;
        for (const auto& entry : std::filesystem::directory_iterator(rig.package.path()))
            left += entry.path() != std::filesystem::path(path);
        EXPECT_EQ(left, 0u);
        for (const std::string& line : rig.log) EXPECT_NE(line, "Operation aborted by user");
    }
}

TEST(DiskRecord, FirstFolderNameAndDates) {
    EXPECT_EQ(FirstFolderName("E:\\"), "");
    EXPECT_EQ(FirstFolderName("E:\\Docs"), "Docs");
    EXPECT_EQ(FirstFolderName("E:\\Docs\\Old"), "Docs");
    EXPECT_EQ(FirstFolderName("plain"), "plain");
    std::tm t{};
    t.tm_mday = 3;
    t.tm_mon = 0;
    t.tm_year = 99;
    EXPECT_EQ(FormatMemorizationDate(t), "03/01/1999");
    t.tm_sec = 1;
    EXPECT_EQ(FormatMemorizationDate(t), "03/01/1999 00:00:01");
    EXPECT_EQ(UnstorableInfoChar("Backup [2]"), '[');
    EXPECT_EQ(UnstorableInfoChar("Backup ]"), 0);
}

TEST(DiskRecord, AMemorizationDateReadsBackAsTheTimeItWasWrittenFor) {
    // Local time: every date written reads back as the same moment.
    const struct {
        int day, month, year, h, m, s;
    } written[] = {{3, 1, 1999, 0, 0, 0}, {3, 1, 1999, 0, 0, 1}, {29, 2, 2024, 23, 59, 59}, {31, 12, 2026, 12, 0, 0}};
    for (const auto& w : written) {
        std::tm t{};
        t.tm_mday = w.day;
        t.tm_mon = w.month - 1;
        t.tm_year = w.year - 1900;
        t.tm_hour = w.h;
        t.tm_min = w.m;
        t.tm_sec = w.s;
        const std::string text = FormatMemorizationDate(t);
        t.tm_isdst = -1;
        const std::time_t want = std::mktime(&t);
        EXPECT_EQ(ParseMemorizationDate(text), std::optional<int64_t>(want)) << text;
    }
    for (const char* other : {"", "?", "3/1/1999", "31/04/2020", "00/01/2020", "01/13/2020", "01/01/2020 24:00:00",
                              "01-01-2020", "01/01/2020 10:00", "01/01/2020  10:00:00", "01/01/202a"})
        EXPECT_EQ(ParseMemorizationDate(other), std::nullopt) << other;
}

TEST(DiskRecord, WriteDiskInfoCreatesNothingAndReplacesInPlace) {
    AppContext ctx;
    TempDir pkg;
    ctx.PackageFolder = pkg.path() + "/";
    const std::string path = RecordPath(ctx, "12");
    WriteDiskInfo(ctx, path, "12", "d", "t", "", "");
    EXPECT_FALSE(ctx.platform.FileExists(path));
    test::WriteHostFile(path, Lines({"", "[X:\\]", "a=1"}));
    WriteDiskInfo(ctx, path, "12", "d1", "t1", "x", "y");
    WriteDiskInfo(ctx, path, "12", "d2", "t2", "x", "");
    EXPECT_EQ(ReadHostFile(path),
              Lines({"", "[X:\\]", "a=1", "", "[Special Information about this disk by Quindle]", "Volume Serial=12",
                     "Memorization Date=d2", "Title=t2", "Description=x", "Additional="}));
}

TEST(Memorizer, DirectoryRemovedDuringTheWalkIsSkipped) {
    Rig rig;
    TempDrive e('E', 9u);
    MakeThreeFolders(e);
    rig.Map(e);
    // Another program removes B while the walk pumps before visiting it: the lister stays
    // on A, whose names must not land in B's section.
    rig.onPump = [&] {
        if (rig.pumps == 3) std::filesystem::remove_all(e.path() + "/B");
    };
    const std::string path = RecordPath(rig.ctx, "9");
    MemorizeDisk(rig.ctx, *rig.tree, *rig.lister, 'E', path);
    EXPECT_EQ(ReadHostFile(path), Lines({"", "[A]", "one.txt=1", "", "[C]", "three.txt=1"}));
}
