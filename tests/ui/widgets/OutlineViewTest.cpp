#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QScrollBar>
#include <QElapsedTimer>
#include <QTest>
#include <filesystem>
#include <random>

#include "app/AppContext.h"
#include "browse/DirectoryOutline.h"
#include "support/TempDrive.h"
#include "ui/widgets/OutlineView.h"

using namespace quindle;
using quindle::test::TempDrive;

namespace {

struct Fixture {
    AppContext ctx;
    TempDrive c{'C'};
    TDirectoryOutline tree{ctx};
    OutlineView view{tree};
    Fixture() {
        c.MapInto(ctx.platform);
        for (const char* d : {"Docs/Letters/2023", "Docs/Letters/2024", "Docs/Photos", "Games/Chess", "Music",
                              "Program Files/Quindle/data", "Temp", "WINDOWS/system32"})
            c.MakeDir(d);
        tree.SetTextCase(tcAsIs);
        tree.SetDrive('C');
        tree.Items(1)->Expand();
        view.resize(260, 220);
        view.show();
        QApplication::processEvents();
    }
    QPoint RowPoint(int row) const {
        return QPoint(view.RowHeight() * 3, (row - view.FirstVisibleRow()) * view.RowHeight() + view.RowHeight() / 2);
    }
    QImage Render() {
        QImage img(view.viewport()->size(), QImage::Format_RGB32);
        view.viewport()->render(&img);
        return img;
    }
};

// Lists every folder: the walk the memorizer does.
void ExpandEverything(TDirectoryOutline& t) {
    for (int i = 1; i <= t.ItemCount(); ++i) t.Items(i)->Expand();
}

int CountColour(const QImage& img, int y0, int y1, QRgb colour) {
    int n = 0;
    for (int y = y0; y < y1 && y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (img.pixel(x, y) == colour) ++n;
    return n;
}

} // namespace

TEST(OutlineView, RowsAndScrollRangeFollowTheOutline) {
    Fixture f;
    const int page = f.view.viewport()->height() / f.view.RowHeight();
    EXPECT_EQ(f.tree.RowCount(), 7); // C:\ and six folders
    EXPECT_EQ(f.view.verticalScrollBar()->maximum(), std::max(0, 7 - page));
    f.view.resize(260, f.view.RowHeight() * 6 + 10);
    QApplication::processEvents();
    const int small = f.view.viewport()->height() / f.view.RowHeight();
    ExpandEverything(f.tree);
    f.view.FlushFrame();
    EXPECT_EQ(f.tree.RowCount(), 15);
    const int rows = f.tree.Root()->VisibleCount();
    EXPECT_EQ(f.view.verticalScrollBar()->maximum(), rows - small);
    // the current row is kept visible
    f.tree.SetSelectedItem(f.tree.ItemCount());
    f.view.FlushFrame();
    EXPECT_GE(f.tree.Row(), f.view.FirstVisibleRow());
    EXPECT_LT(f.tree.Row(), f.view.FirstVisibleRow() + small);
    EXPECT_GT(f.view.FirstVisibleRow(), 0);
}

TEST(OutlineView, MouseAndKeysDriveTheOutline) {
    Fixture f;
    QTest::mouseClick(f.view.viewport(), Qt::LeftButton, {}, f.RowPoint(2));
    EXPECT_EQ(f.tree.SelectedItem(), 3);
    EXPECT_EQ(f.tree.Directory(), "C:\\Games");
    QTest::mouseDClick(f.view.viewport(), Qt::LeftButton, {}, f.RowPoint(2));
    EXPECT_TRUE(f.tree.Items(3)->Expanded());
    EXPECT_EQ(f.tree.RowCount(), 8);

    QTest::keyClick(&f.view, Qt::Key_Down);
    EXPECT_EQ(f.tree.Directory(), "C:\\Games\\Chess");
    QTest::keyClick(&f.view, Qt::Key_End);
    EXPECT_EQ(f.tree.Directory(), "C:\\WINDOWS");
    QTest::keyClick(&f.view, '+');
    EXPECT_TRUE(f.tree.Items(f.tree.SelectedItem())->Expanded());
    QTest::keyClick(&f.view, '-');
    EXPECT_FALSE(f.tree.Items(f.tree.SelectedItem())->Expanded());
    QTest::keyClick(&f.view, Qt::Key_Home);
    EXPECT_EQ(f.tree.Directory(), "C:\\");
    EXPECT_EQ(f.tree.Row(), 0);
    QTest::keyClick(&f.view, Qt::Key_Return);
    EXPECT_EQ(f.tree.RowCount(), 1);
}

TEST(OutlineView, PaintsEveryRowAndHighlightsTheCurrentOne) {
    Fixture f;
    f.tree.SetSelectedItem(2); // Docs, row 1
    QApplication::processEvents();
    const QImage img = f.Render();
    const QRgb base = f.view.palette().color(QPalette::Base).rgb();
    const QRgb highlight = f.view.palette().color(QPalette::Highlight).rgb();
    const int h = f.view.RowHeight();
    for (int r = 0; r < 7; ++r) {
        const int painted = img.width() * h - CountColour(img, r * h, (r + 1) * h, base);
        EXPECT_GT(painted, 20) << "row " << r;
        const int lit = CountColour(img, r * h, (r + 1) * h, highlight);
        if (r == 1)
            EXPECT_GT(lit, 50);
        else
            EXPECT_EQ(lit, 0) << "row " << r;
    }
    // below the last row nothing is drawn
    EXPECT_EQ(CountColour(img, 7 * h, img.height(), base), img.width() * (img.height() - 7 * h));
}

TEST(OutlineView, Screenshot) {
    Fixture f;
    f.tree.SetPicture(opLeaf, "MAINLEAF");
    ExpandEverything(f.tree);
    f.tree.Items(f.tree.ItemCount() - 1)->Collapse(); // WINDOWS
    f.tree.SetSelectedItem(4);
    f.view.setFocus();
    f.view.resize(240, f.view.RowHeight() * (f.tree.RowCount() + 1) + 8);
    QApplication::processEvents();
    const QImage shot = f.view.grab().toImage();
    EXPECT_FALSE(shot.isNull());
    // Into the temporary folder, never the source tree the tests run from.
    const std::filesystem::path file = std::filesystem::temp_directory_path() / "quindle-outline.png";
    EXPECT_TRUE(shot.save(QString::fromStdString(file.string())));
    EXPECT_EQ(QImage(QString::fromStdString(file.string())).size(), shot.size());
    std::filesystem::remove(file);
}

// A walk changes the tree once per folder and pumps events in between: the view draws at
// most one frame per kFrameMs, and what it shows after the last frame is the tree as it is.
TEST(OutlineView, AWalkIsDrawnInFramesAndTheLastFrameShowsTheWholeTree) {
    Fixture f;
    TempDrive& c = f.c;
    std::string deep = "Deep";
    for (int i = 0; i < 6; ++i) deep += "/Level" + std::to_string(i);
    c.MakeDir(deep + "/" + std::string(60, 'W'));
    for (int i = 0; i < 300; ++i) c.MakeDir("Many/Folder " + std::to_string(i));
    f.tree.SetDrive('D');
    f.tree.SetDrive('C');
    struct Paints : QObject {
        int n = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            n += e->type() == QEvent::Paint;
            return false;
        }
    } paints;
    f.view.viewport()->installEventFilter(&paints);
    QTest::qWait(OutlineView::kFrameMs + 5);
    QElapsedTimer clock;
    clock.start();
    for (int i = 1; i <= f.tree.ItemCount(); ++i) {
        f.tree.SetSelectedItem(i);
        f.tree.Items(i)->Expand();
        QApplication::processEvents();
    }
    const qint64 took = clock.elapsed();
    EXPECT_GT(f.tree.ItemCount(), 300);
    EXPECT_LE(paints.n, took / OutlineView::kFrameMs + 2) << "in " << took << " ms";

    // the last frame comes by itself, with the scroll range, the current row and the widest row
    QTest::qWait(OutlineView::kWidestMs + 2 * OutlineView::kFrameMs);
    QApplication::processEvents();
    const int page = f.view.viewport()->height() / f.view.RowHeight();
    EXPECT_EQ(f.view.verticalScrollBar()->maximum(), f.tree.RowCount() - page);
    EXPECT_GE(f.tree.Row(), f.view.FirstVisibleRow());
    EXPECT_LT(f.tree.Row(), f.view.FirstVisibleRow() + page);
    const int wide = f.view.horizontalScrollBar()->maximum();
    EXPECT_GT(wide + f.view.viewport()->width(),
              8 * f.view.RowHeight() + f.view.fontMetrics().horizontalAdvance(QString(60, QLatin1Char('W'))));

    // collapsing the deep branch takes its widest row away; a renamed row is measured anew
    int deepItem = 0;
    for (int i = 1; i <= f.tree.ItemCount() && !deepItem; ++i)
        if (f.tree.Items(i)->Text() == "Deep") deepItem = i;
    ASSERT_GT(deepItem, 0);
    f.tree.Items(deepItem)->Collapse();
    f.view.FlushFrame();
    QApplication::processEvents();
    EXPECT_LT(f.view.horizontalScrollBar()->maximum(), wide);
    f.tree.Items(deepItem)->SetText(std::string(90, 'M'));
    f.view.FlushFrame();
    EXPECT_GT(f.view.horizontalScrollBar()->maximum() + f.view.viewport()->width(),
              f.view.fontMetrics().horizontalAdvance(QString(90, QLatin1Char('M'))));

    // a change after a quiet spell is drawn within a frame, without a flush
    QTest::qWait(OutlineView::kWidestMs + 2 * OutlineView::kFrameMs);
    ASSERT_GT(f.view.FirstVisibleRow(), 0);
    f.tree.SetSelectedItem(1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return f.view.FirstVisibleRow() == 0; }, 3 * OutlineView::kFrameMs))
        << f.view.FirstVisibleRow();
}

// The horizontal scroll range is the widest row's, as shaping measures it, whatever rows the
// view leaves unmeasured: kerned, wide and narrow letters, accents, CJK, control characters,
// not valid UTF-8, at depths where the widest by length is not the widest drawn.
TEST(OutlineView, TheWidestRowIsExactlyTheWidestDrawn) {
    Fixture f;
    TempDrive& c = f.c;
    const std::vector<std::string> names = {
        "AVAVAVAVAVAVAVAVAVAVAVAVAVAVAVAV", "WWWWWWWWWWWWWWWWWWWWWW", "iiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiii",
        "lllllllllllllllllllllllllllllllllllllllllllll", "T.Y.P.E.W.A.V.E.f.f.i.f.l", "\xc3\xa9t\xc3\xa9 \xc3\xa0 No\xc3\xabl",
        "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\xe3\x81\xae\xe3\x83\x95\xe3\x82\xa9\xe3\x83\xab\xe3\x83\x80",
        "tab\there and\tthere", "not \xff\xfe utf-8", "mmmmmmmmmmmmmmmmmmm"};
    std::string path = "Nest";
    for (size_t depth = 0; depth < names.size(); ++depth) {
        for (size_t i = 0; i < names.size(); ++i) c.MakeDir(path + "/" + names[i]);
        path += "/" + names[depth];
    }
    // And 1,500 folders of random ASCII names at random depths, the widest among many close ones.
    std::mt19937 rng(29);
    const std::string letters = "AVWTYfilmjrtx .-_0123456789abcdefghMNOPQRS";
    std::vector<std::string> folders{"Random"};
    for (int i = 0; i < 1500; ++i) {
        std::string name(4 + rng() % 30, 'x');
        for (char& ch : name) ch = letters[rng() % letters.size()];
        if (name.front() == ' ' || name.front() == '.') name.front() = 'Q';
        folders.push_back(folders[rng() % folders.size()] + "/" + name + std::to_string(i));
        c.MakeDir(folders.back());
    }
    f.tree.SetDrive('D');
    f.tree.SetDrive('C');
    ExpandEverything(f.tree);
    f.view.FlushFrame();
    QApplication::processEvents();

    const int h = f.view.RowHeight();
    const int rootCols = (f.tree.Options & ooDrawTreeRoot) ? 1 : 0;
    int widest = 0;
    for (int i = 1; i <= f.tree.ItemCount(); ++i) {
        const TOutlineNode* n = f.tree.Items(i);
        const QString text = QString::fromUtf8(n->Text().data(), static_cast<qsizetype>(n->Text().size()));
        // indentation and picture column, a gap, the text, a gap and one pixel
        widest = std::max(widest, (n->Level() + rootCols) * h + 2 + f.view.fontMetrics().horizontalAdvance(text) + 2 + 1);
    }
    ASSERT_GT(widest, f.view.viewport()->width());
    EXPECT_EQ(f.view.horizontalScrollBar()->maximum() + f.view.viewport()->width(), widest);
}
