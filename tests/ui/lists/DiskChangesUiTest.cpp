// What changed, shown when a disk is memorized again, and disks of the package coming and
// going while the program runs, with the drives mapped in the settings file.
#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QCheckBox>
#include <QComboBox>
#include <QTableView>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include "support/PrivateMounts.h"

#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "catalogue/CatalogueFile.h"
#include "catalogue/DiskCatalogue.h"
#include "changes/DiskChanges.h"
#include "catalogue/EntryText.h"
#include "records/DiskRecord.h"
#include "ui/app/DiskWatch.h"
#include "ui/shared/Formats.h"
#include "records/IniFile.h"
#include "support/TempDrive.h"
#include "ui/app/Application.h"
#include "ui/lists/EntryListWindow.h"
#include "ui/widgets/OvalButton.h"
#include "ui/ProgramRig.h"
#include "ui/ScriptedUi.h"
#include "ui/WaitFor.h"

using namespace quindle;
using quindle::test::TempDrive;

namespace {

const std::string kInfo = "Special Information about this disk by Quindle";
constexpr uint32_t kSerial = 439041101u;

// The program with drives C and E mapped in the settings, E holding two files.
struct Rig : test::ProgramRig {
    TMainForm* main = nullptr;
    TCollectForm* form = nullptr;

    Rig() : ProgramRig(kSerial) {
        e.MakeFile("readme.txt", "r");
        e.MakeFile("Docs/a.doc", "a");
        Start();
        main = app->MainForm.get();
        form = app->CollectForm.get();
    }
    QString Add(const QString& title) {
        main->Add1Click();
        form->Edit1->setText(title);
        form->Edit2->setText("USB stick");
        form->Edit3->setText("shelf 3");
        form->ActionButton->OnClick(form->ActionButton);
        return ui.boxes.empty() ? QString() : ui.boxes.back().text;
    }
    std::string LastLog(int back = 0) const {
        const int n = main->ListBox1->count();
        return n > back ? main->ListBox1->item(n - 1 - back)->text().toStdString() : std::string();
    }
    std::string Info(const char* key) const {
        return TIniFile32(app->ctx.PackageFolder + std::to_string(kSerial) + ".dat").ReadString(kInfo, key, "?");
    }
};

} // namespace

TEST(DiskChangesUi, MemorizingAgainTellsWhatChangedInTheLogAndUnderTheMessage) {
    Rig rig;
    EXPECT_EQ(rig.Add("Backup"), "Ok, the disk has been memorized!"); // nothing to compare with
    const std::string date = rig.Info("Memorization Date");
    rig.e.MakeFile("new.txt", "n");
    std::filesystem::remove(rig.e.path() + "/readme.txt");
    const QString text = rig.Add("Backup");
    const std::string line = "Changes since " + date + ": 1 file added, 1 file removed";
    EXPECT_EQ(text.toStdString(), "Ok, the disk has been memorized!\n" + line);
    EXPECT_EQ(rig.LastLog(), line);
    EXPECT_EQ(rig.ui.boxes.back().caption, "Done!");
    // The list opens in a window.
    auto windows = rig.main->findChildren<TEntryListWindow*>();
    ASSERT_EQ(windows.size(), 1);
    EXPECT_EQ(windows[0]->windowTitle(), "Changes on Backup");
    ASSERT_EQ(windows[0]->ShownRows(), 2);
    EXPECT_EQ(windows[0]->ShownRow(0)[4], "E:\\new.txt");
    EXPECT_EQ(windows[0]->ShownRow(1)[0], "removed");
    delete windows[0];

    // Without the old catalogue there are no counts; the message says why, as Memorize
    // again and quindle-cli add do.
    std::filesystem::remove(rig.app->ctx.PackageFolder + std::to_string(kSerial) + ".cat");
    EXPECT_EQ(rig.Add("Backup").toStdString(),
              "Ok, the disk has been memorized!\nChanges since the last memorization not counted: no catalogue");
    EXPECT_EQ(rig.LastLog(), "Changes since the last memorization not counted: no catalogue");
}

TEST(DiskChangesUi, ADiskOfThePackageAppearsIsMarkedAndIsUpdatedInOneStep) {
    Rig rig;
    ASSERT_EQ(rig.Add("Backup"), "Ok, the disk has been memorized!");
    const std::string date = rig.Info("Memorization Date");
    DiskWatch& watch = *rig.app->Watch;

    // The disk leaves: no longer connected, nothing to update, no mark.
    std::filesystem::rename(rig.e.path(), rig.e.path() + ".away");
    watch.MountTableChanged();
    EXPECT_TRUE(watch.Connected().empty());
    EXPECT_FALSE(watch.UpdateConnected1->isEnabled());
    rig.form->RefreshDiskList();
    ASSERT_EQ(rig.form->DiskCount(), 1);
    EXPECT_FALSE(rig.form->DiskConnected(0));
    EXPECT_EQ(rig.form->DiskText(0), "Backup"); // the mark leaves the text alone

    // It comes back: the log names it and its date, the dialog marks it.
    std::filesystem::rename(rig.e.path() + ".away", rig.e.path());
    const int logLines = rig.main->ListBox1->count();
    watch.MountTableChanged();
    ASSERT_EQ(watch.Connected().size(), 1u);
    EXPECT_EQ(rig.main->ListBox1->count(), logLines + 1);
    EXPECT_EQ(rig.LastLog(), "Disk \"Backup\" (439041101) is in drive E:, memorized " + date +
                                 "; Package > Memorize E: again updates it");
    EXPECT_TRUE(rig.form->DiskConnected(0));
    EXPECT_EQ(rig.form->DiskText(0), "Backup");
    ASSERT_TRUE(watch.UpdateConnected1->isEnabled());
    EXPECT_EQ(watch.UpdateConnected1->text(), "Memorize E: again");
    // A change of the table that brings no disk says nothing.
    watch.MountTableChanged();
    EXPECT_EQ(rig.main->ListBox1->count(), logLines + 1);

    // One step: the disk memorized again with its own texts; no dialog, no box.
    rig.e.MakeFile("Docs/b.doc", "b");
    const size_t boxes = rig.ui.boxes.size();
    watch.UpdateConnected1->trigger();
    EXPECT_EQ(rig.ui.boxes.size(), boxes);
    EXPECT_EQ(rig.LastLog(), "Changes since " + date + ": 1 file added");
    EXPECT_EQ(rig.LastLog(1), "Ok, the disk has been memorized!");
    EXPECT_EQ(rig.Info("Title"), "Backup");
    EXPECT_EQ(rig.Info("Description"), "USB stick");
    EXPECT_EQ(rig.Info("Additional"), "shelf 3");
    EXPECT_NE(rig.Info("Memorization Date"), "?");
    EXPECT_EQ(TIniFile32(rig.app->ctx.PackageFolder + std::to_string(kSerial) + ".dat").ReadString("Docs", "b.doc", "?"),
              "2");
    EXPECT_TRUE(rig.main->StopButton->isHidden());

    // What changed opens in a window of its own.
    const auto windows = rig.main->findChildren<TEntryListWindow*>();
    ASSERT_EQ(windows.size(), 1);
    TEntryListWindow& w = *windows[0];
    EXPECT_EQ(w.windowTitle(), "Changes on Backup");
    EXPECT_EQ(w.Summary(), "1 file added");
    ASSERT_EQ(w.ShownRows(), 1);
    const QStringList row = w.ShownRow(0);
    EXPECT_EQ(row[0], "added");
    EXPECT_EQ(row[2], "1");
    EXPECT_EQ(row[4], "E:\\Docs\\b.doc");
    w.FilterEdit->setText("A.DOC"); // the filter ignores case
    EXPECT_EQ(w.ShownRows(), 0);
    w.FilterEdit->setText("B.DOC");
    EXPECT_EQ(w.ShownRows(), 1);
    delete &w;
}

TEST(DiskChangesUi, TheChecksumsBoxIsRememberedAndMemorizeAgainKeepsEachDisksChoices) {
    Rig rig;
    const std::string record = rig.app->ctx.PackageFolder + std::to_string(kSerial) + ".dat";
    const auto checksummed = [&] {
        CatalogueProblem problem;
        const auto cat = ReadCatalogueFile(CataloguePathOf(record), problem);
        return cat ? cat->header.figures.checksummed : uint64_t(99);
    };
    rig.main->Add1Click();
    ASSERT_FALSE(rig.form->ChecksumsBox->isHidden());
    EXPECT_FALSE(rig.form->ChecksumsBox->isChecked()); // off for a first disk
    QTest::mouseClick(rig.form->ChecksumsBox, Qt::LeftButton, {}, QPoint(8, 10));
    ASSERT_TRUE(rig.form->ChecksumsBox->isChecked());
    rig.form->ArchivesBox->setCurrentIndex(0);
    rig.form->Edit1->setText("Backup");
    rig.form->ActionButton->OnClick(rig.form->ActionButton);
    ASSERT_EQ(rig.ui.boxes.back().text, "Ok, the disk has been memorized!");
    EXPECT_EQ(checksummed(), 2u); // readme.txt and Docs/a.doc
    EXPECT_EQ(QSettings(QSettings::NativeFormat, QSettings::UserScope, "Tavrel", "Quindle")
                  .value("Memorize/Checksums")
                  .toBool(),
              true);

    // The box is the choice for the next new disk; Memorize again keeps the disk's own.
    rig.main->Add1Click();
    EXPECT_TRUE(rig.form->ChecksumsBox->isChecked());
    QTest::mouseClick(rig.form->ChecksumsBox, Qt::LeftButton, {}, QPoint(8, 10));
    rig.form->AbortButton->OnClick(rig.form->AbortButton);
    EXPECT_FALSE(QSettings(QSettings::NativeFormat, QSettings::UserScope, "Tavrel", "Quindle")
                     .value("Memorize/Checksums")
                     .toBool());
    rig.e.MakeFile("Docs/b.doc", "b");
    DiskWatch& watch = *rig.app->Watch;
    watch.MountTableChanged();
    ASSERT_TRUE(watch.UpdateConnected1->isEnabled());
    watch.UpdateConnected1->trigger();
    EXPECT_EQ(rig.LastLog(1), "Ok, the disk has been memorized!");
    EXPECT_EQ(checksummed(), 3u);
    const WalkOptions kept = KeptWalkOptions(record, kInfo);
    EXPECT_TRUE(kept.checksums);
    EXPECT_EQ(kept.archives, ArchiveMode::None);
    for (TEntryListWindow* w : rig.main->findChildren<TEntryListWindow*>()) delete w;
}

TEST(DiskChangesUi, CopiesAndFilesWithoutACopyFromThePackageMenu) {
    Rig rig;
    ASSERT_EQ(rig.Add("Backup"), "Ok, the disk has been memorized!");
    TempDrive f('F', 6u);
    f.MapInto(rig.app->ctx.platform);
    f.MakeFile("x/a.doc", "a");          // a copy of E's Docs/a.doc
    f.MakeFile("readme.txt", "longer");  // another size: no copy
    f.MakeFile("big.iso", "0123456789"); // twice on F itself
    f.MakeFile("y/big.iso", "0123456789");
    rig.main->DriveComboBox1.BuildList();
    rig.main->DriveComboBox1.SetDrive('F');
    ASSERT_EQ(rig.Add("Second"), "Ok, the disk has been memorized!");

    // A third disk whose catalogue is damaged (a failed copy left it huge and empty): it is
    // left out and named, and the lists of the others still come.
    test::WriteHostFile(rig.app->ctx.PackageFolder + "99.dat",
                        "\r\n[G:\\]\r\nz.doc=1\r\n\r\n[" + kInfo + "]\r\nVolume Serial=99\r\nTitle=Broken\r\n");
    test::WriteHostFile(rig.app->ctx.PackageFolder + "99.cat", std::string("QNDLCAT\x1a\x01\0\0\0", 12) + std::string(100, '\xff'));
    const auto open = [&](QAction* action) {
        action->trigger();
        const auto windows = rig.main->findChildren<TEntryListWindow*>();
        EXPECT_EQ(windows.size(), 1);
        TEntryListWindow* w = windows.empty() ? nullptr : windows[0];
        // The catalogues are read on a thread of their own, with progress and Cancel.
        if (w) {
            EXPECT_TRUE(QTest::qWaitFor([w] { return !w->Loading(); }, 10000));
            EXPECT_TRUE(w->CancelButton->isHidden());
        }
        return w;
    };

    TEntryListWindow* w = open(rig.app->Copies1);
    ASSERT_TRUE(w);
    EXPECT_EQ(w->Summary().toStdString(), "2 groups of copies, 4 files; 11 bytes in copies beyond the first of each; 1 disk left "
                            "out: Broken (99): the catalogue is damaged");
    ASSERT_EQ(w->ShownRows(), 4);
    // Largest total first; disks by title with the serial beside; sorting by a column
    // sorts numbers as numbers.
    EXPECT_EQ(w->ShownRow(0), QStringList({"big.iso", "10", "2", "Second", "6", "F:\\big.iso", ""}));
    EXPECT_EQ(w->ShownRow(3), QStringList({"a.doc", "1", "2", "Second", "6", "F:\\x\\a.doc", ""}));
    w->List->sortByColumn(1, Qt::AscendingOrder);
    EXPECT_EQ(w->ShownRow(0)[1], "1");
    EXPECT_EQ(w->ShownRow(3)[1], "10");
    w->FilterEdit->setText("A.DOC"); // case folded as Find files folds it
    EXPECT_EQ(w->ShownRows(), 2);
    EXPECT_EQ(w->CsvText(), "Name,Size,Copies,Disk,Serial,Path,Checksum\r\na.doc,1,2,Backup,439041101,E:\\Docs\\a.doc,\r\n"
                            "a.doc,1,2,Second,6,F:\\x\\a.doc,\r\n");
    delete w;

    w = open(rig.app->Unique1);
    ASSERT_TRUE(w);
    ASSERT_EQ(w->DiskBox->count(), 3);
    EXPECT_EQ(w->DiskBox->itemText(0), "Backup (439041101)"); // the package's order
    EXPECT_EQ(w->Summary().toStdString(), "1 file, 1 byte with no copy on the 1 other disk; 1 disk left out: Broken (99): the "
                            "catalogue is damaged");
    ASSERT_EQ(w->ShownRows(), 1);
    EXPECT_EQ(w->ShownRow(0)[3], "E:\\readme.txt");
    w->DiskBox->setCurrentIndex(1);
    ASSERT_TRUE(test::WaitFor([&] { return !w->Loading(); }, 10000));
    EXPECT_EQ(w->Summary().toStdString(), "3 files, 26 bytes with no copy on the 1 other disk; 1 disk left out: Broken (99): the "
                            "catalogue is damaged");
    EXPECT_EQ(w->ShownRows(), 3);
    w->DiskBox->setCurrentIndex(2);
    ASSERT_TRUE(test::WaitFor([&] { return !w->Loading(); }, 10000));
    EXPECT_EQ(w->Summary().toStdString(), "Broken (99) has no details until it is memorized again (the catalogue is damaged)");
    EXPECT_EQ(w->ShownRows(), 0);
    delete w;
}

TEST(DiskChangesUi, ByContentFindsCopiesWhateverTheirNamesAndNamesTheDisksWithoutChecksums) {
    Rig rig;
    const auto add = [&](char letter, const QString& title, bool checksums) {
        rig.main->DriveComboBox1.BuildList();
        rig.main->DriveComboBox1.SetDrive(letter);
        rig.main->Add1Click();
        rig.form->ChecksumsBox->setChecked(checksums);
        rig.form->Edit1->setText(title);
        rig.form->ActionButton->OnClick(rig.form->ActionButton);
        return rig.ui.boxes.back().text;
    };
    rig.e.MakeFile("Photos/beach.jpg", "sand and sea");
    ASSERT_EQ(add('E', "Backup", true), "Ok, the disk has been memorized!");
    TempDrive f('F', 6u);
    f.MapInto(rig.app->ctx.platform);
    f.MakeFile("old/IMG_0001.JPG", "sand and sea"); // the same photo under another name
    f.MakeFile("Docs/a.doc", "A");                  // the same name and size, another content
    ASSERT_EQ(add('F', "Second", true), "Ok, the disk has been memorized!");
    TempDrive g('G', 7u);
    g.MapInto(rig.app->ctx.platform);
    g.MakeFile("beach.jpg", "sand and sea");
    ASSERT_EQ(add('G', "Plain", false), "Ok, the disk has been memorized!");
    const auto loaded = [](TEntryListWindow* w) { return QTest::qWaitFor([w] { return !w->Loading(); }, 10000); };

    rig.app->Copies1->trigger();
    auto windows = rig.main->findChildren<TEntryListWindow*>();
    ASSERT_EQ(windows.size(), 1);
    TEntryListWindow* w = windows[0];
    ASSERT_TRUE(loaded(w));
    ASSERT_FALSE(w->ContentBox->isHidden());
    EXPECT_EQ(w->ShownRows(), 4); // by name and size: Docs/a.doc on E and F, beach.jpg on E and G
    w->ContentBox->click();
    ASSERT_TRUE(loaded(w));
    EXPECT_EQ(w->Summary().toStdString(), "1 group of copies, 2 files; 12 bytes in copies beyond the first of each, by "
                                          "content; 1 disk left out: Plain (7): no checksums");
    ASSERT_EQ(w->ShownRows(), 2);
    const QStringList first = w->ShownRow(0), second = w->ShownRow(1);
    EXPECT_EQ(first[5], "E:\\Photos\\beach.jpg");
    EXPECT_EQ(second[5], "F:\\old\\IMG_0001.JPG");
    EXPECT_EQ(first[6].size(), 32);
    EXPECT_EQ(first[6], second[6]);
    delete w;

    rig.app->Unique1->trigger();
    w = rig.main->findChildren<TEntryListWindow*>().value(0);
    ASSERT_TRUE(w && loaded(w));
    // By name, E's photo has a copy on G; by content, on F only, and a.doc has none.
    EXPECT_EQ(w->ShownRows(), 1); // readme.txt
    w->ContentBox->click();
    ASSERT_TRUE(loaded(w));
    QStringList paths;
    for (int r = 0; r < w->ShownRows(); ++r) paths << w->ShownRow(r)[3];
    paths.sort();
    EXPECT_EQ(paths, QStringList({"E:\\Docs\\a.doc", "E:\\readme.txt"}));
    EXPECT_NE(w->Summary().toStdString().find("with no copy by content on the 1 other disk; 1 disk left out: Plain (7): "
                                              "no checksums"),
              std::string::npos)
        << w->Summary().toStdString();
    w->DiskBox->setCurrentIndex(2); // a disk without checksums has nothing to compare by content
    ASSERT_TRUE(loaded(w));
    EXPECT_EQ(w->Summary().toStdString(), "Plain (7) has no checksums: memorize it again with Checksums ticked");
    EXPECT_EQ(w->ShownRows(), 0);
    delete w;
}

TEST(DiskChangesUi, CancelStopsReadingThePackagesCataloguesAndAClosedWindowLetsItsWorkerEnd) {
    Rig rig;
    ASSERT_EQ(rig.Add("Backup"), "Ok, the disk has been memorized!");
    // Many disks: the worker is still reading when Cancel is pressed.
    const std::string record = rig.app->ctx.PackageFolder + std::to_string(kSerial) + ".dat";
    const std::string cat = CataloguePathOf(record);
    for (int i = 1; i <= 400; ++i) {
        const std::string other = rig.app->ctx.PackageFolder + std::to_string(1000 + i);
        ASSERT_EQ(link(record.c_str(), (other + ".dat").c_str()), 0);
        ASSERT_EQ(link(cat.c_str(), (other + ".cat").c_str()), 0);
    }
    rig.app->Copies1->trigger();
    auto windows = rig.main->findChildren<TEntryListWindow*>();
    ASSERT_EQ(windows.size(), 1);
    TEntryListWindow* w = windows[0];
    ASSERT_TRUE(w->Loading());
    EXPECT_TRUE(w->CancelButton->isVisible());
    EXPECT_TRUE(w->Summary().startsWith("Reading the catalogues: ")) << w->Summary().toStdString();
    w->CancelButton->OnClick(w->CancelButton);
    ASSERT_TRUE(test::WaitFor([&] { return !w->Loading(); }, 10000));
    EXPECT_EQ(w->Summary().toStdString(), "Cancelled");
    EXPECT_EQ(w->ShownRows(), 0);
    EXPECT_TRUE(w->CancelButton->isHidden());
    delete w;

    // A window closed while its worker reads: the worker ends on its own, and nothing
    // reaches the window that is gone.
    rig.app->Copies1->trigger();
    windows = rig.main->findChildren<TEntryListWindow*>();
    ASSERT_EQ(windows.size(), 1);
    delete windows[0];
    QTest::qWait(200);
    EXPECT_TRUE(rig.main->findChildren<TEntryListWindow*>().isEmpty());
}

TEST(DiskChangesUi, TheKernelsNotificationOfAMountReachesTheProgramWithinTwoSeconds) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root; run the tests as root to cover it";
    ASSERT_TRUE(quindle::test::PrivateMounts()) << "no mount namespace of its own";
    Rig rig;
    test::WriteHostFile(rig.app->ctx.PackageFolder + "42.dat",
                        "\r\n[E:\\]\r\na=1\r\n\r\n[" + kInfo + "]\r\nVolume Serial=42\r\nMemorization Date=01/02/2026 "
                        "03:04:05\r\nTitle=Card\r\n");
    char where[] = "/mnt/quindle-ui-XXXXXX";
    ASSERT_NE(mkdtemp(where), nullptr);
    DiskWatch& watch = *rig.app->Watch;
    const auto connected42 = [&] {
        for (const ConnectedDisk& d : watch.Connected())
            if (d.serial == "42") return true;
        return false;
    };
    // Only the event loop runs: the notifier alone has to bring the change in.
    const auto waitFor = [&](const std::function<bool()>& done) {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < 2000) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        return done();
    };
    ASSERT_EQ(mount("quindle-ui-test", where, "tmpfs", 0, "size=1m"), 0);
    test::WriteHostFile(std::string(where) + "/.windows-serial", "2A\n");
    EXPECT_TRUE(waitFor(connected42)) << "the mount was not noticed within 2 s";
    EXPECT_NE(rig.LastLog().find("Disk \"Card\" (42) is in drive "), std::string::npos) << rig.LastLog();
    EXPECT_NE(rig.LastLog().find(", memorized 01/02/2026 03:04:05"), std::string::npos) << rig.LastLog();
    ASSERT_EQ(umount(where), 0);
    EXPECT_TRUE(waitFor([&] { return !connected42(); })) << "the unmount was not noticed within 2 s";
    rmdir(where);
}

TEST(DiskChangesUi, TheDisksWindowListsEveryDiskWithItsFiguresAndFollowsTheDrives) {
    Rig rig;
    ASSERT_EQ(rig.Add("Backup"), "Ok, the disk has been memorized!");
    test::WriteHostFile(rig.app->ctx.PackageFolder + "88.dat",
                        "\r\n[F:\\]\r\nold.txt=1\r\n\r\n[" + kInfo +
                            "]\r\nVolume Serial=88\r\nMemorization Date=01/02/2020 03:04:05\r\nTitle=Attic\r\n"
                            "Description=shoe box\r\n");
    rig.app->Watch->DrivesChanged();
    rig.app->Disks1->trigger();
    const auto windows = rig.main->findChildren<TEntryListWindow*>();
    ASSERT_EQ(windows.size(), 1);
    TEntryListWindow* w = windows[0];
    ASSERT_TRUE(QTest::qWaitFor([w] { return !w->Loading(); }, 10000));
    EXPECT_EQ(w->Summary().toStdString().substr(0, 9), "2 disks, ");
    EXPECT_NE(w->Summary().indexOf("; 1 disk in a drive now"), -1) << w->Summary().toStdString();
    ASSERT_EQ(w->ShownRows(), 2);
    // Title, serial, memorized, files, folders, size, capacity, free, complete, drive, catalogue, description.
    const QStringList backup = w->ShownRow(0), attic = w->ShownRow(1);
    EXPECT_EQ(backup.mid(0, 2), (QStringList{"Backup", QString::number(kSerial)}));
    EXPECT_EQ(backup.mid(3, 3), (QStringList{"2", "2", "2 B"}));
    EXPECT_EQ(backup.mid(8), (QStringList{"yes", "E:", "valid", "USB stick"}));
    EXPECT_EQ(attic[0], "Attic");
    EXPECT_EQ(attic[2], DateText(*ParseMemorizationDate("01/02/2020 03:04:05")));
    EXPECT_EQ(attic.mid(3, 6), (QStringList{"", "", "", "", "", ""}));
    EXPECT_EQ(attic.mid(9), (QStringList{"", "no catalogue", "shoe box"}));
    // Oldest first by the date; the filter looks in titles, serials and descriptions.
    w->List->sortByColumn(2, Qt::AscendingOrder);
    EXPECT_EQ(w->ShownRow(0)[0], "Attic");
    w->FilterEdit->setText("SHOE");
    ASSERT_EQ(w->ShownRows(), 1);
    EXPECT_EQ(w->ShownRow(0)[0], "Attic");
    w->FilterEdit->clear();
    // Sizes save as bytes and dates as UTC.
    EXPECT_NE(w->CsvText().find(",2,2,2,"), std::string::npos) << w->CsvText();
    EXPECT_NE(w->CsvText().find("Attic,88," + IsoUtc(*ParseMemorizationDate("01/02/2020 03:04:05")) + ",,,,,,,,"),
              std::string::npos)
        << w->CsvText();

    // The disk leaves its drive: the list follows.
    auto drives = rig.app->ctx.platform.Drives();
    std::erase_if(drives, [](const DriveInfo& d) { return d.letter == 'E'; });
    rig.app->ctx.platform.SetDrives(drives);
    rig.app->Watch->DrivesChanged();
    ASSERT_TRUE(QTest::qWaitFor([w] { return !w->Loading(); }, 10000));
    EXPECT_NE(w->Summary().indexOf("; 0 disks in a drive now"), -1) << w->Summary().toStdString();
    for (int r = 0; r < w->ShownRows(); ++r) EXPECT_EQ(w->ShownRow(r)[9], "");
    delete w;
}
