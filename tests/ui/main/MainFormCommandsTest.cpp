#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QMenu>
#include <QKeyEvent>
#include <QListWidget>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>

#include "support/TempDrive.h"
#include "ui/app/Application.h"
#include "ui/widgets/OvalButton.h"
#include "ui/widgets/URLLabel.h"
#include "ui/ScriptedUi.h"

using namespace quindle;
using quindle::test::TempDrive;

namespace {

// Maps drives through the user's settings, as a user would, before the program starts.
void MapDrive(char letter, const std::string& path, const char* kind = nullptr, const char* serial = nullptr) {
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Tavrel", "Quindle");
    const QString g = QStringLiteral("Drives/") + QChar(letter) + "/";
    s.setValue(g + "path", QString::fromStdString(path));
    if (kind) s.setValue(g + "kind", kind);
    if (serial) s.setValue(g + "serial", serial);
}

void ClearSettings() {
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Tavrel", "Quindle");
    s.clear();
}

QString LastLog(const TMainForm& m) { return m.ListBox1->item(m.ListBox1->count() - 1)->text(); }

struct Program {
    TempDrive c{'C'};
    TempDrive e{'E', 1234567890u};
    QTemporaryDir programDir;
    test::ScriptedUi ui;
    std::unique_ptr<Application> app;

    Program() {
        ClearSettings();
        c.MakeDir("Alpha/Inner");
        c.MakeDir("beta");
        e.MakeFile("Docs/Old/z.txt");
        e.MakeFile("Music/song.mp3");
        e.MakeDir("Docs/New");
        MapDrive('C', c.path());
        MapDrive('E', e.path(), "removable", "1234567890");
        app = std::make_unique<Application>(ui, programDir.path() + "/quindle");
    }
    ~Program() { ClearSettings(); }
    TMainForm& main() { return *app->MainForm; }
};

} // namespace

TEST(MainFormCommands, StartUpShowsDriveCAndItsFirstLevel) {
    Program p;
    auto& m = p.main();
    EXPECT_EQ(m.ListBox1->item(0)->text(), "Welcome to Quindle!");
    EXPECT_EQ(m.DriveComboBox1.Drive(), 'C');
    EXPECT_EQ(m.DirectoryOutline1.Drive(), 'C');
    EXPECT_FALSE(m.StopButton->isVisibleTo(&m));
    EXPECT_TRUE(p.app->ctx.AbortFlag);
    // Root expanded: its first level listed in byte order.
    ASSERT_EQ(m.DirectoryOutline1.ItemCount(), 3);
    EXPECT_EQ(m.DirectoryOutline1.Items(1)->Text(), "C:\\");
    EXPECT_EQ(m.DirectoryOutline1.Items(2)->Text(), "Alpha");
    EXPECT_EQ(m.DirectoryOutline1.Items(3)->Text(), "beta");
    EXPECT_EQ(m.pos(), QPoint(15, 15));
    EXPECT_EQ(m.GroupBox1->title(), " Find this item... ");
    EXPECT_EQ(m.centralWidget()->size(), QSize(351, 400));
}

TEST(MainFormCommands, MenusCarryTheirCaptionsAndShortcuts) {
    Program p;
    auto& m = p.main();
    const std::vector<std::tuple<QAction*, QString, QKeySequence>> expected = {
        {m.Quitter1, "E&xit", {}},
        {m.View1, "Vie&w...", QKeySequence("Ctrl+W")},
        {m.Add1, "&Add...", QKeySequence("Ctrl+A")},
        {m.Update1, "&Update...", QKeySequence("Ctrl+U")},
        {m.Remove1, "&Remove...", QKeySequence("Ctrl+R")},
        {m.Open1, "&Open", QKeySequence("Ctrl+O")},
        {m.Getvolumeserial1, "Get volume &serial", QKeySequence("Ctrl+S")},
        {m.Contents1, "&Contents", QKeySequence("F1")},
        {m.QuindleHomepage1, "Quindle &Homepage...", {}},
        {m.About1, "&About...", {}},
    };
    for (const auto& [action, caption, shortcut] : expected) {
        EXPECT_EQ(action->text(), caption);
        EXPECT_EQ(action->shortcut(), shortcut) << caption.toStdString();
    }
    EXPECT_EQ(m.File1->title(), "&File");
    EXPECT_EQ(m.Collection1->title(), "&Package");
    EXPECT_EQ(m.CD1->title(), "&Drive");
    EXPECT_EQ(m.Help->title(), "&Help");

    // The package commands show the package dialog modally; About shows the about box on
    // its first page and gets modal result 3 from its Close button.
    p.ui.onModal = [&](QDialog* d) {
        if (d == p.app->InfoForm.get()) {
            p.app->InfoForm->OvalButton1Click();
            return p.app->InfoForm->result();
        }
        return int(mrNone);
    };
    for (QAction* a : {m.View1, m.Add1, m.Update1, m.Remove1}) a->trigger();
    ASSERT_EQ(p.ui.modals.size(), 4u);
    for (QDialog* d : p.ui.modals) EXPECT_EQ(d, p.app->CollectForm.get());
    m.About1->trigger();
    ASSERT_EQ(p.ui.modals.size(), 5u);
    EXPECT_EQ(p.ui.modals.back(), p.app->InfoForm.get());
    EXPECT_EQ(p.app->InfoForm->result(), 3);

    // Help: help.chm when the desktop can open it, else the HTML pages in the browser;
    // the home page is the one the about box links to.
    p.ui.chmViewer = true;
    m.Contents1->trigger();
    p.ui.chmViewer = false;
    m.Contents1->trigger();
    m.QuindleHomepage1->trigger();
    ASSERT_EQ(p.ui.opened.size(), 3u);
    EXPECT_EQ(p.ui.opened[0], p.programDir.path() + "/help.chm");
    EXPECT_EQ(p.ui.opened[1], p.programDir.path() + "/help/index.html");
    EXPECT_EQ(p.ui.opened[2], URLTarget(utHTTP, p.app->InfoForm->URLLabel1->Caption()));
    EXPECT_FALSE(p.ui.opened[2].contains("://http"));
    EXPECT_EQ(p.app->InfoForm->URLLabel1->URLType(), utHTTP);
}

TEST(MainFormCommands, OpenExpandsTheWholeTreeAndStopEndsIt) {
    Program p;
    auto& m = p.main();
    m.DriveComboBox1.SetDrive('E');
    EXPECT_EQ(m.DirectoryOutline1.Drive(), 'E');
    bool stopSeen = false;
    p.app->ctx.ProcessMessages = [&] { stopSeen = stopSeen || m.StopButton->isVisibleTo(&m); };
    m.Open1->trigger();
    EXPECT_TRUE(stopSeen);
    EXPECT_FALSE(m.StopButton->isVisibleTo(&m));
    // E:\, Docs, New, Old, Music: every folder listed and expanded.
    ASSERT_EQ(m.DirectoryOutline1.ItemCount(), 5);
    for (int i = 1; i <= 5; ++i) EXPECT_TRUE(m.DirectoryOutline1.Items(i)->Expanded()) << i;
    EXPECT_EQ(m.DirectoryOutline1.Items(3)->Text(), "New");
    EXPECT_EQ(m.FileListBox1.Directory(), "C:\\");

    // Stop during the walk: the walk ends at its next pass, what was built stays.
    m.DriveComboBox1.SetDrive('C');
    int pumps = 0;
    p.app->ctx.ProcessMessages = [&] {
        if (++pumps == 1) QTest::mouseClick(m.StopButton, Qt::LeftButton, {}, QPoint(36, 12));
    };
    m.Open1->trigger();
    EXPECT_EQ(LastLog(m), "Operation aborted by user");
    EXPECT_FALSE(m.StopButton->isVisibleTo(&m));
    EXPECT_EQ(pumps, 1);
    EXPECT_EQ(m.DirectoryOutline1.ItemCount(), 3); // C:\, Alpha, beta: Alpha never listed
    EXPECT_FALSE(m.DirectoryOutline1.Items(2)->Expanded());
}

TEST(MainFormCommands, VolumeSerialAndADriveThatIsNotReady) {
    Program p;
    auto& m = p.main();
    m.DriveComboBox1.SetDrive('E');
    m.Getvolumeserial1->trigger();
    EXPECT_EQ(LastLog(m), QString::fromUtf8("E: Volume serial n\u00B0 is 1234567890"));

    // A mapped folder that vanished: the drive is not ready.
    std::filesystem::remove_all(p.e.path());
    m.Getvolumeserial1->trigger();
    EXPECT_EQ(LastLog(m), QString::fromUtf8("Unable to get that volume serial n\u00B0..."));
    m.Open1->trigger();
    ASSERT_FALSE(p.ui.boxes.empty());
    EXPECT_EQ(p.ui.boxes.back().text, "Please, make sure that disk is ready!");
    EXPECT_EQ(p.ui.boxes.back().caption, "Disk not found");
    EXPECT_FALSE(m.StopButton->isVisibleTo(&m));
}

TEST(MainFormCommands, EnterReleasedInTheWindowRunsTheSearch) {
    Program p;
    auto& m = p.main();
    m.SearchEdit->setEditText("report");
    const int before = m.ListBox1->count();
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(m.SearchEdit, &release);
    ASSERT_GT(m.ListBox1->count(), before);
    EXPECT_EQ(m.ListBox1->item(before)->text(), "Searching for \"report\"");
    // Also from the log list.
    const int again = m.ListBox1->count();
    QApplication::sendEvent(m.ListBox1, &release);
    EXPECT_GT(m.ListBox1->count(), again);
}

TEST(MainFormCommands, StartUpWithoutADriveCIsSilent) {
    ClearSettings();
    TempDrive gone('C');
    const std::string path = gone.path() + "/missing";
    MapDrive('C', path);
    QTemporaryDir programDir;
    test::ScriptedUi ui;
    {
        Application app(ui, programDir.path() + "/quindle");
        EXPECT_TRUE(ui.boxes.empty());
        EXPECT_EQ(app.MainForm->ListBox1->count(), 1);
        // The drive change shows the message once the window is up.
        app.MainForm->DriveComboBox1Change();
        ASSERT_EQ(ui.boxes.size(), 1u);
        EXPECT_EQ(ui.boxes[0].caption, "Disk not found");
    }
    ClearSettings();
}
