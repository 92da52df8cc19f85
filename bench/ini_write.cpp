// Cost of writing a disk record through TIniFile32: 100,000 distinct keys into one
// section of a new file, then 10,000 replacements of existing keys, in plain mode (every
// write on disk before WriteString returns) and in deferred mode (a checkpoint every 100
// calls). The baseline is writing the final text once with a single write().
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "records/IniFile.h"

using namespace quindle;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kAppends = 100000;
constexpr int kReplacements = 10000;
constexpr int kCheckpointEvery = 100;
const char* const kSection = "Docs";

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

std::string KeyName(int i) { return "file number " + std::to_string(i) + ".txt"; }

uint64_t FileSize(const std::string& path) {
    std::error_code ec;
    const auto n = std::filesystem::file_size(path, ec);
    return ec ? 0 : n;
}

std::string ReadAll(const std::string& path) {
    std::string text;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buf[1 << 16];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
        std::fclose(f);
    }
    return text;
}

// The fastest way to put `text` in a new file: one write(), best of five.
double BaselineSeconds(const std::string& path, const std::string& text) {
    double best = 1e9;
    for (int r = 0; r < 5; ++r) {
        unlink(path.c_str());
        const auto t0 = Clock::now();
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0) return 0;
        const ssize_t n = write(fd, text.data(), text.size());
        close(fd);
        const auto t1 = Clock::now();
        if (n != static_cast<ssize_t>(text.size())) return 0;
        best = std::min(best, Seconds(t0, t1));
    }
    unlink(path.c_str());
    return best;
}

struct Result {
    double appendSeconds = 0;
    uint64_t appendBytes = 0;
    uint64_t sizeAfterAppends = 0;
    double replaceSecondsPer10k = 0;
    uint64_t replaceBytesPer10k = 0;
    int replacementsMeasured = 0;
    uint64_t finalSize = 0;
};

// Replacement values alternate in length so that lines grow and shrink.
std::string ReplacementValue(int n) { return n % 2 ? std::to_string(n) : std::to_string(n * 1000003LL); }

Result Run(const std::string& path, bool deferred) {
    Result r;
    unlink(path.c_str());
    TIniFile32 ini(path);
    ini.SetDeferred(deferred);

    auto t0 = Clock::now();
    for (int i = 0; i < kAppends; ++i) {
        ini.WriteString(kSection, KeyName(i), std::to_string(i + 1));
        if (deferred && (i + 1) % kCheckpointEvery == 0) ini.Checkpoint();
    }
    ini.Checkpoint();
    auto t1 = Clock::now();
    r.appendSeconds = Seconds(t0, t1);
    r.appendBytes = ini.BytesWritten();
    r.sizeAfterAppends = FileSize(path);

    // In plain mode a replacement is a crash-safe rewrite of the whole file; when the
    // first few say 10,000 of them would take over a minute, measure fewer and scale.
    std::mt19937 rng(12345);
    int count = kReplacements;
    if (!deferred) {
        const auto p0 = Clock::now();
        const int probe = 20;
        for (int n = 0; n < probe; ++n) ini.WriteString(kSection, KeyName(static_cast<int>(rng() % kAppends)), "0");
        const double perCall = Seconds(p0, Clock::now()) / probe;
        if (perCall * kReplacements > 60) count = 200;
    }
    const uint64_t bytes0 = ini.BytesWritten();
    t0 = Clock::now();
    for (int n = 0; n < count; ++n) {
        ini.WriteString(kSection, KeyName(static_cast<int>(rng() % kAppends)), ReplacementValue(n));
        if (deferred && (n + 1) % kCheckpointEvery == 0) ini.Checkpoint();
    }
    ini.Checkpoint();
    t1 = Clock::now();
    r.replacementsMeasured = count;
    r.replaceSecondsPer10k = Seconds(t0, t1) * 10000.0 / count;
    r.replaceBytesPer10k = (ini.BytesWritten() - bytes0) * 10000 / static_cast<uint64_t>(count);
    r.finalSize = FileSize(path);
    return r;
}

void Print(const char* mode, const Result& r, double baseline) {
    std::printf("%s mode:\n", mode);
    std::printf("  %d appends: %.3f s in all, %.4f s per 10,000 calls, %.0fx baseline\n", kAppends, r.appendSeconds,
                r.appendSeconds * 10000.0 / kAppends, baseline > 0 ? r.appendSeconds / baseline : 0.0);
    std::printf("  appends wrote %llu bytes for a file of %llu bytes: %.2fx the final size\n",
                static_cast<unsigned long long>(r.appendBytes), static_cast<unsigned long long>(r.sizeAfterAppends),
                r.sizeAfterAppends ? static_cast<double>(r.appendBytes) / r.sizeAfterAppends : 0.0);
    std::printf("  replacements: %.3f s per 10,000 calls, %.0fx baseline%s\n", r.replaceSecondsPer10k,
                baseline > 0 ? r.replaceSecondsPer10k / baseline : 0.0,
                r.replacementsMeasured == kReplacements
                    ? ""
                    : (" (measured on " + std::to_string(r.replacementsMeasured) + " calls and scaled)").c_str());
    std::printf("  replacements wrote %.1f MB per 10,000 calls, %.1fx the file size\n",
                r.replaceBytesPer10k / 1e6, r.finalSize ? static_cast<double>(r.replaceBytesPer10k) / r.finalSize : 0.0);
}

} // namespace

int main() {
    char tmpl[] = "/tmp/ini_write_XXXXXX";
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/ini_write_XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    const char* dir = mkdtemp(buf.data());
    if (!dir) dir = mkdtemp(tmpl);
    if (!dir) {
        std::perror("mkdtemp");
        return 0;
    }
    const std::string folder = dir;
    const std::string plainPath = folder + "/plain.dat";
    const std::string deferredPath = folder + "/deferred.dat";

    try {
        const Result deferred = Run(deferredPath, true);
        const Result plain = Run(plainPath, false);

        // Baseline: the file as it stands after the appends, written once.
        std::string text;
        {
            const std::string p = folder + "/appended.dat";
            TIniFile32 ini(p);
            ini.SetDeferred(true);
            for (int i = 0; i < kAppends; ++i) ini.WriteString(kSection, KeyName(i), std::to_string(i + 1));
            ini.Checkpoint();
            text = ReadAll(p);
            unlink(p.c_str());
        }
        const double baseline = BaselineSeconds(folder + "/baseline.dat", text);
        std::printf("baseline: one write() of the %zu-byte file after the appends: %.5f s\n", text.size(), baseline);
        Print("plain", plain, baseline);
        Print("deferred (checkpoint every 100 calls)", deferred, baseline);
        std::printf("goals: appends under 2 s plain (%s), under 0.2 s deferred (%s); append bytes under 3x (%s, %s)\n",
                    plain.appendSeconds < 2 ? "met" : "missed", deferred.appendSeconds < 0.2 ? "met" : "missed",
                    plain.appendBytes < 3 * plain.sizeAfterAppends ? "met" : "missed",
                    deferred.appendBytes < 3 * deferred.sizeAfterAppends ? "met" : "missed");
    } catch (const std::exception& e) {
        std::printf("benchmark stopped: %s\n", e.what());
    }
    std::filesystem::remove_all(folder);
    return 0;
}
