#pragma once
// Files for the checksum tests: random contents, what `xxhsum -H2` says of them, and which
// of their pages the page cache holds.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "checksums/ChecksumReader.h"
#include "support/TempDrive.h"

namespace quindle::test {

inline std::string RandomBytes(size_t size, uint32_t seed) {
    std::mt19937_64 rng(seed);
    std::string s(size, '\0');
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        const uint64_t v = rng();
        for (int b = 0; b < 8; ++b) s[i + b] = static_cast<char>(v >> (8 * b));
    }
    for (; i < size; ++i) s[i] = static_cast<char>(rng());
    return s;
}

// What `xxhsum -H2` prints for each file, in order ("" where it printed nothing).
inline std::vector<std::string> XxhsumOf(const std::vector<std::string>& paths) {
    std::string command = "xxhsum -H2 2>/dev/null";
    for (const std::string& p : paths) command += " '" + p + "'";
    std::vector<std::string> sums;
    FILE* out = popen(command.c_str(), "r");
    if (!out) return sums;
    char line[4096];
    while (fgets(line, sizeof line, out)) sums.emplace_back(line, std::min<size_t>(32, std::char_traits<char>::length(line)));
    pclose(out);
    sums.resize(paths.size());
    return sums;
}

inline bool HaveXxhsum() { return system("xxhsum --version >/dev/null 2>&1") == 0; }

// The file's pages that the page cache holds, one flag per page.
inline std::vector<bool> CachedPages(const std::string& path) {
    std::vector<bool> cached;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return cached;
    const off_t size = lseek(fd, 0, SEEK_END);
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    if (size > 0) {
        void* map = mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_SHARED, fd, 0);
        if (map != MAP_FAILED) {
            std::vector<unsigned char> v((static_cast<size_t>(size) + page - 1) / page);
            if (mincore(map, static_cast<size_t>(size), v.data()) == 0)
                for (const unsigned char c : v) cached.push_back(c & 1);
            munmap(map, static_cast<size_t>(size));
        }
    }
    close(fd);
    return cached;
}

// Drops the file's pages from the cache (they are clean once synced).
inline void Uncache(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    fdatasync(fd);
    posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    close(fd);
}

// Reads `len` bytes at `off` the ordinary way, which leaves them cached; without the
// kernel's readahead, which would go on caching pages after them meanwhile.
inline void CacheRange(const std::string& path, uint64_t off, size_t len) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
    std::string buf(len, '\0');
    [[maybe_unused]] const ssize_t n = pread(fd, buf.data(), len, static_cast<off_t>(off));
    close(fd);
}

// Every result of the reader after its jobs, by id.
inline std::map<uint64_t, ChecksumResult> ResultsById(ChecksumReader& reader) {
    std::map<uint64_t, ChecksumResult> byId;
    for (ChecksumResult& r : reader.TakeAll()) byId.emplace(r.id, r);
    return byId;
}

// Threads of this process.
inline int ThreadCount() {
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/task")) ++n;
    return n;
}

} // namespace quindle::test
