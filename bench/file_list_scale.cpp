// Lists a directory of many files with the memorizer's lister settings and compares the
// time with a plain directory search of the same folder (collect names, sort once), run
// in the same process. Also feeds names in alphabetical and reverse order, the two
// extremes of the sorted insert, against a plain sort of the same names.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "browse/FileListBox.h"
#include "platform/CodePage.h"

using namespace quindle;
using Clock = std::chrono::steady_clock;

namespace {

template <class F>
double Best(int runs, F&& f) {
    double best = 1e100;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = Clock::now();
        f();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
    }
    return best;
}

} // namespace

int main(int argc, char** argv) {
    const int n = argc > 1 ? std::atoi(argv[1]) : 100000;
    std::string root = (std::filesystem::temp_directory_path() / "quindle-bench-XXXXXX").string();
    if (!mkdtemp(root.data())) return 1;
    for (int i = 0; i < n; ++i) {
        const std::string p = root + "/File" + std::to_string((i * 7919) % n) + (i % 3 ? ".txt" : ".DAT");
        close(open(p.c_str(), O_CREAT | O_WRONLY, 0644));
    }

    AppContext ctx;
    DriveInfo d;
    d.letter = 'E';
    d.root = root;
    ctx.platform.SetDrives({d});
    ctx.platform.SetCurrentDir("E:\\");

    size_t baseCount = 0;
    const double base = Best(3, [&] {
        std::vector<std::string> names;
        ctx.platform.FindFiles("E:\\", "*.*", faReadOnly | faHidden | faSysFile | faArchive,
                               [&](const SearchRec& r) { names.push_back(r.Name); });
        std::sort(names.begin(), names.end(), TFileListBox::RowLess);
        baseCount = names.size();
    });
    size_t listCount = 0;
    const double list = Best(3, [&] {
        TFileListBox lb(ctx);
        lb.SetFileType(ftReadOnly | ftHidden | ftSystem | ftArchive | ftNormal);
        listCount = lb.Items().size();
    });

    std::vector<SearchRec> recs;
    for (int i = 0; i < n; ++i) recs.push_back({"name" + std::to_string(1000000 + i), faArchive});
    std::vector<std::string> plain;
    for (const auto& r : recs) plain.push_back(r.Name);
    const double sortBase = Best(3, [&] {
        auto v = plain;
        std::reverse(v.begin(), v.end());
        std::sort(v.begin(), v.end(), TFileListBox::RowLess);
    });
    std::vector<SearchRec> reversed(recs.rbegin(), recs.rend());
    // An empty folder for the listers, so only the fed names count.
    const std::string empty = root + "/empty";
    std::filesystem::create_directory(empty);
    ctx.platform.SetCurrentDir(empty);
    const double alpha = Best(3, [&] {
        TFileListBox lb(ctx);
        lb.AddEntries(recs);
    });
    const double reverse = Best(3, [&] {
        TFileListBox lb(ctx);
        lb.AddEntries(reversed);
    });

    std::printf("files: %d (listed %zu, plain search %zu)\n", n, listCount, baseCount);
    std::printf("directory listing: lister / plain search+sort = %.2f  (%.1f ms vs %.1f ms)\n", list / base,
                list * 1e3, base * 1e3);
    std::printf("alphabetical arrival: AddEntries / plain sort = %.2f\n", alpha / sortBase);
    std::printf("reverse arrival:      AddEntries / plain sort = %.2f\n", reverse / sortBase);
    std::filesystem::remove_all(root);
    return 0;
}
