#include <QComboBox>
#include <QKeyEvent>
#include <QListWidget>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include <sys/stat.h>
#include <unistd.h>
#include <memory>

#include "support/TempDrive.h"
#include "ui/app/Application.h"
#include "ui/ScriptedUi.h"

using namespace quindle;
using quindle::test::TempDrive;
using quindle::test::WriteHostFile;

namespace {

const std::string kInfo = "Special Information about this disk by Quindle";

std::string SearchRecord(const std::string& title, const std::string& body) {
    return "\r\n[E:\\]\r\n" + body + "\r\n[" + kInfo + "]\r\nVolume Serial=1\r\nMemorization Date=07/12/2026\r\nTitle=" +
           title + "\r\nDescription=\r\nAdditional=\r\n";
}

using Rows = std::vector<std::pair<QString, QString>>;

// The program with a package of three records; every report shown is captured.
struct SearchRig {
    QTemporaryDir progDir;
    test::ScriptedUi ui;
    TempDrive c{'C', 1u};
    std::unique_ptr<Application> app;
    std::vector<Rows> reports;
    size_t errorsWhileShown = 0;

    SearchRig() {
        QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Tavrel", "Quindle");
        QFile::remove(s.fileName());
        app = std::make_unique<Application>(ui, progDir.path() + "/quindle");
        c.MapInto(app->ctx.platform);
        WriteHostFile(Package("100.dat"), SearchRecord("Alpha", "abc.txt=1\r\nABC.doc=2\r\n"));
        WriteHostFile(Package("200.dat"), SearchRecord("Beta", "xyz.txt=1\r\n"));
        WriteHostFile(Package("300.dat"), SearchRecord("", "aBc=1\r\n"));
        app->CollectForm->RefreshDiskList();
        ui.onModal = [this](QDialog* d) {
            EXPECT_EQ(d, app->SearchForm.get());
            errorsWhileShown = ui.errors.size();
            Rows rows;
            for (int r = 0; r < app->SearchForm->RowCount(); ++r)
                rows.emplace_back(app->SearchForm->Cell(0, r), app->SearchForm->Cell(1, r));
            reports.push_back(rows);
            return int(mrCancel);
        };
    }
    std::string Package(const std::string& name) const { return app->ctx.PackageFolder + name; }
    void Search(const QString& word) {
        app->MainForm->SearchEdit->setEditText(word);
        app->MainForm->SearchButtonClick();
    }
    QStringList Log() const {
        QStringList l;
        for (int i = 0; i < app->MainForm->ListBox1->count(); ++i) l << app->MainForm->ListBox1->item(i)->text();
        return l;
    }
    QStringList History() const {
        QStringList h;
        for (int i = 0; i < app->MainForm->SearchEdit->count(); ++i) h << app->MainForm->SearchEdit->itemText(i);
        return h;
    }
};

const std::pair<QString, QString> kHeader{"Disk", "Found"};

} // namespace

TEST(PackageSearch, CountsInTheCheckedDisksInListOrder) {
    SearchRig rig;
    auto& collect = *rig.app->CollectForm;
    ASSERT_EQ(collect.DiskCount(), 3);
    rig.Search("abc");
    ASSERT_EQ(rig.reports.size(), 1u);
    EXPECT_EQ(rig.reports[0], (Rows{kHeader, {"Alpha", "2"}, {"Beta", "0"}, {"300", "1"}}));
    EXPECT_EQ(rig.Log().mid(1), (QStringList{"Searching for \"abc\"", "Please wait...", "Search is complete"}));

    // "Title" is in every record at least once; unchecked disks get no row.
    collect.CollectionLB->item(1)->setCheckState(Qt::Unchecked);
    rig.Search("Title");
    ASSERT_EQ(rig.reports.size(), 2u);
    EXPECT_EQ(rig.reports[1], (Rows{kHeader, {"Alpha", "1"}, {"300", "1"}}));

    // A word longer than a whole record, and no check mark at all.
    rig.Search(QString(2000, 'x'));
    ASSERT_EQ(rig.reports.size(), 3u);
    EXPECT_EQ(rig.reports[2], (Rows{kHeader, {"Alpha", "0"}, {"300", "0"}}));
    collect.Invertselection1Click();
    collect.CollectionLB->item(1)->setCheckState(Qt::Unchecked);
    const int logLines = rig.app->MainForm->ListBox1->count();
    rig.Search("abc");
    ASSERT_EQ(rig.reports.size(), 4u);
    EXPECT_EQ(rig.reports[3], Rows{kHeader});
    EXPECT_EQ(rig.app->MainForm->ListBox1->count(), logLines + 3);
    EXPECT_TRUE(rig.ui.errors.empty());
}

TEST(PackageSearch, HistoryKeepsAWordOnceAndAnEmptyTextDoesNothing) {
    SearchRig rig;
    rig.Search("abc");
    rig.Search("ABC");
    rig.Search("abc");
    rig.Search("Beta");
    EXPECT_EQ(rig.History(), (QStringList{"abc", "Beta"}));
    ASSERT_EQ(rig.reports.size(), 4u);
    EXPECT_EQ(rig.reports[0], rig.reports[2]); // the same word twice: the same report
    EXPECT_EQ(rig.reports[1], rig.reports[0]);  // the case of the word does not matter
    EXPECT_EQ(rig.app->MainForm->SearchEdit->currentText(), "Beta");

    const int logLines = rig.app->MainForm->ListBox1->count();
    rig.Search("");
    EXPECT_EQ(rig.reports.size(), 4u);
    EXPECT_EQ(rig.app->MainForm->ListBox1->count(), logLines);
    EXPECT_EQ(rig.History().size(), 2);
    EXPECT_EQ(rig.app->ctx.ScreenCursor(), Cursor::Default);
}

TEST(PackageSearch, EnterReleasedInTheSearchBoxRunsTheSearch) {
    SearchRig rig;
    QComboBox* box = rig.app->MainForm->SearchEdit;
    box->setEditText("beta");
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(box, &release);
    ASSERT_EQ(rig.reports.size(), 1u);
    EXPECT_EQ(rig.reports[0], (Rows{kHeader, {"Alpha", "0"}, {"Beta", "1"}, {"300", "0"}}));
    // Esc released in the report ends it.
    QSignalSpy finished(rig.app->SearchForm.get(), &QDialog::finished);
    QKeyEvent esc(QEvent::KeyRelease, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(rig.app->SearchForm.get(), &esc);
    EXPECT_EQ(finished.count(), 1);
}

TEST(PackageSearch, DeletedRecordCountsZeroAndUnreadableOnesAreLoggedAndSkipped) {
    SearchRig rig;
    // Both changes happen after the list was built.
    std::filesystem::remove(rig.Package("100.dat"));
    rig.Search("abc");
    ASSERT_EQ(rig.reports.size(), 1u);
    EXPECT_EQ(rig.reports[0], (Rows{kHeader, {"Alpha", "0"}, {"Beta", "0"}, {"300", "1"}}));

    // A folder, a device link and a FIFO by a record's name: none hangs the search or stops
    // it; each is named once in the log and left out, and every other disk is searched.
    struct Odd {
        const char* name;
        std::function<void(const std::string&)> make;
    };
    const std::vector<Odd> odd = {
        {"200.dat", [](const std::string& p) { std::filesystem::create_directory(p); }},
        {"100.dat", [](const std::string& p) { ASSERT_EQ(symlink("/dev/zero", p.c_str()), 0); }},
        {"200.dat", [](const std::string& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); }},
    };
    for (const Odd& o : odd) {
        for (const char* n : {"100.dat", "200.dat"}) std::filesystem::remove(rig.Package(n));
        WriteHostFile(rig.Package("100.dat"), SearchRecord("Alpha", "abc=1\r\n"));
        WriteHostFile(rig.Package("200.dat"), SearchRecord("Beta", "abc=1\r\n"));
        std::filesystem::remove(rig.Package(o.name));
        o.make(rig.Package(o.name));
        const size_t before = rig.reports.size();
        const int logBefore = rig.Log().size();
        rig.Search("abc");
        ASSERT_EQ(rig.reports.size(), before + 1) << o.name;
        const Rows expected = std::string(o.name) == "200.dat" ? Rows{kHeader, {"Alpha", "1"}, {"300", "1"}}
                                                                : Rows{kHeader, {"Beta", "1"}, {"300", "1"}};
        EXPECT_EQ(rig.reports.back(), expected) << o.name;
        const QStringList log = rig.Log().mid(logBefore);
        EXPECT_EQ(log.count(QString::fromStdString("Cannot open file " + rig.Package(o.name))), 1) << o.name;
        EXPECT_EQ(log.last(), "Search is complete");
        EXPECT_TRUE(rig.ui.errors.empty()) << o.name;
        std::filesystem::remove(rig.Package(o.name));
    }
}
