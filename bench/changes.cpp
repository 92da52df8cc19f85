// What changed, copies and unique files, at scale:
//   diff/memorize  the diff of a disk of 1,000,000 files against memorizing it (goal <= 1.2)
//   dupes-10M s    dupes over a package of 10,000,000 entries, read by the real catalogue
//                  reader (goal <= 5 s and <= 2 GB peak), against reading its catalogues
//   unique-1M s    unique of one disk of 1,000,000 entries against the rest of that package
//                  (goal <= 2 s), against reading its catalogues
// Each figure is printed as "NAME: VALUE" with its baseline, measured in the same run.
// --dir DIR keeps the generated disk and package in DIR for the next run (about 3 GB of
// files on disk for the disk of a million files; the package is about 100 MB).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include "app/AppContext.h"
#include "browse/DirectoryOutline.h"
#include "browse/FileListBox.h"
#include "catalogue/CatalogueFile.h"
#include "catalogue/DiskCatalogue.h"
#include "catalogue/RecordBinding.h"
#include "copies/Copies.h"
#include "changes/DiskChanges.h"
#include "records/DiskRecord.h"
#include "records/Memorizer.h"

using namespace quindle;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;
double Since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

const std::string kAlphabet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-";

std::string RandomName(std::mt19937& rng) {
    std::string s(8 + rng() % 17, 'x');
    for (auto& c : s) c = kAlphabet[rng() % kAlphabet.size()];
    return s;
}

// ---- the disk of a million files -----------------------------------------------------

// 50 top-level folders of 1000 folders each, 20 empty files per folder.
void GenerateDisk(const std::string& root) {
    std::mt19937 rng(7);
    for (int top = 0; top < 50; ++top) {
        std::vector<std::string> dirs{root + "/T" + std::to_string(top)};
        fs::create_directories(dirs[0]);
        while (dirs.size() < 1000) {
            dirs.push_back(dirs[rng() % dirs.size()] + "/" + RandomName(rng));
            fs::create_directories(dirs.back());
        }
        for (const auto& d : dirs)
            for (int f = 0; f < 20; ++f) {
                const int fd = open((d + "/" + RandomName(rng) + ".dat").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
                if (fd >= 0) close(fd);
            }
    }
    std::FILE* done = std::fopen((root + "/.complete").c_str(), "w");
    if (done) std::fclose(done);
}

struct Walker {
    AppContext ctx;
    explicit Walker(const std::string& disk, const std::string& package) {
        DriveInfo e;
        e.letter = 'E';
        e.root = disk;
        e.serial = 1;
        DriveInfo c;
        c.letter = 'C';
        c.root = fs::path(disk).parent_path().string();
        ctx.platform.SetDrives({c, e});
        ctx.platform.SetCurrentDir("C:\\");
        ctx.PackageFolder = package + "/";
    }
};

void DiffAgainstMemorize(const std::string& base) {
    const std::string disk = base + "/disk", package = base + "/disk-package";
    if (!fs::exists(disk + "/.complete")) {
        fs::remove_all(disk);
        std::printf("generating a disk of 1,000,000 files in %s...\n", disk.c_str());
        std::fflush(stdout);
        GenerateDisk(disk);
    }
    fs::remove_all(package);
    fs::create_directories(package);
    Walker w(disk, package);
    const std::string record = package + "/1.dat";
    double memorize = 1e9, diff = 1e9;
    size_t changes = 0;
    for (int run = 0; run < 2; ++run) {
        TDirectoryOutline tree(w.ctx);
        tree.SetTextCase(tcAsIs);
        TFileListBox lister(w.ctx);
        lister.SetFileType(ftReadOnly | ftHidden | ftSystem | ftArchive | ftNormal);
        auto t0 = Clock::now();
        MemorizeDiskWithInfo(w.ctx, tree, lister, 'E', "1", record, {"bench", "", ""});
        memorize = std::min(memorize, Since(t0));
        // A few changes for the diff to find.
        const std::string added = disk + "/T" + std::to_string(run) + "/added-" + std::to_string(run);
        const int fd = open(added.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        if (fd >= 0) close(fd);
        t0 = Clock::now();
        const DiskDiff r = DiffDisk(w.ctx, tree, lister, 'E', record);
        diff = std::min(diff, Since(t0));
        if (!r.cause.empty()) std::printf("diff failed: %s\n", r.cause.c_str());
        changes = r.diff.changes.size();
        fs::remove(added);
    }
    std::printf("disk: %llu files; memorize %.2f s, diff %.2f s (%zu changes found)\n",
                static_cast<unsigned long long>(w.ctx.Progress.files), memorize, diff, changes);
    std::printf("diff/memorize: %.2f (baseline: memorizing the same disk, %.2f s; goal <= 1.2)\n", diff / memorize,
                memorize);
    fs::remove_all(package);
}

// ---- the package of ten million entries ----------------------------------------------

constexpr int kDisks = 10;
constexpr uint32_t kEntriesPerDisk = 1000000;

// One disk of a million entries: 50,000 folders, the rest files; three files in ten are
// copies (name and size) of a file of a pool shared by all disks.
void GenerateCatalogueDisk(const std::string& package, int n, const std::vector<std::pair<std::string, uint64_t>>& pool,
                           const std::string& info) {
    std::mt19937_64 rng(1000 + n);
    std::mt19937 nameRng(2000 + n);
    CatalogueBuilder b;
    std::vector<uint32_t> folders{0};
    int64_t t = 1600000000;
    while (b.Count() < kEntriesPerDisk) {
        const uint32_t parent = folders[rng() % folders.size()];
        if (b.Count() % 20 == 0) {
            folders.push_back(b.Add(parent, RandomName(nameRng), EntryKind::Folder, 0, t));
            continue;
        }
        t += static_cast<int64_t>(rng() % 1000);
        if (rng() % 10 < 3) {
            const auto& [name, size] = pool[rng() % pool.size()];
            b.Add(parent, name, EntryKind::File, size, t);
        } else {
            b.Add(parent, RandomName(nameRng) + ".jpg", EntryKind::File, rng() % 5000000, t);
        }
    }
    DiskFigures f;
    f.root = "E:\\";
    f.fileSystem = "ext4";
    f.complete = true;
    Catalogue cat = b.Finish(f);
    const std::string serial = std::to_string(100 + n);
    const std::string record = package + "/" + serial + ".dat";
    std::FILE* out = std::fopen(record.c_str(), "wb");
    const std::string text = "[E:\\]\r\nplaceholder=1\r\n[" + info + "]\r\nVolume Serial=" + serial +
                             "\r\nMemorization Date=01/01/2026 12:00:00\r\nTitle=Bench " + serial + "\r\n";
    std::fwrite(text.data(), 1, text.size(), out);
    std::fclose(out);
    cat.header.binding = *BindingOfRecordFile(record, info);
    fs::remove(CataloguePathOf(record));
    WriteCatalogueFile(CataloguePathOf(record), cat);
}

std::vector<std::string> PackageRecords() {
    std::vector<std::string> files;
    for (int n = 0; n < kDisks; ++n) files.push_back(std::to_string(100 + n) + ".dat");
    return files;
}

void GeneratePackage(const std::string& package, const std::string& info) {
    if (fs::exists(package + "/.complete")) return;
    fs::remove_all(package);
    fs::create_directories(package);
    std::printf("generating a package of %d disks of %u entries in %s...\n", kDisks, kEntriesPerDisk, package.c_str());
    std::fflush(stdout);
    std::mt19937 rng(99);
    std::vector<std::pair<std::string, uint64_t>> pool;
    for (int i = 0; i < 300000; ++i) pool.emplace_back(RandomName(rng) + ".png", rng() % 3000000);
    for (int n = 0; n < kDisks; ++n) GenerateCatalogueDisk(package, n, pool, info);
    std::FILE* done = std::fopen((package + "/.complete").c_str(), "w");
    if (done) std::fclose(done);
}

struct ChildResult {
    double seconds = 0;
    double peakMB = 0;
    uint64_t count = 0;
    double afterRead = 0; // seconds after the catalogues were read
    double cpu = 0;       // processor seconds of the child (user and system)
};
Clock::time_point gRead; // set by the measured work when its catalogues are read

// Runs `fn` in a child process (its own peak memory) and returns its time, count and peak.
ChildResult InChild(const std::function<uint64_t()>& fn) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const auto t0 = Clock::now();
        ChildResult r;
        gRead = t0;
        r.count = fn();
        r.seconds = Since(t0);
        r.afterRead = Since(gRead);
        (void)!write(fds[1], &r, sizeof r);
        _exit(0);
    }
    close(fds[1]);
    ChildResult r;
    if (read(fds[0], &r, sizeof r) != sizeof r) std::printf("the measuring child failed\n");
    close(fds[0]);
    int status = 0;
    struct rusage ru {};
    wait4(pid, &status, 0, &ru);
    r.peakMB = ru.ru_maxrss / 1024.0;
    r.cpu = ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec + ru.ru_stime.tv_usec / 1e6;
    return r;
}

void CopiesAtScale(const std::string& base) {
    const std::string info = AppContext().InfoSection;
    const std::string package = base + "/package";
    GeneratePackage(package, info);
    const std::vector<std::string> records = PackageRecords();
    const auto best = [](const std::function<ChildResult()>& run) {
        ChildResult b;
        b.seconds = 1e9;
        for (int i = 0; i < 2; ++i) {
            const ChildResult r = run();
            if (r.seconds < b.seconds) b = r;
        }
        return b;
    };
    const ChildResult read = best([&] {
        return InChild([&] {
            const auto p = LoadPackageCatalogues(package + "/", records, info);
            uint64_t n = 0;
            for (const auto& d : p.disks) n += d.catalogue.Count();
            return n;
        });
    });
    const ChildResult dupes = best([&] {
        return InChild([&] {
            const auto p = LoadPackageCatalogues(package + "/", records, info);
            gRead = Clock::now();
            return static_cast<uint64_t>(FindCopies(p.disks, 1).groups.size());
        });
    });
    // As quindle-cli unique and the window do it: the disk's own catalogue, then the others
    // one at a time (the next read while the last is compared), never all at once.
    const ChildResult unique = best([&] {
        return InChild([&] {
            const LoadedDisk own = LoadPackageDisk(package + "/", records[0], info);
            UniqueFiles u(*own.catalogue);
            const std::vector<std::string> others(records.begin() + 1, records.end());
            ForEachPackageDisk(package + "/", others, info, [&](LoadedDisk& d) {
                if (d.catalogue) u.Compare(*d.catalogue);
            });
            gRead = Clock::now();
            return static_cast<uint64_t>(u.Entries().size());
        });
    });
    std::printf("package: %llu entries in %d catalogues; reading them %.2f s (%.2f s of processor time), peak "
                "%.0f MB\n",
                static_cast<unsigned long long>(read.count), kDisks, read.seconds, read.cpu, read.peakMB);
    std::printf("processor time: dupes %.2f s, unique %.2f s (wall time exceeds it on a busy machine)\n", dupes.cpu,
                unique.cpu);
    std::printf("dupes-10M s: %.2f (baseline: reading the catalogues, %.2f s; %.2f x; grouping after the read "
                "%.2f s; %llu groups; peak %.0f MB; goal <= 5 s and <= 2048 MB)\n",
                dupes.seconds, read.seconds, dupes.seconds / read.seconds, dupes.afterRead,
                static_cast<unsigned long long>(dupes.count), dupes.peakMB);
    std::printf("unique-1M s: %.2f (baseline: reading the catalogues, %.2f s; %.2f x; %llu unique files of %u "
                "entries against %d disks read one at a time; goal <= 2 s)\n",
                unique.seconds, read.seconds, unique.seconds / read.seconds,
                static_cast<unsigned long long>(unique.count), kEntriesPerDisk, kDisks - 1);
    std::printf("unique/read peak memory: %.2f (%.0f MB against %.0f MB holding every catalogue)\n",
                unique.peakMB / read.peakMB, unique.peakMB, read.peakMB);
}

} // namespace

int main(int argc, char** argv) {
    std::string dir;
    bool keep = false, skipDisk = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--dir" && i + 1 < argc) {
            dir = argv[++i];
            keep = true;
        } else if (a == "--no-disk") {
            skipDisk = true; // the package figures only
        } else {
            std::fprintf(stderr, "usage: changes [--dir DIR] [--no-disk]\n");
            return 2;
        }
    }
    if (dir.empty()) dir = (fs::temp_directory_path() / "quindle-bench-changes").string();
    fs::create_directories(dir);
    double load[3];
    if (getloadavg(load, 3) == 3) std::printf("load average at start: %.2f %.2f %.2f\n", load[0], load[1], load[2]);
    CopiesAtScale(dir);
    if (!skipDisk) DiffAgainstMemorize(dir);
    if (getloadavg(load, 3) == 3) std::printf("load average at end: %.2f %.2f %.2f\n", load[0], load[1], load[2]);
    if (!keep) fs::remove_all(dir);
    return 0;
}
