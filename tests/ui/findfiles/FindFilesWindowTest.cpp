// Package > Find files...: typing finds the files of every disk, filters narrow them, Enter
// opens the folder of a connected disk or names the disk to insert, copy and CSV.
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QRegularExpression>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "ui/ScriptedUi.h"
#include "ui/WaitFor.h"
#include "records/DiskRecord.h"
#include "records/Memorizer.h"
#include "support/DamagedCatalogue.h"
#include "support/NoPermissionOverride.h"
#include "support/TempDrive.h"
#include "ui/app/Application.h"
#include "ui/findfiles/FindFilesWindow.h"
#include "ui/widgets/OvalButton.h"

using namespace quindle;
using quindle::test::TempDrive;
using quindle::test::WriteHostFile;

namespace {

const std::string kInfo = "Special Information about this disk by Quindle";

QStringList Rows(const TFileHitsModel& m) {
    QStringList rows;
    for (int r = 0; r < m.rowCount(); ++r)
        rows << m.index(r, TFileHitsModel::ColDisk).data().toString() + "|" +
                    m.index(r, TFileHitsModel::ColPath).data().toString() + "|" +
                    m.index(r, TFileHitsModel::ColKind).data().toString();
    return rows;
}

void Settle(TFindFilesWindow& w) {
    ASSERT_TRUE(test::WaitFor([&] { return !w.Busy(); }, 10000));
    QCoreApplication::processEvents();
}

} // namespace

TEST(FindFilesWindow, TypingFindsFilesOfEveryDiskAndEnterOpensTheFolderOrNamesTheDisk) {
    QTemporaryDir progDir, out;
    test::ScriptedUi ui;
    {
        QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Tavrel", "Quindle");
        QFile::remove(s.fileName());
    }
    Application app(ui, progDir.path() + "/quindle");
    TempDrive e{'E', 77u};
    e.MakeFile("Pics/Photo 1.JPG", std::string(2000, 'x'));
    e.MakeFile("Pics/2019/photo 2.jpg", "x");
    e.MakeFile("notes.txt", "n");
    e.MakeFile("Movie [1080p].mkv", "m");
    e.MapInto(app.ctx.platform);
    ASSERT_TRUE(MemorizeDiskWithInfo(app.ctx, app.MainForm->DirectoryOutline1, app.MainForm->FileListBox1, 'E', "77",
                                     RecordPath(app.ctx, "77"), {"Holiday", "", ""}));
    // A disk memorized long ago, with its record only and not connected.
    WriteHostFile(app.ctx.PackageFolder + "88.dat",
                  "\r\n[F:\\]\r\nold photo.jpg=1\r\n\r\n[" + kInfo + "]\r\nVolume Serial=88\r\nTitle=Attic\r\n");
    app.Watch->DrivesChanged(); // as the mount watch does when a disk comes

    EXPECT_EQ(app.MainForm->FindFiles1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F));
    app.MainForm->FindFiles1->trigger();
    TFindFilesWindow* w = app.MainForm->FindFilesWindow;
    ASSERT_TRUE(w);
    Settle(*w);
    EXPECT_TRUE(w->StatusLabel->text().startsWith("Type a name to find")) << w->StatusLabel->text().toStdString();
    EXPECT_EQ(w->DiskBox->count(), 3); // all, Attic, Holiday

    QTest::keyClicks(w->QueryEdit, "PHOTO");
    Settle(*w);
    EXPECT_EQ(Rows(*w->Model), (QStringList{"Attic|F:\\old photo.jpg|file", "Holiday|E:\\Pics\\2019\\photo 2.jpg|file",
                                            "Holiday|E:\\Pics\\Photo 1.JPG|file"}));
    EXPECT_TRUE(w->StatusLabel->text().startsWith("3 found in ")) << w->StatusLabel->text().toStdString();
    EXPECT_NE(w->StatusLabel->text().indexOf("1 disk by their record's names only (Attic (88): no catalogue)"), -1)
        << w->StatusLabel->text().toStdString();
    // Rows of the disk in a drive now show in bold, with the drive in their tooltip.
    const struct {
        int row;
        bool connected;
    } marks[] = {{0, false}, {1, true}, {2, true}};
    for (const auto& m : marks) {
        EXPECT_EQ(w->Model->Connected(m.row), m.connected) << m.row;
        EXPECT_EQ(w->Model->index(m.row, TFileHitsModel::ColPath).data(Qt::FontRole).value<QFont>().bold(), m.connected);
        EXPECT_EQ(w->Model->index(m.row, TFileHitsModel::ColDisk).data(Qt::ToolTipRole).toString(),
                  m.connected ? "Serial 77, in drive E:" : "Serial 88");
    }

    // Enter on a file of the connected disk opens its folder; on the other disk, a message.
    w->ResultsView->setCurrentIndex(w->Model->index(1, 0));
    QTest::keyClick(w->ResultsView, Qt::Key_Return);
    ASSERT_EQ(ui.opened.size(), 1u);
    EXPECT_EQ(ui.opened[0].toStdString(), e.path() + "/Pics/2019");
    w->ResultsView->setCurrentIndex(w->Model->index(0, 0));
    QTest::keyClick(w->ResultsView, Qt::Key_Return);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Insert the disk \"Attic\" (serial 88) to open F:\\");
    EXPECT_EQ(ui.opened.size(), 1u);

    // Copy path, then a path term and the filters.
    w->ResultsView->setCurrentIndex(w->Model->index(2, 0));
    w->CopyButton->OnClick(w->CopyButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "E:\\Pics\\Photo 1.JPG");
    // Brackets typed in double quotes are the brackets themselves; unquoted, a class.
    w->QueryEdit->clear();
    QTest::keyClicks(w->QueryEdit, "\"[1080p]\"");
    Settle(*w);
    EXPECT_EQ(Rows(*w->Model), QStringList{"Holiday|E:\\Movie [1080p].mkv|file"});
    w->QueryEdit->setText("[1080p]");
    Settle(*w);
    EXPECT_EQ(w->Model->rowCount(), 0);
    EXPECT_TRUE(w->QueryEdit->placeholderText().contains("\"[1080p]\"")) << w->QueryEdit->placeholderText().toStdString();
    w->QueryEdit->setText("pics\\ *.jpg");
    Settle(*w);
    EXPECT_EQ(w->Model->rowCount(), 2);
    w->MinSizeEdit->setText("1K");
    Settle(*w);
    EXPECT_EQ(Rows(*w->Model), QStringList{"Holiday|E:\\Pics\\Photo 1.JPG|file"});
    w->MinSizeEdit->setText("1X");
    Settle(*w);
    EXPECT_TRUE(w->StatusLabel->text().contains("is no size")) << w->StatusLabel->text().toStdString();
    w->MinSizeEdit->clear();
    w->QueryEdit->setText("pics");
    w->KindBox->setCurrentIndex(2); // folders
    Settle(*w);
    EXPECT_EQ(Rows(*w->Model), QStringList{"Holiday|E:\\Pics|folder"});
    w->KindBox->setCurrentIndex(0);
    w->DiskBox->setCurrentIndex(1); // Attic only
    w->QueryEdit->setText("photo");
    Settle(*w);
    EXPECT_EQ(Rows(*w->Model), QStringList{"Attic|F:\\old photo.jpg|file"});

    // A disk taken out of its drive loses its mark at the next query.
    {
        auto drives = app.ctx.platform.Drives();
        std::erase_if(drives, [](const DriveInfo& d) { return d.letter == 'E'; });
        app.ctx.platform.SetDrives(drives);
        app.Watch->DrivesChanged();
        // The mark goes at once, before any query.
        EXPECT_FALSE(w->Model->Connected(1));
        w->DiskBox->setCurrentIndex(0);
        w->QueryEdit->setText("photo 1");
        Settle(*w);
        ASSERT_EQ(w->Model->rowCount(), 1);
        EXPECT_FALSE(w->Model->Connected(0));
        e.MapInto(app.ctx.platform);
        app.Watch->DrivesChanged();
        w->QueryEdit->setText("photo");
    }

    // A disk added meanwhile shows at the next keystroke; the CSV holds every row.
    w->DiskBox->setCurrentIndex(0);
    WriteHostFile(app.ctx.PackageFolder + "99.dat",
                  "\r\n[G:\\]\r\nnew photo.png=1\r\n\r\n[" + kInfo + "]\r\nTitle=Zebra, \"new\"\r\n");
    QTest::keyClick(w->QueryEdit, Qt::Key_Space);
    Settle(*w);
    EXPECT_EQ(w->Model->rowCount(), 4);
    ui.saveNames = {out.filePath("found.csv")};
    w->SaveButton->OnClick(w->SaveButton);
    QFile csv(out.filePath("found.csv"));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(csv.readAll());
    EXPECT_TRUE(text.startsWith("Disk,Serial,Path,Size,Date,Kind\r\nAttic,88,F:\\old photo.jpg,,,file\r\n")) << text.toStdString();
    // Dates in the CSV are ISO 8601 in UTC, whatever the window shows.
    EXPECT_TRUE(text.contains(QRegularExpression(",\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ,file\r\n"))) << text.toStdString();
    EXPECT_TRUE(text.endsWith("\"Zebra, \"\"new\"\"\",99,G:\\new photo.png,,,file\r\n")) << text.toStdString();
    w->close();
}

// A disk whose catalogue a failed copy or a file-system fault damaged: typing goes on,
// the disk is searched by its record's names and the status line names it with the reason.
TEST(FindFilesWindow, ADamagedCatalogueIsNamedAndTypingGoesOn) {
    QTemporaryDir progDir;
    test::ScriptedUi ui;
    {
        QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Tavrel", "Quindle");
        QFile::remove(s.fileName());
    }
    Application app(ui, progDir.path() + "/quindle");
    TempDrive e{'E', 77u}, f{'F', 78u};
    e.MakeFile("Pics/photo e.jpg", "e");
    f.MakeFile("Pics/photo f.jpg", "f");
    f.MakeFile("root.txt", "r");
    e.MapInto(app.ctx.platform);
    f.MapInto(app.ctx.platform);
    const auto memorize = [&](char letter, const std::string& serial, const std::string& title) {
        return MemorizeDiskWithInfo(app.ctx, app.MainForm->DirectoryOutline1, app.MainForm->FileListBox1, letter, serial,
                                    RecordPath(app.ctx, serial), {title, "", ""});
    };
    ASSERT_TRUE(memorize('E', "77", "Holiday"));
    app.MainForm->FindFiles1->trigger();
    TFindFilesWindow* w = app.MainForm->FindFilesWindow;
    ASSERT_TRUE(w);
    for (const test::CatalogueDamage how : test::kCatalogueDamages) {
        SCOPED_TRACE(test::CatalogueDamageName(how));
        ASSERT_TRUE(memorize('F', "78", "Work"));
        test::DamageCatalogue(app.ctx.PackageFolder + "78.cat", how);
        w->QueryEdit->clear();
        QTest::keyClicks(w->QueryEdit, "photo");
        Settle(*w);
        EXPECT_EQ(Rows(*w->Model), (QStringList{"Holiday|E:\\Pics\\photo e.jpg|file", "Work|F:\\Pics\\photo f.jpg|file"}));
        const QString status = w->StatusLabel->text();
        EXPECT_TRUE(status.startsWith("2 found in ")) << status.toStdString();
        // 4 billion entries do not fit in this computer's memory (one with more finds the frame damaged).
        EXPECT_TRUE(status.contains("; 1 disk by their record's names only (Work (78): the catalogue is damaged)") ||
                    (how == test::CatalogueDamage::HugeCount &&
                     status.contains("(Work (78): the catalogue is too large for this computer's memory)")))
            << status.toStdString();
        EXPECT_EQ(w->Model->index(0, TFileHitsModel::ColSize).data().toString(), "1");
        EXPECT_EQ(w->Model->index(1, TFileHitsModel::ColSize).data().toString(), "");
    }
    w->close();
}

// "Hidden files", checked at first, finds what hidden folders hold and hidden files, on a
// disk with a catalogue and, by their names, on a disk known by its record only.
TEST(FindFilesWindow, HiddenFilesCheckBoxLeavesHiddenEntriesOut) {
    QTemporaryDir progDir;
    test::ScriptedUi ui;
    Application app(ui, progDir.path() + "/quindle");
    TempDrive e{'E', 77u};
    e.MakeFile("Docs/report.txt", "r");
    e.MakeFile("Docs/.report.swp", "s");
    e.MakeFile(".trash/old report.txt", "o");
    e.MapInto(app.ctx.platform);
    ASSERT_TRUE(MemorizeDiskWithInfo(app.ctx, app.MainForm->DirectoryOutline1, app.MainForm->FileListBox1, 'E', "77",
                                     RecordPath(app.ctx, "77"), {"Holiday", "", ""}));
    WriteHostFile(app.ctx.PackageFolder + "88.dat", "\r\n[F:\\]\r\n.report.bak=1\r\nreport.doc=2\r\n\r\n[" + kInfo +
                                                        "]\r\nVolume Serial=88\r\nTitle=Attic\r\n");
    app.MainForm->FindFiles1->trigger();
    TFindFilesWindow* w = app.MainForm->FindFilesWindow;
    ASSERT_TRUE(w);
    Settle(*w);
    ASSERT_TRUE(w->HiddenBox);
    EXPECT_EQ(w->HiddenBox->text(), "Hidden files");
    EXPECT_TRUE(w->HiddenBox->isChecked());
    QTest::keyClicks(w->QueryEdit, "report");
    Settle(*w);
    EXPECT_EQ(Rows(*w->Model), (QStringList{"Attic|F:\\.report.bak|file", "Attic|F:\\report.doc|file",
                                            "Holiday|E:\\.trash\\old report.txt|file",
                                            "Holiday|E:\\Docs\\.report.swp|file", "Holiday|E:\\Docs\\report.txt|file"}));
    QTest::mouseClick(w->HiddenBox, Qt::LeftButton);
    EXPECT_FALSE(w->HiddenBox->isChecked());
    Settle(*w);
    EXPECT_EQ(Rows(*w->Model), (QStringList{"Attic|F:\\report.doc|file", "Holiday|E:\\Docs\\report.txt|file"}));
    EXPECT_TRUE(w->StatusLabel->text().startsWith("2 found in ")) << w->StatusLabel->text().toStdString();
    w->HiddenBox->setChecked(true);
    Settle(*w);
    EXPECT_EQ(w->Model->rowCount(), 5);
}

// Why an archive was not listed, or a file's content not read, is in the row's tooltip, as
// in Browse's.
TEST(FindFilesWindow, TheTooltipSaysWhyAnArchiveWasNotListedOrAFileNotRead) {
    if (std::system("command -v zip >/dev/null 2>&1") != 0) GTEST_SKIP() << "zip is needed";
    QTemporaryDir progDir;
    test::ScriptedUi ui;
    Application app(ui, progDir.path() + "/quindle");
    TempDrive e{'E', 77u};
    e.MakeFile("src/inside.txt", "hello");
    const std::string script = "cd '" + e.path() + "' && cd src && zip -q ../good.zip inside.txt && cd .. && rm -r src"
                               " && head -c 60 good.zip > broken.zip && echo secret > locked.txt && chmod 000 locked.txt";
    ASSERT_EQ(std::system(script.c_str()), 0);
    e.MapInto(app.ctx.platform);
    WalkOptions options;
    options.checksums = true;
    {
        // Without the override root reads every file with: locked.txt cannot be read.
        test::WithoutPermissionOverride noOverride;
        ASSERT_TRUE(MemorizeDiskWithInfo(app.ctx, app.MainForm->DirectoryOutline1, app.MainForm->FileListBox1, 'E', "77",
                                         RecordPath(app.ctx, "77"), {"Holiday", "", ""}, {}, options));
    }
    app.MainForm->FindFiles1->trigger();
    TFindFilesWindow* w = app.MainForm->FindFilesWindow;
    ASSERT_TRUE(w);
    Settle(*w);
    QTest::keyClicks(w->QueryEdit, ".");
    Settle(*w);
    std::map<std::string, std::string> tips;
    for (int r = 0; r < w->Model->rowCount(); ++r)
        tips[w->Model->index(r, TFileHitsModel::ColPath).data().toString().toStdString()] =
            w->Model->index(r, TFileHitsModel::ColPath).data(Qt::ToolTipRole).toString().toStdString();
    EXPECT_EQ(tips["E:\\good.zip\\inside.txt"], "Serial 77");
    EXPECT_EQ(tips["E:\\good.zip"], "Serial 77");
    EXPECT_TRUE(tips["E:\\broken.zip"].starts_with("Serial 77\nNot listed: ")) << tips["E:\\broken.zip"];
    EXPECT_EQ(tips["E:\\locked.txt"], "Serial 77\nContent not read: Permission denied");
}
