// Listing a package by title: reading the "Title" of every record, against just reading
// the same files.
//
// Builds N records (default 1,000) of about M MB (default 2) in a temporary folder, laid
// out as the memorizer writes them (an empty first line, directory sections of
// "name=position" lines, the information section last), then, with a warm cache:
//   read     - open, read the whole file into one reused buffer, close (the baseline)
//   titles   - TRecordTitleReader::Read, as the package dialog's list by title does
//   store    - TIniFile32(path).ReadString, over the first 100 records only (it builds the
//              whole line list of every record), reported per record and extrapolated
// Usage: package_titles [records] [megabytes per record]
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "records/IniFile.h"
#include "records/PackageTitles.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kInfo = "Special Information about this disk by Quindle";

std::string MakeBody(size_t bytes) {
    std::string s = "\r\n[E:\\]\r\n";
    int section = 0, n = 0;
    while (s.size() < bytes) {
        if (n % 400 == 0) s += "\r\n[Folder " + std::to_string(section++) + "]\r\n";
        s += "Holiday photo " + std::to_string(n) + ".jpg=" + std::to_string(n % 400 + 1) + "\r\n";
        ++n;
    }
    return s;
}

void WriteAll(const std::string& path, const std::string& a, const std::string& b) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || write(fd, a.data(), a.size()) != static_cast<ssize_t>(a.size()) ||
        write(fd, b.data(), b.size()) != static_cast<ssize_t>(b.size())) {
        std::perror(path.c_str());
        std::exit(1);
    }
    close(fd);
}

double Seconds(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

} // namespace

int main(int argc, char** argv) {
    const int records = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    const double mb = argc > 2 ? std::max(0.01, std::atof(argv[2])) : 2.0;
    const fs::path dir = fs::temp_directory_path() / ("quindle-titles-" + std::to_string(getpid()));
    fs::create_directories(dir);

    const std::string body = MakeBody(static_cast<size_t>(mb * 1024 * 1024));
    std::vector<std::string> paths;
    for (int i = 0; i < records; ++i) {
        paths.push_back((dir / (std::to_string(1000000 + i) + ".dat")).string());
        WriteAll(paths.back(), body,
                 "\r\n[" + kInfo + "]\r\nVolume Serial=" + std::to_string(1000000 + i) +
                     "\r\nMemorization Date=07/12/2026 14:05:09\r\nTitle=Disk " + std::to_string(i) +
                     "\r\nDescription=Photos\r\nAdditional=\r\n");
    }
    const double totalMb = static_cast<double>(records) * static_cast<double>(body.size()) / (1024.0 * 1024.0);
    std::printf("%d records of %.2f MB (%.0f MB in all)\n", records, body.size() / (1024.0 * 1024.0), totalMb);

    // Baseline: the plain read of every file, warm (best of 3, the first run warms the cache).
    auto readAll = [&] {
        std::unique_ptr<char[]> buf(new char[body.size() + (1 << 20)]);
        size_t bytes = 0;
        for (const auto& p : paths) {
            const int fd = open(p.c_str(), O_RDONLY | O_CLOEXEC);
            ssize_t r;
            while ((r = read(fd, buf.get(), body.size() + (1 << 20))) > 0) bytes += static_cast<size_t>(r);
            close(fd);
        }
        return bytes;
    };
    readAll();
    double tRead = 1e9;
    for (int run = 0; run < 3; ++run) {
        const auto t0 = Clock::now();
        readAll();
        tRead = std::min(tRead, Seconds(t0));
    }

    double tTitles = 1e9;
    size_t found = 0;
    for (int run = 0; run < 3; ++run) {
        const auto t0 = Clock::now();
        quindle::TRecordTitleReader reader;
        found = 0;
        for (const auto& p : paths) found += reader.Read(p, kInfo, "Title").empty() ? 0 : 1;
        tTitles = std::min(tTitles, Seconds(t0));
    }

    const int storeRecords = std::min(records, 100);
    size_t agree = 0;
    const auto t0 = Clock::now();
    for (int i = 0; i < storeRecords; ++i) {
        const std::string title = quindle::TIniFile32(paths[static_cast<size_t>(i)]).ReadString(kInfo, "Title", "");
        agree += title == "Disk " + std::to_string(i) ? 1 : 0;
    }
    const double tStore = Seconds(t0) / storeRecords * records;

    std::printf("read (baseline)      %8.3f s  %8.0f MB/s\n", tRead, totalMb / tRead);
    std::printf("titles (reader)      %8.3f s  %8.0f MB/s  ratio to read %.2f  (%zu/%d titles)\n", tTitles,
                totalMb / tTitles, tTitles / tRead, found, records);
    std::printf("titles (TIniFile32)  %8.3f s  %8.0f MB/s  ratio to read %.2f  (extrapolated from %d records, %zu agree)\n",
                tStore, totalMb / tStore, tStore / tRead, storeRecords, agree);
    std::printf("reader speed-up over TIniFile32: %.1fx\n", tStore / tTitles);

    fs::remove_all(dir);
    return found == static_cast<size_t>(records) && agree == static_cast<size_t>(storeRecords) ? 0 : 1;
}
