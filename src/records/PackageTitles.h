#pragma once
// Reading one value of a disk record's information section without loading the record
// as a list of lines: listing a package by title reads thousands of records of
// megabytes each, and only a few bytes of each matter.
//
// The result is always what TIniFile32(path).ReadString(section, key, "") gives: the
// first line equal to "[" + section + "]" ignoring ASCII case is the header, its section
// runs up to the first later line holding "[", and the first line of it whose text
// before its first "=" equals the key exactly holds the value. Lines end at CR LF, a
// lone CR or a lone LF; NUL bytes are ordinary characters, as in the store.
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace quindle {

// The value of `key` in `section` of the text, "" when there is none.
std::string FindIniValue(std::string_view text, std::string_view section, std::string_view key);

// Reads record files one after the other; large files are mapped instead of copied, small
// ones land in a buffer kept across calls.
class TRecordTitleReader {
public:
    TRecordTitleReader();
    ~TRecordTitleReader();
    TRecordTitleReader(const TRecordTitleReader&) = delete;
    TRecordTitleReader& operator=(const TRecordTitleReader&) = delete;

    // "" for a missing file. A file that exists but cannot be read (a folder, no
    // permission, a read error) raises EFileError "Cannot open file <path>", as the store does.
    std::string Read(const std::string& path, std::string_view section, std::string_view key = "Title");

private:
    std::unique_ptr<char[]> buf_;
    size_t cap_ = 0;
};

// The "Title" of the information section `infoSection` of the record at `path` (a host path).
std::string ReadRecordTitle(const std::string& path, std::string_view infoSection);

} // namespace quindle
