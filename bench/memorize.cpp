// Memorizing a disk of 100,000 files in 5,000 folders, and one of 1,000,000 files in 50,000
// folders, against a plain recursive directory read that writes "name=index" lines into
// one file. Prints files per second, the ratio of the two times and the peak memory growth
// of the memorization.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include "app/AppContext.h"
#include "browse/DirectoryOutline.h"
#include "browse/FileListBox.h"
#include "catalogue/CatalogueFile.h"
#include "records/IniFile.h"
#include "records/Memorizer.h"

using namespace quindle;
namespace fs = std::filesystem;

namespace {

double Seconds(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

long PeakKiB() {
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

void ResetPeak() {
    std::ofstream f("/proc/self/clear_refs");
    f << "5";
}

// 50 top-level folders, each a tree of `perTop` folders of 20 files; names of 8 to 30
// characters in mixed case, a fifth of them repeating a name used elsewhere under the same
// top-level folder.
size_t Generate(const std::string& root, int perTop) {
    std::mt19937 rng(42);
    const std::string alphabet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-";
    auto name = [&] {
        std::string s(8 + rng() % 23, 'x');
        for (auto& c : s) c = alphabet[rng() % alphabet.size()];
        return s;
    };
    size_t files = 0;
    for (int top = 0; top < 50; ++top) {
        std::vector<std::string> used;
        std::vector<std::string> dirs{root + "/T" + std::to_string(top) + name()};
        fs::create_directories(dirs[0]);
        while (dirs.size() < static_cast<size_t>(perTop)) {
            const std::string parent = dirs[rng() % dirs.size()];
            dirs.push_back(parent + "/" + name());
            fs::create_directories(dirs.back());
        }
        for (const auto& d : dirs) {
            // A repeat takes a name of another folder of this top-level folder, never one
            // this folder already has; the names of a folder are decided before it is
            // added to `used`, so every folder gets exactly 20 distinct files.
            std::unordered_set<std::string> here;
            while (here.size() < 20) {
                std::string n = (!used.empty() && rng() % 5 == 0) ? used[rng() % used.size()] : name() + ".dat";
                if (!here.insert(n).second) continue;
                const int fd = open((d + "/" + n).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
                if (fd >= 0) close(fd);
            }
            used.insert(used.end(), here.begin(), here.end());
        }
    }
    for (auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) ++files;
    return files;
}

void PlainWalk(const std::string& dir, FILE* out, size_t& count) {
    DIR* d = opendir(dir.c_str());
    if (!d) return;
    std::vector<std::string> subdirs;
    size_t index = 0;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        if (e->d_type == DT_DIR) {
            subdirs.push_back(dir + "/" + e->d_name);
        } else {
            std::fprintf(out, "%s=%zu\r\n", e->d_name, ++index);
            ++count;
        }
    }
    closedir(d);
    for (const auto& s : subdirs) PlainWalk(s, out, count);
}

// Where the memorizer's time goes: the same walk as MemorizeDisk, step by step, with a
// clock around each part. Seconds per part.
struct Breakdown {
    double select = 0, expand = 0, lister = 0, writes = 0, save = 0;
};

Breakdown TimedWalk(AppContext& ctx, char d, const std::string& path) {
    using clock = std::chrono::steady_clock;
    Breakdown b;
    TDirectoryOutline tree(ctx);
    tree.SetTextCase(tcAsIs);
    TFileListBox lister(ctx);
    lister.SetFileType(ftReadOnly | ftHidden | ftSystem | ftArchive | ftNormal);
    ResetBrowsers(tree, lister, d);
    // As the walk does: the store opens the file the walk created empty.
    unlink(path.c_str());
    close(open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    TIniFile32 store(path);
    store.SetDeferred(true);
    for (int i = 1; i <= tree.ItemCount(); ++i) {
        auto t = clock::now();
        tree.SetSelectedItem(i);
        b.select += Seconds(t);
        t = clock::now();
        tree.Items(i)->Expand();
        b.expand += Seconds(t);
        const std::string dir = tree.Directory();
        t = clock::now();
        lister.ShowDirectory(dir, tree.HostPath(i));
        const auto& names = lister.Items();
        b.lister += Seconds(t);
        std::string section = FirstFolderName(dir);
        if (section.empty()) section = dir;
        t = clock::now();
        for (size_t j = 0; j < names.size(); ++j) store.WriteString(section, names[j], std::to_string(j + 1));
        b.writes += Seconds(t);
    }
    const auto t = clock::now();
    store.Checkpoint();
    b.save = Seconds(t);
    return b;
}

// The record on disk against the store's lines, as a fresh save would write them.
bool DiskMatches(const TIniFile32& store) {
    std::ifstream f(store.FileName(), std::ios::binary);
    const std::string disk((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    std::string expected;
    for (const auto& line : store.LineList()) expected += line + "\r\n";
    return disk == expected;
}

// Checkpoints of the same walk compared with the store's memory (every 50th and the last):
// an in-place update at a wrong offset shows here.
bool CheckedWalk(AppContext& ctx, char d, const std::string& path) {
    TDirectoryOutline tree(ctx);
    tree.SetTextCase(tcAsIs);
    TFileListBox lister(ctx);
    lister.SetFileType(ftReadOnly | ftHidden | ftSystem | ftArchive | ftNormal);
    ResetBrowsers(tree, lister, d);
    unlink(path.c_str());
    TIniFile32 store(path);
    store.SetDeferred(true);
    bool ok = true;
    for (int i = 1; i <= tree.ItemCount(); ++i) {
        store.Checkpoint();
        if (i % 50 == 0) ok &= DiskMatches(store);
        tree.SetSelectedItem(i);
        tree.Items(i)->Expand();
        const std::string dir = tree.Directory();
        lister.ShowDirectory(dir, tree.HostPath(i));
        const auto& names = lister.Items();
        std::string section = FirstFolderName(dir);
        if (section.empty()) section = dir;
        for (size_t j = 0; j < names.size(); ++j) store.WriteString(section, names[j], std::to_string(j + 1));
    }
    store.Checkpoint();
    return ok && DiskMatches(store);
}

// The least work that yields sizes and dates: every folder read, every entry stat-ed in it.
void StatWalk(int dirFd, size_t& count) {
    DIR* d = fdopendir(dirFd);
    if (!d) {
        close(dirFd);
        return;
    }
    std::vector<int> subdirs;
    struct stat st;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        if (fstatat(dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        ++count;
        if (S_ISDIR(st.st_mode)) {
            const int fd = openat(dirfd(d), e->d_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (fd >= 0) subdirs.push_back(fd);
        }
    }
    closedir(d);
    for (const int fd : subdirs) StatWalk(fd, count);
}

struct CaseResult {
    double baseline = 1e9, memorize = 1e9, statWalk = 1e9, catalogueRead = 1e9;
    size_t catalogueSize = 0, catalogueEntries = 0, catalogueMemory = 0;
    long peakKiB = 0;
    size_t recordSize = 0;
};

// The best of `runs` plain reads and memorizations of drive E: into package/1.dat.
CaseResult Measure(AppContext& ctx, const std::string& disk, const std::string& package, int runs) {
    CaseResult r;
    for (int run = 0; run < runs; ++run) {
        auto t0 = std::chrono::steady_clock::now();
        FILE* out = std::fopen((package + "/baseline.txt").c_str(), "wb");
        size_t count = 0;
        PlainWalk(disk, out, count);
        std::fclose(out);
        r.baseline = std::min(r.baseline, Seconds(t0));
        t0 = std::chrono::steady_clock::now();
        size_t statted = 0;
        StatWalk(open(disk.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), statted);
        r.statWalk = std::min(r.statWalk, Seconds(t0));

        TDirectoryOutline tree(ctx);
        tree.SetTextCase(tcAsIs);
        TFileListBox lister(ctx);
        lister.SetFileType(ftReadOnly | ftHidden | ftSystem | ftArchive | ftNormal);
        ResetPeak();
        const long before = PeakKiB();
        t0 = std::chrono::steady_clock::now();
        MemorizeDisk(ctx, tree, lister, 'E', package + "/1.dat");
        r.memorize = std::min(r.memorize, Seconds(t0));
        r.peakKiB = std::max(r.peakKiB, PeakKiB() - before);
        r.recordSize = fs::file_size(package + "/1.dat");
        r.catalogueSize = fs::file_size(package + "/1.cat");
    }
    for (int run = 0; run < 3; ++run) {
        const auto t0 = std::chrono::steady_clock::now();
        CatalogueProblem problem;
        const auto cat = ReadCatalogueFile(package + "/1.cat", problem);
        r.catalogueRead = std::min(r.catalogueRead, Seconds(t0));
        if (!cat) std::printf("catalogue cannot be read: %s\n", CatalogueProblemText(problem));
        r.catalogueEntries = cat ? cat->Count() : 0;
        r.catalogueMemory = cat ? cat->MemoryBytes() : 0;
    }
    return r;
}

// A generated disk mapped as E: (C: is its parent folder), with a package folder beside it.
struct Disk {
    std::string base, disk, package;
    size_t files = 0;
    AppContext ctx;
    Disk(const std::string& name, int perTop, bool keep) {
        base = (fs::temp_directory_path() / name).string();
        disk = base + "/disk";
        package = base + "/package";
        if (keep && fs::exists(disk)) {
            for (auto& f : fs::recursive_directory_iterator(disk))
                if (f.is_regular_file()) ++files;
        } else {
            fs::remove_all(base);
            std::printf("generating %s...\n", name.c_str());
            files = Generate(disk, perTop);
        }
        fs::create_directories(package);
        DriveInfo e;
        e.letter = 'E';
        e.root = disk;
        e.serial = 1;
        DriveInfo c;
        c.letter = 'C';
        c.root = base;
        ctx.platform.SetDrives({c, e});
        ctx.platform.SetCurrentDir("C:\\");
        ctx.PackageFolder = package + "/";
    }
};

void Print(const CaseResult& r, size_t files, int folders, double memoryGoalFactor) {
    std::printf("files: %zu in %d folders, record %.1f MB\n", files, folders, r.recordSize / 1e6);
    std::printf("baseline (plain recursive read, name=index lines): %8.0f files/s  %.3f s\n", files / r.baseline,
                r.baseline);
    std::printf("MemorizeDisk (tree + lister + store):              %8.0f files/s  %.3f s\n", files / r.memorize,
                r.memorize);
    std::printf("ratio memorize/baseline time: %.2f (goal <= 2)\n", r.memorize / r.baseline);
    std::printf("walk+stat (every folder read, every entry stat-ed): %.3f s\n", r.statWalk);
    std::printf("ratio memorize+catalogue / walk+stat: %.2f\n", r.memorize / r.statWalk);
    std::printf("peak memory growth during memorize: %.1f MB (goal <= %.0f x record + 50 MB = %.1f MB; "
                "<= 2 x catalogue in memory + 50 MB = %.1f MB)\n",
                r.peakKiB / 1024.0, memoryGoalFactor, memoryGoalFactor * r.recordSize / 1e6 + 50,
                2 * r.catalogueMemory / 1e6 + 50);
    const double n = r.catalogueEntries ? double(r.catalogueEntries) : 1;
    std::printf("catalogue: %zu entries, %.2f MB on disk (%.1f bytes/entry, %.2f x the record), read whole in "
                "%.3f s (%.2f x walk+stat), %.1f bytes/entry in memory\n",
                r.catalogueEntries, r.catalogueSize / 1e6, r.catalogueSize / n, double(r.catalogueSize) / r.recordSize,
                r.catalogueRead, r.catalogueRead / r.statWalk, r.catalogueMemory / n);
}

void PrintBreakdown(Disk& d, double baseline, int runs) {
    Breakdown best{1e9, 1e9, 1e9, 1e9, 1e9};
    for (int run = 0; run < runs; ++run) {
        const Breakdown b = TimedWalk(d.ctx, 'E', d.package + "/2.dat");
        best = {std::min(best.select, b.select), std::min(best.expand, b.expand), std::min(best.lister, b.lister),
                std::min(best.writes, b.writes), std::min(best.save, b.save)};
    }
    std::printf("breakdown, x baseline (instrumented walk): tree select %.2f, tree expand %.2f, lister %.2f, "
                "store writes %.2f, store save %.2f\n",
                best.select / baseline, best.expand / baseline, best.lister / baseline, best.writes / baseline,
                best.save / baseline);
}

} // namespace

int main(int argc, char** argv) {
    // QUINDLE_BENCH_KEEP=1 keeps the generated disks for the next run (for profiling);
    // "--small" leaves out the disk of 1,000,000 files.
    const bool keep = std::getenv("QUINDLE_BENCH_KEEP") != nullptr;
    const bool small = argc > 1 && std::string(argv[1]) == "--small";
    bool matches = false;
    {
        Disk d("quindle-bench-memorize", 100, keep);
        const CaseResult r = Measure(d.ctx, d.disk, d.package, 3);
        Print(r, d.files, 5000, 2);
        PrintBreakdown(d, r.baseline, 3);
        matches = CheckedWalk(d.ctx, 'E', d.package + "/3.dat");
        std::printf("record on disk matches the store at checkpoints: %s\n", matches ? "yes" : "NO");
        if (!keep) fs::remove_all(d.base);
    }
    if (!small) {
        Disk d("quindle-bench-memorize-large", 1000, keep);
        const CaseResult r = Measure(d.ctx, d.disk, d.package, 2);
        Print(r, d.files, 50000, 2);
        PrintBreakdown(d, r.baseline, 1);
        if (!keep) fs::remove_all(d.base);
    }
    return matches ? 0 : 1;
}
