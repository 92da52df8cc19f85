// A disk of the package memorized again from the Package menu, with real clicks and keys
// arriving while its walk runs: Drive > Open's Ctrl+O and a second "Memorize E: again".
// Every walk shares the main window's tree and lister, so neither may run inside it: the
// record must come out as quindle-cli add writes it for the same folder.
#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QKeyEvent>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "DesktopSupport.h"
#include "catalogue/DiskCatalogue.h"
#include "support/TempDrive.h"
#include "ui/app/Application.h"
#include "ui/app/DiskWatch.h"
#include "ui/main/MainForm.h"
#include "ui/widgets/OvalButton.h"
#include "ui/ScriptedUi.h"
#include "ui/frames/WindowFrame.h"

using namespace quindle;
using namespace quindle::test;

namespace {

const std::string kInfo = "Special Information about this disk by Quindle";
constexpr uint32_t kSerial = 5150u;
constexpr int kTops = 200, kSubs = 99;
constexpr int kFolders = kTops * (kSubs + 1) + 1; // with the root
// Where the keys go in: early enough that the walk has most of its folders ahead.
constexpr long kKeysAt = 1000;

QSettings UserSettings() { return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Tavrel", "Quindle"); }

// A record without its memorization date, which two walks of a disk differ in.
std::string WithoutDate(const std::string& record) {
    std::string out;
    size_t at = 0;
    while (at < record.size()) {
        size_t end = record.find("\r\n", at);
        end = end == std::string::npos ? record.size() : end + 2;
        if (record.compare(at, 18, "Memorization Date=") != 0) out.append(record, at, end - at);
        at = end;
    }
    return out;
}

std::set<std::string> CatalogueEntries(const Catalogue& c) {
    std::set<std::string> out;
    for (size_t i = 1; i < c.Count(); ++i)
        out.insert(std::string(c.Kind(i) == EntryKind::Folder ? "d " : "f ") + c.Path(i, '/'));
    return out;
}

// A folder in memory (tmpfs) where there is one: tens of thousands of entries are made and
// removed again in a fraction of the time a loaded disk takes.
class MemoryDir {
public:
    MemoryDir() {
        std::error_code ec;
        const bool shm = std::filesystem::is_directory("/dev/shm", ec) && access("/dev/shm", W_OK) == 0;
        std::string tmpl = (shm ? std::filesystem::path("/dev/shm") : std::filesystem::temp_directory_path()).string() +
                           "/quindle-test-XXXXXX";
        if (mkdtemp(tmpl.data())) path_ = tmpl;
    }
    ~MemoryDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Drive E: a disk of 20,000 folders with a file in each, already in the package as
// quindle-cli add wrote it; drive C: a few folders of its own, which no walk of E may take.
struct WalkOwnsTheTree : ::testing::Test {
    static inline MemoryDir* disk = nullptr;
    TempDir c;
    QTemporaryDir programDir;
    ScriptedUi ui;
    std::unique_ptr<Application> app;
    std::string package, record, cliRecord;

    static void SetUpTestSuite() {
        if (!HaveDesktop()) return;
        disk = new MemoryDir;
        ASSERT_FALSE(disk->path().empty());
        for (int t = 0; t < kTops; ++t)
            for (int s = 0; s <= kSubs; ++s) {
                std::string dir = disk->path() + "/top" + std::to_string(t);
                if (s > 0) dir += "/sub" + std::to_string(s);
                ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
                const int fd = open((dir + "/f" + std::to_string(s) + ".txt").c_str(),
                                    O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
                ASSERT_GE(fd, 0);
                close(fd);
            }
    }
    static void TearDownTestSuite() {
        delete disk;
        disk = nullptr;
    }

    void SetUp() override {
        if (!HaveDesktop()) GTEST_SKIP() << "no X display";
        for (const char* f : {"usr/bin/tool", "var/log/syslog", "work/notes.txt"}) c.MakeFile(f, "c");
        auto s = UserSettings();
        s.clear();
        s.setValue("Drives/C/path", QString::fromStdString(c.path()));
        s.setValue("Drives/C/serial", 1);
        s.setValue("Drives/E/path", QString::fromStdString(disk->path()));
        s.setValue("Drives/E/serial", kSerial);
        s.setValue("Drives/E/kind", "removable");
        s.sync();
        // The program's package is data/ beside it: quindle-cli puts the disk there first.
        package = programDir.path().toStdString() + "/data";
        ASSERT_EQ(mkdir(package.c_str(), 0755), 0);
        record = package + "/" + std::to_string(kSerial) + ".dat";
        QProcess cli;
        cli.start(QStringLiteral(QUINDLE_BINARY_DIR "/quindle-cli"),
                  {QStringLiteral("--package"), QString::fromStdString(package), QStringLiteral("add"),
                   QStringLiteral("E:"), QStringLiteral("--title"), QStringLiteral("Twenty thousand")});
        ASSERT_TRUE(cli.waitForFinished(60000));
        ASSERT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
        cliRecord = ReadHostFile(record);
        ASSERT_NE(cliRecord.find("\r\n[top199]\r\n"), std::string::npos);

        app = std::make_unique<Application>(ui, programDir.path() + "/quindle");
        ASSERT_EQ(app->ctx.PackageFolder, package + "/");
        TMainForm& m = *app->MainForm;
        m.show();
        ASSERT_TRUE(WaitFor([&] { return FrameGeometry(m) != m.geometry(); })) << "never framed";
        ASSERT_TRUE(Activate(&m));
        ASSERT_EQ(app->Watch->UpdateConnected1->text(), QStringLiteral("Memorize E: again"));
        ASSERT_TRUE(app->Watch->UpdateConnected1->isEnabled());
        ASSERT_EQ(m.DriveComboBox1.Drive(), 'C');
    }
    void TearDown() override {
        if (HasFailure()) {
            const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
            Screenshot(QStringLiteral("%1.%2").arg(info->test_suite_name(), info->name()));
        }
        app.reset();
        UserSettings().clear();
    }

    TMainForm& Main() { return *app->MainForm; }
    QAction* MemorizeAgain() { return app->Watch->UpdateConnected1; }

    // A real click on the menu bar's Package; the menu is open once the events are pumped.
    void OpenPackageMenu() {
        QMenuBar* bar = Main().menuBar();
        ClickAt(bar, bar->actionGeometry(Main().Collection1->menuAction()).center());
    }
    void ClickMemorizeAgain() {
        QMenu* menu = Main().Collection1;
        ClickAt(menu, menu->actionGeometry(MemorizeAgain()).center());
    }

    // Package > "Memorize E: again" with the mouse; `duringWalk` runs in every pump of the
    // walk. Returns once the walk has ended (its result is in the log).
    void MemorizeAgainWithTheMouse(const std::function<void()>& duringWalk) {
        const auto pump = app->ctx.ProcessMessages;
        app->ctx.ProcessMessages = [&, pump] {
            duringWalk();
            pump();
        };
        OpenPackageMenu();
        ASSERT_TRUE(WaitFor([&] { return Main().Collection1->isVisible(); }));
        const int logLines = Main().ListBox1->count();
        ClickMemorizeAgain();
        ASSERT_TRUE(WaitFor(
            [&] {
                for (int i = logLines; i < Main().ListBox1->count(); ++i) {
                    const QString line = Main().ListBox1->item(i)->text();
                    if (line == "Ok, the disk has been memorized!" || line == "Memorizing that disk was not complete.")
                        return true;
                }
                return false;
            },
            90000))
            << "the walk never ended";
        app->ctx.ProcessMessages = pump;
    }

    int OkLines() {
        int n = 0;
        for (int i = 0; i < Main().ListBox1->count(); ++i)
            n += Main().ListBox1->item(i)->text() == QStringLiteral("Ok, the disk has been memorized!");
        return n;
    }

    // The record and its catalogue are exactly what quindle-cli add wrote for the disk.
    void ExpectTheDiskAlone() {
        const std::string now = ReadHostFile(record);
        // (Not EXPECT_EQ: a record of 20,000 lines would fill the log.)
        EXPECT_TRUE(WithoutDate(now) == WithoutDate(cliRecord))
            << "the record differs from quindle-cli add's: " << now.size() << " bytes against " << cliRecord.size();
        for (const char* foreign : {"\r\n[usr]\r\n", "\r\n[var]\r\n", "\r\n[work]\r\n"})
            EXPECT_EQ(now.find(foreign), std::string::npos) << "a section of drive C: " << foreign + 2;
        const DiskCatalogue mine = OpenDiskCatalogue(record, kInfo);
        ASSERT_TRUE(mine.catalogue) << CatalogueProblemText(mine.problem);
        EXPECT_TRUE(mine.catalogue->header.figures.complete);
        EXPECT_EQ(mine.catalogue->header.figures.root, "E:\\");
        const std::set<std::string> entries = CatalogueEntries(*mine.catalogue);
        EXPECT_EQ(entries.size(), 2u * (kFolders - 1));
        EXPECT_EQ(entries.count("d top199/sub99"), 1u);
        EXPECT_EQ(entries.count("d usr"), 0u);
        // The tree is the walk's: drive E, every folder.
        EXPECT_EQ(Main().DirectoryOutline1.Drive(), 'E');
        EXPECT_EQ(Main().DirectoryOutline1.ItemCount(), kFolders);
    }
};

// Sees Ctrl+O arrive at the main window, and whether the walk was running then.
struct CtrlOSeen : QObject {
    TMainForm& m;
    const AppContext& ctx;
    int duringWalk = 0;
    CtrlOSeen(TMainForm& main, const AppContext& c) : m(main), ctx(c) {}
    bool eventFilter(QObject*, QEvent* e) override {
        // Every key that may be a shortcut is offered to the focus widget first, enabled
        // command or not.
        if (e->type() == QEvent::ShortcutOverride) {
            const auto* k = static_cast<QKeyEvent*>(e);
            if (k->key() == Qt::Key_O && k->modifiers() == Qt::ControlModifier && !m.StopButton->isHidden() &&
                ctx.Progress.folders < kFolders)
                ++duringWalk;
        }
        return false;
    }
};

} // namespace

TEST_F(WalkOwnsTheTree, CtrlOPressedWhileADiskIsMemorizedAgainLeavesItsRecordWhole) {
    TMainForm& m = Main();
    // A word in the search box, which has the focus again once the menu has closed.
    ASSERT_TRUE(ClickAt(m.SearchEdit, m.SearchEdit->rect().center()));
    ASSERT_TRUE(WaitFor([&] { return m.SearchEdit->lineEdit()->hasFocus(); }));
    ASSERT_TRUE(Type(QStringLiteral("word")));
    ASSERT_TRUE(WaitFor([&] { return m.SearchEdit->currentText() == QStringLiteral("word"); }));
    CtrlOSeen seen(m, app->ctx);
    qApp->installEventFilter(&seen);
    bool pressed = false, openShown = false;
    MemorizeAgainWithTheMouse([&] {
        if (pressed || app->ctx.Progress.folders < kKeysAt) return;
        pressed = true;
        // The walk is running: Stop shows, and Drive > Open (and its key) is refused.
        EXPECT_TRUE(m.StopButton->isVisible());
        openShown = m.Open1->isEnabled();
        Key(QStringLiteral("ctrl+o"));
        // Update's key, refused as well, is not the line edit's "erase the line" either.
        Key(QStringLiteral("ctrl+u"));
    });
    qApp->removeEventFilter(&seen);
    ASSERT_TRUE(pressed);
    ASSERT_GE(seen.duringWalk, 1) << "Ctrl+O did not arrive while the walk ran";
    EXPECT_FALSE(openShown) << "Drive > Open was enabled during the walk";
    EXPECT_EQ(m.SearchEdit->currentText().toStdString(), "word");
    EXPECT_EQ(OkLines(), 1);
    ExpectTheDiskAlone();
    EXPECT_TRUE(m.StopButton->isHidden());
    // Once the walk has ended, the commands are back.
    EXPECT_TRUE(m.Open1->isEnabled());
    EXPECT_TRUE(MemorizeAgain()->isEnabled());
}

TEST_F(WalkOwnsTheTree, ASecondMemorizeAgainClickedDuringTheFirstStartsNoWalk) {
    TMainForm& m = Main();
    // The menu opened and the item clicked with the mouse while the first walk runs.
    enum { Waiting, MenuAsked, ItemClicked } step = Waiting;
    bool itemEnabled = true;
    long restarts = 0, lastFolders = 0;
    MemorizeAgainWithTheMouse([&] {
        const long folders = app->ctx.Progress.folders;
        if (folders < lastFolders) ++restarts; // a walk starts its figures afresh
        lastFolders = folders;
        if (step == Waiting && folders >= kKeysAt) {
            step = MenuAsked;
            EXPECT_TRUE(m.StopButton->isVisible());
            OpenPackageMenu();
        } else if (step == MenuAsked && m.Collection1->isVisible()) {
            step = ItemClicked;
            itemEnabled = MemorizeAgain()->isEnabled();
            ClickMemorizeAgain();
        }
    });
    ASSERT_EQ(step, ItemClicked) << "the menu never opened during the walk";
    EXPECT_FALSE(itemEnabled) << "\"Memorize E: again\" was enabled during its own walk";
    EXPECT_EQ(restarts, 0) << "a second walk ran";
    // A click on a disabled item leaves its menu open.
    if (m.Collection1->isVisible()) {
        Key(QStringLiteral("Escape"));
        EXPECT_TRUE(WaitFor([&] { return !m.Collection1->isVisible(); }));
    }
    EXPECT_EQ(OkLines(), 1);
    ExpectTheDiskAlone();
    EXPECT_TRUE(MemorizeAgain()->isEnabled());
}
