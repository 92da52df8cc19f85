#pragma once
// Reading a disk record line by line, for listing the files that match a search word and
// for browsing a disk's sections offline. No store is built: the file is read once into
// one buffer and every line is handed out as views into it.
//
// Reading rules, the store's: a line ends at CR LF, a lone CR or a lone LF; a header is a
// line "[" + name + "]"; NUL bytes are ordinary characters. A line holding "[" that is not
// a header stays in the section above it (where the memorizer wrote it).
#include <functional>
#include <string>
#include <string_view>

namespace quindle {

// One line of a record. The views point into the record's text and live as long as it.
struct RecordLine {
    std::string_view section; // the section it stands in ("E:\" or "Docs"); "" before any header
    // The file name. In a directory section the memorizer writes name "=" number, and a
    // name may itself hold "=", so the key ends at the last "="; in the information section
    // the keys are fixed and the values free text, so the key ends at the first "=".
    // A line without "=" is all key.
    std::string_view key;
    std::string_view value;   // text after the key's "="; empty when there is none
    std::string_view text;    // the whole line
    bool header = false;      // a "[...]" line itself (key and text are the whole line)
    bool info = false;        // inside the information section (ASCII case ignored)
};

// A record's bytes, read once.
class TRecordText {
public:
    // Reads the host file `path`. A missing file reads as an empty record (the search counts
    // it 0) that is not Present(); one that cannot be read, or is not a regular file, raises
    // EFileError "Cannot open file <path>". At most the size the file had when opened is read.
    explicit TRecordText(const std::string& path);
    // A record held in memory already (tests, benchmarks).
    static TRecordText FromText(std::string text);

    std::string_view Text() const { return text_; }
    // False when the record was read from a path where no file was.
    bool Present() const { return present_; }

    // fn for every line, in file order.
    void ForEachLine(std::string_view infoSection, const std::function<void(const RecordLine&)>& fn) const;
    // fn for every line that holds `word`, ASCII case ignored as the search counts; an empty
    // word, or one holding CR or LF, is held by no line.
    void ForEachMatchingLine(std::string_view word, std::string_view infoSection,
                             const std::function<void(const RecordLine&)>& fn) const;

private:
    TRecordText() = default;
    std::string text_;
    bool present_ = true;
};

// TRecordText(path).ForEachMatchingLine(word, infoSection, fn).
void ForEachMatchingLine(const std::string& path, std::string_view word, std::string_view infoSection,
                         const std::function<void(const RecordLine&)>& fn);

} // namespace quindle
