// Which commands a running walk leaves usable: every walk owns the main window's tree and
// lister until it ends, and a walk that writes a record also keeps the package from other
// writes. Each kind of walk, ended by completion, by Stop (or Abort) and by an error.
#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>

#include "support/TempDrive.h"
#include "ui/app/Application.h"
#include "ui/widgets/DriveComboView.h"
#include "ui/widgets/OvalButton.h"
#include "ui/ScriptedUi.h"

using namespace quindle;
using quindle::test::TempDrive;

namespace {

constexpr uint32_t kSerial = 77u;

QSettings UserSettings() { return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Tavrel", "Quindle"); }

// The program with drive C and a disk E of the package (memorized once, announced by the
// mount watch so that "Memorize E: again" is there), E chosen in the selector.
struct Program {
    TempDrive c{'C', 1u};
    TempDrive e{'E', kSerial};
    TempDrive w{'W', 6u}; // mapped only during a walk
    QTemporaryDir programDir;
    test::ScriptedUi ui;
    std::unique_ptr<Application> app;
    TMainForm* m = nullptr;

    Program() {
        auto s = UserSettings();
        s.clear();
        s.setValue("Drives/C/path", QString::fromStdString(c.path()));
        s.setValue("Drives/C/serial", 1);
        s.setValue("Drives/E/path", QString::fromStdString(e.path()));
        s.setValue("Drives/E/serial", kSerial);
        s.sync();
        for (const char* file : {"a/1.txt", "a/b/2.txt", "c/3.txt", "c/d/e/4.txt", "5.txt"}) e.MakeFile(file, "x");
        app = std::make_unique<Application>(ui, programDir.path() + "/quindle");
        m = app->MainForm.get();
        m->DriveComboBox1.BuildList();
        m->DriveComboBox1.SetDrive('E');
        AddE();
        app->Watch->MountTableChanged();
    }
    ~Program() { UserSettings().clear(); }

    void AddE() {
        m->Add1->trigger();
        app->CollectForm->Edit1->setText("Disk E");
        app->CollectForm->ActionButton->OnClick(app->CollectForm->ActionButton);
    }
    std::string Record() const { return test::ReadHostFile(app->ctx.PackageFolder + std::to_string(kSerial) + ".dat"); }
    bool WMapped() const { return app->ctx.platform.DriveRootHost('W') == w.path(); }
    QString LastLog() const { return m->ListBox1->item(m->ListBox1->count() - 1)->text(); }

    // The names of the commands that are disabled now, among those a person can reach.
    QStringList Disabled() const {
        QStringList names;
        for (const QAction* a : {m->View1, m->Add1, m->Update1, m->Remove1, m->FindFiles1, app->Watch->UpdateConnected1,
                                 app->Copies1, app->Unique1, m->Open1, m->Getvolumeserial1, m->Contents1, m->About1})
            if (!a->isEnabled()) names << a->objectName();
        for (const QWidget* w : {static_cast<QWidget*>(m->DriveComboView1), static_cast<QWidget*>(m->SearchEdit),
                                 static_cast<QWidget*>(m->SearchButton)})
            if (!w->isEnabled()) names << w->objectName();
        names.sort();
        return names;
    }
};

enum class Walk { Open, Add, MemorizeAgain };
enum class End { Complete, Stop, Error, NotReady };

const QStringList kTreeCommands = {"Add1", "DriveComboBox1", "Open1", "UpdateConnected1"};
const QStringList kRecordCommands = {"Add1", "DriveComboBox1", "Open1", "Remove1", "Update1", "UpdateConnected1"};

} // namespace

TEST(WalkGuard, EachWalkDisablesWhatWouldDisturbItUntilItEndsHoweverItEnds) {
    const struct {
        const char* name;
        Walk walk;
        End end;
        QStringList disabled; // during the walk
        const char* result;   // the log's last line, or the dialog's last box, at the end
    } cases[] = {
        {"Open", Walk::Open, End::Complete, kTreeCommands, nullptr},
        {"Open, Stop", Walk::Open, End::Stop, kTreeCommands, "Operation aborted by user"},
        {"Open, not ready", Walk::Open, End::NotReady, {}, nullptr},
        {"Add", Walk::Add, End::Complete, kRecordCommands, "Ok, the disk has been memorized!"},
        {"Add, Abort", Walk::Add, End::Stop, kRecordCommands, "Memorizing that disk was not complete."},
        {"Add, disk gone", Walk::Add, End::Error, kRecordCommands, "Memorizing that disk was not complete."},
        {"again", Walk::MemorizeAgain, End::Complete, kRecordCommands, "Changes since"},
        {"again, Stop", Walk::MemorizeAgain, End::Stop, kRecordCommands, "Memorizing that disk was not complete."},
        {"again, disk gone", Walk::MemorizeAgain, End::Error, kRecordCommands,
         "Memorizing that disk was not complete."},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        Program p;
        TMainForm& m = *p.m;
        TCollectForm& form = *p.app->CollectForm;
        ASSERT_EQ(p.Disabled().join(' ').toStdString(), "");
        const std::string before = p.Record();
        const std::string away = p.e.path() + ".away";

        int pumps = 0;
        QStringList during;
        bool wMappedDuring = true;
        p.app->ctx.ProcessMessages = [&] {
            // The pumps of the walk itself (the dialog pumps once before it).
            if (!form.Memorizing() && m.StopButton->isHidden()) return;
            ++pumps;
            // The root is walked between the first pump and the second.
            if (pumps == 2 && k.end == End::Error) std::filesystem::rename(p.e.path(), away); // the disk leaves
            if (pumps != 1) return;
            during = p.Disabled();
            if (k.end == End::Stop) {
                if (k.walk == Walk::Add)
                    QTest::mouseClick(form.AbortButton, Qt::LeftButton, {}, QPoint(36, 13));
                else
                    QTest::mouseClick(m.StopButton, Qt::LeftButton, {}, QPoint(36, 12));
            } else if (k.end == End::Complete) {
                // A drive mapped meanwhile: the mount watch waits for the walk's end to read
                // the table again, the walk goes on over the table it started with.
                auto s = UserSettings();
                s.setValue("Drives/W/path", QString::fromStdString(p.w.path()));
                s.sync();
                p.app->Watch->MountTableChanged();
                wMappedDuring = p.WMapped();
            }
        };
        p.ui.boxes.clear();
        if (k.end == End::NotReady) std::filesystem::rename(p.e.path(), away);
        switch (k.walk) {
        case Walk::Open: m.Open1->trigger(); break;
        case Walk::Add: p.AddE(); break;
        case Walk::MemorizeAgain: p.app->Watch->UpdateConnected1->trigger(); break;
        }
        p.app->ctx.ProcessMessages = nullptr;
        if (k.end == End::Error || k.end == End::NotReady) std::filesystem::rename(away, p.e.path());

        if (k.end == End::NotReady) {
            ASSERT_FALSE(p.ui.boxes.empty());
            EXPECT_EQ(p.ui.boxes.back().caption, "Disk not found");
        } else {
            ASSERT_GE(pumps, k.end == End::Error ? 2 : 1) << "the walk never ran";
        }
        EXPECT_EQ(during.join(' ').toStdString(), k.disabled.join(' ').toStdString());
        EXPECT_EQ(p.Disabled().join(' ').toStdString(), "") << "a command stayed disabled after the walk";
        EXPECT_TRUE(m.StopButton->isHidden());
        if (k.result) {
            const QString result = k.walk == Walk::Add ? p.ui.boxes.back().text : p.LastLog();
            EXPECT_TRUE(result.startsWith(QString::fromLatin1(k.result))) << result.toStdString();
        }
        if (k.end == End::Error) {
            EXPECT_EQ(p.Record(), before) << "a walk that failed replaced the record";
        }
        if (k.end == End::Complete) {
            EXPECT_FALSE(wMappedDuring);
            QElapsedTimer t;
            t.start();
            while (!p.WMapped() && t.elapsed() < 3000) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            EXPECT_TRUE(p.WMapped()) << "the mount watch never caught up";
        }
    }
}

TEST(WalkGuard, NoWalkStartsInsideAnotherNorFromTheKeysOfDisabledCommands) {
    Program p;
    TMainForm& m = *p.m;
    m.show();
    QApplication::setActiveWindow(&m);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&m));
    m.SearchEdit->lineEdit()->setFocus();
    // Drive > Open would reset the tree to C.
    m.DriveComboBox1.SetDrive('C');
    const std::string before = p.Record();
    int pumps = 0, walks = 0;
    long lastFolders = 0;
    size_t modals = 0;
    p.app->ctx.ProcessMessages = [&] {
        const long folders = p.app->ctx.Progress.folders;
        if (pumps == 0 || folders < lastFolders) ++walks; // a memorization starts its figures afresh
        lastFolders = folders;
        if (++pumps != 2) return;
        modals = p.ui.modals.size();
        // Each command called as its menu item or its key would: none may start a walk.
        m.Open1Click();
        p.app->Watch->UpdateConnected1Click();
        m.Add1->trigger();
        QTest::keyClick(m.SearchEdit->lineEdit(), Qt::Key_U, Qt::ControlModifier); // Update
        QTest::keyClick(m.SearchEdit->lineEdit(), Qt::Key_O, Qt::ControlModifier); // Open
        EXPECT_EQ(p.ui.modals.size(), modals) << "a package dialog opened during the walk";
    };
    p.app->Watch->UpdateConnected1->trigger();
    p.app->ctx.ProcessMessages = nullptr;
    EXPECT_GE(pumps, 2);
    EXPECT_EQ(walks, 1);
    EXPECT_EQ(p.LastLog().left(13), "Changes since");
    EXPECT_EQ(m.DirectoryOutline1.Drive(), 'E');
    EXPECT_EQ(p.Record().size(), before.size());
    // Afterwards the keys are the commands' again.
    QTest::keyClick(m.SearchEdit->lineEdit(), Qt::Key_U, Qt::ControlModifier);
    EXPECT_EQ(p.ui.modals.size(), modals + 1);
}
