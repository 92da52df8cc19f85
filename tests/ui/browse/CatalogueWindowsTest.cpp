// The windows over a disk's catalogue, on disks memorized through the package dialog from
// real folders: the matches with full paths, sizes and dates, Browse's folder tree and its
// filter over the whole disk, the figures in Package > View, the CSV columns, and what a
// disk without a valid catalogue shows.
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSettings>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <QLocale>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <memory>

#include "ui/ScriptedUi.h"
#include "support/TempDrive.h"
#include "ui/app/Application.h"
#include "ui/shared/CatalogueModels.h"
#include "ui/widgets/OvalButton.h"
#include "ui/shared/RecordLinesModel.h"
#include "ui/browse/BrowseForm.h"
#include "ui/search/MatchesForm.h"
#include "ui/shared/RecordLinesWindow.h"
#include "ui/search/SearchForm.h"

using namespace quindle;
using quindle::test::ReadHostFile;
using quindle::test::TempDrive;
using quindle::test::WriteHostFile;

namespace {

constexpr uint32_t kSerial = 439041101u;

// One file of the drive: path (relative, '/'), size, modification time.
struct File {
    std::string path;
    size_t size;
    int64_t mtime;
};

// Case twins (Docs, DOCS), "\" and "?" in names, a byte that is not UTF-8 (0xE9).
const File kFiles[] = {
    {"Docs/2019/Q3/report.txt", 10, 1'600'000'000},
    {"Docs/2019/Q3/Report summary.pdf", 2000, 1'500'000'000},
    {"DOCS/report.TXT", 3, 1'700'000'000},
    {"back\\slash/what?report", 1000, 1'400'000'000},
    {"bytes/caf\xE9 report", 5, 1'650'000'000},
    {"other.bin", 7, 1'550'000'000},
};

struct Rig {
    QTemporaryDir progDir, outDir;
    test::ScriptedUi ui;
    TempDrive c{'C', 1u};
    TempDrive e{'E', kSerial};
    std::unique_ptr<Application> app;
    std::function<void(QDialog*)> onWindow;

    Rig() {
        QFile::remove(QSettings(QSettings::NativeFormat, QSettings::UserScope, "Tavrel", "Quindle").fileName());
        for (const File& f : kFiles) {
            const std::string host = e.MakeFile(f.path, std::string(f.size, 'x'));
            const timespec t[2] = {{f.mtime, 0}, {f.mtime, 0}};
            EXPECT_EQ(::utimensat(AT_FDCWD, host.c_str(), t, 0), 0);
        }
        app = std::make_unique<Application>(ui, progDir.path() + "/quindle");
        c.MapInto(app->ctx.platform);
        e.MapInto(app->ctx.platform);
        app->MainForm->DriveComboBox1.BuildList();
        app->MainForm->DriveComboBox1.SetDrive('E');
        // Package > Add with a title holding the word, as the user does it.
        TCollectForm& f = *app->CollectForm;
        f.PrepareMode(TCollectForm::Mode::Add);
        f.Edit1->setText("Report disk");
        f.ActionButton->OnClick(f.ActionButton);
        EXPECT_EQ(ui.boxes.back().text, "Ok, the disk has been memorized!");
        ui.onModal = [this](QDialog* d) {
            if (d == app->SearchForm.get()) {
                app->SearchForm->DiskActivated(1);
            } else if (onWindow) {
                onWindow(d);
            }
            return int(mrCancel);
        };
    }
    std::string Record() const { return app->ctx.PackageFolder + std::to_string(kSerial) + ".dat"; }
    void Search(const QString& word) {
        app->MainForm->SearchEdit->setEditText(word);
        app->MainForm->SearchButtonClick();
    }
    void Browse() {
        TCollectForm& f = *app->CollectForm;
        f.PrepareMode(TCollectForm::Mode::View);
        f.CollectionLB->setCurrentRow(0);
        f.BrowseButton->OnClick(f.BrowseButton);
    }
};

// Rows as "folder|name|size" (size as its tooltip, in bytes).
QStringList Rows(const QAbstractItemModel& m, bool withFolder = true) {
    QStringList rows;
    for (int r = 0; r < m.rowCount(); ++r) {
        QString row = withFolder ? m.index(r, 0).data().toString() + "|" : QString();
        row += m.index(r, 1).data().toString() + "|" + m.index(r, 2).data(Qt::ToolTipRole).toString();
        rows << row;
    }
    return rows;
}

const QString kCafe = QString::fromUtf8("caf\u00e9 report");

} // namespace

TEST(CatalogueWindows, MatchesShowFullPathsSizesAndDatesSortByEachColumnAndSaveThemAsCsv) {
    Rig rig;
    bool shown = false;
    rig.onWindow = [&](QDialog* d) {
        auto& w = *static_cast<TMatchesForm*>(d);
        shown = true;
        ASSERT_TRUE(w.Detailed());
        EXPECT_TRUE(w.NoticeLabel->isHidden());
        // By folder path, then name; the disk's information first. Case twins stay apart,
        // "\" and "?" stay in their names.
        const QStringList byFolder{"(disk information)|Title=Report disk|",
                                   "E:\\back\\slash|what?report|1,000 bytes",
                                   "E:\\bytes|" + kCafe + "|5 bytes",
                                   "E:\\DOCS|report.TXT|3 bytes",
                                   "E:\\Docs\\2019\\Q3|Report summary.pdf|2,000 bytes",
                                   "E:\\Docs\\2019\\Q3|report.txt|10 bytes"};
        EXPECT_EQ(Rows(*w.Entries), byFolder);
        EXPECT_EQ(w.CountLabel->text(), "6 matches");
        // A click on a header sorts by it; a second click turns the order round.
        const struct {
            int column;
            Qt::SortOrder order;
            QStringList names;
        } sorts[] = {
            {TCatalogueRowsModel::SizeColumn, Qt::AscendingOrder,
             {"Title=Report disk", "report.TXT", kCafe, "report.txt", "what?report", "Report summary.pdf"}},
            {TCatalogueRowsModel::SizeColumn, Qt::DescendingOrder,
             {"Title=Report disk", "Report summary.pdf", "what?report", "report.txt", kCafe, "report.TXT"}},
            {TCatalogueRowsModel::DateColumn, Qt::AscendingOrder,
             {"Title=Report disk", "what?report", "Report summary.pdf", "report.txt", kCafe, "report.TXT"}},
            {TCatalogueRowsModel::NameColumn, Qt::AscendingOrder,
             {"Title=Report disk", kCafe, "Report summary.pdf", "report.TXT", "report.txt", "what?report"}},
        };
        for (const auto& s : sorts) {
            w.LinesView->sortByColumn(s.column, s.order);
            QStringList names;
            for (int r = 0; r < w.Entries->rowCount(); ++r) names << w.Entries->index(r, 1).data().toString();
            EXPECT_EQ(names, s.names) << s.column << " " << s.order;
        }
        EXPECT_EQ(w.Entries->index(4, TCatalogueRowsModel::DateColumn).data().toString(),
                  QDateTime::fromSecsSinceEpoch(1'600'000'000).toString("dd/MM/yyyy HH:mm:ss"));
        // The filter holds names and folder paths alike.
        QTest::keyClicks(w.FilterEdit, "q3");
        EXPECT_EQ(w.CountLabel->text(), "2 of 6 matches");
        w.FilterEdit->clear();
        w.FilterEdit->setText(QString::fromUtf8("\u00e9"));
        EXPECT_EQ(Rows(*w.Entries), QStringList{"E:\\bytes|" + kCafe + "|5 bytes"});
        rig.ui.saveNames = {rig.outDir.filePath("shown.csv")};
        w.SaveButton->OnClick(w.SaveButton);
    };
    rig.Search("report");
    ASSERT_TRUE(shown);
    EXPECT_EQ(ReadHostFile(rig.outDir.filePath("shown.csv").toStdString()),
              "Disk,Serial,Count,Folder,Name,Path,Size,Date\r\n"
              "Report disk,439041101,6,bytes,caf\xC3\xA9 report,E:\\bytes\\caf\xC3\xA9 report,5,2022-04-15T05:20:00Z\r\n");

    // The report's CSV with every match: Folder stays the record's section.
    rig.ui.onModal = [&](QDialog* d) {
        if (d != rig.app->SearchForm.get()) return int(mrCancel);
        rig.app->SearchForm->WithMatchesBox->setChecked(true);
        rig.ui.saveNames = {rig.outDir.filePath("all.csv")};
        rig.app->SearchForm->SaveRepButton->OnClick(rig.app->SearchForm->SaveRepButton);
        return int(mrCancel);
    };
    rig.Search("report");
    const std::string all = ReadHostFile(rig.outDir.filePath("all.csv").toStdString());
    for (const char* line : {"Report disk,439041101,6,(disk information),Title=Report disk,,,\r\n",
                             "Report disk,439041101,6,Docs,report.txt,E:\\Docs\\2019\\Q3\\report.txt,10,2020-09-13T12:26:40Z\r\n",
                             "Report disk,439041101,6,DOCS,report.TXT,E:\\DOCS\\report.TXT,3,2023-11-14T22:13:20Z\r\n",
                             "Report disk,439041101,6,back\\slash,what?report,E:\\back\\slash\\what?report,1000,"})
        EXPECT_NE(all.find(line), std::string::npos) << line;
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 7);
}

TEST(CatalogueWindows, BrowseShowsTheFolderTreeWithTotalsAndItsFilterSearchesTheWholeDisk) {
    Rig rig;
    bool shown = false;
    rig.onWindow = [&](QDialog* d) {
        auto& w = *static_cast<TBrowseForm*>(d);
        shown = true;
        ASSERT_TRUE(w.Detailed());
        EXPECT_TRUE(w.FolderList->isHidden());
        EXPECT_FALSE(w.FolderTree->isHidden());
        // The figures head the window.
        EXPECT_TRUE(w.NoticeLabel->text().startsWith("6 files in 7 folders, 2.95 KB (3,025 bytes)\n")) << qPrintable(w.NoticeLabel->text());
        EXPECT_TRUE(w.NoticeLabel->text().contains("complete in")) << qPrintable(w.NoticeLabel->text());
        // The root, its folders by name (case twins in byte order), each with its total.
        const QAbstractItemModel& t = *w.FolderTree->model();
        ASSERT_EQ(t.rowCount(), 1);
        const QModelIndex root = t.index(0, 0);
        EXPECT_EQ(root.data().toString(), "E:\\");
        QStringList top;
        for (int r = 0; r < t.rowCount(root); ++r)
            top << t.index(r, 0, root).data().toString() + "|" + t.index(r, 1, root).data(Qt::ToolTipRole).toString();
        EXPECT_EQ(top, (QStringList{"back\\slash|1,000 bytes", "bytes|5 bytes", "DOCS|3 bytes", "Docs|2,010 bytes"}));
        const QModelIndex q3 = t.index(0, 0, t.index(0, 0, t.index(3, 0, root)));
        EXPECT_EQ(q3.data().toString(), "Q3");
        EXPECT_EQ(t.parent(t.parent(q3)), t.index(3, 0, root));
        // The root's entries: folders first, then the files.
        EXPECT_EQ(Rows(*w.Entries, false), (QStringList{"back\\slash|1,000 bytes", "bytes|5 bytes", "DOCS|3 bytes",
                                                        "Docs|2,010 bytes", "other.bin|7 bytes"}));
        EXPECT_TRUE(w.LinesView->isColumnHidden(TCatalogueRowsModel::FolderColumn));
        w.FolderTree->setCurrentIndex(q3);
        EXPECT_EQ(Rows(*w.Entries, false), (QStringList{"Report summary.pdf|2,000 bytes", "report.txt|10 bytes"}));
        EXPECT_EQ(w.CountLabel->text(), "2 items in E:\\Docs\\2019\\Q3");
        // The filter: every entry of the disk whose name holds the text, with its folder.
        QTest::keyClicks(w.FilterEdit, "REPORT");
        EXPECT_FALSE(w.LinesView->isColumnHidden(TCatalogueRowsModel::FolderColumn));
        EXPECT_EQ(Rows(*w.Entries), (QStringList{"E:\\bytes|" + kCafe + "|5 bytes",
                                                 "E:\\Docs\\2019\\Q3|Report summary.pdf|2,000 bytes",
                                                 "E:\\DOCS|report.TXT|3 bytes",
                                                 "E:\\Docs\\2019\\Q3|report.txt|10 bytes",
                                                 "E:\\back\\slash|what?report|1,000 bytes"}));
        EXPECT_EQ(w.CountLabel->text(), "5 of 12 entries hold the text");
        // Enter on a found entry opens its folder.
        w.LinesView->setCurrentIndex(w.Entries->index(2, 1));
        QTest::keyClick(w.LinesView, Qt::Key_Return);
        EXPECT_EQ(w.FilterEdit->text(), "");
        EXPECT_EQ(w.FolderTree->currentIndex().data().toString(), "DOCS");
        EXPECT_EQ(Rows(*w.Entries, false), QStringList{"report.TXT|3 bytes"});
    };
    rig.Browse();
    EXPECT_TRUE(shown);
    // Package > View shows the highlighted disk's figures.
    TCollectForm& f = *rig.app->CollectForm;
    f.CollectionLB->item(0)->setSelected(true);
    f.CollectionLBClick();
    EXPECT_EQ(f.StatusText(), "6 files, 7 folders, 2.95 KB");
    EXPECT_TRUE(f.ProgressStatusBar->toolTip().contains("capacity")) << qPrintable(f.ProgressStatusBar->toolTip());
    // And the volume's, in two lines left of Browse that fit their place.
    ASSERT_FALSE(f.FiguresLabel->isHidden());
    const QStringList lines = f.FiguresLabel->text().split('\n');
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].endsWith(" free") && lines[1].startsWith("of ")) << qPrintable(f.FiguresLabel->text());
    for (const QString& l : lines) EXPECT_LE(QFontMetrics(f.FiguresLabel->font()).horizontalAdvance(l), 112);
    EXPECT_LE(2 * QFontMetrics(f.FiguresLabel->font()).lineSpacing(), f.FiguresLabel->height() + 2);
    EXPECT_FALSE(f.FiguresLabel->geometry().intersects(f.BrowseButton->geometry()));
}

TEST(CatalogueWindows, ADiskWithoutAValidCatalogueListsItsRecordAndSaysWhy) {
    Rig rig;
    const std::string record = rig.Record();
    // Another program's record (no catalogue), and a record that is not the one the
    // catalogue was written with (a name more in a folder, as a restored copy might hold).
    const std::string text = ReadHostFile(record);
    const struct {
        const char* name;
        bool removeCatalogue;
        QString why;
    } cases[] = {
        {"foreign record", false, "the catalogue does not belong to this record"},
        {"no catalogue", true, "no catalogue"},
    };
    for (const auto& c : cases) {
        const size_t root = text.find("[E:\\]\r\n");
        ASSERT_NE(root, std::string::npos);
        WriteHostFile(record, std::string(text).insert(root + 6, "added report=2\r\n"));
        if (c.removeCatalogue) {
            ASSERT_EQ(::unlink((rig.app->ctx.PackageFolder + "439041101.cat").c_str()), 0);
        }
        const QString notice = "The disk has no details until it is memorized again (" + c.why + ").";
        int windows = 0;
        rig.onWindow = [&](QDialog* d) {
            auto* w = static_cast<TRecordLinesWindow*>(d);
            ++windows;
            EXPECT_FALSE(w->Detailed()) << c.name;
            EXPECT_FALSE(w->NoticeLabel->isHidden()) << c.name;
            EXPECT_EQ(w->NoticeLabel->text(), notice) << c.name;
            // Today's rows: the record's section as the folder.
            bool found = false;
            for (int r = 0; r < w->Model->rowCount(); ++r)
                found |= w->Model->index(r, 0).data().toString() == "E:\\" &&
                         w->Model->index(r, 1).data().toString() == "added report";
            EXPECT_TRUE(found) << c.name;
            if (auto* b = dynamic_cast<TBrowseForm*>(d)) {
                EXPECT_FALSE(b->FolderList->isHidden()) << c.name;
                EXPECT_TRUE(b->FolderTree->isHidden()) << c.name;
            }
        };
        rig.Search("report");
        rig.Browse();
        EXPECT_EQ(windows, 2) << c.name;
        TCollectForm& f = *rig.app->CollectForm;
        f.CollectionLB->item(0)->setSelected(true);
        f.CollectionLBClick();
        EXPECT_EQ(f.StatusText(), "No details until memorized again") << c.name;
        EXPECT_EQ(f.ProgressStatusBar->toolTip(), notice) << c.name;
        EXPECT_EQ(f.FiguresLabel->text(), "") << c.name;
    }
}

// The texts these windows put in their fixed places fit: the status line of the widest
// figures, and the notice is wrapped in its window.
TEST(TextsFit, TheDiskFiguresFitTheStatusBar) {
    Rig rig;
    TCollectForm& d = *rig.app->CollectForm;
    DiskFigures f;
    f.files = 99'999'999;
    f.folders = 9'999'999;
    f.bytes = 999ull << 40;
    f.complete = false;
    const QFontMetrics fm(d.ProgressStatusBar->font());
    for (const QString& text : {FiguresSummary(f), QStringLiteral("No details until memorized again")})
        EXPECT_LE(fm.horizontalAdvance(text), d.ProgressStatusBar->width() - 18) << qPrintable(text);
    EXPECT_EQ(SizeText(0), "0 B");
    EXPECT_EQ(SizeText(1023), "1023 B");
    EXPECT_EQ(SizeText(1536), "1.50 KB");
    EXPECT_EQ(SizeText(999ull << 40), "999 TB");
    // Numbers are grouped as the locale groups them, and counts take the noun's plural.
    const struct {
        QLocale locale;
        uint64_t n;
        const char* grouped;
        const char* counted;
    } numbers[] = {
        {QLocale(QLocale::English, QLocale::UnitedStates), 1234567, "1,234,567", "1,234,567 files"},
        {QLocale(QLocale::German, QLocale::Germany), 1234567, "1.234.567", "1.234.567 files"},
        {QLocale(QLocale::English, QLocale::UnitedStates), 1, "1", "1 file"},
        {QLocale(QLocale::English, QLocale::UnitedStates), 0, "0", "0 files"},
    };
    const QLocale before;
    for (const auto& c : numbers) {
        QLocale::setDefault(c.locale);
        EXPECT_EQ(GroupedNumber(c.n).toStdString(), c.grouped);
        EXPECT_EQ(Counted(c.n, "file", "files").toStdString(), c.counted);
    }
    QLocale::setDefault(before);
}
