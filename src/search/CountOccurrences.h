#pragma once
// Counting a search word in a disk record file, for the package search.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace quindle {

// Number of matches of `word` in the text of the host file `fileName`, ignoring case:
// the file's lines joined with CR LF after every line, text and word upper-cased, matches
// counted leftmost first and never overlapping (what TTISearch finds). A missing file and
// an empty word count 0. A file that exists but cannot be read (a folder, no permission,
// not a regular file, a read error) raises EFileError "Cannot open file <fileName>".
// NUL bytes are ordinary characters: the whole file is counted. Saturates at INT32_MAX.
int32_t CountOccurrences(const std::string& fileName, std::string_view word);

// How CountOccurrencesInText scans: Auto takes the widest vector unit the processor has;
// the others force a narrower path (tests compare them, the benchmark times them).
enum class TCountEngine { Auto, Sse2, Scalar };

// The same count over a text in memory, taken as it stands (no line-end rewriting).
uint64_t CountOccurrencesInText(std::string_view text, std::string_view word,
                                TCountEngine engine = TCountEngine::Auto);

// CountOccurrences with buffers that live across calls, so a search over thousands of
// record files allocates once. CountOccurrences uses one per thread.
class TOccurrenceCounter {
public:
    int32_t Count(const std::string& fileName, std::string_view word);

private:
    // Reads the whole file into buf_; returns false when no such file exists.
    bool ReadFile(const std::string& fileName);
    void Reserve(size_t bytes);
    void ReleaseIfHuge();

    std::unique_ptr<char[]> buf_; // raw file bytes, with room for a final CR LF and padding
    size_t cap_ = 0;
    size_t len_ = 0;
    std::string normalised_;      // only used when lone CR or LF must become CR LF
};

} // namespace quindle
