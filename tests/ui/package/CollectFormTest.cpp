#include <QAction>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTemporaryDir>
#include <QGroupBox>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>

#include <QDir>
#include <sys/stat.h>
#include <unistd.h>

#include "records/IniFile.h"
#include "support/TempDrive.h"
#include "ui/app/Application.h"
#include "ui/widgets/OvalButton.h"
#include "ui/ScriptedUi.h"
#include "ui/search/SearchForm.h"
#include <QComboBox>

using namespace quindle;
using quindle::test::ReadHostFile;
using quindle::test::TempDrive;
using quindle::test::WriteHostFile;

namespace {

const std::string kInfo = "Special Information about this disk by Quindle";
constexpr uint32_t kSerial = 439041101u;

void ClearSettings() {
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Tavrel", "Quindle");
    QFile::remove(s.fileName());
}

std::string Record(const std::string& title, const std::string& serial = "1") {
    return "\r\n[E:\\]\r\nreadme.txt=1\r\n\r\n[" + kInfo + "]\r\nVolume Serial=" + serial +
           "\r\nMemorization Date=07/12/2026 14:05:09\r\nTitle=" + title + "\r\nDescription=d\r\nAdditional=\r\n";
}

// The whole program with its drive C and a drive E mapped to temporary folders.
struct Rig {
    QTemporaryDir progDir;
    test::ScriptedUi ui;
    TempDrive c{'C', 1u};
    TempDrive e{'E', kSerial};
    std::unique_ptr<Application> app;
    TMainForm* main = nullptr;
    TCollectForm* form = nullptr;

    explicit Rig(bool clearSettings = true) {
        if (clearSettings) ClearSettings();
        c.MakeFile("autoexec.bat", "x");
        e.MakeFile("readme.txt", "r");
        e.MakeFile("setup.exe", "s");
        e.MakeFile("Docs/a.doc", "a");
        e.MakeFile("Docs/Old/z.txt", "z");
        e.MakeFile("Music/song.mp3", "m");
        app = std::make_unique<Application>(ui, progDir.path() + "/quindle");
        main = app->MainForm.get();
        form = app->CollectForm.get();
        c.MapInto(app->ctx.platform);
        e.MapInto(app->ctx.platform);
        main->DriveComboBox1.BuildList();
        main->DriveComboBox1.SetDrive('E');
    }
    std::string Package(const std::string& name) const { return app->ctx.PackageFolder + name; }
    void Click(TOvalButton* b) { b->OnClick(b); }
    QStringList Texts() const {
        QStringList t;
        for (int i = 0; i < form->DiskCount(); ++i) t << form->DiskText(i);
        return t;
    }
    bool AllChecked() const {
        for (int i = 0; i < form->DiskCount(); ++i)
            if (!form->DiskChecked(i)) return false;
        return true;
    }
    void Highlight(int row) {
        form->CollectionLB->setCurrentRow(row);
        form->CollectionLB->item(row)->setSelected(true);
    }
    QString LastLog() const { return main->ListBox1->item(main->ListBox1->count() - 1)->text(); }
};

} // namespace

TEST(CollectForm, AddMemorizesTheDriveAndListsItByTitleAndBySerial) {
    Rig rig;
    TCollectForm& f = *rig.form;
    rig.main->View1Click();
    EXPECT_EQ(f.windowTitle(), "Package Information 0 item(s)");
    EXPECT_EQ(f.DiskCount(), 0);
    ASSERT_EQ(rig.ui.modals.size(), 1u);
    EXPECT_EQ(rig.ui.modals[0], &f);
    EXPECT_EQ(f.ActionButton->Caption(), "Close");
    EXPECT_TRUE(f.AbortButton->isHidden());

    rig.main->Add1Click();
    EXPECT_EQ(f.windowTitle(), "Add a new disk E: to the package");
    EXPECT_EQ(f.ActionButton->Caption(), "Add");
    EXPECT_EQ(f.AbortButton->Caption(), "Close");
    EXPECT_FALSE(f.AbortButton->isHidden());
    EXPECT_TRUE(f.CollectionLB->isHidden());
    EXPECT_TRUE(f.DisplayMode->isHidden());
    EXPECT_EQ(f.GroupBox1->title(), "Please fill in the fields...");
    EXPECT_TRUE(f.Edit1->isEnabled());
    EXPECT_FALSE(f.Edit4->isEnabled());
    EXPECT_EQ(f.Edit4->text(), "No need to fill");
    EXPECT_EQ(f.Edit5->text(), "No need to fill");

    // No title: refused, nothing written.
    rig.Click(f.ActionButton);
    ASSERT_EQ(rig.ui.boxes.size(), 1u);
    EXPECT_EQ(rig.ui.boxes[0].text, "Please, fill at least the TITLE field before proceeding!");
    EXPECT_EQ(rig.ui.boxes[0].caption, "Empty title !");
    EXPECT_EQ(rig.ui.boxes[0].icon, MsgIcon::Exclamation);
    const std::string record = rig.Package("439041101.dat");
    EXPECT_FALSE(QFile::exists(QString::fromStdString(record)));

    f.Edit1->setText("Backup disk");
    f.Edit2->setText("Letters");
    rig.Click(f.ActionButton);
    ASSERT_EQ(rig.ui.boxes.size(), 2u);
    EXPECT_EQ(rig.ui.boxes[1].text, "Ok, the disk has been memorized!");
    EXPECT_EQ(rig.ui.boxes[1].caption, "Done!");
    EXPECT_EQ(rig.ui.boxes[1].icon, MsgIcon::Information);
    EXPECT_EQ(f.StatusText(), "Complete!");
    EXPECT_EQ(f.AbortButton->Caption(), "Abort");
    EXPECT_TRUE(f.ActionButton->isEnabled());
    TIniFile32 store(record);
    EXPECT_EQ(store.ReadString(kInfo, "Title", "?"), "Backup disk");
    EXPECT_EQ(store.ReadString(kInfo, "Description", "?"), "Letters");
    EXPECT_EQ(store.ReadString(kInfo, "Volume Serial", "?"), "439041101");
    EXPECT_EQ(store.ReadString("Docs", "z.txt", "?"), "1");
    EXPECT_EQ(store.ReadString("Music", "song.mp3", "?"), "1");
    // The main window's lister is back on drive C.
    EXPECT_EQ(rig.main->FileListBox1.Directory(), "C:\\");
    // Refreshed after success: listed by title, checked.
    EXPECT_EQ(rig.Texts(), QStringList{"Backup disk"});
    EXPECT_TRUE(rig.AllChecked());

    // By serial.
    f.DisplaySerials->click();
    EXPECT_EQ(f.DisplayIndex(), 1);
    EXPECT_EQ(rig.Texts(), QStringList{"439041101"});
    rig.main->View1Click();
    EXPECT_EQ(f.windowTitle(), "Package Information 1 item(s)");
    // Hiding the dialog clears the status text.
    f.show();
    f.hide();
    EXPECT_EQ(f.StatusText(), "");
}

TEST(CollectForm, AnsweringNoLeavesTheExistingRecordAndRefusedCharactersWriteNothing) {
    Rig rig;
    TCollectForm& f = *rig.form;
    const std::string record = rig.Package("439041101.dat");
    const std::string old = Record("Old title", "439041101");
    WriteHostFile(record, old);

    rig.main->Add1Click();
    // "[" in any of the three fields would make the information unreadable: refused.
    for (QLineEdit* e : {f.Edit1, f.Edit2, f.Edit3}) {
        f.Edit1->setText("New");
        f.Edit2->clear();
        f.Edit3->clear();
        e->setText("Disk [1]");
        rig.ui.boxes.clear();
        rig.Click(f.ActionButton);
        ASSERT_EQ(rig.ui.boxes.size(), 1u);
        EXPECT_EQ(rig.ui.boxes[0].text,
                  "The title, description and additional information cannot hold the character \"[\".");
        EXPECT_EQ(rig.ui.boxes[0].caption, "Invalid character");
        EXPECT_EQ(rig.ui.boxes[0].icon, MsgIcon::Exclamation);
        EXPECT_EQ(f.AbortButton->Caption(), "Close");
        EXPECT_EQ(ReadHostFile(record), old);
    }

    f.Edit1->setText("New");
    f.Edit3->clear();
    rig.ui.boxes.clear();
    rig.ui.answers = {mrNo};
    rig.Click(f.ActionButton);
    ASSERT_EQ(rig.ui.boxes.size(), 2u);
    EXPECT_EQ(rig.ui.boxes[0].text, "It seems that that disk has already been memorized!\n\rMemorize anyway?");
    EXPECT_EQ(rig.ui.boxes[0].caption, "Already memorized!");
    EXPECT_EQ(rig.ui.boxes[0].buttons, MsgButtons::YesNo);
    EXPECT_EQ(rig.ui.boxes[0].icon, MsgIcon::Question);
    EXPECT_EQ(rig.ui.boxes[1].text, "Memorizing that disk was not complete.");
    EXPECT_EQ(rig.ui.boxes[1].caption, "Operation ended!");
    EXPECT_EQ(f.StatusText(), "The operation was interrupted!");
    EXPECT_EQ(ReadHostFile(record), old);
}

TEST(CollectForm, AbortInTheMiddleKeepsTheInformationAndEscWaitsForTheWalk) {
    Rig rig;
    TCollectForm& f = *rig.form;
    for (int i = 0; i < 8; ++i) rig.e.MakeFile("Deep" + std::to_string(i) + "/f.txt", "x");
    QSignalSpy finished(&f, &QDialog::finished);
    int pumps = 0;
    bool finishedDuringWalk = false;
    const auto pump = rig.app->ctx.ProcessMessages;
    rig.app->ctx.ProcessMessages = [&] {
        ++pumps;
        if (f.Memorizing() && pumps == 4) {
            EXPECT_FALSE(f.ActionButton->isEnabled());
            rig.Click(f.AbortButton);
            EXPECT_TRUE(f.ActionButton->isEnabled());
            // A second Add while the walk unwinds must not start another walk.
            rig.Click(f.ActionButton);
            QKeyEvent esc(QEvent::KeyRelease, Qt::Key_Escape, Qt::NoModifier);
            QCoreApplication::sendEvent(f.Edit1, &esc);
            finishedDuringWalk = finished.count() > 0;
        }
        pump();
    };
    rig.main->Add1Click();
    f.Edit1->setText("Partial");
    rig.Click(f.ActionButton);
    EXPECT_FALSE(finishedDuringWalk);
    ASSERT_EQ(finished.count(), 1); // closed once the walk had ended
    EXPECT_TRUE(rig.app->ctx.AbortFlag);
    ASSERT_EQ(rig.ui.boxes.size(), 1u);
    EXPECT_EQ(rig.ui.boxes[0].text, "Memorizing that disk was not complete.");
    EXPECT_EQ(f.StatusText(), "The operation was interrupted!");
    EXPECT_EQ(rig.LastLog(), "Operation aborted by user");
    TIniFile32 store(rig.Package("439041101.dat"));
    EXPECT_EQ(store.ReadString(kInfo, "Title", "?"), "Partial");
    EXPECT_EQ(store.ReadString("Deep7", "f.txt", "?"), "?"); // not reached
    // Not refreshed after an interrupted Add.
    EXPECT_EQ(f.DiskCount(), 0);
}

TEST(CollectForm, ChangeWritesTheHighlightedDiskOnly) {
    Rig rig;
    TCollectForm& f = *rig.form;
    WriteHostFile(rig.Package("1.dat"), Record("First", "1"));
    WriteHostFile(rig.Package("2.dat"), Record("Second", "2"));
    rig.main->Update1Click();
    EXPECT_EQ(f.windowTitle(), "Update disks' information");
    EXPECT_EQ(f.ActionButton->Caption(), "Change");
    EXPECT_EQ(f.GroupBox1->title(), "Please make the change here...");
    ASSERT_EQ(rig.Texts(), (QStringList{"First", "Second"}));

    // No highlighted entry: a message, nothing written.
    f.Edit1->setText("Nothing");
    rig.Click(f.ActionButton);
    ASSERT_EQ(rig.ui.boxes.size(), 1u);
    EXPECT_EQ(rig.ui.boxes[0].icon, MsgIcon::Exclamation);
    EXPECT_EQ(ReadHostFile(rig.Package("1.dat")), Record("First", "1"));
    EXPECT_EQ(ReadHostFile(rig.Package("2.dat")), Record("Second", "2"));

    rig.Highlight(1); // the list click shows the disk
    EXPECT_EQ(f.Edit1->text(), "Second");
    EXPECT_EQ(f.Edit4->text(), "2");
    EXPECT_EQ(f.Edit5->text(), "07/12/2026 14:05:09");

    f.Edit3->setText("a[b");
    rig.Click(f.ActionButton);
    ASSERT_EQ(rig.ui.boxes.size(), 2u);
    EXPECT_EQ(rig.ui.boxes[1].caption, "Invalid character");
    EXPECT_EQ(ReadHostFile(rig.Package("2.dat")), Record("Second", "2"));

    f.Edit1->setText("Renamed");
    f.Edit3->setText("more");
    rig.Click(f.ActionButton);
    EXPECT_EQ(rig.LastLog(), "Information update complete");
    TIniFile32 store(rig.Package("2.dat"));
    EXPECT_EQ(store.ReadString(kInfo, "Title", "?"), "Renamed");
    EXPECT_EQ(store.ReadString(kInfo, "Additional", "?"), "more");
    EXPECT_EQ(store.ReadString(kInfo, "Volume Serial", "?"), "2");
    EXPECT_EQ(store.ReadString(kInfo, "Memorization Date", "?"), "07/12/2026 14:05:09");
    EXPECT_EQ(ReadHostFile(rig.Package("1.dat")), Record("First", "1"));
    // The list shows the new title only after the next refresh.
    EXPECT_EQ(rig.Texts(), (QStringList{"First", "Second"}));
    f.RefreshDiskList();
    EXPECT_EQ(rig.Texts(), (QStringList{"First", "Renamed"}));
}

TEST(CollectForm, RemoveDeletesOnlyTheHighlightedDiskAfterYes) {
    Rig rig;
    TCollectForm& f = *rig.form;
    for (const char* s : {"1", "2", "3"}) WriteHostFile(rig.Package(std::string(s) + ".dat"), Record("", s));
    rig.main->Remove1Click();
    EXPECT_EQ(f.windowTitle(), "Remove a disk from the package");
    // Untitled disks are listed by serial even under "Titles".
    ASSERT_EQ(rig.Texts(), (QStringList{"1", "2", "3"}));

    // No highlighted entry: asks, then deletes nothing.
    rig.Click(f.ActionButton);
    ASSERT_EQ(rig.ui.boxes.size(), 1u);
    EXPECT_EQ(rig.ui.boxes[0].text, "Are you sure you want to remove the item you have selected?");
    EXPECT_EQ(rig.ui.boxes[0].caption, "Confirm the removal!");
    EXPECT_EQ(f.DiskCount(), 3);

    rig.Highlight(1);
    rig.ui.answers = {mrNo};
    rig.Click(f.ActionButton);
    EXPECT_TRUE(QFile::exists(QString::fromStdString(rig.Package("2.dat"))));
    EXPECT_EQ(f.DiskCount(), 3);

    rig.Highlight(1);
    rig.ui.answers = {mrYes};
    rig.Click(f.ActionButton);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(rig.Package("2.dat"))));
    EXPECT_TRUE(QFile::exists(QString::fromStdString(rig.Package("3.dat"))));
    EXPECT_EQ(rig.Texts(), (QStringList{"1", "3"}));
    // The last entry goes like any other; the pairing holds afterwards.
    rig.Highlight(1);
    rig.Click(f.ActionButton);
    EXPECT_EQ(rig.Texts(), QStringList{"1"});
    EXPECT_EQ(f.DiskFileName(0), "1.dat");
}

TEST(CollectForm, DisplayChoiceAndPopupMenuSetTheCheckMarks) {
    {
        Rig rig;
        TCollectForm& f = *rig.form;
        WriteHostFile(rig.Package("10.dat"), Record("Ten", "10"));
        WriteHostFile(rig.Package("20.dat"), Record("Twenty", "20"));
        WriteHostFile(rig.Package("30.dat"), Record("", "30"));
        f.RefreshDiskList();
        ASSERT_EQ(rig.Texts(), (QStringList{"Ten", "Twenty", "30"}));
        f.CollectionLB->item(0)->setCheckState(Qt::Unchecked);
        f.Invertselection1->trigger();
        EXPECT_FALSE(f.DiskChecked(1));
        EXPECT_TRUE(f.DiskChecked(0));
        f.Select1->trigger();
        EXPECT_TRUE(rig.AllChecked());
        f.CollectionLB->item(2)->setCheckState(Qt::Unchecked);
        f.DisplaySerials->click();
        EXPECT_EQ(rig.Texts(), (QStringList{"10", "20", "30"}));
        EXPECT_TRUE(rig.AllChecked());
        // The choice is saved at close and read back at the next start.
        rig.main->close();
    }
    {
        Rig rig(/*clearSettings=*/false);
        EXPECT_EQ(rig.form->DisplayIndex(), 1);
    }
    // Out-of-range values are clamped; a value that is not a number gives "Titles".
    for (const auto& [stored, expected] : std::vector<std::pair<QVariant, int>>{{7, 1}, {-4, -1}, {"abc", 0}}) {
        ClearSettings();
        {
            QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Tavrel", "Quindle");
            s.setValue("Setup/Display", stored);
        }
        Rig rig(false);
        EXPECT_EQ(rig.form->DisplayIndex(), expected) << stored.toString().toStdString();
        EXPECT_EQ(rig.form->DisplayTitles->isChecked(), expected == 0);
        EXPECT_EQ(rig.form->DisplaySerials->isChecked(), expected == 1);
    }
    ClearSettings();
}

TEST(CollectForm, CloseButtonsAndEscEndTheDialog) {
    Rig rig;
    TCollectForm& f = *rig.form;
    QSignalSpy finished(&f, &QDialog::finished);
    rig.main->View1Click();
    rig.Click(f.ActionButton); // "Close"
    EXPECT_EQ(finished.count(), 1);
    rig.main->Remove1Click();
    rig.Click(f.AbortButton); // "Close"
    EXPECT_EQ(finished.count(), 2);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(&f, &press);
    EXPECT_EQ(finished.count(), 2); // the press alone does nothing
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(f.CollectionLB, &release);
    EXPECT_EQ(finished.count(), 3);
    // A list click with nothing highlighted reports it and fills nothing.
    f.CollectionLBClick();
    ASSERT_EQ(rig.ui.boxes.size(), 1u);
    EXPECT_EQ(f.Edit1->text(), "");

    // A real click on an entry shows that disk, once and without a message.
    WriteHostFile(rig.Package("5.dat"), Record("Five", "5"));
    WriteHostFile(rig.Package("6.dat"), Record("Six", "6"));
    rig.main->View1Click();
    f.show();
    QCoreApplication::processEvents();
    const QRect r = f.CollectionLB->visualItemRect(f.CollectionLB->item(1));
    QTest::mouseClick(f.CollectionLB->viewport(), Qt::LeftButton, {}, r.center() + QPoint(20, 0));
    EXPECT_EQ(f.HighlightedIndex(), 1);
    EXPECT_EQ(f.Edit1->text(), "Six");
    EXPECT_EQ(f.Edit4->text(), "6");
    EXPECT_EQ(rig.ui.boxes.size(), 1u);
    f.hide();
}

// Damaged and odd records: the package lists what it can, View shows what it can, the
// search counts what it can, and reading changes no record.
TEST(CollectForm, DamagedRecordsAreListedShownAndSearchedWithoutBeingChanged) {
    Rig rig;
    const std::string pkg = rig.app->ctx.PackageFolder;
    std::string garbage(4096, '\0');
    for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>((i * 7919) % 251);
    WriteHostFile(pkg + "1.dat", garbage);
    WriteHostFile(pkg + "2.dat", std::string("\r\n[E:\\]\r\nnul\0name=1\r\n", 21) + Record("Nul disk").substr(2));
    WriteHostFile(pkg + "3.dat", "\n[" + kInfo + "]\nTitle=Lone LF\nDescription=x\n");
    WriteHostFile(pkg + "4.dat", "\r\n[E:\\]\r\nTitle=not the title\r\n");
    WriteHostFile(pkg + "5.dat", Record("First") + Record("Second"));
    WriteHostFile(pkg + "6.dat", Record("Bad \xff\xfe bytes"));
    QDir().mkpath(QString::fromStdString(pkg + "7.dat")); // a folder is no record
    WriteHostFile(rig.progDir.path().toStdString() + "/elsewhere.dat", Record("Linked"));
    ASSERT_EQ(symlink((rig.progDir.path().toStdString() + "/elsewhere.dat").c_str(), (pkg + "8.dat").c_str()), 0);
    std::map<std::string, std::string> before;
    for (const char* n : {"1.dat", "2.dat", "3.dat", "4.dat", "5.dat", "6.dat", "8.dat"}) before[n] = ReadHostFile(pkg + n);

    rig.main->View1Click();
    EXPECT_EQ(rig.Texts(), QStringList({"1", "Nul disk", "Lone LF", "4", "First",
                                        QString::fromUtf8("Bad \xef\xbf\xbd\xef\xbf\xbd bytes"), "Linked"}));
    EXPECT_TRUE(rig.ui.errors.empty());
    rig.Highlight(4);
    rig.form->CollectionLBClick();
    EXPECT_EQ(rig.form->Edit1->text(), "First");
    rig.Highlight(0);
    rig.form->CollectionLBClick();
    EXPECT_EQ(rig.form->Edit1->text(), "");

    rig.main->SearchEdit->setEditText("title");
    rig.main->SearchButtonClick();
    TSearchForm& report = *rig.app->SearchForm;
    ASSERT_EQ(report.RowCount(), 8);
    EXPECT_EQ(report.Cell(1, 2), "1"); // the NUL does not hide the information section
    EXPECT_EQ(report.Cell(1, 5), "2"); // both information sections count
    EXPECT_EQ(report.Cell(1, 7), "1"); // through the link
    EXPECT_TRUE(rig.ui.errors.empty());
    for (const auto& [name, bytes] : before) EXPECT_EQ(ReadHostFile(pkg + name), bytes) << name;
}

// A device link and a FIFO among good records: the listing, View and the search neither
// hang nor stop; an odd record keeps its serial, is named once in the log per reading,
// and every good disk is listed with its title and searched.
TEST(CollectForm, DeviceLinkAndFifoAmongGoodRecordsAreSkippedAndLogged) {
    Rig rig;
    const std::string pkg = rig.app->ctx.PackageFolder;
    WriteHostFile(pkg + "1.dat", Record("One"));
    ASSERT_EQ(symlink("/dev/zero", (pkg + "2.dat").c_str()), 0);
    ASSERT_EQ(mkfifo((pkg + "3.dat").c_str(), 0600), 0);
    WriteHostFile(pkg + "4.dat", Record("Four"));
    auto logCount = [&](const std::string& name) {
        int n = 0;
        for (int i = 0; i < rig.main->ListBox1->count(); ++i)
            n += rig.main->ListBox1->item(i)->text() == QString::fromStdString("Cannot open file " + pkg + name);
        return n;
    };

    rig.main->View1Click();
    // The FIFO is no file for the lister; the device link is, and keeps its serial.
    EXPECT_EQ(rig.Texts(), QStringList({"One", "2", "Four"}));
    EXPECT_TRUE(rig.ui.errors.empty());
    const int listed = logCount("2.dat"); // once per listing; opening the dialog may list twice
    EXPECT_GE(listed, 1);
    // View reports the device link and does not hang.
    rig.Highlight(1);
    rig.form->CollectionLBClick();
    ASSERT_FALSE(rig.ui.errors.empty());
    for (const QString& e : rig.ui.errors) EXPECT_EQ(e, QString::fromStdString("Cannot open file " + pkg + "2.dat"));
    // The FIFO left in place of a listed record after the listing.
    std::filesystem::remove(pkg + "1.dat");
    ASSERT_EQ(mkfifo((pkg + "1.dat").c_str(), 0600), 0);
    const size_t errors = rig.ui.errors.size();

    rig.main->SearchEdit->setEditText("readme");
    rig.main->SearchButtonClick();
    TSearchForm& report = *rig.app->SearchForm;
    QStringList searched;
    for (int r = 1; r < report.RowCount(); ++r) {
        searched << report.Cell(0, r);
        EXPECT_EQ(report.Cell(1, r), "1") << report.Cell(0, r).toStdString();
    }
    EXPECT_EQ(searched, QStringList({"Four"}));
    EXPECT_EQ(logCount("1.dat"), 1);
    EXPECT_EQ(logCount("2.dat"), listed + 1);
    EXPECT_EQ(rig.LastLog(), "Search is complete");
    EXPECT_EQ(rig.ui.errors.size(), errors);
}

TEST(CollectForm, RecordDeletedAfterTheRefreshShowsEmptyAndIsNotCreatedAgain) {
    Rig rig;
    const std::string path = rig.Package("42.dat");
    WriteHostFile(path, Record("Gone soon", "42"));
    rig.main->Update1Click();
    ASSERT_EQ(rig.form->DiskCount(), 1);
    std::remove(path.c_str());
    rig.Highlight(0);
    rig.form->CollectionLBClick();
    EXPECT_EQ(rig.form->Edit1->text(), "");
    EXPECT_EQ(rig.form->Edit4->text(), "");
    rig.form->Edit1->setText("New title");
    rig.form->ActionButtonClick();
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path)));
    EXPECT_TRUE(rig.ui.errors.empty());
}

TEST(CollectForm, AddIntoAPackageFolderThatCannotBeWrittenReportsNotComplete) {
    Rig rig;
    // A package folder below a regular file can't be created or written, even by root.
    const std::string blocker = rig.progDir.path().toStdString() + "/blocker";
    WriteHostFile(blocker, "x");
    rig.app->ctx.PackageFolder = blocker + "/data/";
    rig.main->Add1Click();
    rig.form->Edit1->setText("Holiday");
    rig.form->ActionButtonClick();
    ASSERT_FALSE(rig.ui.boxes.empty());
    EXPECT_EQ(rig.ui.boxes.back().text, "Memorizing that disk was not complete.");
    EXPECT_EQ(rig.ui.boxes.back().caption, "Operation ended!");
    EXPECT_EQ(ReadHostFile(blocker), "x");
}
