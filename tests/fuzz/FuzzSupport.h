#pragma once
// Helpers shared by the fuzz targets: a scratch folder for the process, input decoding
// and a loud failure that libFuzzer records as a crash with its input.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace quindle::fuzz {

// A folder of this process's own, on a RAM file system when there is one (the store
// syncs every save), removed at exit.
inline const std::string& ScratchFolder() {
    static const std::string dir = [] {
        std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        if (const char* t = std::getenv("QUINDLE_FUZZ_TMP")) base = t;
        std::string templ = base + "/quindle-fuzz-XXXXXX";
        if (!mkdtemp(templ.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        static std::string removeAtExit;
        removeAtExit = templ;
        std::atexit([] { std::system(("rm -rf '" + removeAtExit + "'").c_str()); });
        return templ;
    }();
    return dir;
}

[[noreturn]] inline void Fail(const char* what, std::string_view detail = {}) {
    std::fprintf(stderr, "invariant broken: %s\n%.*s\n", what, static_cast<int>(detail.size()), detail.data());
    std::abort();
}

inline void WriteWhole(const std::string& path, std::string_view bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) Fail("cannot write the scratch file", path);
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) Fail("short write", path);
    std::fclose(f);
}

inline std::string ReadWhole(const std::string& path) {
    std::string out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    std::fclose(f);
    return out;
}

// A line ends at CR LF, a lone CR or a lone LF; a break at the very end adds no empty line.
inline std::vector<std::string> SplitLines(std::string_view t) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < t.size()) {
        size_t i = start;
        while (i < t.size() && t[i] != '\r' && t[i] != '\n') ++i;
        out.emplace_back(t.substr(start, i - start));
        if (i == t.size()) break;
        start = i + ((t[i] == '\r' && i + 1 < t.size() && t[i + 1] == '\n') ? 2 : 1);
    }
    return out;
}

// Reads the input front to back; past the end every read gives zero / empty.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
    bool AtEnd() const { return p_ >= end_; }
    uint8_t Byte() { return p_ < end_ ? *p_++ : 0; }
    std::string_view Bytes(size_t n) {
        n = std::min(n, static_cast<size_t>(end_ - p_));
        std::string_view s(reinterpret_cast<const char*>(p_), n);
        p_ += n;
        return s;
    }
    std::string_view Rest() { return Bytes(static_cast<size_t>(end_ - p_)); }

private:
    const uint8_t* p_;
    const uint8_t* end_;
};

} // namespace quindle::fuzz
