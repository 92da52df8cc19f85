#pragma once
// Reading a disk record whole for the command line, and finding the record lines that
// hold a word.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quindle {

// The whole text of the record at the host path `path`; nullopt when no file is there.
// Anything but a regular file (a folder, a link to a device or a FIFO) and a read error
// raise EFileError "Cannot open file <path>", as the search does.
std::optional<std::string> ReadRecordText(const std::string& path);

// One record line that holds the word. `section` is the name of the section it lies in
// ("" before the first header); `key` the text before the line's first "=" (the whole
// line without "="), for a line of the information section the whole line, and "" for
// a header line.
struct RecordLineMatch {
    std::string_view section, key;
};

// Calls fn for each line of the text (lines end at CR LF, a lone CR or a lone LF) that
// holds `word`, ignoring the case of ASCII letters as the search does.
void ForEachLineHolding(std::string_view text, std::string_view word, std::string_view infoSection,
                        const std::function<void(const RecordLineMatch&)>& fn);

} // namespace quindle
