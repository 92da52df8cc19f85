// Package > "Verify E:...": the disk in its drive read again in a window of its own, with the
// drives mapped in the settings file as a user maps them.
#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "catalogue/DiskCatalogue.h"
#include "support/TempDrive.h"
#include "ui/ProgramRig.h"
#include "ui/ScriptedUi.h"
#include "ui/WaitFor.h"
#include "ui/app/Application.h"
#include "ui/app/DiskWatch.h"
#include "ui/lists/EntryListWindow.h"
#include "ui/package/CollectForm.h"
#include "ui/widgets/OvalButton.h"

using namespace quindle;
using quindle::test::TempDrive;

namespace {

constexpr uint32_t kSerial = 77001u;

struct Rig : test::ProgramRig {
    Rig() : ProgramRig(kSerial) {}
    // Package > Add of drive E, checksums as asked.
    QString Add(bool checksums) {
        app->MainForm->Add1Click();
        TCollectForm& form = *app->CollectForm;
        form.Edit1->setText("Photos");
        form.ChecksumsBox->setChecked(checksums);
        form.ActionButton->OnClick(form.ActionButton);
        return ui.boxes.empty() ? QString() : ui.boxes.back().text;
    }
    // The Package menu's commands as it shows them when opened.
    QStringList MenuTexts() const {
        QMenu& menu = *app->MainForm->Collection1;
        menu.popup(QPoint(0, 0));
        menu.hide();
        QStringList out;
        for (QAction* a : app->MainForm->Collection1->actions()) out << a->text();
        return out;
    }
    TEntryListWindow* Verify() {
        MenuTexts();
        const auto& actions = app->Watch->VerifyActions();
        EXPECT_EQ(actions.size(), 1u);
        if (actions.empty()) return nullptr;
        actions[0]->trigger();
        auto windows = app->MainForm->findChildren<TEntryListWindow*>();
        return windows.isEmpty() ? nullptr : windows.back();
    }
    std::string LastLog() const {
        const int n = app->MainForm->ListBox1->count();
        return n ? app->MainForm->ListBox1->item(n - 1)->text().toStdString() : std::string();
    }
    // Every file of the package folder and its bytes.
    std::map<std::string, std::string> PackageFiles() const {
        std::map<std::string, std::string> out;
        for (const auto& f : std::filesystem::directory_iterator(app->ctx.PackageFolder))
            out[f.path().filename().string()] = test::ReadHostFile(f.path().string());
        return out;
    }
};

void SetMtime(const std::string& path, time_t t) {
    const timespec times[2] = {{t, 0}, {t, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

} // namespace

TEST(VerifyWindow, ListsWhatDiffersFromTheCatalogueAndLogsTheCounts) {
    Rig rig;
    const std::string photo = rig.e.MakeFile("2019/beach.jpg", std::string(70000, 'b'));
    rig.e.MakeFile("2019/gone.jpg", "g");
    const std::string notes = rig.e.MakeFile("notes.txt", "first");
    rig.e.MakeFile("same.txt", "s");
    SetMtime(photo, 1500000000);
    SetMtime(notes, 1500000000);
    rig.Start();
    // No disk of the package yet: nothing to verify.
    EXPECT_TRUE(rig.app->Watch->VerifyActions().empty());
    ASSERT_EQ(rig.Add(true), "Ok, the disk has been memorized!");
    // Only the disk of the package in a drive is offered, right after Memorize again.
    const QStringList menu = rig.MenuTexts();
    ASSERT_TRUE(menu.contains("Verify E:...")) << menu.join('|').toStdString();
    EXPECT_FALSE(menu.contains("Verify C:..."));
    EXPECT_EQ(menu.indexOf("Verify E:..."), menu.indexOf("Memorize E: again") + 1);

    // One byte of the photo rots, its date put back; a file goes, one comes, one is rewritten.
    {
        const int fd = open(photo.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(pwrite(fd, "X", 1, 65536), 1);
        close(fd);
    }
    SetMtime(photo, 1500000000);
    std::filesystem::remove(rig.e.path() + "/2019/gone.jpg");
    rig.e.MakeFile("2019/new.jpg", "new");
    test::WriteHostFile(notes, "second version");
    const auto before = rig.PackageFiles();

    TEntryListWindow* w = rig.Verify();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->windowTitle(), "Verify E: Photos (77001)");
    ASSERT_TRUE(test::WaitFor([&] { return !w->Loading(); }, 20000));
    EXPECT_EQ(w->Summary().toStdString(), "2 same, 2 changed (1 silent), 1 missing, 1 added, 0 unreadable");
    std::map<std::string, QStringList> rows;
    for (int r = 0; r < w->ShownRows(); ++r) rows[w->ShownRow(r)[4].toStdString()] = w->ShownRow(r);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows["E:\\2019\\beach.jpg"][0], "changed");
    EXPECT_EQ(rows["E:\\2019\\beach.jpg"][5], "70,000");
    EXPECT_EQ(rows["E:\\2019\\beach.jpg"][7], "silent: the same size and date");
    EXPECT_EQ(rows["E:\\notes.txt"][0], "changed");
    EXPECT_EQ(rows["E:\\notes.txt"][7], "");
    EXPECT_EQ(rows["E:\\2019\\gone.jpg"][0], "missing");
    EXPECT_EQ(rows["E:\\2019\\new.jpg"][0], "added");
    EXPECT_EQ(rig.LastLog(), "Verified E: Photos (77001): 2 same, 2 changed (1 silent), 1 missing, 1 added, 0 unreadable");
    w->FilterEdit->setText("BEACH");
    EXPECT_EQ(w->ShownRows(), 1);
    EXPECT_NE(w->CsvText().find("changed,file,70000,"), std::string::npos) << w->CsvText();
    // Verifying writes nothing.
    EXPECT_EQ(rig.PackageFiles(), before);
    delete w;
}

TEST(VerifyWindow, WithoutChecksumsOrCatalogueItSaysWhatItCouldNotDo) {
    Rig rig;
    // Counts as the windows show numbers: grouped.
    for (int i = 0; i < 1200; ++i) rig.e.MakeFile("a" + std::to_string(i) + ".txt", "a");
    rig.Start();
    ASSERT_EQ(rig.Add(false), "Ok, the disk has been memorized!");
    TEntryListWindow* w = rig.Verify();
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(test::WaitFor([&] { return !w->Loading(); }, 20000));
    EXPECT_EQ(w->Summary().toStdString(),
              "1,200 same, 0 changed (0 silent), 0 missing, 0 added, 0 unreadable; contents not compared: memorized "
              "without checksums");
    EXPECT_EQ(rig.LastLog(), "Verified E: Photos (77001): 1,200 same, 0 changed (0 silent), 0 missing, 0 added, 0 "
                             "unreadable; sizes and dates only: the disk was memorized without checksums");
    delete w;

    // A catalogue that is gone: the reason, and nothing in the log.
    std::filesystem::remove(CataloguePathOf(rig.app->ctx.PackageFolder + std::to_string(kSerial) + ".dat"));
    const int logLines = rig.app->MainForm->ListBox1->count();
    w = rig.Verify();
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(test::WaitFor([&] { return !w->Loading(); }, 20000));
    EXPECT_EQ(w->Summary().toStdString(),
              "The list could not be made: Photos (77001): no catalogue; memorize E: again before verifying it");
    EXPECT_EQ(w->ShownRows(), 0);
    EXPECT_EQ(rig.app->MainForm->ListBox1->count(), logLines);
    delete w;
}

TEST(VerifyWindow, CancelInTheMiddleStopsReadingAndLeavesThePackageAsItWas) {
    Rig rig;
    // 32 GB of holes: read as fast as memory goes (seconds), long enough to be caught reading.
    const std::string big = rig.e.MakeFile("big.img");
    ASSERT_EQ(truncate(big.c_str(), off_t{32} << 30), 0);
    rig.Start();
    ASSERT_EQ(rig.Add(true), "Ok, the disk has been memorized!");
    const auto before = rig.PackageFiles();
    TEntryListWindow* w = rig.Verify();
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(w->Loading());
    EXPECT_TRUE(w->CancelButton->isVisible());
    // Bytes, speed and time left while it reads.
    ASSERT_TRUE(test::WaitFor([&] { return w->Summary().contains(" GB/s, "); }, 20000));
    ASSERT_TRUE(w->Loading()) << "read to its end before it could be cancelled";
    EXPECT_TRUE(w->Summary().startsWith("Verifying E: ")) << w->Summary().toStdString();
    EXPECT_TRUE(w->Summary().contains(" left")) << w->Summary().toStdString();
    const int logLines = rig.app->MainForm->ListBox1->count();
    w->CancelButton->OnClick(w->CancelButton);
    ASSERT_TRUE(test::WaitFor([&] { return !w->Loading(); }, 5000));
    EXPECT_EQ(w->Summary().toStdString(), "Cancelled");
    EXPECT_EQ(w->ShownRows(), 0);
    EXPECT_EQ(rig.app->MainForm->ListBox1->count(), logLines);
    EXPECT_EQ(rig.PackageFiles(), before);
    delete w;

    // Closed while reading: its worker ends on its own and nothing reaches the window.
    w = rig.Verify();
    ASSERT_NE(w, nullptr);
    delete w;
    QTest::qWait(300);
    EXPECT_TRUE(rig.app->MainForm->findChildren<TEntryListWindow*>().isEmpty());
    EXPECT_EQ(rig.PackageFiles(), before);
}
