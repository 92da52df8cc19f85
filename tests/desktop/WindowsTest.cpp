// The windows as a person meets them: the real program's windows on an X server with a
// window manager, driven by real clicks and keys.
#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QScreen>
#include <QSettings>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "DesktopSupport.h"
#include "records/DiskRecord.h"
#include "support/TempDrive.h"
#include "ui/app/Application.h"
#include "ui/widgets/OvalButton.h"
#include "ui/shared/RecordLinesModel.h"
#include "ui/search/MatchesForm.h"
#include "ui/ScriptedUi.h"
#include "ui/frames/WindowFrame.h"

using namespace quindle;
using namespace quindle::test;

namespace {

QSettings UserSettings() { return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Tavrel", "Quindle"); }

// The program with drive C mapped to a temporary folder, its main window shown and
// active. Message boxes and modal dialogs are answered by the script and never block.
struct Desktop : ::testing::Test {
    TempDrive c{'C'};
    QTemporaryDir programDir;
    ScriptedUi ui;
    std::unique_ptr<Application> app;

    void SetUp() override {
        if (!HaveDesktop()) GTEST_SKIP() << "no X display";
        UserSettings().clear();
        auto s = UserSettings();
        s.setValue("Drives/C/path", QString::fromStdString(c.path()));
    }
    void TearDown() override {
        if (HasFailure()) {
            const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
            Screenshot(QStringLiteral("%1.%2").arg(info->test_suite_name(), info->name()));
        }
        app.reset();
        UserSettings().clear();
    }
    TMainForm& Start() {
        app = std::make_unique<Application>(ui, programDir.path() + "/quindle");
        TMainForm& m = *app->MainForm;
        m.show();
        EXPECT_TRUE(WaitFor([&] { return FrameGeometry(m) != m.geometry(); })) << "never framed";
        EXPECT_TRUE(Activate(&m));
        return m;
    }
};

} // namespace

TEST_F(Desktop, MenuShortcutsWorkWithTheFocusInTheSearchBox) {
    TMainForm& m = Start();
    ASSERT_TRUE(ClickAt(m.SearchEdit, m.SearchEdit->rect().center()));
    ASSERT_TRUE(WaitFor([&] { return m.SearchEdit->lineEdit()->hasFocus(); }));
    ASSERT_TRUE(Type("abc"));
    ASSERT_TRUE(WaitFor([&] { return m.SearchEdit->currentText() == "abc"; }));
    // Each shortcut opens its dialog; the typed word stays.
    const struct {
        const char* keys;
        const char* caption;
    } cases[] = {{"ctrl+a", "Add a new disk C: to the package"},
                 {"ctrl+u", "Update disks' information"},
                 {"ctrl+r", "Remove a disk from the package"},
                 {"ctrl+w", "Package Information 0 item(s)"}};
    for (const auto& k : cases) {
        const size_t before = ui.modals.size();
        ASSERT_TRUE(Key(k.keys));
        ASSERT_TRUE(WaitFor([&] { return ui.modals.size() == before + 1; })) << k.keys;
        EXPECT_EQ(app->CollectForm->windowTitle(), k.caption) << k.keys;
        EXPECT_EQ(m.SearchEdit->currentText(), "abc") << k.keys;
        EXPECT_TRUE(m.SearchEdit->lineEdit()->hasFocus()) << k.keys;
    }
    // Ctrl+S logs the serial; F1 opens the help.
    const int logLines = m.ListBox1->count();
    ASSERT_TRUE(Key("ctrl+s"));
    ASSERT_TRUE(WaitFor([&] { return m.ListBox1->count() == logLines + 1; }));
    ASSERT_TRUE(Key("F1"));
    ASSERT_TRUE(WaitFor([&] { return ui.opened.size() == 1; }));
    EXPECT_TRUE(ui.opened[0].endsWith("help/index.html"));
}

TEST_F(Desktop, PositionRoundTripsThroughTheFrameAndStartsWholeOnScreen) {
    {
        auto s = UserSettings();
        s.setValue("Setup/top", 100);
        s.setValue("Setup/left", 120);
    }
    TMainForm& m = Start();
    ASSERT_TRUE(WaitFor([&] { return FrameGeometry(m).topLeft() == QPoint(120, 100); }))
        << FrameGeometry(m).x() << "," << FrameGeometry(m).y();
    EXPECT_GT(m.geometry().y(), FrameGeometry(m).y()); // the title bar lies above the client
    m.close();
    app.reset();
    EXPECT_EQ(UserSettings().value("Setup/top").toInt(), 100);
    EXPECT_EQ(UserSettings().value("Setup/left").toInt(), 120);

    // A position off the screen brings the whole frame back onto it.
    {
        auto s = UserSettings();
        s.setValue("Setup/top", -300);
        s.setValue("Setup/left", 5000);
    }
    TMainForm& m2 = Start();
    const QRect avail = m2.screen()->availableGeometry();
    ASSERT_TRUE(WaitFor([&] { return avail.contains(FrameGeometry(m2)); }))
        << FrameGeometry(m2).x() << "," << FrameGeometry(m2).y();
    EXPECT_EQ(FrameGeometry(m2).top(), avail.top());
    EXPECT_EQ(FrameGeometry(m2).right(), avail.right());
}

TEST_F(Desktop, WindowsKeepTheirSizeWhenAResizeIsAsked) {
    TMainForm& m = Start();
    const QSize mainSize = m.size();
    ASSERT_TRUE(Xdo({"windowsize", WinId(&m), "700", "700"}));
    // A move after it: once it has arrived, the resize request has been dealt with too.
    const QPoint to = m.pos() + QPoint(10, 10);
    ASSERT_TRUE(Xdo({"windowmove", WinId(&m), QString::number(to.x()),
                     QString::number(to.y())}));
    ASSERT_TRUE(WaitFor([&] { return m.pos() != to - QPoint(10, 10); }));
    EXPECT_EQ(m.size(), mainSize);

    TCollectForm& d = *app->CollectForm;
    d.show();
    ASSERT_TRUE(WaitFor([&] { return FrameGeometry(d) != d.geometry(); }));
    ASSERT_TRUE(Xdo({"windowsize", WinId(&d), "600", "600"}));
    const QPoint was = d.pos();
    ASSERT_TRUE(Xdo({"windowmove", WinId(&d), QString::number(was.x() + 7), QString::number(was.y() + 7)}));
    ASSERT_TRUE(WaitFor([&] { return d.pos() != was; }));
    EXPECT_EQ(d.size(), QSize(298, 350));
}

TEST_F(Desktop, ACheckBoxClickTogglesThatMarkAndShowsThatDiskOnly) {
    TMainForm& m = Start();
    (void)m;
    for (const char* serial : {"111", "222"}) {
        const std::string path = app->ctx.PackageFolder + serial + ".dat";
        WriteHostFile(path, "");
        WriteDiskInfo(app->ctx, path, serial, "01/01/2026 10:00:00", std::string("Disk ") + serial, "d", "a");
    }
    TCollectForm& d = *app->CollectForm;
    d.PrepareMode(TCollectForm::Mode::Update);
    ASSERT_EQ(d.DiskCount(), 2);
    d.show();
    ASSERT_TRUE(WaitFor([&] { return FrameGeometry(d) != d.geometry(); }));
    ASSERT_TRUE(Activate(&d));
    ASSERT_EQ(d.HighlightedIndex(), -1);

    // No disk highlighted: the click on the second disk's box unchecks it and shows it.
    ASSERT_TRUE(ClickAt(d.CollectionLB->viewport(), d.CheckBoxRect(1).center()));
    ASSERT_TRUE(WaitFor([&] { return !d.DiskChecked(1); }));
    EXPECT_TRUE(d.DiskChecked(0));
    EXPECT_EQ(d.HighlightedIndex(), 1);
    EXPECT_EQ(d.Edit1->text(), "Disk 222");
    EXPECT_TRUE(ui.boxes.empty());

    // The first disk's box, with the second highlighted: the first is toggled and shown.
    ASSERT_TRUE(ClickAt(d.CollectionLB->viewport(), d.CheckBoxRect(0).center()));
    ASSERT_TRUE(WaitFor([&] { return !d.DiskChecked(0); }));
    EXPECT_FALSE(d.DiskChecked(1));
    EXPECT_EQ(d.HighlightedIndex(), 0);
    EXPECT_EQ(d.Edit1->text(), "Disk 111");
    EXPECT_TRUE(ui.boxes.empty());
    d.hide();
}

TEST_F(Desktop, ClosingDuringDriveOpenEndsTheWalkAndTheProgram) {
    for (int i = 0; i < 200; ++i) c.MakeDir("d" + std::to_string(i) + "/e");
    TMainForm& m = Start();
    // Each pump of the walk is one directory done; the close arrives after the fifth.
    int pumps = 0, pumpsAtClose = -1;
    auto pump = app->ctx.ProcessMessages;
    app->ctx.ProcessMessages = [&] {
        ++pumps;
        if (pumps == 5) {
            Key("alt+F4"); // the window manager's close
            WaitFor([&] { return !m.isVisible(); });
            pumpsAtClose = pumps;
        }
        pump();
    };
    ASSERT_TRUE(Key("ctrl+o"));
    ASSERT_TRUE(WaitFor([&] { return pumpsAtClose > 0 && !m.StopButton->isVisible(); }));
    EXPECT_FALSE(m.isVisible());
    EXPECT_EQ(pumps, pumpsAtClose); // no directory after the close
    EXPECT_LT(m.DirectoryOutline1.ItemCount(), 401); // 401 when every folder is listed
    EXPECT_EQ(ui.quits, 1);
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(UserSettings().value("Setup/top").toInt(), FrameGeometry(m).top());
}

namespace {
// A property of a window as xprop prints it, after its "=" (empty when it is not set).
QString WindowProperty(const QWidget& w, const char* property) {
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"), {QStringLiteral("-id"), WinId(&w), QString::fromLatin1(property)});
    if (!xprop.waitForFinished(5000)) return {};
    const QString out = QString::fromUtf8(xprop.readAllStandardOutput());
    const int eq = out.indexOf(QLatin1String(" = "));
    return eq < 0 ? QString() : out.mid(eq + 3).trimmed();
}
} // namespace

TEST_F(Desktop, FixedSizeWindowsOfferNoMaximizeAndTheDialogsNoMinimize) {
    TMainForm& m = Start();
    // _MOTIF_WM_HINTS functions: 0x8 minimize, 0x10 maximize, 0x20 close.
    enum { kMinimize = 0x8, kMaximize = 0x10, kClose = 0x20 };
    const struct {
        QWidget* window;
        bool minimize, close;
    } cases[] = {{&m, true, true},
                 {app->CollectForm.get(), false, true},
                 {app->SearchForm.get(), false, true},
                 {app->InfoForm.get(), false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(qPrintable(c.window->windowTitle()));
        if (c.window != &m) {
            c.window->show();
            ASSERT_TRUE(WaitFor([&] { return FrameGeometry(*c.window) != c.window->geometry(); }));
        }
        const QStringList motif = WindowProperty(*c.window, "_MOTIF_WM_HINTS").split(QLatin1String(", "));
        ASSERT_EQ(motif.size(), 5) << qPrintable(motif.join(' '));
        ASSERT_TRUE(motif[0].toUInt(nullptr, 16) & 0x1) << "functions are given";
        const unsigned functions = motif[1].toUInt(nullptr, 16);
        EXPECT_EQ(!!(functions & kMinimize), c.minimize);
        EXPECT_FALSE(functions & kMaximize);
        EXPECT_EQ(!!(functions & kClose), c.close);
        // What the window manager made of them (with the fixed size): no resizing, no
        // maximizing.
        const QString allowed = WindowProperty(*c.window, "_NET_WM_ALLOWED_ACTIONS");
        EXPECT_TRUE(allowed.contains(QLatin1String("_NET_WM_ACTION_MOVE"))) << qPrintable(allowed);
        EXPECT_FALSE(allowed.contains(QLatin1String("_NET_WM_ACTION_RESIZE"))) << qPrintable(allowed);
        EXPECT_FALSE(allowed.contains(QLatin1String("_NET_WM_ACTION_MAXIMIZE"))) << qPrintable(allowed);
        if (c.window != &m) c.window->hide();
    }
}

TEST_F(Desktop, ADoubleClickOrEnterOnAReportRowOpensThatDisksMatches) {
    TMainForm& m = Start();
    const std::string info = "[Special Information about this disk by Quindle]\r\n";
    WriteHostFile(app->ctx.PackageFolder + "111.dat",
                  "\r\n[E:\\]\r\nreadme.txt=1\r\n\r\n[Docs]\r\nold readme.doc=1\r\n\r\n" + info + "Title=First\r\n");
    WriteHostFile(app->ctx.PackageFolder + "222.dat", "\r\n[Music]\r\nREADME=1\r\n\r\n" + info + "Title=Second\r\n");
    app->CollectForm->RefreshDiskList();

    TSearchForm& report = *app->SearchForm;
    TMatchesForm& matches = *report.MatchesForm;
    std::vector<QStringList> shown; // the rows of each matches window, while it was on screen
    bool reportStayed = true;
    ui.onModal = [&](QDialog* d) {
        if (d == &matches) {
            matches.show();
            EXPECT_TRUE(WaitFor([&] { return matches.frameGeometry() != matches.geometry(); }));
            EXPECT_TRUE(Activate(&matches));
            QStringList rows;
            for (int r = 0; r < matches.Model->rowCount(); ++r)
                rows << matches.Model->index(r, 0).data().toString() + "|" + matches.Model->index(r, 1).data().toString();
            shown.push_back(rows);
            // Esc ends this window only; the report below stays.
            EXPECT_TRUE(Key("Escape"));
            EXPECT_TRUE(WaitFor([&] { return !matches.isVisible(); }));
            QCoreApplication::processEvents();
            reportStayed = reportStayed && report.isVisible();
            return int(mrCancel);
        }
        EXPECT_EQ(d, &report);
        report.show();
        EXPECT_TRUE(WaitFor([&] { return report.frameGeometry() != report.geometry(); }));
        EXPECT_TRUE(Activate(&report));
        QTableWidget* grid = report.SearchSG;
        const QPoint g = grid->viewport()->mapToGlobal(grid->visualRect(grid->model()->index(1, 0)).center());
        EXPECT_TRUE(Xdo({"mousemove", QString::number(g.x()), QString::number(g.y()), "click", "--repeat", "2",
                         "--delay", "80", "1"}));
        EXPECT_TRUE(WaitFor([&] { return shown.size() == 1; })) << "no window on the double-click";
        EXPECT_TRUE(Activate(&report));
        EXPECT_TRUE(Key("Down"));
        EXPECT_TRUE(WaitFor([&] { return grid->currentRow() == 2; }));
        EXPECT_TRUE(Key("Return"));
        EXPECT_TRUE(WaitFor([&] { return shown.size() == 2; })) << "no window on Enter";
        report.hide();
        return int(mrCancel);
    };
    m.SearchEdit->setEditText("readme");
    m.SearchButtonClick();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], (QStringList{"Docs|old readme.doc", "E:\\|readme.txt"}));
    EXPECT_EQ(shown[1], QStringList{"Music|README"});
    EXPECT_TRUE(reportStayed);
    EXPECT_TRUE(ui.errors.empty());
}
