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
#include <sys/stat.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

namespace quindle {

// The value of `key` in `section` of the text, "" when there is none.
std::string FindIniValue(std::string_view text, std::string_view section, std::string_view key);

// Reads record files one after the other into a buffer kept across calls. It remembers
// each answer with the identity of the file it came from (device, inode, size, change
// and modification times): asked again while the file is unchanged, it answers without
// reading it, so listing a package of thousands of large records a second time costs one
// file status per record.
class TRecordTitleReader {
public:
    TRecordTitleReader();
    ~TRecordTitleReader();
    TRecordTitleReader(const TRecordTitleReader&) = delete;
    TRecordTitleReader& operator=(const TRecordTitleReader&) = delete;

    // "" for a missing file. A file that exists but is no regular file (a folder, a
    // device, a FIFO, a socket) or cannot be read (no permission, a read error) raises EFileError "Cannot open file <path>", as the store does.
    std::string Read(const std::string& path, std::string_view section, std::string_view key = "Title");

private:
    struct Remembered {
        dev_t dev;
        ino_t ino;
        off_t size;
        timespec mtime, ctime;
        std::string section, key, value;
    };
    std::unique_ptr<char[]> buf_;
    size_t cap_ = 0;
    std::unordered_map<std::string, Remembered> remembered_;
};

// The "Title" of the information section `infoSection` of the record at `path` (a host path).
std::string ReadRecordTitle(const std::string& path, std::string_view infoSection);

} // namespace quindle
