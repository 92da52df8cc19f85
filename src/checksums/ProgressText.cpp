#include "checksums/ProgressText.h"

#include <charconv>
#include <cmath>

namespace quindle {

std::string ByteSizeText(uint64_t bytes) {
    if (bytes < 1024) return std::to_string(bytes) + " B";
    static const char* const units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    double v = static_cast<double>(bytes) / 1024.0;
    int u = 0;
    while (v >= 1024.0 && u < 5) {
        v /= 1024.0;
        ++u;
    }
    const int decimals = v < 10 ? 2 : (v < 100 ? 1 : 0);
    // to_chars: the C locale's point, also in a program that set the user's locale.
    char buf[32];
    const auto end = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals).ptr;
    return std::string(buf, end) + ' ' + units[u];
}

std::string DurationText(double seconds) {
    const uint64_t s = seconds > 0 ? static_cast<uint64_t>(std::ceil(seconds)) : 0;
    if (s < 60) return std::to_string(s) + " s";
    if (s < 3600) return std::to_string(s / 60) + " min " + std::to_string(s % 60) + " s";
    return std::to_string(s / 3600) + " h " + std::to_string(s % 3600 / 60) + " min";
}

std::string CountedText(uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string ReadProgressText(uint64_t done, uint64_t total, double seconds) {
    std::string text = ByteSizeText(done) + " of " + ByteSizeText(total);
    // The first moments measure the start, not the pace.
    if (done == 0 || seconds < 0.25) return text;
    const double rate = static_cast<double>(done) / seconds;
    text += ", " + ByteSizeText(static_cast<uint64_t>(rate)) + "/s";
    const double left = done < total ? static_cast<double>(total - done) / rate : 0;
    return text + ", " + DurationText(left) + " left";
}

} // namespace quindle
