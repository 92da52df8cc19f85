#include <QAbstractButton>
#include <QApplication>
#include <QFontInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QScrollBar>
#include <QSettings>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTableWidget>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "ui/ScriptedUi.h"
#include "support/TempDrive.h"
#include "ui/app/Application.h"
#include "ui/widgets/DriveComboView.h"
#include "ui/widgets/OvalButton.h"

using namespace quindle;

// Every fixed text of every window fits its control in the desktop's sans font (DejaVu
// Sans on a stock Debian desktop, which stands in for "MS Sans Serif").
TEST(TextsFit, EveryLabelButtonAndGroupTextFitsItsControl) {
    const struct ProgramFontNow {
        QFont was = QApplication::font();
        ProgramFontNow() { SetProgramFont(); }
        ~ProgramFontNow() { QApplication::setFont(was); }
    } font;
    QTemporaryDir progDir;
    test::ScriptedUi ui;
    Application app(ui, progDir.path() + "/quindle");
    EXPECT_EQ(QFontInfo(app.InfoForm->Label4->font()).family(), "DejaVu Sans");
    int checked = 0;
    for (QWidget* window : {static_cast<QWidget*>(app.MainForm.get()), static_cast<QWidget*>(app.CollectForm.get()),
                            static_cast<QWidget*>(app.InfoForm.get()), static_cast<QWidget*>(app.SearchForm.get())}) {
        for (QLabel* l : window->findChildren<QLabel*>()) {
            if (l->text().isEmpty()) continue;
            const QFontMetrics fm(l->font());
            EXPECT_LE(fm.horizontalAdvance(l->text()), l->contentsRect().width()) << qPrintable(l->text());
            EXPECT_LE(fm.height(), l->contentsRect().height() + 3) << qPrintable(l->text());
            ++checked;
        }
        for (QGroupBox* g : window->findChildren<QGroupBox*>()) {
            EXPECT_LE(QFontMetrics(g->font()).horizontalAdvance(g->title()) + 16, g->width()) << qPrintable(g->title());
            ++checked;
        }
        for (QAbstractButton* b : window->findChildren<QAbstractButton*>()) {
            if (b->text().isEmpty()) continue;
            // Radio buttons: the indicator and its gap come before the text.
            EXPECT_LE(QFontMetrics(b->font()).horizontalAdvance(b->text()) + 20, b->width()) << qPrintable(b->text());
            ++checked;
        }
    }
    EXPECT_GT(checked, 15);
}

namespace {

// The program's own application font while a test runs (the test binary starts with Qt's).
struct ProgramFont {
    QFont was = QApplication::font();
    ProgramFont() { SetProgramFont(); }
    ~ProgramFont() { QApplication::setFont(was); }
};

// Where a QLineEdit paints its text: the style's contents rectangle less the edit's own
// two-pixel margin on each side.
QRect LineEditTextRect(const QLineEdit* e) {
    QStyleOptionFrame opt;
    opt.initFrom(e);
    opt.rect = e->rect();
    opt.lineWidth = e->hasFrame() ? e->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, e) : 0;
    opt.state |= QStyle::State_Sunken;
    return e->style()->subElementRect(QStyle::SE_LineEditContents, &opt, e).adjusted(2, 0, -2, 0);
}

// An item view's text margin on each side (the style's focus-frame margin plus one).
int ItemTextMargin(const QWidget* view) { return view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1; }

// True when the caption's ink (its width, from cap height to baseline) lies inside the
// oval within its rim.
bool CaptionInsideOval(const TOvalButton* b) {
    const QRect r = b->CaptionRect();
    const QFontMetrics fm(b->Font());
    const double a = b->width() / 2.0 - b->BevelWidth() - 1, c = b->height() / 2.0 - b->BevelWidth() - 1;
    const double cx = b->width() / 2.0, cy = b->height() / 2.0;
    const int top = r.top() + fm.ascent() - fm.capHeight(), bottom = r.top() + fm.ascent();
    for (const QPointF p : {QPointF(r.left(), top), QPointF(r.left() + r.width(), top), QPointF(r.left(), bottom),
                            QPointF(r.left() + r.width(), bottom)}) {
        const double dx = (p.x() - cx) / a, dy = (p.y() - cy) / c;
        if (dx * dx + dy * dy > 1.0) return false;
    }
    return true;
}

} // namespace

// The texts the program itself puts into its windows at run time, each measured where it
// is shown, in the program's fonts: button captions in their ovals, status-bar messages,
// the fixed lines of the log, the edits' fixed texts, the report's captions and counts,
// and a drive with an 11-character label (the longest a FAT volume holds) in the drive
// selector. Texts the user types or the disks hold (titles, folder and file names) are
// as long as they are; the views scroll them.
TEST(TextsFit, CaptionsMessagesLogLinesCellsAndEditTextsFitWhereTheyAreShown) {
    const ProgramFont font;
    test::TempDrive c('C');
    {
        QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Tavrel", "Quindle");
        s.clear();
        s.setValue("Drives/C/path", QString::fromStdString(c.path()));
        s.setValue("Drives/C/label", "BACKUP_2026");
    }
    QTemporaryDir progDir;
    test::ScriptedUi ui;
    Application app(ui, progDir.path() + "/quindle");
    TMainForm& m = *app.MainForm;
    TCollectForm& d = *app.CollectForm;
    TSearchForm& r = *app.SearchForm;
    for (QWidget* w : {static_cast<QWidget*>(&m), static_cast<QWidget*>(&d), static_cast<QWidget*>(&r)}) w->show();
    QCoreApplication::processEvents();

    // Every caption each oval button takes.
    const struct {
        TOvalButton* button;
        std::vector<const char*> captions;
    } ovals[] = {{m.StopButton, {"Stop"}},
                 {m.SearchButton, {"Search"}},
                 {d.AbortButton, {"Close", "Abort"}},
                 {d.ActionButton, {"Close", "Add", "Change", "Remove"}},
                 {r.findChild<TOvalButton*>("CloseRepButton"), {"Close"}},
                 {app.InfoForm->OvalButton1, {"Close"}}};
    for (const auto& o : ovals) {
        ASSERT_NE(o.button, nullptr);
        const QString was = o.button->Caption();
        for (const char* caption : o.captions) {
            o.button->SetCaption(QString::fromLatin1(caption));
            EXPECT_TRUE(CaptionInsideOval(o.button)) << caption << " in " << qPrintable(o.button->objectName());
        }
        o.button->SetCaption(was);
    }

    // The status bar's messages: Qt leaves 6 pixels left and 12 right of them.
    const QFontMetrics statusFm(d.ProgressStatusBar->font());
    for (const char* text : {"Please, stand by while memorizing...", "Complete!", "The operation was interrupted!"})
        EXPECT_LE(statusFm.horizontalAdvance(QString::fromLatin1(text)), d.ProgressStatusBar->width() - 18) << text;
    EXPECT_LE(statusFm.height(), d.ProgressStatusBar->height());

    // The log's fixed lines (the widest drive letter and serial), with a vertical scroll
    // bar, which a log soon has.
    const QFontMetrics logFm(m.ListBox1->font());
    const int logRoom = m.ListBox1->width() - 2 * m.ListBox1->frameWidth() -
                        m.ListBox1->verticalScrollBar()->sizeHint().width() - 2 * ItemTextMargin(m.ListBox1);
    for (const QString& line : {QStringLiteral("Welcome to Quindle!"), QStringLiteral("Operation aborted by user"),
                                QStringLiteral("Unable to get that volume serial n\u00B0..."),
                                QStringLiteral("W: Volume serial n\u00B0 is 4294967295"),
                                QStringLiteral("Information update complete"), QStringLiteral("Please wait..."),
                                QStringLiteral("Search is complete")})
        EXPECT_LE(logFm.horizontalAdvance(line), logRoom) << qPrintable(line);

    // The information edits the program fills: the placeholder, the widest serial and a
    // memorization date with its time.
    const struct {
        QLineEdit* edit;
        const char* text;
    } edits[] = {{d.Edit4, "No need to fill"}, {d.Edit4, "4294967295"}, {d.Edit5, "No need to fill"},
                 {d.Edit5, "28/12/2026 23:58:59"}};
    for (const auto& e : edits) {
        const QRect room = LineEditTextRect(e.edit);
        EXPECT_LE(QFontMetrics(e.edit->font()).horizontalAdvance(QString::fromLatin1(e.text)), room.width()) << e.text;
        EXPECT_LE(QFontMetrics(e.edit->font()).height(), room.height()) << e.text;
    }

    // The report's captions and a count of a million in its columns.
    QTableWidget* grid = r.findChild<QTableWidget*>("SearchSG");
    ASSERT_NE(grid, nullptr);
    const QFontMetrics gridFm(grid->font());
    const int gridMargin = 2 * ItemTextMargin(grid);
    EXPECT_LE(gridFm.horizontalAdvance("Disk"), grid->columnWidth(0) - gridMargin);
    for (const char* text : {"Found", "1000000"})
        EXPECT_LE(gridFm.horizontalAdvance(text), grid->columnWidth(1) - gridMargin) << text;
    EXPECT_LE(gridFm.height(), grid->verticalHeader()->defaultSectionSize());

    // The drive selector's field, past the drive's picture.
    DriveComboView* drives = m.DriveComboView1;
    ASSERT_GE(drives->count(), 1);
    const QString driveText = drives->itemText(drives->currentIndex());
    EXPECT_EQ(driveText, "C: [BACKUP_2026]");
    EXPECT_LE(QFontMetrics(drives->font()).horizontalAdvance(driveText), drives->TextRect().width());

    for (QWidget* w : {static_cast<QWidget*>(&m), static_cast<QWidget*>(&d), static_cast<QWidget*>(&r)}) w->hide();
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Tavrel", "Quindle").clear();
}
