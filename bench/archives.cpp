// Listing archives.
//
//   targz/gzip   listing a tar.gz of about 1 GB (files of text and code from /usr/include,
//                /usr/share and /usr/lib/python3) against `gzip -dc > /dev/null` of the same
//                file. Goal: at most 1.1.
//   sniff/lstat  looking at 10,000 files that are no archives and telling them from archives
//                (what the walk asks of every file) against lstat of the same files.
//   zips/lstat   listing 1,000 zip archives of 100 members each against lstat of the
//                100,000 files they hold, had they been files of the disk.
//   archives/plain  memorizing a disk of 100,000 files, 1,000 of them zips of 100 members,
//                for the first time, through quindle-cli add --archives indexed, against
//                --archives none of the same disk. Goal: at most 1.3.
//   memory/member  the growth in peak memory of that walk per member listed (from 1,000 zips
//                to 3,000), against the bytes an entry of the catalogue takes in memory;
//                memory/member-walk against what an entry costs the walk of the disk
//                without archives.
//
// Usage: archives [--mb N] [--dir DIR] [--cli QUINDLE-CLI] [--no-walk]. --mb sets the tarball's compressed size (a quick run:
// --mb 100); --dir keeps the generated files there for the next run. Every figure is the
// best of three runs with a warm cache (archives/plain: of five, the two modes in turns; the
// peaks of memory/member: the median of five).
#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "CliRun.h"
#include "archives/Archives.h"
#include "catalogue/DiskCatalogue.h"
#include "archives/HeadReader.h"

using namespace quindle;
namespace fs = std::filesystem;

namespace {

double Best(int runs, const std::function<void()>& fn) {
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        fn();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    return best;
}

// Text and code to fill the tarball with: up to `limit` bytes of the files below `roots`.
std::vector<std::string> TextPool(size_t limit) {
    std::vector<std::string> pool;
    size_t total = 0;
    for (const char* root : {"/usr/include", "/usr/share/doc", "/usr/lib/python3", "/usr/share/perl5"}) {
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
             it != fs::recursive_directory_iterator() && total < limit; it.increment(ec)) {
            if (ec || !it->is_regular_file(ec) || it->is_symlink(ec)) continue;
            std::ifstream f(it->path(), std::ios::binary);
            std::string s((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
            if (s.empty() || s.size() > (4u << 20)) continue;
            total += s.size();
            pool.push_back(std::move(s));
        }
    }
    return pool;
}

// A tar.gz of about `mb` MB, written with libarchive's writer (zlib, its default level).
// Each member is a file of the pool behind a line naming the member, so that no two members
// are the same; sizes and folders vary as the pool's do.
bool MakeTarball(const std::string& path, size_t mb) {
    const auto pool = TextPool(256u << 20);
    if (pool.empty()) return false;
    struct archive* a = archive_write_new();
    archive_write_set_format_pax_restricted(a);
    archive_write_add_filter_gzip(a);
    if (archive_write_open_filename(a, path.c_str()) != ARCHIVE_OK) return false;
    struct archive_entry* e = archive_entry_new();
    std::string body;
    for (size_t i = 0; archive_filter_bytes(a, -1) < static_cast<la_int64_t>(mb << 20); ++i) {
        const std::string name = "src/d" + std::to_string(i / 1000) + "/f" + std::to_string(i) + ".txt";
        body = "// " + name + "\n" + pool[i % pool.size()];
        archive_entry_clear(e);
        archive_entry_set_pathname(e, name.c_str());
        archive_entry_set_filetype(e, AE_IFREG);
        archive_entry_set_perm(e, 0644);
        archive_entry_set_size(e, static_cast<la_int64_t>(body.size()));
        archive_entry_set_mtime(e, 1500000000 + static_cast<time_t>(i), 0);
        archive_write_header(a, e);
        archive_write_data(a, body.data(), body.size());
    }
    archive_entry_free(e);
    archive_write_close(a);
    archive_write_free(a);
    return true;
}

// 1,000 zips of 100 members of a few hundred bytes to a few KB each, deflated.
void MakeZips(const std::string& dir) {
    const auto pool = TextPool(4u << 20);
    fs::create_directories(dir);
    struct archive_entry* e = archive_entry_new();
    for (int z = 0; z < 1000; ++z) {
        struct archive* a = archive_write_new();
        archive_write_set_format_zip(a);
        archive_write_open_filename(a, (dir + "/z" + std::to_string(z) + ".zip").c_str());
        for (int m = 0; m < 100; ++m) {
            const std::string& text = pool[static_cast<size_t>(z * 100 + m) % pool.size()];
            const std::string body = text.substr(0, 300 + static_cast<size_t>((z * 7 + m * 13) % 4000));
            archive_entry_clear(e);
            archive_entry_set_pathname(e, ("m" + std::to_string(m / 10) + "/f" + std::to_string(m) + ".txt").c_str());
            archive_entry_set_filetype(e, AE_IFREG);
            archive_entry_set_perm(e, 0644);
            archive_entry_set_size(e, static_cast<la_int64_t>(body.size()));
            archive_entry_set_mtime(e, 1500000000, 0);
            archive_write_header(a, e);
            archive_write_data(a, body.data(), body.size());
        }
        archive_write_close(a);
        archive_write_free(a);
    }
    archive_entry_free(e);
}

// 10,000 files that are no archives: text, a few KB each.
void MakePlainFiles(const std::string& dir) {
    const auto pool = TextPool(8u << 20);
    fs::create_directories(dir);
    for (int i = 0; i < 10000; ++i) {
        std::ofstream f(dir + "/p" + std::to_string(i) + ".txt", std::ios::binary);
        const std::string& text = pool[static_cast<size_t>(i) % pool.size()];
        f << text.substr(0, 100 + static_cast<size_t>(i % 8000));
    }
}

// A disk of 100,000 files: 990 folders of 100 small text files, and the 1,000 zips of `zips`
// in ten folders of their own.
void MakeWalkDisk(const std::string& disk, const std::string& zips) {
    const auto pool = TextPool(8u << 20);
    for (int f = 0; f < 990; ++f) {
        const std::string folder = disk + "/f" + std::to_string(f);
        fs::create_directories(folder);
        for (int i = 0; i < 100; ++i) {
            const int n = f * 100 + i;
            std::ofstream out(folder + "/p" + std::to_string(n) + ".txt", std::ios::binary);
            out << pool[static_cast<size_t>(n) % pool.size()].substr(0, 50 + static_cast<size_t>(n % 2000));
        }
    }
    for (int z = 0; z < 1000; ++z) {
        const std::string folder = disk + "/zips" + std::to_string(z / 100);
        fs::create_directories(folder);
        fs::copy_file(zips + "/z" + std::to_string(z) + ".zip", folder + "/z" + std::to_string(z) + ".zip",
                      fs::copy_options::overwrite_existing);
    }
}

std::vector<std::string> NamesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Every name of `dir` as the walk takes a folder's files: looked at, then the archives among
// them listed; the members listed.
size_t ListAll(const std::string& dir, const std::vector<std::string>& names, const ArchiveOptions& o) {
    const int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::vector<const char*> files;
    std::vector<uint64_t> sizes;
    struct stat st;
    for (const auto& n : names) {
        if (fstatat(dfd, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
        files.push_back(n.c_str());
        sizes.push_back(static_cast<uint64_t>(st.st_size));
    }
    size_t members = 0;
    for (const auto& [i, listing] : ListArchivesAmong(dfd, files, sizes, o)) members += listing.members.size();
    close(dfd);
    return members;
}

// lstat of `count` names of `dir`, round and round.
void StatNames(const std::string& dir, const std::vector<std::string>& names, size_t count) {
    const int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat st;
    for (size_t i = 0; i < count; ++i) fstatat(dfd, names[i % names.size()].c_str(), &st, AT_SYMLINK_NOFOLLOW);
    close(dfd);
}

// The catalogue beside `record`: its entries, and the bytes an entry takes in memory.
size_t CatalogueEntries(const std::string& record) {
    const auto c = OpenDiskCatalogue(record, "Special Information about this disk by Quindle");
    return c.catalogue ? c.catalogue->Count() : 0;
}
double CatalogueBytesPerEntry(const std::string& record) {
    const auto c = OpenDiskCatalogue(record, "Special Information about this disk by Quindle");
    return c.catalogue && c.catalogue->Count() ? static_cast<double>(c.catalogue->MemoryBytes()) / c.catalogue->Count() : 1;
}

} // namespace

int main(int argc, char** argv) {
    bench::StartCliRunner(); // before the bench grows: see CliRun.h
    ReadTimeZoneOnce(); // as the program does
    size_t mb = 1024;
    std::string dir;
    // The command line beside the bench folder, as built.
    std::string cli = (fs::canonical("/proc/self/exe").parent_path().parent_path() / "quindle-cli").string();
    bool skipWalk = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--mb" && i + 1 < argc) mb = std::stoul(argv[++i]);
        else if (a == "--dir" && i + 1 < argc) dir = argv[++i];
        else if (a == "--cli" && i + 1 < argc) cli = argv[++i];
        else if (a == "--no-walk") skipWalk = true;
        else {
            std::fprintf(stderr, "usage: archives [--mb N] [--dir DIR] [--cli QUINDLE-CLI] [--no-walk]\n");
            return 2;
        }
    }
    const bool keep = !dir.empty();
    if (!keep) dir = (fs::temp_directory_path() / ("quindle-archives-" + std::to_string(getpid()))).string();
    fs::create_directories(dir);

    // ---- targz/gzip
    const std::string tarball = dir + "/src-" + std::to_string(mb) + "mb.tar.gz";
    if (!fs::exists(tarball)) {
        std::fprintf(stderr, "making a tar.gz of %zu MB in %s\n", mb, dir.c_str());
        if (!MakeTarball(tarball + ".part", mb)) {
            std::fprintf(stderr, "cannot make %s\n", tarball.c_str());
            return 1;
        }
        fs::rename(tarball + ".part", tarball);
    }
    const std::string gzipCommand = "gzip -dc '" + tarball + "' > /dev/null";
    if (std::system(gzipCommand.c_str()) != 0) return 1; // and a warm cache
    const double gzip = Best(3, [&] { [[maybe_unused]] const int rc = std::system(gzipCommand.c_str()); });
    ArchiveOptions all;
    all.mode = ArchiveMode::All;
    all.limits.maxMillis = 3'600'000;
    ArchiveListing listing;
    const double list = Best(3, [&] { listing = ListArchive(AT_FDCWD, tarball.c_str(), fs::file_size(tarball), all); });
    std::printf("tarball: %.0f MB compressed, %zu members, %s\n", fs::file_size(tarball) / 1048576.0,
                listing.members.size(), listing.Status() == ArchiveStatus::Listed ? "listed" : listing.Info().reason.c_str());
    std::printf("targz/gzip: %.2f (listing %.2f s; baseline: gzip -dc > /dev/null, %.2f s; goal <= 1.1)\n",
                list / gzip, list, gzip);
    std::fflush(stdout);

    // ---- sniff/lstat and zips/lstat
    const std::string plain = dir + "/plain", zips = dir + "/zips";
    if (!fs::exists(plain + "/p9999.txt")) MakePlainFiles(plain);
    if (!fs::exists(zips + "/z999.zip")) MakeZips(zips);
    const auto plainNames = NamesIn(plain), zipNames = NamesIn(zips);
    const ArchiveOptions indexed;
    ListAll(plain, plainNames, indexed);
    const double sniff = Best(3, [&] { ListAll(plain, plainNames, indexed); });
    const double statPlain = Best(3, [&] { StatNames(plain, plainNames, plainNames.size()); });
    std::printf("sniff/lstat: %.2f (%.1f us a file; baseline: lstat of the same %zu files, %.1f us a file)\n",
                sniff / statPlain, sniff / plainNames.size() * 1e6, plainNames.size(), statPlain / plainNames.size() * 1e6);
    size_t members = 0;
    const double zipList = Best(3, [&] { members = ListAll(zips, zipNames, indexed); });
    const double statMembers = Best(3, [&] { StatNames(plain, plainNames, members); });
    std::printf("zips/lstat: %.2f (%zu zips, %zu members, %.2f s; baseline: lstat of %zu files, %.3f s)\n",
                zipList / statMembers, zipNames.size(), members, zipList, members, statMembers);

    // ---- archives/plain: the walk itself, through quindle-cli add, with and without archives
    if (!skipWalk) {
        const std::string disk = dir + "/disk", package = dir + "/package", config = dir + "/config";
        if (!fs::exists(disk + "/f989/p98999.txt")) MakeWalkDisk(disk, zips);
        fs::create_directories(package);
        fs::create_directories(config + "/Tavrel");
        // For memory: S holds 10 of the zips, one to a folder, so that both workers list as
        // they do on T; T all 1,000 of them, ten to a folder as on a disk of backups; U each
        // of them three times, ten to a folder; nothing else; R nothing.
        for (const int count : {10, 1000, 3000}) {
            const std::string d = dir + "/zips-only-" + std::to_string(count);
            for (int z = 0; z < count; ++z) {
                const std::string folder = d + "/d" + std::to_string(count == 10 ? z : z / 10);
                const std::string file = folder + "/z" + std::to_string(z) + ".zip";
                fs::create_directories(folder);
                if (!fs::exists(file)) fs::copy_file(zips + "/z" + std::to_string(z % 1000) + ".zip", file);
            }
        }
        fs::create_directories(dir + "/empty");
        std::ofstream conf(config + "/Tavrel/Quindle.conf");
        conf << "[Drives]\nQ\\path=" << disk << "\nQ\\serial=77\n";
        conf << "R\\path=" << dir << "/empty\nR\\serial=78\n";
        conf << "S\\path=" << dir << "/zips-only-10\nS\\serial=79\n";
        conf << "T\\path=" << dir << "/zips-only-1000\nT\\serial=80\n";
        conf << "U\\path=" << dir << "/zips-only-3000\nU\\serial=81\n";
        conf.close();
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        // Every run memorizes its disk for the first time, into a package of its own made
        // empty: memorizing again would also load the old catalogue to count the changes.
        const auto fresh = [&](char drive, const char* mode) {
            fs::remove_all(package);
            fs::create_directories(package);
            return bench::RunCli({cli, "--package", package, "add", std::string(1, drive) + ":", "--title", "Bench",
                                  "--archives", mode});
        };
        // Both modes warm the caches they read (listing reads every file's head), then run
        // in turns, so that a slower spell of the machine meets both; each figure is the
        // best of five, the peak memory the largest.
        fresh('Q', "none");
        fresh('Q', "indexed");
        bench::CliRun none{1e9, 0, 0}, indexed{1e9, 0, 0};
        size_t entriesNone = 0;
        for (int i = 0; i < 5; ++i)
            for (bench::CliRun* best : {&none, &indexed}) {
                const bench::CliRun r = fresh('Q', best == &none ? "none" : "indexed");
                best->seconds = std::min(best->seconds, r.seconds);
                best->maxRssKiB = std::max(best->maxRssKiB, r.maxRssKiB);
                if (best == &none) entriesNone = CatalogueEntries(package + "/77.dat");
            }
        const double perEntry = CatalogueBytesPerEntry(package + "/77.dat"); // the last run's: indexed
        std::printf("archives/plain: %.2f (100,000 files, 1,000 of them zips of 100 members: add --archives indexed "
                    "%.2f s; baseline: add --archives none, %.2f s; goal <= 1.3)\n",
                    indexed.seconds / none.seconds, indexed.seconds, none.seconds);
        // What each member adds to the peak, against what an entry takes in the catalogue in
        // memory (names, columns, flags), and what an entry costs the walk of the disk
        // without archives (its peak over an empty disk's). Some costs grow with the disk up
        // to a bound and then stay: the listing's threads, their buffers and heaps, and the
        // compressor, whose window follows the catalogue's size up to 256 KiB (1.2 MB of
        // compressor in all). So the figure is the disk of 3,000 zips against the disk of
        // 1,000, where all of them are reached; from 10 zips to 1,000 is printed beside it.
        // A peak wanders by up to a megabyte from run to run (with how far the listing
        // threads ran ahead of the walk): each disk's is the median of five runs.
        const auto peak = [&](char drive, const char* serial, size_t& entries) {
            std::vector<long> kib;
            for (int i = 0; i < 5; ++i) kib.push_back(fresh(drive, "indexed").maxRssKiB);
            std::sort(kib.begin(), kib.end());
            entries = CatalogueEntries(package + "/" + serial + ".dat");
            return kib[kib.size() / 2];
        };
        const auto growth = [](long fromKiB, size_t fromEntries, long toKiB, size_t toEntries) {
            return (toKiB - fromKiB) * 1024.0 / static_cast<double>(toEntries > fromEntries ? toEntries - fromEntries : 1);
        };
        size_t emptyEntries = 0, fewEntries = 0, manyEntries = 0, mostEntries = 0;
        const long emptyKiB = peak('R', "78", emptyEntries), fewKiB = peak('S', "79", fewEntries),
                   manyKiB = peak('T', "80", manyEntries), mostKiB = peak('U', "81", mostEntries);
        const double perMember = growth(manyKiB, manyEntries, mostKiB, mostEntries);
        const double perMemberFromFew = growth(fewKiB, fewEntries, manyKiB, manyEntries);
        const double walkPerEntry = (none.maxRssKiB - emptyKiB) * 1024.0 / static_cast<double>(std::max<size_t>(entriesNone, 1));
        std::printf("memory/member: %.2f (%.0f bytes a member: peak %.1f MB with %zu entries against %.1f MB with %zu; "
                    "from %zu entries, %.1f MB: %.0f bytes a member; baseline: %.0f bytes an entry of the catalogue "
                    "in memory)\n",
                    perMember / perEntry, perMember, mostKiB / 1024.0, mostEntries, manyKiB / 1024.0, manyEntries,
                    fewEntries, fewKiB / 1024.0, perMemberFromFew, perEntry);
        std::printf("memory/member-walk: %.2f (baseline: %.0f bytes an entry of the walk without archives, its peak "
                    "%.1f MB over an empty disk's %.1f MB for %zu entries; the archives' walk peaked at %.1f MB)\n",
                    perMember / walkPerEntry, walkPerEntry, none.maxRssKiB / 1024.0, emptyKiB / 1024.0, entriesNone,
                    indexed.maxRssKiB / 1024.0);
    }

    if (!keep) fs::remove_all(dir);
    return 0;
}
