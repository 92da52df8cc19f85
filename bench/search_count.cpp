// Counting a word in a package of record files, against just reading the same files.
//
// Builds 1,000 record-like files of about 200 KB (sections of "Name_123.ext=size" lines,
// CR LF) in a temporary folder, then, with a warm cache and the best of several runs:
//   read      - open, read into one reused buffer, close (the baseline)
//   count     - CountOccurrences over every file (read + count)
//   matcher   - read + the TTISearch FindFirst/FindNext loop the search was first built on
// and prints MB/s for each and the ratio read time / (read and count) time.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "search/CountOccurrences.h"
#include "search/TISearch.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kFiles = 1000;
constexpr size_t kFileBytes = 200 * 1024;
constexpr int kRuns = 9;
const char* const kWord = "backup";

std::string MakeRecord(std::mt19937& rng) {
    static const char* const stems[] = {"Report", "Photo", "Holiday", "Invoice", "Music", "Track", "Setup",
                                        "Readme", "Letter", "Budget", "Scan", "Draft", "Notes", "Archive",
                                        "Backup", "Project", "Summary", "Thumbs", "Install", "Kernel"};
    static const char* const exts[] = {"txt", "doc", "jpg", "mp3", "exe", "dll", "pdf", "zip", "ini", "dat"};
    std::string s = "[Info]\r\nTitle=Disk " + std::to_string(rng() % 100000) + "\r\nSerial=" +
                    std::to_string(rng()) + "\r\n";
    int section = 0;
    while (s.size() < kFileBytes) {
        s += "[E:\\Data\\Folder_" + std::to_string(section++) + "]\r\n";
        const int lines = 5 + static_cast<int>(rng() % 60);
        for (int k = 0; k < lines && s.size() < kFileBytes; ++k) {
            s += stems[rng() % 20];
            s += '_';
            s += std::to_string(rng() % 1000);
            s += '.';
            s += exts[rng() % 10];
            s += '=';
            s += std::to_string(rng() % 100000);
            s += "\r\n";
        }
    }
    return s;
}

// The baseline: what any search has to do before it can look at a byte.
class Reader {
public:
    std::string_view Read(const std::string& path) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return {};
        struct stat st {};
        ::fstat(fd, &st);
        const size_t want = static_cast<size_t>(st.st_size) + 1;
        if (cap_ < want) {
            buf_.reset(new char[want]);
            cap_ = want;
        }
        size_t len = 0;
        for (;;) {
            const ssize_t r = ::read(fd, buf_.get() + len, cap_ - len);
            if (r <= 0) break;
            len += static_cast<size_t>(r);
        }
        ::close(fd);
        return {buf_.get(), len};
    }

private:
    std::unique_ptr<char[]> buf_;
    size_t cap_ = 0;
};

struct Mode {
    const char* name;
    std::function<uint64_t()> run;
    double best = 1e30;
    uint64_t result = 0;
};

// Runs the modes in turn, kRuns rounds, so that all of them see the same load on the
// machine; keeps each mode's best time.
void TimeInTurn(std::vector<Mode>& modes) {
    for (int r = 0; r < kRuns; ++r) {
        for (auto& m : modes) {
            const auto t0 = Clock::now();
            m.result = m.run();
            const double s = std::chrono::duration<double>(Clock::now() - t0).count();
            if (s < m.best) m.best = s;
        }
    }
}

} // namespace

int main() {
    std::string tmpl = (fs::temp_directory_path() / "quindle-bench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path dir = tmpl;

    std::mt19937 rng(12345);
    std::vector<std::string> files;
    uint64_t totalBytes = 0;
    for (int i = 0; i < kFiles; ++i) {
        const std::string path = (dir / (std::to_string(100000 + i) + ".dat")).string();
        const std::string text = MakeRecord(rng);
        std::ofstream(path, std::ios::binary) << text;
        files.push_back(path);
        totalBytes += text.size();
    }

    Reader reader;
    // One untimed pass to warm the page cache.
    uint64_t warm = 0;
    for (const auto& f : files) warm += reader.Read(f).size();
    if (warm != totalBytes) std::printf("  WARNING: read %llu of %llu bytes\n", static_cast<unsigned long long>(warm),
                                        static_cast<unsigned long long>(totalBytes));

    quindle::TOccurrenceCounter counter;
    quindle::TTISearch matcher;
    matcher.SetPattern(kWord);
    std::vector<Mode> modes;
    modes.push_back({"read only", [&] {
                         uint64_t sum = 0;
                         for (const auto& f : files) {
                             const auto v = reader.Read(f);
                             sum += v.size() + static_cast<unsigned char>(v.empty() ? 0 : v[v.size() / 2]);
                         }
                         return sum;
                     }});
    modes.push_back({"read + CountOccurrences", [&] {
                         uint64_t sum = 0;
                         for (const auto& f : files) sum += static_cast<uint64_t>(counter.Count(f, kWord));
                         return sum;
                     }});
    modes.push_back({"read + SSE2 count", [&] {
                         uint64_t sum = 0;
                         for (const auto& f : files)
                             sum += quindle::CountOccurrencesInText(reader.Read(f), kWord, quindle::TCountEngine::Sse2);
                         return sum;
                     }});
    modes.push_back({"read + TTISearch loop", [&] {
                         uint64_t sum = 0;
                         for (const auto& f : files) {
                             matcher.FindFirst(reader.Read(f));
                             if (!matcher.Found) continue;
                             ++sum;
                             while (!matcher.AtEnd()) {
                                 matcher.FindNext();
                                 if (matcher.Found) ++sum;
                             }
                         }
                         return sum;
                     }});
    TimeInTurn(modes);

    const double mb = static_cast<double>(totalBytes) / (1024.0 * 1024.0);
    const double readTime = modes[0].best;
    std::printf("search_count: %d files, %.1f MB, word \"%s\", best of %d runs\n", kFiles, mb, kWord, kRuns);
    std::printf("  %-24s %7.0f MB/s\n", modes[0].name, mb / readTime);
    for (size_t k = 1; k < modes.size(); ++k)
        std::printf("  %-24s %7.0f MB/s  ratio read/(read+count) %.2f  (%llu matches)\n", modes[k].name,
                    mb / modes[k].best, readTime / modes[k].best, static_cast<unsigned long long>(modes[k].result));
    for (size_t k = 2; k < modes.size(); ++k)
        if (modes[k].result != modes[1].result) std::printf("  WARNING: %s counts differently\n", modes[k].name);

    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
