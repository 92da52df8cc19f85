#include "search/RecordListing.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <unordered_map>

#include "platform/CodePage.h"

namespace quindle {

namespace {

// Bytes from..from+7 of the name, lower-cased, big-endian, 0 past its end.
uint64_t FoldedWord(std::string_view name, size_t from) {
    uint64_t p = 0;
    for (size_t i = from; i < from + 8; ++i)
        p = p << 8 | (i < name.size() ? LowerByte(static_cast<unsigned char>(name[i])) : 0u);
    return p;
}

// Names equal ignoring case are ordered by their bytes, so that the order never depends
// on the sort's whims.
int CompareNames(std::string_view a, std::string_view b) {
    if (const int c = CompareText(a, b)) return c;
    return a.compare(b);
}

} // namespace

TRecordListing TRecordListing::Matches(TRecordText record, std::string_view word, std::string_view infoSection) {
    TRecordListing l;
    l.record_ = std::move(record);
    // Folders by their lower-cased name, looked up once per section, not per line.
    std::unordered_map<std::string, uint32_t> byName;
    const char* lastSection = nullptr;
    bool haveSection = false;
    uint32_t folder = 0;
    const char* const base = l.record_.Text().data();
    l.record_.ForEachMatchingLine(word, infoSection, [&](const RecordLine& line) {
        if (!haveSection || line.section.data() != lastSection) {
            haveSection = true;
            lastSection = line.section.data();
            const auto [it, added] = byName.try_emplace(AnsiLowerCase(line.section), uint32_t(l.folders_.size()));
            if (added) l.folders_.push_back({line.section, line.info});
            folder = it->second;
        }
        const std::string_view name = line.header ? line.text.substr(0, 0) : (line.info ? line.text : line.key);
        l.rows_.push_back({{FoldedWord(name, 0), FoldedWord(name, 8)}, static_cast<size_t>(name.data() - base),
                           static_cast<uint32_t>(name.size()), folder});
    });
    l.Sort();
    return l;
}

TRecordListing TRecordListing::Contents(TRecordText record, std::string_view infoSection) {
    TRecordListing l;
    l.record_ = std::move(record);
    std::unordered_map<std::string, uint32_t> byName;
    const char* lastSection = nullptr;
    bool haveSection = false;
    uint32_t folder = 0;
    const char* const base = l.record_.Text().data();
    l.record_.ForEachLine(infoSection, [&](const RecordLine& line) {
        // A header makes its folder, entries or not; text before any header makes one only
        // when it is there.
        if (!line.header && line.text.empty()) return;
        if (!haveSection || line.section.data() != lastSection) {
            haveSection = true;
            lastSection = line.section.data();
            const auto [it, added] = byName.try_emplace(AnsiLowerCase(line.section), uint32_t(l.folders_.size()));
            if (added) l.folders_.push_back({line.section, line.info});
            folder = it->second;
        }
        if (line.header) return;
        const std::string_view name = line.info ? line.text : line.key;
        l.rows_.push_back({{FoldedWord(name, 0), FoldedWord(name, 8)}, static_cast<size_t>(name.data() - base),
                           static_cast<uint32_t>(name.size()), folder});
    });
    l.Sort();
    return l;
}

void TRecordListing::Sort() {
    // The folders' order: information first, then by name; rows then follow their folder.
    std::vector<uint32_t> order(folders_.size());
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        if (folders_[a].info != folders_[b].info) return folders_[a].info;
        const int c = CompareNames(folders_[a].name, folders_[b].name);
        return c != 0 ? c < 0 : a < b;
    });
    std::vector<uint32_t> rank(folders_.size());
    std::vector<Folder> sorted(folders_.size());
    for (uint32_t r = 0; r < order.size(); ++r) {
        rank[order[r]] = r;
        sorted[r] = folders_[order[r]];
    }
    folders_ = std::move(sorted);
    for (Row& row : rows_) row.folder = rank[row.folder];

    const std::string_view text = record_.Text();
    std::sort(rows_.begin(), rows_.end(), [&](const Row& a, const Row& b) {
        if (a.folder != b.folder) return a.folder < b.folder;
        if (a.prefix[0] != b.prefix[0]) return a.prefix[0] < b.prefix[0];
        if (a.prefix[1] != b.prefix[1]) return a.prefix[1] < b.prefix[1];
        const int c = CompareNames(text.substr(a.offset, a.length), text.substr(b.offset, b.length));
        return c != 0 ? c < 0 : a.offset < b.offset;
    });
    for (Folder& f : folders_) f.begin = f.end = 0;
    for (size_t i = 0; i < rows_.size();) {
        size_t j = i;
        while (j < rows_.size() && rows_[j].folder == rows_[i].folder) ++j;
        folders_[rows_[i].folder].begin = i;
        folders_[rows_[i].folder].end = j;
        i = j;
    }
}

std::vector<uint32_t> TRecordListing::Select(size_t begin, size_t end, std::string_view filter,
                                             std::string_view infoFolderName, bool namesOnly) const {
    end = std::min(end, rows_.size());
    std::vector<uint32_t> out;
    const std::string folded = AnsiLowerCase(filter);
    // Whole folders at once when their name holds the filter.
    std::vector<char> folderHolds(folders_.size(), 0);
    if (!namesOnly)
        for (size_t f = 0; f < folders_.size(); ++f)
            folderHolds[f] = ShownHolds(folders_[f].info ? infoFolderName : folders_[f].name, folded);
    for (size_t r = begin; r < end; ++r)
        if (folderHolds[rows_[r].folder] || ShownHolds(Name(r), folded)) out.push_back(static_cast<uint32_t>(r));
    return out;
}

} // namespace quindle
