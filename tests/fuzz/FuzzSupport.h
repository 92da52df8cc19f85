#pragma once
// Helpers shared by the fuzz targets: a scratch folder for the process, input decoding
// and a loud failure that libFuzzer records as a crash with its input.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
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

// Plain descriptors, not stdio: a FILE's buffer is a fresh allocation at every open,
// which under the sanitizers costs more than the file work itself.
inline void WriteWhole(const std::string& path, std::string_view bytes) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) Fail("cannot write the scratch file", path);
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) Fail("short write", path);
        done += static_cast<size_t>(n);
    }
    close(fd);
}

// Reads the whole file into `out` (empty when it cannot be read), reusing its buffer.
inline void ReadWhole(const std::string& path, std::string& out) {
    out.clear();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st;
    if (fstat(fd, &st) == 0 && st.st_size > 0) {
        out.resize(static_cast<size_t>(st.st_size));
        size_t done = 0;
        while (done < out.size()) {
            const ssize_t n = read(fd, out.data() + done, out.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        out.resize(done);
    }
    close(fd);
}

inline std::string ReadWhole(const std::string& path) {
    std::string out;
    ReadWhole(path, out);
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
