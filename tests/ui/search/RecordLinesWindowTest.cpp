// A disk's record offline: the matches of a search word (from the report), the report and
// the matches as CSV, and a disk's folders and names (from Package > View).
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QSettings>
#include <QSignalSpy>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "ui/ScriptedUi.h"
#include "support/TempDrive.h"
#include "platform/CodePage.h"
#include "ui/app/Application.h"
#include "ui/widgets/OvalButton.h"
#include "ui/shared/RecordLinesModel.h"
#include "ui/browse/BrowseForm.h"
#include "ui/search/MatchesForm.h"
#include "ui/shared/RecordLinesWindow.h"
#include "ui/search/ReportCsv.h"

using namespace quindle;
using quindle::test::ReadHostFile;
using quindle::test::WriteHostFile;

namespace {

const std::string kInfo = "Special Information about this disk by Quindle";

// Names with "=", "[", a byte that is not UTF-8 (0xE9, Latin-1 e acute), case twins in
// one folder, a section spelled twice ("docs", "Docs"), a section without entries, and a
// section whose own name holds the word.
const std::string kRecord = "\r\n[E:\\]\r\nreadme.txt=1\r\nZeta.txt=2\r\nalpha.TXT=3\r\nREADME.TXT=4\r\n"
                            "\r\n[docs]\r\nREADME.md=1\r\na=b=readme.txt=2\r\ncaf\xE9 readme=3\r\nx[1]=4\r\n"
                            "\r\n[Docs]\r\nbeta readme=1\r\n"
                            "\r\n[Empty]\r\n"
                            "\r\n[Readme stuff]\r\nx.bin=1\r\n"
                            "\r\n[" + kInfo + "]\r\nVolume Serial=7\r\nMemorization Date=07/12/2026\r\n"
                            "Title=Readme, \"the\" disk\r\nDescription=\r\nAdditional=\r\n";

QStringList Rows(const TRecordLinesModel& m) {
    QStringList rows;
    for (int r = 0; r < m.rowCount(); ++r)
        rows << m.index(r, 0).data().toString() + "|" + m.index(r, 1).data().toString();
    return rows;
}

const QString kCafe = QString::fromUtf8("docs|caf\u00e9 readme");

} // namespace

TEST(RecordLinesModel, RowsAreSortedIgnoringCaseWithTheInformationFirstAndTheFilterNarrowsThem) {
    TRecordLinesModel m;
    m.SetListing(TRecordListing::Matches(TRecordText::FromText(kRecord), "readme", kInfo));
    // One row per line holding the word; the header of "Readme stuff" is a row without name.
    const QStringList all{"(disk information)|Title=Readme, \"the\" disk",
                          "docs|a=b=readme.txt",
                          "docs|beta readme",
                          kCafe,
                          "docs|README.md",
                          "E:\\|README.TXT",
                          "E:\\|readme.txt",
                          "Readme stuff|"};
    EXPECT_EQ(Rows(m), all);
    EXPECT_EQ(m.headerData(0, Qt::Horizontal).toString(), "Folder");
    EXPECT_EQ(m.headerData(1, Qt::Horizontal).toString(), "Name");
    // The name's bytes stay as the record holds them.
    EXPECT_EQ(m.NameBytes(3), "caf\xE9 readme");
    EXPECT_EQ(m.FolderBytes(0), "(disk information)");

    const struct {
        const char* filter;
        QStringList rows;
    } cases[] = {
        {"MD", {"docs|README.md"}},
        {"TXT", {"docs|a=b=readme.txt", "E:\\|README.TXT", "E:\\|readme.txt"}},
        {"\u00e9", {kCafe}},                                    // typed as UTF-8, held as Latin-1
        {"(disk", {"(disk information)|Title=Readme, \"the\" disk"}}, // the folder as it is shown
        {"DOCS", {"docs|a=b=readme.txt", "docs|beta readme", kCafe, "docs|README.md"}},
        {"nowhere", {}},
        {"", all},
    };
    for (const auto& c : cases) {
        m.SetFilter(QString::fromUtf8(c.filter));
        EXPECT_EQ(Rows(m), c.rows) << c.filter;
        EXPECT_EQ(m.UnfilteredCount(), int(all.size())) << c.filter;
    }

    // The contents: every folder, also one without entries; headers and empty lines are no rows.
    m.SetListing(TRecordListing::Contents(TRecordText::FromText(kRecord), kInfo));
    QStringList folders;
    for (const auto& f : m.Listing().Folders()) folders << m.FolderText(static_cast<size_t>(&f - &m.Listing().Folders()[0]));
    EXPECT_EQ(folders, (QStringList{"(disk information)", "docs", "E:\\", "Empty", "Readme stuff"}));
    EXPECT_EQ(m.rowCount(), 5 + 5 + 4 + 1);
    m.SetFolder(2);
    EXPECT_EQ(Rows(m), (QStringList{"E:\\|alpha.TXT", "E:\\|README.TXT", "E:\\|readme.txt", "E:\\|Zeta.txt"}));
    m.SetFolder(3);
    EXPECT_EQ(m.rowCount(), 0);
    // With one folder shown the filter looks at the names alone.
    m.SetFolder(1);
    m.SetFilter("docs");
    EXPECT_EQ(m.rowCount(), 0);
    m.SetFilter("[");
    EXPECT_EQ(Rows(m), QStringList{"docs|x[1]"});
    m.SetFolder(-1);
    m.SetFilter("readme");
    EXPECT_EQ(m.rowCount(), 8); // six names, the title, and x.bin in the folder "Readme stuff"
}

TEST(ReportCsv, FieldsAreQuotedAsRfc4180AndBytesThatAreNotUtf8AreKeptAsLatin1) {
    const struct {
        std::string field, written;
    } cases[] = {
        {"plain", "plain"},
        {"", ""},
        {" blanks kept ", " blanks kept "},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"\"", "\"\"\"\""},
        {"cr\rin", "\"cr\rin\""},
        {"lf\nin", "\"lf\nin\""},
        {"E:\\", "E:\\"},
        {"semi;colon", "semi;colon"},
    };
    for (const auto& c : cases) EXPECT_EQ(CsvField(c.field), c.written) << c.field;

    TReportCsv counts(false);
    counts.AddDisk({"Holiday, 2026", "123", "/x/123.dat", 3});
    counts.AddDisk({"Caf\xE9", "", "/x/.dat", 0});
    EXPECT_EQ(counts.Text(), "Disk,Serial,Count\r\n\"Holiday, 2026\",123,3\r\nCaf\xC3\xA9,,0\r\n");
    EXPECT_EQ(counts.Latin1Fields(), 1u);

    TReportCsv matches(true);
    const TReportDisk disk{"Bad \xFF\xFE", "7", "/x/7.dat", 2};
    matches.AddMatch(disk, "Docs", "a \"b\",c.txt");
    matches.AddDisk({"Empty", "8", "/x/8.dat", 0});
    // Valid UTF-8 stays as it is; each other byte becomes one Latin-1 character.
    // A disk without a catalogue leaves Path, Size and Date empty.
    EXPECT_EQ(matches.Text(), "Disk,Serial,Count,Folder,Name,Path,Size,Date\r\n"
                              "Bad \xC3\xBF\xC3\xBE,7,2,Docs,\"a \"\"b\"\",c.txt\",,,\r\n"
                              "Empty,8,0,,,,,\r\n");
    EXPECT_EQ(ShowableUtf8("\xE2\x82\xAC \xE2\x82 \xED\xA0\x80 \xC0\xAF"), // euro, cut, surrogate, overlong
              "\xE2\x82\xAC \xC3\xA2\xC2\x82 \xC3\xAD\xC2\xA0\xC2\x80 \xC3\x80\xC2\xAF");
}

namespace {

// The program with a package of three disks; the report and the windows it opens are
// answered by `onReport` and `onWindow` while they are shown.
struct ReportRig {
    QTemporaryDir progDir, outDir;
    test::ScriptedUi ui;
    std::unique_ptr<Application> app;
    std::function<void(TSearchForm&)> onReport;
    std::function<void(QDialog*)> onWindow;
    std::vector<QStringList> windows; // the rows of every match or browse window shown

    ReportRig() {
        QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Tavrel", "Quindle");
        QFile::remove(s.fileName());
        app = std::make_unique<Application>(ui, progDir.path() + "/quindle");
        WriteHostFile(Package("100.dat"), kRecord);
        WriteHostFile(Package("200.dat"), "\r\n[E:\\]\r\nother.txt=1\r\n\r\n[" + kInfo + "]\r\nTitle=Other\r\n");
        WriteHostFile(Package("300.dat"), "\r\n[E:\\]\r\nreadme=1\r\n\r\n[" + kInfo + "]\r\nTitle=Bad \xFF\r\n");
        app->CollectForm->RefreshDiskList();
        ui.onModal = [this](QDialog* d) {
            if (d == app->SearchForm.get()) {
                if (onReport) onReport(*app->SearchForm);
            } else {
                auto* w = dynamic_cast<TRecordLinesWindow*>(d);
                EXPECT_TRUE(w);
                if (w) windows.push_back(Rows(*w->Model));
                if (onWindow) onWindow(d);
            }
            return int(mrCancel);
        };
    }
    std::string Package(const std::string& name) const { return app->ctx.PackageFolder + name; }
    QString Out(const char* name) const { return outDir.filePath(name); }
    void Search(const QString& word) {
        app->MainForm->SearchEdit->setEditText(word);
        app->MainForm->SearchButtonClick();
    }
    QString LastLog() const { return app->MainForm->ListBox1->item(app->MainForm->ListBox1->count() - 1)->text(); }
};

void Click(TOvalButton* b) { b->OnClick(b); }

} // namespace

TEST(SearchReport, EnterOrADoubleClickOnADiskRowListsItsMatchesAndTheReportSavesAsCsv) {
    ReportRig rig;
    rig.onReport = [&](TSearchForm& report) {
        QTableWidget* grid = report.SearchSG;
        ASSERT_EQ(report.RowCount(), 4);
        EXPECT_EQ(report.Word(), "readme");
        // Enter on the header row lists nothing; on a disk's row, that disk's matches.
        grid->setCurrentCell(0, 0);
        QTest::keyClick(grid, Qt::Key_Return);
        EXPECT_TRUE(rig.windows.empty());
        grid->setCurrentCell(1, 0);
        QTest::keyClick(grid, Qt::Key_Return);
        ASSERT_EQ(rig.windows.size(), 1u);
        EXPECT_EQ(rig.windows[0].size(), 8);
        EXPECT_EQ(rig.windows[0].first(), "(disk information)|Title=Readme, \"the\" disk");
        EXPECT_EQ(report.MatchesForm->windowTitle(), "Matches of \"readme\" on Readme, \"the\" disk");
        EXPECT_EQ(report.MatchesForm->Model->rowCount(), 0); // forgotten once closed

        report.show();
        const QRect cell = grid->visualRect(grid->model()->index(3, 0));
        // Press, release, then the double-click event (a real one is in the desktop tests).
        const QPointF at = cell.center();
        const QPointF global = grid->viewport()->mapToGlobal(at);
        for (const QEvent::Type t : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                                     QEvent::MouseButtonRelease}) {
            QMouseEvent e(t, at, global, Qt::LeftButton,
                          t == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(grid->viewport(), &e);
        }
        ASSERT_EQ(rig.windows.size(), 2u);
        EXPECT_EQ(rig.windows[1], QStringList{"E:\\|readme"});
        report.hide();

        // Counts only; cancelled; then with every match.
        rig.ui.saveNames = {rig.Out("counts.csv")};
        Click(report.SaveRepButton);
        EXPECT_EQ(rig.ui.saveAsked.back().section('/', -1), "Search for readme.csv");
        Click(report.SaveRepButton);
        report.WithMatchesBox->setChecked(true);
        rig.ui.saveNames = {rig.Out("matches.csv")};
        Click(report.SaveRepButton);
        report.WithMatchesBox->setChecked(false);
    };
    rig.Search("readme");
    EXPECT_EQ(ReadHostFile(rig.Out("counts.csv").toStdString()),
              "Disk,Serial,Count\r\n\"Readme, \"\"the\"\" disk\",100,8\r\nOther,200,0\r\nBad \xC3\xBF,300,1\r\n");
    const std::string matches = ReadHostFile(rig.Out("matches.csv").toStdString());
    EXPECT_EQ(matches.substr(0, matches.find("\r\n", 80) + 2),
              "Disk,Serial,Count,Folder,Name,Path,Size,Date\r\n"
              "\"Readme, \"\"the\"\" disk\",100,8,(disk information),\"Title=Readme, \"\"the\"\" disk\",,,\r\n");
    EXPECT_NE(matches.find("\r\n\"Readme, \"\"the\"\" disk\",100,8,docs,caf\xC3\xA9 readme,,,\r\n"), std::string::npos);
    EXPECT_NE(matches.find("\r\nOther,200,0,,,,,\r\nBad \xC3\xBF,300,1,E:\\,readme,,,\r\n"), std::string::npos);
    EXPECT_EQ(std::count(matches.begin(), matches.end(), '\n'), 1 + 8 + 1 + 1);
    EXPECT_EQ(rig.ui.saveAsked.size(), 3u);
    // Saying so where bytes were not UTF-8 (the title of 300 and the name on disk 100).
    EXPECT_EQ(rig.LastLog(), "2 fields not in UTF-8, saved as Latin-1");
    EXPECT_TRUE(rig.ui.errors.empty());
}

TEST(SearchReport, TheMatchesWindowFiltersSavesWhatItShowsAndReportsWhatItCannotDo) {
    ReportRig rig;
    rig.onWindow = [&](QDialog* d) {
        auto& w = *static_cast<TMatchesForm*>(d);
        EXPECT_EQ(w.CountLabel->text(), "8 lines");
        QTest::keyClicks(w.FilterEdit, "TXT");
        EXPECT_EQ(w.CountLabel->text(), "3 of 8 lines");
        EXPECT_EQ(Rows(*w.Model), (QStringList{"docs|a=b=readme.txt", "E:\\|README.TXT", "E:\\|readme.txt"}));
        rig.ui.saveNames = {rig.Out("shown.csv")};
        Click(w.SaveButton);
        rig.ui.saveNames = {rig.Out("no/such/folder/x.csv")};
        Click(w.SaveButton);
        // Esc is taken on its release, so that it cannot reach the report below; and the
        // release of an Esc pressed in another window (a file dialog it closed) ends nothing.
        QSignalSpy finished(&w, &QDialog::finished);
        QSignalSpy reportFinished(rig.app->SearchForm.get(), &QDialog::finished);
        QTest::keyPress(rig.app->MainForm->SearchEdit, Qt::Key_Escape);
        QTest::keyRelease(w.FilterEdit, Qt::Key_Escape);
        QTest::keyPress(&w, Qt::Key_Escape);
        QTest::keyRelease(rig.app->SearchForm->SearchSG, Qt::Key_Escape);
        EXPECT_EQ(finished.count(), 0);
        EXPECT_EQ(reportFinished.count(), 0);
        QTest::keyPress(w.FilterEdit, Qt::Key_Escape);
        EXPECT_EQ(finished.count(), 0);
        QTest::keyRelease(w.FilterEdit, Qt::Key_Escape);
        EXPECT_EQ(finished.count(), 1);
    };
    rig.onReport = [&](TSearchForm& report) {
        report.DiskActivated(1);
        // A record that became unreadable since the search: its error, no window.
        ASSERT_EQ(::chmod(rig.Package("300.dat").c_str(), 0), 0);
        if (::access(rig.Package("300.dat").c_str(), R_OK) != 0) { // root reads anyway
            report.DiskActivated(3);
            EXPECT_EQ(rig.ui.errors.back().toStdString(), "Cannot open file " + rig.Package("300.dat"));
        }
    };
    rig.Search("readme");
    EXPECT_EQ(rig.windows.size(), 1u);
    EXPECT_EQ(ReadHostFile(rig.Out("shown.csv").toStdString()),
              "Disk,Serial,Count,Folder,Name,Path,Size,Date\r\n\"Readme, \"\"the\"\" disk\",100,8,docs,a=b=readme.txt,,,\r\n"
              "\"Readme, \"\"the\"\" disk\",100,8,E:\\,README.TXT,,,\r\n\"Readme, \"\"the\"\" disk\",100,8,E:\\,readme.txt,,,\r\n");
    EXPECT_EQ(rig.ui.errors.front(), "Cannot create file " + rig.Out("no/such/folder/x.csv"));
    EXPECT_FALSE(QFile::exists(rig.Out("no/such/folder/x.csv")));
}

TEST(BrowseForm, ViewBrowsesTheHighlightedDisksFoldersAndNames) {
    ReportRig rig;
    TCollectForm& f = *rig.app->CollectForm;
    f.PrepareMode(TCollectForm::Mode::Add);
    EXPECT_TRUE(f.BrowseButton->isHidden());
    f.PrepareMode(TCollectForm::Mode::View);
    EXPECT_FALSE(f.BrowseButton->isHidden());
    EXPECT_TRUE(f.AbortButton->isHidden());
    EXPECT_EQ(f.BrowseButton->geometry(), QRect(123, 140, 73, 26));

    Click(f.BrowseButton); // no disk highlighted
    ASSERT_EQ(rig.ui.boxes.size(), 1u);
    EXPECT_EQ(rig.ui.boxes[0].caption, "No disk selected");
    EXPECT_TRUE(rig.windows.empty());

    rig.onWindow = [&](QDialog* d) {
        auto& w = *static_cast<TBrowseForm*>(d);
        EXPECT_EQ(w.windowTitle(), "Contents of Readme, \"the\" disk");
        QStringList entries;
        for (int i = 0; i < w.FolderList->count(); ++i) entries << w.FolderList->item(i)->text();
        EXPECT_EQ(entries, (QStringList{"(all folders)", "(disk information)", "docs", "E:\\", "Empty", "Readme stuff"}));
        EXPECT_EQ(w.CountLabel->text(), "15 names in 5 folders");
        EXPECT_FALSE(w.LinesView->isColumnHidden(0));
        w.FolderList->setCurrentRow(2);
        EXPECT_EQ(Rows(*w.Model), (QStringList{"docs|a=b=readme.txt", "docs|beta readme", kCafe, "docs|README.md", "docs|x[1]"}));
        EXPECT_TRUE(w.LinesView->isColumnHidden(0)); // one folder: no folder column
        QTest::keyClicks(w.FilterEdit, "readme");
        EXPECT_EQ(w.CountLabel->text(), "4 of 5 names");
        EXPECT_TRUE(w.LinesView->isColumnHidden(0));
        w.FolderList->setCurrentRow(4);
        EXPECT_EQ(w.CountLabel->text(), "0 of 0 names");
    };
    f.CollectionLB->setCurrentRow(0);
    Click(f.BrowseButton);
    ASSERT_EQ(rig.windows.size(), 1u);
    EXPECT_EQ(rig.windows[0].size(), 15);
    EXPECT_EQ(f.BrowseForm->Model->rowCount(), 0);

    // A record deleted since the list was made: its error, no window.
    f.CollectionLB->setCurrentRow(1);
    ASSERT_EQ(::unlink(rig.Package("200.dat").c_str()), 0);
    Click(f.BrowseButton);
    EXPECT_EQ(rig.windows.size(), 1u);
    ASSERT_EQ(rig.ui.errors.size(), 1u);
    EXPECT_EQ(rig.ui.errors[0].toStdString(), "Cannot open file " + rig.Package("200.dat"));
}

// The new captions fit inside their oval buttons: the widest line of text the ellipse
// leaves at the caption's height.
TEST(TextsFit, TheRecordWindowsOvalCaptionsFitTheirEllipses) {
    ReportRig rig;
    int checked = 0;
    for (QWidget* window : {static_cast<QWidget*>(rig.app->SearchForm.get()),
                            static_cast<QWidget*>(rig.app->SearchForm->MatchesForm),
                            static_cast<QWidget*>(rig.app->CollectForm->BrowseForm)}) {
        window->show(); // the layouts give the buttons their sizes
        for (TOvalButton* b : window->findChildren<TOvalButton*>()) {
            if (b->window() != window) continue;
            const QFontMetrics fm(b->font());
            const double h = fm.height(), H = b->height();
            const double room = b->width() * std::sqrt(1 - (h / H) * (h / H));
            const int glyph = b->Glyph().isNull() ? 0 : b->Glyph().height() + 4; // square images, spacing 4
            EXPECT_LE(fm.horizontalAdvance(b->Caption()) + glyph, room) << qPrintable(b->Caption());
            ++checked;
        }
        window->hide();
    }
    const QFontMetrics fm(rig.app->CollectForm->BrowseButton->font());
    EXPECT_LE(fm.horizontalAdvance("Browse..."), 73 * std::sqrt(1 - std::pow(fm.height() / 26.0, 2)));
    EXPECT_EQ(checked, 5);
}
