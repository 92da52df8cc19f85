#pragma once
// How counts and long reads are shown to a person, without Qt (the command line's stderr, the
// windows' progress lines): counts, sizes, speed and
// the time left.
#include <cstdint>
#include <string>

namespace quindle {

// "0 B", "512 B", "1.50 KB", "12.3 MB", "1.23 GB": units of 1024, three significant
// digits, a point whatever the locale. The windows' SizeText says the same.
std::string ByteSizeText(uint64_t bytes);

// "1 file", "2 files": a count and its word, singular for one. The windows' Counted says the
// same with the locale's grouping.
std::string CountedText(uint64_t n, const char* one, const char* many);

// "12 s", "2 min 5 s", "1 h 3 min": whole seconds rounded up.
std::string DurationText(double seconds);

// "1.23 GB of 2.00 GB, 850 MB/s, 1 s left" after `seconds` of reading `done` of `total`
// bytes at an even pace; "1.23 GB of 2.00 GB" while the pace is not known yet.
std::string ReadProgressText(uint64_t done, uint64_t total, double seconds);

} // namespace quindle
