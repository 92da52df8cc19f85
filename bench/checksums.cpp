// Reading a disk of 20,000 files, 2 GB in all (0 bytes to 200 MB), for their checksums.
//
// The disk is generated once (MakeChecksumDisk) into --dir DIR, or a folder in the temporary
// folder, and reused while its manifest matches. Figures, each against a baseline of the
// same run, page cache warm (everything read once first):
//   hash/xxhsum   - seconds for listing the files and reading them all with ChecksumReader
//                   (its default threads); baseline: find DIR -type f -print0 | xargs -0 -P2
//                   xxhsum -H2 > /dev/null. Goal: at most 1.1.
//   memory        - peak resident growth while the reader reads (goal: under 64 MB)
//   cache kept    - share of the disk's pages still cached after the reader (goal: 100 %)
//   checksums/xxhsum - `quindle-cli add --checksums` of the disk mapped as a drive, the whole
//                   command as a person runs it; same baseline. Goal: at most 1.1.
//   verify/xxhsum - `quindle-cli verify` of that disk; same baseline. Goal: at most 1.1.
//   memory (add)  - the command's peak resident size with checksums less the same add's with
//                   --no-checksums (goal: under 64 MB plus the catalogue); verify's likewise
// and the same cold: every page of the disk's files evicted first (POSIX_FADV_DONTNEED,
// after a sync; no root needed, and nothing else's pages leave the cache). With
// --drop-caches, as root, the whole page cache is dropped instead (/proc/sys/vm/drop_caches),
// so the folders and inodes are read cold too.
//   cache left    - bytes of the disk the cold read leaves cached (goal: none)
// The checksums are checked against xxhsum's.
//
// Usage: checksums [--dir DIR] [--scale S] [--runs N] [--drop-caches] [--no-cold]
//                  [--threads N] [--chunk BYTES] [--older-way] [--cli QUINDLE-CLI] [--no-cli]
//   --scale 0.1 makes a tenth of the disk (2,000 files, 200 MB; the largest 20 MB);
//   --threads and --chunk set the reader's (for tuning; the figures are for its defaults);
//   --older-way keeps the reader from RWF_DONTCACHE, as on kernels before 6.14;
//   --cli names the command line (the one built beside the bench by default); --no-cli
//   leaves its figures out.
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "CliRun.h"
#include "checksums/ChecksumReader.h"
#include "checksums/ProgressText.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace quindle;

namespace {

double Seconds(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

long StatusKiB(const char* key) {
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::strlen(key)));
    return 0;
}

void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

struct DiskFile {
    std::string path; // relative to the disk's root
    uint64_t size = 0;
};

// The sizes of a disk of `files` files and `total` bytes, none above `largest`: a truncated
// Pareto distribution (most files a few KB, a long tail of large ones), scaled to the total,
// with one file of exactly `largest` and 3 % empty files.
std::vector<uint64_t> DiskSizes(size_t files, uint64_t total, uint64_t largest, std::mt19937_64& rng) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    const double alpha = 0.7, least = 1024;
    std::vector<double> raw(files, 0.0);
    double sum = 0;
    for (size_t i = 1; i < files; ++i) {
        if (u(rng) < 0.03) continue;
        raw[i] = std::min(least * std::pow(1 - u(rng), -1 / alpha), static_cast<double>(largest));
        sum += raw[i];
    }
    // Scaled so that the others make up the rest; those that would pass the largest stop
    // there, so the scale is found again until the sum is right.
    const double rest = static_cast<double>(total > largest ? total - largest : 0);
    const auto scaled = [&](size_t i, double f) { return std::min(raw[i] * f, static_cast<double>(largest)); };
    double f = sum > 0 ? rest / sum : 0;
    for (int round = 0; round < 50 && f > 0; ++round) {
        double got = 0;
        for (size_t i = 1; i < files; ++i) got += scaled(i, f);
        if (got <= 0 || std::fabs(got - rest) < rest * 1e-4) break;
        f *= rest / got;
    }
    std::vector<uint64_t> sizes(files, 0);
    sizes[0] = largest;
    for (size_t i = 1; i < files; ++i) sizes[i] = static_cast<uint64_t>(scaled(i, f));
    std::shuffle(sizes.begin(), sizes.end(), rng);
    return sizes;
}

void WriteRandomFile(const std::string& path, uint64_t size, uint64_t seed, std::vector<uint64_t>& block) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::perror(path.c_str());
        std::exit(2);
    }
    uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
    for (uint64_t done = 0; done < size;) {
        for (uint64_t& v : block) { // splitmix64: fast enough to be limited by the writes
            uint64_t z = (x += 0x9E3779B97F4A7C15ull);
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            v = z ^ (z >> 31);
        }
        const size_t n = static_cast<size_t>(std::min<uint64_t>(size - done, block.size() * 8));
        if (write(fd, block.data(), n) != static_cast<ssize_t>(n)) {
            std::perror(path.c_str());
            std::exit(2);
        }
        done += n;
    }
    close(fd);
}

} // namespace

// The disk: 20,000 × scale files of 2 GB × scale in all in 20 folders of 20 folders each,
// the largest 200 MB × scale; random contents. Made in `root` + "/disk" unless the manifest
// beside it (written last) says it is there already. The files, as the manifest lists
// them (paths relative to the disk).
std::vector<DiskFile> MakeChecksumDisk(const std::string& root, double scale) {
    const size_t files = std::max<size_t>(10, static_cast<size_t>(std::llround(20000 * scale)));
    const uint64_t total = static_cast<uint64_t>(2.0 * (1ull << 30) * scale);
    const uint64_t largest = static_cast<uint64_t>(200.0 * (1ull << 20) * scale);
    const std::string manifest = root + "/manifest.txt";
    std::ostringstream id;
    id << "quindle checksum disk 1 " << files << " " << total << " " << largest;
    std::vector<DiskFile> list;
    {
        std::ifstream in(manifest);
        std::string header;
        if (std::getline(in, header) && header == id.str()) {
            DiskFile f;
            while (in >> f.size && std::getline(in >> std::ws, f.path)) list.push_back(f);
            if (list.size() == files) return list;
        }
        list.clear();
    }
    const std::string disk = root + "/disk";
    std::printf("making the disk in %s...\n", disk.c_str());
    std::fflush(stdout);
    fs::remove_all(disk);
    std::mt19937_64 rng(42);
    const std::vector<uint64_t> sizes = DiskSizes(files, total, largest, rng);
    std::vector<uint64_t> block(1 << 17); // 1 MiB
    for (size_t i = 0; i < files; ++i) {
        const std::string dir = "d" + std::to_string(i % 20) + "/s" + std::to_string(i / 20 % 20);
        fs::create_directories(disk + "/" + dir);
        DiskFile f{dir + "/file" + std::to_string(i) + ".bin", sizes[i]};
        WriteRandomFile(disk + "/" + f.path, f.size, i, block);
        list.push_back(f);
    }
    std::ofstream out(manifest + ".tmp");
    out << id.str() << "\n";
    for (const DiskFile& f : list) out << f.size << " " << f.path << "\n";
    out.close();
    fs::rename(manifest + ".tmp", manifest);
    return list;
}

namespace {

// The regular files below `dir` with their sizes, as a walk lists them (readdir, lstat).
void ListFiles(int dirFd, const std::string& path, std::vector<ChecksumJob>& jobs) {
    DIR* d = fdopendir(dirFd);
    if (!d) {
        close(dirFd);
        return;
    }
    std::vector<std::pair<int, std::string>> subdirs;
    struct stat st;
    while (dirent* e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        if (fstatat(dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        const std::string p = path + "/" + e->d_name;
        if (S_ISDIR(st.st_mode)) {
            const int fd = openat(dirfd(d), e->d_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (fd >= 0) subdirs.emplace_back(fd, p);
        } else if (S_ISREG(st.st_mode)) {
            jobs.push_back({jobs.size(), p, static_cast<uint64_t>(st.st_size)});
        }
    }
    closedir(d);
    for (auto& [fd, p] : subdirs) ListFiles(fd, p, jobs);
}

struct ReadRun {
    double seconds = 0;
    long peakGrowthKiB = 0;
    std::vector<ChecksumJob> jobs;
    std::vector<ChecksumResult> results;
};

// The walk lists the disk and hands each file over at once, as the memorizer will.
ChecksumReader::Options readerOptions; // --threads, --chunk: for tuning

ReadRun ReadDisk(const std::string& data) {
    ReadRun run;
    ResetPeak();
    const long before = StatusKiB("VmHWM:");
    const auto t0 = Clock::now();
    ChecksumReader reader(readerOptions);
    ListFiles(open(data.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), data, run.jobs);
    for (const ChecksumJob& job : run.jobs) reader.Submit(job);
    run.results = reader.TakeAll();
    run.seconds = Seconds(t0);
    run.peakGrowthKiB = StatusKiB("VmHWM:") - before;
    return run;
}

double Baseline(const std::string& data) {
    const std::string command = "find '" + data + "' -type f -print0 | xargs -0 -P2 xxhsum -H2 > /dev/null 2>&1";
    const auto t0 = Clock::now();
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "the baseline failed: %s\n", command.c_str());
        std::exit(2);
    }
    return Seconds(t0);
}

// Cached and total pages of the disk's files.
std::pair<uint64_t, uint64_t> CachedPages(const std::string& data, const std::vector<DiskFile>& files) {
    const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    uint64_t cached = 0, pages = 0;
    std::vector<unsigned char> v;
    for (const DiskFile& f : files) {
        if (f.size == 0) continue;
        const int fd = open((data + "/" + f.path).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        void* map = mmap(nullptr, f.size, PROT_READ, MAP_SHARED, fd, 0);
        if (map != MAP_FAILED) {
            v.resize((f.size + page - 1) / page);
            if (mincore(map, f.size, v.data()) == 0)
                for (const unsigned char c : v) cached += c & 1;
            pages += v.size();
            munmap(map, f.size);
        }
        close(fd);
    }
    return {cached, pages};
}

// Every page of the disk's files out of the cache; with `all`, the whole cache.
void MakeCold(const std::string& data, const std::vector<DiskFile>& files, bool all) {
    sync();
    if (all) {
        std::ofstream("/proc/sys/vm/drop_caches") << "3";
        return;
    }
    for (const DiskFile& f : files) {
        const int fd = open((data + "/" + f.path).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        close(fd);
    }
}

// What xxhsum -H2 says of every file, by its path.
std::map<std::string, std::string> XxhsumAll(const std::string& data) {
    std::map<std::string, std::string> sums;
    // One xxhsum at a time: two would write into the pipe at once and cut each other's lines.
    const std::string command = "find '" + data + "' -type f -print0 | xargs -0 xxhsum -H2 2>/dev/null";
    FILE* p = popen(command.c_str(), "r");
    if (!p) return sums;
    char line[8192];
    while (std::fgets(line, sizeof line, p)) {
        std::string s(line);
        while (!s.empty() && s.back() == '\n') s.pop_back();
        if (s.size() > 34) sums[s.substr(34)] = s.substr(0, 32);
    }
    pclose(p);
    return sums;
}

using bench::CliRun;
using bench::RunCli;

// The command line's figures: the disk mapped as drive Q of a package of its own.
struct CliFigures {
    double add = 1e9, verify = 1e9, plainAdd = 1e9;
    long addKiB = 0, verifyKiB = 0, plainKiB = 0;
    uint64_t catalogueBytes = 0;
};

class CliBench {
public:
    CliBench(std::string cli, const std::string& dir, const std::string& data) : cli_(std::move(cli)) {
        package_ = dir + "/package";
        const std::string config = dir + "/config";
        fs::create_directories(package_);
        fs::create_directories(config + "/Tavrel");
        std::ofstream(config + "/Tavrel/Quindle.conf") << "[Drives]\nQ\\path=" << data << "\nQ\\serial=88\n";
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    }
    CliRun Add(bool checksums) const {
        return RunCli({cli_, "--package", package_, "add", "Q:", "--title", "Bench", "--replace", "--archives", "none",
                       checksums ? "--checksums" : "--no-checksums"});
    }
    CliRun Verify() const { return RunCli({cli_, "--package", package_, "verify", "88"}); }
    uint64_t CatalogueBytes() const {
        std::error_code ec;
        const auto n = fs::file_size(package_ + "/88.cat", ec);
        return ec ? 0 : n;
    }

private:
    std::string cli_, package_;
};

} // namespace

int main(int argc, char** argv) {
    bench::StartCliRunner(); // before the bench grows: see CliRun.h
    std::string dir = (fs::temp_directory_path() / "quindle-bench-checksums").string();
    double scale = 1;
    int runs = 3;
    bool dropAll = false, cold = true;
    // The command line beside the bench folder, as built.
    std::string cli = (fs::canonical("/proc/self/exe").parent_path().parent_path() / "quindle-cli").string();
    bool withCli = true;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--dir" && i + 1 < argc) dir = argv[++i];
        else if (a == "--scale" && i + 1 < argc) scale = std::atof(argv[++i]);
        else if (a == "--runs" && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
        else if (a == "--drop-caches") dropAll = true;
        else if (a == "--no-cold") cold = false;
        else if (a == "--threads" && i + 1 < argc) readerOptions.threads = static_cast<unsigned>(std::atoi(argv[++i]));
        else if (a == "--chunk" && i + 1 < argc) readerOptions.chunkBytes = static_cast<size_t>(std::atoll(argv[++i]));
        else if (a == "--older-way") readerOptions.kernelDropBehind = false;
        else if (a == "--cli" && i + 1 < argc) cli = argv[++i];
        else if (a == "--no-cli") withCli = false;
        else {
            std::fprintf(stderr, "usage: checksums [--dir DIR] [--scale S] [--runs N] [--drop-caches] [--no-cold] "
                                 "[--threads N] [--chunk BYTES] [--older-way] [--cli QUINDLE-CLI] [--no-cli]\n");
            return 2;
        }
    }
    if (!(scale > 0)) scale = 1;
    if (std::system("xxhsum --version >/dev/null 2>&1") != 0) {
        std::fprintf(stderr, "xxhsum (package xxhash) is needed for the baseline\n");
        return 2;
    }
    if (dropAll && access("/proc/sys/vm/drop_caches", W_OK) != 0) {
        std::fprintf(stderr, "--drop-caches: /proc/sys/vm/drop_caches is not writable (root only)\n");
        return 2;
    }
    fs::create_directories(dir);
    const std::vector<DiskFile> files = MakeChecksumDisk(dir, scale);
    const std::string data = dir + "/disk";
    uint64_t total = 0, largest = 0;
    for (const DiskFile& f : files) {
        total += f.size;
        largest = std::max(largest, f.size);
    }
    std::printf("disk: %zu files, %s in all, the largest %s; reader: %u threads, chunks of %s\n", files.size(),
                ByteSizeText(total).c_str(), ByteSizeText(largest).c_str(),
                readerOptions.threads ? readerOptions.threads : ChecksumReader::DefaultThreads(),
                ByteSizeText(readerOptions.chunkBytes).c_str());

    // Correctness first: the reader's checksums are xxhsum's.
    const auto expected = XxhsumAll(data);
    ReadRun run = ReadDisk(data);
    size_t same = 0;
    for (const ChecksumResult& r : run.results)
        if (r.status == ChecksumStatus::Done) {
            const auto it = expected.find(run.jobs[r.id].path);
            same += it != expected.end() && it->second == r.sum.Hex();
        }
    std::printf("checksums equal to xxhsum's: %zu of %zu files\n", same, files.size());

    // Warm: everything was read just now; best of `runs`, taken in turns.
    double base = 1e9, ours = 1e9;
    long peak = 0;
    for (int i = 0; i < runs; ++i) {
        base = std::min(base, Baseline(data));
        run = ReadDisk(data);
        ours = std::min(ours, run.seconds);
        peak = std::max(peak, run.peakGrowthKiB);
    }
    const auto [cachedWarm, pages] = CachedPages(data, files);
    std::printf("warm: xxhsum %.3f s (%s/s), reader %.3f s (%s/s)\n", base,
                ByteSizeText(static_cast<uint64_t>(total / base)).c_str(), ours,
                ByteSizeText(static_cast<uint64_t>(total / ours)).c_str());
    std::printf("hash/xxhsum: %.2f (goal <= 1.1)\n", ours / base);
    std::printf("memory: %.1f MB peak growth while reading (goal < 64 MB)\n", peak / 1024.0);
    std::printf("cache kept: %.1f %% of the disk's pages cached after the warm reads (goal: 100 %%)\n",
                100.0 * static_cast<double>(cachedWarm) / static_cast<double>(std::max<uint64_t>(pages, 1)));

    // The commands a person runs: add --checksums and verify.
    const CliBench commands(cli, dir, data);
    CliFigures c;
    if (withCli) {
        for (int i = 0; i < runs; ++i) {
            const CliRun plain = commands.Add(false), add = commands.Add(true), verify = commands.Verify();
            if (plain.status != 0 || add.status != 0 || verify.status != 0) {
                std::fprintf(stderr, "%s: add %d, add --checksums %d, verify %d (expected 0 each)\n", cli.c_str(),
                             plain.status, add.status, verify.status);
                return 1;
            }
            c.plainAdd = std::min(c.plainAdd, plain.seconds);
            c.add = std::min(c.add, add.seconds);
            c.verify = std::min(c.verify, verify.seconds);
            c.plainKiB = std::max(c.plainKiB, plain.maxRssKiB);
            c.addKiB = std::max(c.addKiB, add.maxRssKiB);
            c.verifyKiB = std::max(c.verifyKiB, verify.maxRssKiB);
            base = std::min(base, Baseline(data));
        }
        c.catalogueBytes = commands.CatalogueBytes();
        std::printf("warm: add --checksums %.3f s, verify %.3f s, add --no-checksums %.3f s; xxhsum %.3f s\n", c.add,
                    c.verify, c.plainAdd, base);
        std::printf("checksums/xxhsum: %.2f (goal <= 1.1)\n", c.add / base);
        std::printf("verify/xxhsum: %.2f (goal <= 1.1)\n", c.verify / base);
        std::printf("memory (add): %.1f MB peak growth over add --no-checksums (%.1f MB), catalogue file %s "
                    "(goal < 64 MB plus the catalogue)\n",
                    (c.addKiB - c.plainKiB) / 1024.0, c.plainKiB / 1024.0, ByteSizeText(c.catalogueBytes).c_str());
        std::printf("memory (verify): %.1f MB peak growth over add --no-checksums (goal < 64 MB plus the catalogue)\n",
                    (c.verifyKiB - c.plainKiB) / 1024.0);
    }

    if (cold) {
        double coldBase = 1e9, coldOurs = 1e9;
        uint64_t left = 0;
        for (int i = 0; i < runs; ++i) {
            MakeCold(data, files, dropAll);
            coldBase = std::min(coldBase, Baseline(data));
            MakeCold(data, files, dropAll);
            run = ReadDisk(data);
            coldOurs = std::min(coldOurs, run.seconds);
            left = std::max(left, CachedPages(data, files).first);
        }
        std::printf("cold (%s): xxhsum %.3f s (%s/s), reader %.3f s (%s/s)\n",
                    dropAll ? "whole page cache dropped" : "the disk's pages evicted", coldBase,
                    ByteSizeText(static_cast<uint64_t>(total / coldBase)).c_str(), coldOurs,
                    ByteSizeText(static_cast<uint64_t>(total / coldOurs)).c_str());
        std::printf("hash/xxhsum cold: %.2f (goal <= 1.1)\n", coldOurs / coldBase);
        std::printf("cache left: %s of the disk left cached by the cold read (goal: none)\n",
                    ByteSizeText(left * static_cast<uint64_t>(sysconf(_SC_PAGESIZE))).c_str());
        if (withCli) {
            double coldAdd = 1e9, coldVerify = 1e9;
            for (int i = 0; i < runs; ++i) {
                MakeCold(data, files, dropAll);
                coldAdd = std::min(coldAdd, commands.Add(true).seconds);
                MakeCold(data, files, dropAll);
                coldVerify = std::min(coldVerify, commands.Verify().seconds);
            }
            std::printf("cold: add --checksums %.3f s, verify %.3f s\n", coldAdd, coldVerify);
            std::printf("checksums/xxhsum cold: %.2f (goal <= 1.1)\n", coldAdd / coldBase);
            std::printf("verify/xxhsum cold: %.2f (goal <= 1.1)\n", coldVerify / coldBase);
        }
        Baseline(data); // warm again for whoever runs next
    }
    return 0;
}
