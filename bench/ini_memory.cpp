// Memory that TIniFile32 needs to open a record, against the record's size, for records
// of several shapes (200 MB each by default; QUINDLE_BENCH_MB sets another size): bare
// line breaks, empty lines with CR LF, many short keys in one section, many small
// sections, one huge line, and a record shaped like a memorized disk.
//
// Each case runs in a child process of its own, so that one case's heap cannot hide the
// next one's growth. The child measures its peak resident memory (VmHWM, reset through
// /proc/self/clear_refs) after opening the record, after looking up a key in its biggest
// section (which builds that section's key index) and after a plain WriteString (an
// append in place, or a whole crash-safe rewrite when the file is not in the saved
// form). The figures are growth over the child's memory before opening, divided by the
// file size. The time to open is printed against reading the file into one buffer.
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "records/IniFile.h"

using namespace quindle;
using Clock = std::chrono::steady_clock;

namespace {

long StatusKiB(const char* field) {
    std::ifstream f("/proc/self/status");
    std::string line;
    const size_t n = std::strlen(field);
    while (std::getline(f, line))
        if (line.compare(0, n, field) == 0) return std::stol(line.substr(n));
    return -1;
}

void ResetPeak() {
    std::ofstream f("/proc/self/clear_refs");
    f << "5";
}

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// Writes about `size` bytes made by `piece(i)` for i = 0, 1, ..., after `head`.
uint64_t Generate(const std::string& path, uint64_t size, const std::string& head,
                  const std::function<void(uint64_t, std::string&)>& piece) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::string buf = head;
    uint64_t written = 0;
    for (uint64_t i = 0; written + buf.size() < size; ++i) {
        piece(i, buf);
        if (buf.size() >= (1 << 20)) {
            written += std::fwrite(buf.data(), 1, buf.size(), f);
            buf.clear();
        }
    }
    written += std::fwrite(buf.data(), 1, buf.size(), f);
    std::fclose(f);
    return written;
}

// The least any store holding the text must do: read the file into one fresh buffer of its size.
double PlainReadSeconds(const std::string& path, uint64_t size) {
    const auto t0 = Clock::now();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    // Mapped and unmapped by hand: a heap block would stay resident in this process and
    // be inherited by the measuring child, which could then grow into it unseen.
    void* mem = mmap(nullptr, size + 1, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mem == MAP_FAILED) {
        close(fd);
        return 0;
    }
    char* buf = static_cast<char*>(mem);
    for (uint64_t done = 0; done < size;) {
        const ssize_t n = read(fd, buf + done, size - done);
        if (n <= 0) break;
        done += static_cast<uint64_t>(n);
    }
    close(fd);
    const double s = Seconds(t0, Clock::now());
    munmap(mem, size + 1);
    return s;
}

struct Case {
    const char* name;
    std::string head;
    std::function<void(uint64_t, std::string&)> piece;
    std::string section, key; // a lookup in the biggest section
};

struct Measured {
    double openSeconds = 0;
    long beforeKiB = 0, openKiB = 0, lookupKiB = 0, saveKiB = 0;
    size_t lines = 0;
    bool found = false;
    bool ok = false;
};

Measured MeasureInChild(const std::string& path, const Case& c) {
    int fds[2];
    Measured m;
    if (pipe(fds) != 0) return m;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        Measured r;
        try {
            ResetPeak();
            r.beforeKiB = StatusKiB("VmRSS:");
            const auto t0 = Clock::now();
            TIniFile32 ini(path);
            r.openSeconds = Seconds(t0, Clock::now());
            r.openKiB = StatusKiB("VmHWM:");
            r.lines = ini.LineCount();
            (void)ini.ReadString("Information", "Title", "");
            r.found = !ini.ReadString(c.section, c.key, "").empty();
            r.lookupKiB = StatusKiB("VmHWM:");
            ini.WriteString(c.section.empty() ? "Added" : c.section, "added by the benchmark", "1");
            r.saveKiB = StatusKiB("VmHWM:");
            r.ok = true;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s: %s\n", c.name, e.what());
        }
        (void)!write(fds[1], &r, sizeof r);
        _exit(0);
    }
    close(fds[1]);
    if (pid > 0) {
        if (read(fds[0], &m, sizeof m) != static_cast<ssize_t>(sizeof m)) m = Measured{};
        int status = 0;
        waitpid(pid, &status, 0);
    }
    close(fds[0]);
    return m;
}

} // namespace

int main() {
    uint64_t mb = 200;
    if (const char* v = std::getenv("QUINDLE_BENCH_MB")) mb = std::strtoull(v, nullptr, 10);
    const uint64_t size = mb << 20;

    const std::string dir = (std::filesystem::temp_directory_path() / ("quindle-ini-memory-" + std::to_string(getpid())))
                                .string();
    std::filesystem::create_directories(dir);
    const std::string path = dir + "/record.dat";

    const std::vector<Case> cases = {
        {"bare line breaks (LF)", "", [](uint64_t, std::string& b) { b += '\n'; }, "", ""},
        {"empty lines with CR LF", "", [](uint64_t, std::string& b) { b += "\r\n"; }, "", ""},
        {"many short keys, one section", "[Keys]\r\n",
         [](uint64_t i, std::string& b) {
             b += 'k';
             b += std::to_string(i);
             b += "=1\r\n";
         },
         "Keys", "k1000"},
        {"many small sections", "",
         [](uint64_t i, std::string& b) {
             b += "[s";
             b += std::to_string(i);
             b += "]\r\nk=1\r\n";
         },
         "s1000", "k"},
        {"one huge line", "", [](uint64_t, std::string& b) { b.append(4096, 'x'); }, "", ""},
        {"memorized disk (100 files a folder)",
         "[Information]\r\nTitle=Disk\r\nSerial=1\r\n",
         [](uint64_t i, std::string& b) {
             if (i % 100 == 0) {
                 b += "\r\n[folder ";
                 b += std::to_string(i / 100);
                 b += "]\r\n";
             }
             b += "file number ";
             b += std::to_string(i);
             b += ".txt=12345 2024-01-01 12:00 A\r\n";
         },
         "folder 1000", "file number 100010.txt"},
    };

    std::printf("record size %llu MB; memory is peak growth / file size (goal <= 4)\n",
                static_cast<unsigned long long>(mb));
    std::printf("%-38s %10s %6s %8s %8s %8s %10s\n", "shape", "lines", "open", "+lookup", "+write", "open s",
                "x read()");
    bool met = true;
    for (const Case& c : cases) {
        const uint64_t bytes = Generate(path, size, c.head, c.piece);
        if (bytes == 0) {
            std::printf("%-38s cannot write %s\n", c.name, path.c_str());
            continue;
        }
        double baseline = 1e9;
        for (int r = 0; r < 3; ++r) baseline = std::min(baseline, PlainReadSeconds(path, bytes));
        const Measured m = MeasureInChild(path, c);
        unlink(path.c_str());
        if (!m.ok) {
            std::printf("%-38s failed (see above)\n", c.name);
            met = false;
            continue;
        }
        const double file = static_cast<double>(bytes) / 1024.0;
        const double open = (m.openKiB - m.beforeKiB) / file;
        const double lookup = (m.lookupKiB - m.beforeKiB) / file;
        const double save = (m.saveKiB - m.beforeKiB) / file;
        met &= save <= 4 && (c.key.empty() || m.found);
        std::printf("%-38s %10zu %6.2f %8.2f %8.2f %8.3f %10.1f%s\n", c.name, m.lines, open, lookup, save,
                    m.openSeconds, baseline > 0 ? m.openSeconds / baseline : 0.0,
                    c.key.empty() || m.found ? "" : "  (lookup found nothing!)");
    }
    std::printf("goal (every ratio <= 4): %s\n", met ? "met" : "missed");
    std::filesystem::remove_all(dir);
    return 0;
}
