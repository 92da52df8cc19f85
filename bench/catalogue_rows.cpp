// The windows over a catalogue of 1,000,000 entries, against reading the catalogue file.
//
// Writes a catalogue of 1,001,111 entries (1,111 folders in three levels, 1,000 files in each
// of the 1,000 deepest, all named "Holiday_<n>.jpg" with sizes and dates of their own) into
// a temporary folder, then, warm cache, best of several runs:
//   read    - the catalogue file read and decoded whole (the baseline)
//   index   - TDiskBrowseView over it (the entries of each folder, side by side)
//   matches - what activating a disk's report row costs: read, index, every entry holding
//             the word, handed to the matches window's model sorted by folder path and name
//   sort    - the 1,000,000 matches sorted by name, size, date and folder (4 sorts)
//   filter  - 3 letters typed into the matches' filter and cleared again (4 filterings)
//   browse  - Browse opened: read, index, the tree's model, the root's entries listed
//   find    - Browse's filter over the whole disk, 3 letters typed (3 filterings)
//   scroll  - one page of the matches painted (100 pages from the top to the bottom)
// and prints milliseconds and each one's ratio to read.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include <QApplication>
#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>
#include <QTreeView>

#include "catalogue/CatalogueFile.h"
#include "catalogue/DiskBrowseView.h"
#include "ui/shared/CatalogueModels.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace quindle;

namespace {

constexpr int kRuns = 5;

double BestMs(const std::function<void()>& fn) {
    double best = 1e30;
    for (int r = 0; r < kRuns; ++r) {
        const auto t0 = Clock::now();
        fn();
        best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    return best;
}

Catalogue Read(const std::string& path) {
    CatalogueProblem why = CatalogueProblem::None;
    auto c = ReadCatalogueFile(path, why);
    if (!c) {
        std::fprintf(stderr, "cannot read %s: %s\n", path.c_str(), CatalogueProblemText(why));
        std::exit(2);
    }
    return std::move(*c);
}

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const fs::path dir = fs::temp_directory_path() / ("quindle_bench_catrows_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string path = (dir / "1.cat").string();
    {
        CatalogueBuilder b;
        uint64_t n = 0;
        for (int i = 0; i < 10; ++i) {
            const uint32_t a = b.Add(0, "Folder " + std::to_string(i * 7 % 10), EntryKind::Folder, 0, 1'600'000'000 + i);
            for (int j = 0; j < 10; ++j) {
                const uint32_t m = b.Add(a, "Sub" + std::to_string(j * 3 % 10), EntryKind::Folder, 0, 1'600'000'000 + j);
                for (int k = 0; k < 10; ++k) {
                    const uint32_t f = b.Add(m, "Leaf " + std::to_string(k), EntryKind::Folder, 0, 1'600'000'000 + k);
                    for (int e = 0; e < 1000; ++e, ++n)
                        b.Add(f, (n % 2 ? "holiday_" : "HOLIDAY_") + std::to_string(n * 7919 % 1000003) + ".jpg",
                              EntryKind::File, n * 2654435761u % 10'000'000, 1'500'000'000 + static_cast<int64_t>(n * 40503 % 100'000'000));
                }
            }
        }
        DiskFigures f;
        f.root = "E:\\";
        f.complete = true;
        WriteCatalogueFile(path, b.Finish(f));
    }
    size_t sink = 0;

    const double read = BestMs([&] { sink += Read(path).Count(); });
    const Catalogue whole = Read(path);
    const double index = BestMs([&] { sink += TDiskBrowseView(Catalogue(whole)).Count(); });

    TCatalogueRowsModel model;
    const auto loadMatches = [&] {
        auto idx = std::make_shared<TDiskBrowseView>(Read(path));
        std::vector<uint32_t> rows = idx->Holding("Holiday");
        model.sort(TCatalogueRowsModel::FolderColumn, Qt::AscendingOrder);
        model.SetRows(std::move(idx), std::move(rows));
        sink += static_cast<size_t>(model.rowCount());
    };
    const double matches = BestMs(loadMatches);
    loadMatches();
    const double sort = BestMs([&] {
        for (const int c : {TCatalogueRowsModel::NameColumn, TCatalogueRowsModel::SizeColumn,
                            TCatalogueRowsModel::DateColumn, TCatalogueRowsModel::FolderColumn})
            model.sort(c, Qt::AscendingOrder);
        sink += static_cast<size_t>(model.Entry(0));
    });
    const double filter = BestMs([&] {
        for (const char* f : {"9", "99", "999", ""}) model.SetFilter(QString::fromLatin1(f));
        sink += static_cast<size_t>(model.rowCount());
    });

    TCatalogueTreeModel tree;
    QTreeView treeView;
    treeView.setUniformRowHeights(true);
    treeView.setModel(&tree);
    treeView.resize(300, 400);
    treeView.show();
    TCatalogueRowsModel browseRows;
    browseRows.SetFoldersFirst(true);
    const double browse = BestMs([&] {
        auto idx = std::make_shared<TDiskBrowseView>(Read(path));
        tree.SetIndex(idx);
        treeView.expand(tree.IndexOf(0));
        const auto kids = idx->Children(0);
        browseRows.sort(TCatalogueRowsModel::NameColumn, Qt::AscendingOrder);
        browseRows.SetRows(idx, std::vector<uint32_t>(kids.begin(), kids.end()));
        QApplication::processEvents();
        sink += static_cast<size_t>(browseRows.rowCount());
    });
    const double find = BestMs([&] {
        const auto& idx = tree.Index();
        for (const char* f : {"9", "99", "999"}) browseRows.SetRows(idx, idx->FilterAll(f));
        sink += static_cast<size_t>(browseRows.rowCount());
    });

    QTableView view;
    view.verticalHeader()->hide();
    view.verticalHeader()->setDefaultSectionSize(15);
    view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view.horizontalHeader()->setStretchLastSection(true);
    view.resize(720, 400);
    view.setModel(&model);
    view.show();
    QApplication::processEvents();
    QScrollBar* bar = view.verticalScrollBar();
    const double scroll = BestMs([&] {
        for (int p = 0; p <= 100; ++p) {
            bar->setValue(static_cast<int>(static_cast<long long>(bar->maximum()) * p / 100));
            view.viewport()->repaint();
        }
    }) / 101;

    std::printf("catalogue: %.1f MB, %zu entries, %d matches\n", fs::file_size(path) / 1e6, whole.Count(),
                model.rowCount());
    std::printf("read     %8.1f ms  1.00\n", read);
    std::printf("index    %8.1f ms  %.2f x read\n", index, index / read);
    std::printf("matches  %8.1f ms  %.2f x read\n", matches, matches / read);
    std::printf("sort     %8.1f ms  %.2f x read  (name, size, date, folder)\n", sort, sort / read);
    std::printf("filter   %8.1f ms  %.2f x read  (3 letters typed and cleared, 4 filterings)\n", filter, filter / read);
    std::printf("browse   %8.1f ms  %.2f x read\n", browse, browse / read);
    std::printf("find     %8.1f ms  %.2f x read  (3 letters typed, the whole disk each)\n", find, find / read);
    std::printf("scroll   %8.2f ms  %.2f x read  (one page painted)\n", scroll, scroll / read);
    fs::remove_all(dir);
    return sink == 0;
}
