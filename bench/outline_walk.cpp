// The memorizer's walk over a growing outline: for i = 1 while i <= ItemCount, select item
// i and expand it; the expand hook adds the item's children (a synthetic directory shape).
// Prints the cost per 10,000 items at 10,000, 50,000 and 100,000 items and the ratio of the
// last to the first, which stays near 1 when the walk is O(n log n) or better. Also lists a
// real folder of 20,000 subfolders created in random order, against a plain read of it.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "app/AppContext.h"
#include "browse/DirectoryOutline.h"
#include "browse/Outline.h"

using namespace quindle;
using Clock = std::chrono::steady_clock;

namespace {

// Children of item i come from a seeded hash of its path position: fan-out 1..50, up to
// depth 8, and one directory with 20,000 children; growth stops at `limit` items.
class SyntheticTree : public TCustomOutline {
public:
    explicit SyntheticTree(int limit) : limit_(limit) {}

protected:
    void ExpandHook(int index) override {
        TOutlineNode* node = Items(index);
        const int level = node->Level();
        if (level >= 8 || ItemCount() >= limit_) return;
        uint32_t h = static_cast<uint32_t>(index) * 2654435761u;
        h ^= h >> 13;
        int fan = level == 3 && !wideDone_ ? 20000 : static_cast<int>(h % 50) + 1;
        if (level == 3 && !wideDone_) wideDone_ = true;
        if (level >= 4 && h % 3 != 0) fan = static_cast<int>(h % 4); // deeper levels thin out
        fan = std::min(fan, limit_ - ItemCount());
        for (int k = 0; k < fan; ++k) InsertChildAt(node, node->ChildCount(), "d" + std::to_string(k));
        if (fan > 0) FinishInsertion(index);
    }

private:
    int limit_;
    bool wideDone_ = false;
};

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

} // namespace

int main() {
    const int limit = 100000;
    SyntheticTree tree(limit);
    tree.AddChild(0, "C:\\");
    std::vector<std::pair<int, double>> marks; // items walked, seconds so far
    const int checkpoints[] = {10000, 50000, 100000};
    size_t next = 0;
    const auto start = Clock::now();
    int i = 1;
    for (; i <= tree.ItemCount(); ++i) {
        tree.SetSelectedItem(i);
        tree.Items(i)->Expand();
        if (next < 3 && i == checkpoints[next]) {
            marks.emplace_back(i, Seconds(start, Clock::now()));
            ++next;
        }
    }
    const double total = Seconds(start, Clock::now());
    std::printf("outline walk (select i, expand i) over %d items: %.1f ms\n", i - 1, total * 1000);
    double prevT = 0;
    int prevN = 0;
    std::vector<double> per;
    for (auto [n, t] : marks) {
        const double p = (t - prevT) / (n - prevN) * 10000 * 1000;
        per.push_back(p);
        std::printf("  items %6d..%6d: %.3f ms per 10,000 items\n", prevN + 1, n, p);
        prevT = t;
        prevN = n;
    }
    if (per.size() == 3)
        std::printf("  ratio (100,000 segment / 10,000 segment): %.2f  (near 1 = O(n log n) or better)\n",
                    per[2] / per[0]);

    // BuildOneLevel of a real folder with 20,000 subfolders made in random order.
    const std::string base = (std::filesystem::temp_directory_path() / "quindle-bench-outline").string();
    std::filesystem::remove_all(base);
    std::filesystem::create_directories(base);
    std::vector<int> order(20000);
    for (int k = 0; k < 20000; ++k) order[k] = k;
    std::shuffle(order.begin(), order.end(), std::mt19937(11));
    for (int k : order) mkdir((base + "/dir" + std::to_string(k * 7919 % 20011)).c_str(), 0700);

    // baseline: the same directories read plainly. Each is the best of five runs.
    double plainSec = 1e9;
    for (int run = 0; run < 5; ++run) {
        const auto t0 = Clock::now();
        size_t plain = 0;
        if (DIR* d = opendir(base.c_str())) {
            while (dirent* e = readdir(d))
                if (e->d_type == DT_DIR && e->d_name[0] != '.') ++plain;
            closedir(d);
        }
        plainSec = std::min(plainSec, Seconds(t0, Clock::now()));
        if (plain != 20000) std::printf("plain read found %zu folders\n", plain);
    }

    AppContext ctx;
    DriveInfo drive;
    drive.letter = 'E';
    drive.root = base;
    ctx.platform.SetDrives({drive});
    double listSec = 1e9, firstSec = 0;
    int listed = 0;
    for (int run = 0; run < 5; ++run) {
        TDirectoryOutline fresh(ctx);
        fresh.SetTextCase(tcAsIs);
        fresh.SetDrive('E');
        const auto t0 = Clock::now();
        fresh.BuildOneLevel(1);
        const double sec = Seconds(t0, Clock::now());
        if (run == 0) firstSec = sec; // the process's first tree: its memory is new to it
        listSec = std::min(listSec, sec);
        listed = fresh.ItemCount() - 1;
    }
    std::printf("BuildOneLevel of 20,000 subfolders in random order: %.1f ms (%d items; plain readdir %.1f ms, "
                "ratio %.1f, goal <= 3; the process's first listing %.1f ms, ratio %.1f)\n",
                listSec * 1000, listed, plainSec * 1000, listSec / plainSec, firstSec * 1000, firstSec / plainSec);

    TDirectoryOutline dir(ctx);
    dir.SetTextCase(tcAsIs);
    dir.SetDrive('E');
    dir.BuildOneLevel(1);
    auto t0 = Clock::now();
    // merging into a listed level goes through the per-name binary search and inserts
    dir.BuildOneLevel(1);
    const double mergeSec = Seconds(t0, Clock::now());
    std::printf("BuildOneLevel again, merging 20,000 names into 20,000 children: %.1f ms\n", mergeSec * 1000);
    std::filesystem::remove_all(base);
    return 0;
}
