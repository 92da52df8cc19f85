#pragma once
// One disk's record as rows of folder and name, for the list of a search word's matches
// and for browsing a disk offline. Rows are sorted by folder, then name, ASCII case
// ignored; the information section is a folder of its own and comes first. A row is an
// offset into the record's one buffer, 32 bytes however long the name, so a disk of a
// million names lists in a fraction of a second.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "search/RecordLines.h"

namespace quindle {

class TRecordListing {
public:
    // The sections of the record that share one name, ASCII case ignored (the store reads
    // them as one section), or all information sections together.
    struct Folder {
        std::string_view name; // as the first of its sections spells it
        bool info = false;     // the disk's information section
        size_t begin = 0;      // its rows: [begin, end)
        size_t end = 0;
    };

    TRecordListing() = default;
    // Every record line holding `word`, ASCII case ignored as the search counts. A header
    // line holding it is a row of that folder with an empty name.
    static TRecordListing Matches(TRecordText record, std::string_view word, std::string_view infoSection);
    // Every entry of every section; headers and empty lines are no rows. A section without
    // entries is still a folder, with no rows.
    static TRecordListing Contents(TRecordText record, std::string_view infoSection);

    size_t RowCount() const { return rows_.size(); }
    const std::vector<Folder>& Folders() const { return folders_; }
    size_t FolderIndex(size_t row) const { return rows_[row].folder; }
    const Folder& FolderOf(size_t row) const { return folders_[rows_[row].folder]; }
    // A directory section's row: the file name (the key, up to the line's last "="). An
    // information row: the whole line, "Title=Holiday backup".
    std::string_view Name(size_t row) const { return record_.Text().substr(rows_[row].offset, rows_[row].length); }

    // The rows of [begin, end) whose name, or whose folder's name, holds `filter` (UTF-8,
    // ASCII case ignored); the information folder's name is `infoFolderName` here, as the
    // window shows it. Names are compared as they are shown (ShowableUtf8). With
    // `namesOnly` the folders' names are not looked at.
    std::vector<uint32_t> Select(size_t begin, size_t end, std::string_view filter, std::string_view infoFolderName,
                                 bool namesOnly) const;

private:
    struct Row {
        uint64_t prefix[2] = {0, 0}; // the name's first 16 bytes, lower-cased, big-endian: most compares end here
        size_t offset = 0;   // of the name in the record's text
        uint32_t length = 0;
        uint32_t folder = 0;
    };
    void Sort();

    TRecordText record_ = TRecordText::FromText({}); // rows and folders point into its text
    std::vector<Folder> folders_;
    std::vector<Row> rows_;
};

} // namespace quindle
