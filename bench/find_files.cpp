// Finding files in a package of 1,000 disks holding 10,000,000 entries in all.
//
// The package is generated once (records and catalogues as the memorizer writes them: the
// catalogue through CatalogueBuilder and the catalogue file writer, bound to its record)
// into --dir DIR (kept, and reused when complete) or a temporary folder removed at the end.
// Then, with a warm page cache, it prints each figure with its baseline of the same run:
//   load                - seconds for PackageIndex::Refresh; baseline: reading every file
//   bytes/entry         - resident bytes the index adds per entry, names included;
//                         baseline: the names alone as a std::vector<std::string>
//   substring-count     - ms to count every match of a substring;
//   substring-first-100 - ms to the first 100 rows in title and path order;
//   glob-size           - ms for "*.jpg" with a size of at least 1M;
//                         baseline of these three: a plain scan of the same names
//                         (each name lower-cased, then searched or fnmatch-ed), one thread
// A ratio above 1 means the index is slower (or larger) than its baseline.
//
// Usage: find_files [--dir DIR] [--disks N] [--entries-per-disk N] [--load-only]
#include <fcntl.h>
#include <fnmatch.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "catalogue/CatalogueFile.h"
#include "catalogue/DiskCatalogue.h"
#include "catalogue/RecordBinding.h"
#include "index/FileQuery.h"
#include "index/PackageIndex.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace quindle;

namespace {

const std::string kInfo = "Special Information about this disk by Quindle";

double Ms(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double, std::milli>(b - a).count(); }

long ResidentBytes() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * sysconf(_SC_PAGESIZE);
}

const char* const kWords[] = {"Report", "photo", "Holiday", "invoice", "Music", "track", "setup", "README",
                              "letter", "Budget", "scan", "draft", "Notes", "archive", "Backup", "project",
                              "summary", "thumbs", "Install", "kernel", "Garden", "beach", "Family", "work",
                              "Café", "Übersicht", "résumé", "Документы", "写真", "old", "new", "final"};
const char* const kExts[] = {"jpg", "JPG", "png", "txt", "pdf", "mp3", "docx", "zip", "cpp", "h", "xlsx", "mkv"};

std::string FileName(std::mt19937_64& rng) {
    std::string n = kWords[rng() % std::size(kWords)];
    if (rng() % 3 == 0) {
        n += rng() % 2 ? '_' : ' ';
        n += kWords[rng() % std::size(kWords)];
    }
    n += ' ';
    n += std::to_string(rng() % 10000);
    n += '.';
    n += kExts[rng() % std::size(kExts)];
    return n;
}

std::string FolderName(std::mt19937_64& rng) {
    std::string n = kWords[rng() % std::size(kWords)];
    if (rng() % 2) n += " " + std::to_string(1990 + rng() % 35);
    return n;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// One disk: a tree walked depth first, its record (top-level folders as sections) and its
// catalogue bound to that record.
void MakeDisk(const std::string& dir, uint32_t serial, size_t entries, std::mt19937_64& rng) {
    CatalogueBuilder b;
    const char letter = static_cast<char>('D' + serial % 20);
    const std::string rootSection = std::string(1, letter) + ":\\";
    std::string record;
    std::vector<std::pair<std::string, std::string>> sections; // name, lines
    struct Open { uint32_t index; int depth; std::string section; };
    std::vector<Open> stack{{0, 0, rootSection}};
    int64_t now = 1700000000;
    while (b.Count() < entries && !stack.empty()) {
        const Open f = stack.back();
        stack.pop_back();
        if (sections.empty() || sections.back().first != f.section) sections.emplace_back(f.section, "");
        const size_t files = 5 + rng() % 25, folders = f.depth < 5 ? rng() % 4 : 0;
        std::vector<Open> sub;
        size_t pos = 0;
        for (size_t k = 0; k < files + folders && b.Count() < entries; ++k) {
            const int64_t t = now - static_cast<int64_t>(rng() % (86400LL * 3650));
            if (k < files) {
                const std::string name = FileName(rng);
                const uint64_t size = rng() % 8 == 0 ? rng() % (64ULL << 20) : rng() % (256ULL << 10);
                b.Add(f.index, name, EntryKind::File, size, t);
                sections.back().second += name + "=" + std::to_string(++pos) + "\r\n";
            } else {
                const std::string name = FolderName(rng);
                const uint32_t i = b.Add(f.index, name, EntryKind::Folder, 0, t);
                sub.push_back({i, f.depth + 1, f.depth == 0 ? name : f.section});
            }
        }
        for (auto it = sub.rbegin(); it != sub.rend(); ++it) stack.push_back(*it);
        if (stack.empty() && b.Count() < entries) stack.push_back({0, 0, rootSection}); // more at the root
    }
    for (const auto& [name, lines] : sections) record += "[" + name + "]\r\n" + lines;
    record += "[" + kInfo + "]\r\nVolume Serial=" + std::to_string(serial) +
              "\r\nMemorization Date=01/02/2024 10:00:00\r\nTitle=Disk " + std::to_string(rng() % 100000) +
              "\r\nDescription=generated\r\nAdditional=\r\n";
    DiskFigures fig;
    fig.fileSystem = "ext4";
    fig.root = rootSection;
    fig.complete = true;
    Catalogue c = b.Finish(fig);
    const std::string recordPath = dir + "/" + std::to_string(serial) + ".dat";
    WriteFile(recordPath, record);
    c.header.binding = *BindingOfRecordFile(recordPath, kInfo);
    const std::string temp = dir + "/.~cat-bench.tmp";
    unlink(temp.c_str());
    WriteCatalogueFile(temp, c);
    fs::rename(temp, CataloguePathOf(recordPath));
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double CpuMs() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// The CPU time of the median run of the last Timed (all threads): the machine is shared,
// and a run that waited for a core shows it in its wall time only.
double lastCpu = 0;

template <class Fn> double Timed(int runs, Fn fn) {
    std::vector<std::pair<double, double>> t;
    for (int r = 0; r < runs; ++r) {
        const auto a = Clock::now();
        const double c = CpuMs();
        fn();
        t.emplace_back(Ms(a, Clock::now()), CpuMs() - c);
    }
    std::sort(t.begin(), t.end());
    lastCpu = t[t.size() / 2].second;
    return t[t.size() / 2].first;
}

void Figure(const char* name, double value, double baseline, const char* unit, double cpu = -1,
            double baseCpu = -1) {
    std::printf("%s: %.3f %s   (baseline %.3f %s, ratio %.2f)", name, value, unit, baseline, unit,
                baseline > 0 ? value / baseline : 0.0);
    if (cpu >= 0) std::printf("   cpu %.1f ms, baseline cpu %.1f ms", cpu, baseCpu);
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv) {
    std::string dir;
    size_t disks = 1000, perDisk = 10001; // 10,000,000 entries besides the roots
    bool loadOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--dir" && i + 1 < argc) dir = argv[++i];
        else if (a == "--disks" && i + 1 < argc) disks = std::stoul(argv[++i]);
        else if (a == "--entries-per-disk" && i + 1 < argc) perDisk = std::stoul(argv[++i]);
        else if (a == "--load-only") loadOnly = true;
        else {
            std::fprintf(stderr, "usage: find_files [--dir DIR] [--disks N] [--entries-per-disk N] [--load-only]\n");
            return 2;
        }
    }
    const bool keep = !dir.empty();
    if (!keep) dir = (fs::temp_directory_path() / ("quindle-find-files-" + std::to_string(getpid()))).string();
    fs::create_directories(dir);
    const std::string marker = dir + "/.generated-" + std::to_string(disks) + "x" + std::to_string(perDisk);
    if (!fs::exists(marker)) {
        std::fprintf(stderr, "generating %zu disks of %zu entries in %s\n", disks, perDisk, dir.c_str());
        for (const auto& e : fs::directory_iterator(dir)) fs::remove_all(e.path());
        std::mt19937_64 rng(25);
        for (size_t d = 0; d < disks; ++d) {
            MakeDisk(dir, static_cast<uint32_t>(100000 + d), perDisk, rng);
            if (d % 100 == 99) std::fprintf(stderr, "  %zu disks\n", d + 1);
        }
        WriteFile(marker, "");
    }

    // Baseline of the load, and a warm cache: every file read whole, twice.
    std::vector<char> buf(1 << 20);
    size_t fileBytes = 0;
    const auto readAll = [&] {
        fileBytes = 0;
        for (const auto& e : fs::directory_iterator(dir)) {
            const int fd = open(e.path().c_str(), O_RDONLY);
            if (fd < 0) continue;
            for (ssize_t r; (r = read(fd, buf.data(), buf.size())) > 0;) fileBytes += static_cast<size_t>(r);
            close(fd);
        }
    };
    readAll();
    const double readMs = Timed(3, readAll), readCpu = lastCpu;

    malloc_trim(0);
    const long before = ResidentBytes();
    PackageIndex index(dir, kInfo);
    const auto t0 = Clock::now();
    const double c0 = CpuMs();
    index.Refresh(2);
    const double loadMs = Ms(t0, Clock::now()), loadCpu = CpuMs() - c0;
    malloc_trim(0);
    const long after = ResidentBytes();
    const auto snap = index.Snapshot();
    const size_t entries = snap->entries;
    std::printf("package: %zu disks, %zu entries, %.0f MB of files; %zu disks without a usable catalogue\n",
                snap->disks.size(), entries, fileBytes / 1048576.0, index.Problems().size());
    size_t nameBytes = 0, keptBytes = 0;
    for (const auto& d : snap->disks) {
        nameBytes += d->cat.names.size();
        keptBytes += d->capitals.size() * 8 + d->originalNames.size() + d->originalEntry.size() * 8;
    }
    std::printf("  folded names %.1f B/entry, capitals and names kept whole %.1f B/entry, index arrays %.1f B/entry\n",
                double(nameBytes) / double(entries), double(keptBytes) / double(entries),
                double(snap->MemoryBytes()) / double(entries));
    std::fflush(stdout);

    if (loadOnly) {
        std::printf("load: %.3f s\n", loadMs / 1000);
        return 0;
    }
    // The plain list of the names, for the memory baseline.
    // It is also what the plain scans below go through.
    const long b0 = ResidentBytes();
    std::vector<std::string> plain;
    plain.reserve(entries);
    for (const auto& d : snap->disks)
        for (size_t e = 1; e < d->Count(); ++e) plain.emplace_back(d->Name(e));
    const double plainBytes = static_cast<double>(ResidentBytes() - b0) / static_cast<double>(entries);

    Figure("load", loadMs / 1000, readMs / 1000, "s", loadCpu, readCpu);
    Figure("bytes/entry", static_cast<double>(after - before) / static_cast<double>(entries), plainBytes, "B");

    // The plain scan: every name lower-cased (ASCII) into a buffer, then searched.
    const auto plainScan = [&](auto&& test) {
        size_t n = 0, k = 0;
        std::string low;
        for (const auto& d : snap->disks)
            for (size_t e = 1; e < d->Count(); ++e) {
                low.assign(plain[k++]);
                for (char& c : low)
                    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
                n += test(*d, e, low);
            }
        return n;
    };
    const std::string word = "holiday";
    size_t plainCount = 0, count = 0;
    const double plainSub = Timed(3, [&] {
        plainCount = plainScan([&](const IndexedDisk&, size_t, const std::string& n) { return n.find(word) != std::string::npos; });
    });
    FileQuerySpec sub;
    sub.terms = ParseQuery(word);
    const double plainSubCpu = lastCpu;
    const double subCount = Timed(7, [&] { count = *FileQuery(snap, sub).Count(); });
    if (count != plainCount) std::fprintf(stderr, "MISMATCH: index counts %zu, plain scan %zu\n", count, plainCount);
    Figure("substring-count", subCount, plainSub, "ms", lastCpu, plainSubCpu);
    std::printf("  (\"%s\": %zu matches)\n", word.c_str(), count);
    size_t rows = 0;
    const double first = Timed(7, [&] { rows = FileQuery(snap, sub).Run(100)->size(); });
    Figure("substring-first-100", first, plainSub, "ms", lastCpu, plainSubCpu);

    FileQuerySpec glob;
    glob.terms = ParseQuery("*.jpg");
    glob.filters.minSize = 1 << 20;
    size_t plainGlob = 0, globCount = 0;
    const double plainGlobMs = Timed(3, [&] {
        plainGlob = plainScan([&](const IndexedDisk& d, size_t e, const std::string& n) {
            return d.cat.size[e] >= (1u << 20) && fnmatch("*.jpg", n.c_str(), 0) == 0;
        });
    });
    const double plainGlobCpu = lastCpu;
    const double globMs = Timed(7, [&] { globCount = FileQuery(snap, glob).Run()->size(); });
    if (globCount != plainGlob) std::fprintf(stderr, "MISMATCH: glob %zu, plain %zu\n", globCount, plainGlob);
    Figure("glob-size", globMs, plainGlobMs, "ms", lastCpu, plainGlobCpu);
    std::printf("  (\"*.jpg\" of 1M or more: %zu matches; first rows %zu)\n", globCount, rows);

    // One disk changed: only it is read again.
    const std::string one = CataloguePathOf(dir + "/100000.dat");
    utimensat(AT_FDCWD, one.c_str(), nullptr, 0);
    const auto r0 = Clock::now();
    const auto fig = index.Refresh(2);
    std::printf("refresh-one-changed: %.1f ms (%zu read, %zu kept)\n", Ms(r0, Clock::now()), fig.read, fig.kept);

    if (!keep) fs::remove_all(dir);
    return 0;
}
