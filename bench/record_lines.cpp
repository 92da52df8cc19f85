// Listing the lines of one record that hold a word, against just reading the record.
//
// Writes a record of 1,000,000 names that all hold the word (100 sections of 10,000
// "Holiday_<n>.jpg=<n>" lines, CR LF) into a temporary folder, then, warm cache, best of
// several runs:
//   read   - open, read whole into a buffer, close (the baseline)
//   match  - TRecordText + ForEachMatchingLine, each line's views kept in a vector
//   sorted - match, then the rows sorted by folder, then name, ignoring case
//   model  - what activating the disk's report row costs: TRecordListing::Matches into the
//            match window's TRecordLinesModel (read, match, sort, rows handed to the model)
//   shown  - model, then set into a table view that lays out its first page (offscreen)
//   window - the same with the view left on the model, as the matches window does it
//   filter - typing a 3-letter filter into the 1,000,000 rows, and clearing it again
//   scroll - 100 pages of the view painted, from the top to the bottom, per page
// and prints milliseconds and each one's ratio to read.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <fstream>
#include <string>
#include <vector>

#include <QApplication>
#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>

#include "platform/CodePage.h"
#include "search/RecordLines.h"
#include "search/RecordListing.h"
#include "ui/shared/RecordLinesModel.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRuns = 7;

double BestMs(const std::function<void()>& fn) {
    double best = 1e30;
    for (int r = 0; r < kRuns; ++r) {
        const auto t0 = Clock::now();
        fn();
        best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    return best;
}

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const fs::path dir = fs::temp_directory_path() / ("quindle_bench_lines_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string path = (dir / "1.dat").string();
    {
        std::ofstream out(path, std::ios::binary);
        out << "\r\n";
        int n = 0;
        for (int s = 0; s < 100; ++s) {
            out << "[Folder" << (s * 37 % 100) << "]\r\n";
            for (int k = 0; k < 10000; ++k, ++n) out << (n % 2 ? "holiday_" : "HOLIDAY_") << (n * 7919 % 1000003) << ".jpg=" << k + 1 << "\r\n";
            out << "\r\n";
        }
        out << "[Special Information about this disk by Quindle]\r\nTitle=Bench\r\n";
    }
    const char* const info = "Special Information about this disk by Quindle";
    size_t sink = 0;

    const double read = BestMs([&] {
        const int fd = ::open(path.c_str(), O_RDONLY);
        std::string buf(fs::file_size(path), '\0');
        size_t len = 0;
        for (ssize_t r; (r = ::read(fd, buf.data() + len, buf.size() - len)) > 0;) len += static_cast<size_t>(r);
        ::close(fd);
        sink += len;
    });

    // A row keeps the first 16 folded bytes of its name as one number, so most comparisons
    // of the sort are one integer compare (folders compare by their rank among the folders).
    struct Row {
        std::string_view folder, name;
        uint32_t folderRank = 0;
        uint64_t prefix[2] = {0, 0};
    };
    std::vector<Row> rows;
    auto match = [&] {
        rows.clear();
        quindle::TRecordText text(path); // not const: returned by move, the views stay valid
        text.ForEachMatchingLine("Holiday", info, [&](const quindle::RecordLine& l) { rows.push_back({l.section, l.key}); });
        sink += rows.size();
        return text;
    };
    const double matched = BestMs([&] { match(); });
    const double sorted = BestMs([&] {
        const quindle::TRecordText keep = match();
        std::vector<std::string_view> folders;
        for (const Row& r : rows)
            if (folders.empty() || folders.back().data() != r.folder.data()) folders.push_back(r.folder);
        std::vector<std::string_view> order = folders;
        std::sort(order.begin(), order.end(), [](std::string_view a, std::string_view b) { return quindle::CompareText(a, b) < 0; });
        const char* last = nullptr;
        uint32_t rank = 0;
        for (Row& r : rows) {
            if (r.folder.data() != last) { // a new section: look its rank up once
                last = r.folder.data();
                rank = static_cast<uint32_t>(std::lower_bound(order.begin(), order.end(), r.folder,
                                                              [](std::string_view a, std::string_view b) {
                                                                  return quindle::CompareText(a, b) < 0;
                                                              }) - order.begin());
            }
            r.folderRank = rank;
            for (size_t w = 0; w < 2; ++w) {
                uint64_t p = 0;
                for (size_t i = 8 * w; i < 8 * w + 8; ++i)
                    p = p << 8 | (i < r.name.size() ? quindle::LowerByte(static_cast<unsigned char>(r.name[i])) : 0);
                r.prefix[w] = p;
            }
        }
        std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
            if (a.folderRank != b.folderRank) return a.folderRank < b.folderRank;
            if (a.prefix[0] != b.prefix[0]) return a.prefix[0] < b.prefix[0];
            if (a.prefix[1] != b.prefix[1]) return a.prefix[1] < b.prefix[1];
            return quindle::CompareText(a.name, b.name) < 0;
        });
        sink += rows.front().name.size();
    });

    quindle::TRecordLinesModel model;
    const double modelMs = BestMs([&] {
        model.SetListing(quindle::TRecordListing::Matches(quindle::TRecordText(path), "Holiday", info));
        sink += static_cast<size_t>(model.rowCount());
    });
    QTableView view;
    view.verticalHeader()->hide();
    view.verticalHeader()->setDefaultSectionSize(15);
    view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view.horizontalHeader()->setStretchLastSection(true);
    view.resize(480, 320);
    view.show();
    const double shown = BestMs([&] {
        view.setModel(nullptr);
        model.SetListing(quindle::TRecordListing::Matches(quindle::TRecordText(path), "Holiday", info));
        view.setModel(&model);
        QApplication::processEvents();
        sink += static_cast<size_t>(view.verticalScrollBar()->maximum());
    });
    // As the window does it: the view stays on the model, the old rows go and the new come.
    const double attached = BestMs([&] {
        model.SetListing(quindle::TRecordListing::Matches(quindle::TRecordText(path), "Holiday", info));
        QApplication::processEvents();
        sink += static_cast<size_t>(view.verticalScrollBar()->maximum());
    });
    const double filter = BestMs([&] {
        for (const char* f : {"9", "99", "999", ""}) model.SetFilter(QString::fromLatin1(f));
        sink += static_cast<size_t>(model.rowCount());
    });
    QScrollBar* bar = view.verticalScrollBar();
    const double scroll = BestMs([&] {
        for (int p = 0; p <= 100; ++p) {
            bar->setValue(static_cast<int>(static_cast<long long>(bar->maximum()) * p / 100));
            view.viewport()->repaint();
        }
    }) / 101;
    const size_t modelRows = static_cast<size_t>(model.rowCount());

    std::printf("record: %.1f MB, %zu matching lines, %zu model rows\n", fs::file_size(path) / 1e6, rows.size(),
                modelRows);
    std::printf("read    %8.1f ms  1.00\n", read);
    std::printf("match   %8.1f ms  %.2f x read\n", matched, matched / read);
    std::printf("sorted  %8.1f ms  %.2f x read\n", sorted, sorted / read);
    std::printf("model   %8.1f ms  %.2f x read\n", modelMs, modelMs / read);
    std::printf("shown   %8.1f ms  %.2f x read\n", shown, shown / read);
    std::printf("window  %8.1f ms  %.2f x read  (the view stays on the model)\n", attached, attached / read);
    std::printf("filter  %8.1f ms  %.2f x read  (3 letters typed and cleared, 4 filterings)\n", filter, filter / read);
    std::printf("scroll  %8.2f ms  %.2f x read  (one page painted)\n", scroll, scroll / read);
    fs::remove_all(dir);
    return sink == 0;
}
