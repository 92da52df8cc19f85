#include "catalogue/DiskBrowseView.h"

#include <algorithm>
#include <cstring>

#include "platform/CodePage.h"

namespace quindle {

namespace {

// Eight bytes of a name from `from`, ASCII-lower-cased, big-endian: with the next eight,
// most name compares end there.
uint64_t Prefix(std::string_view s, size_t from) {
    uint64_t k = 0;
    for (size_t i = from; i < from + 8; ++i)
        k = (k << 8) | (i < s.size() ? LowerByte(static_cast<unsigned char>(s[i])) : 0u);
    return k;
}

} // namespace

TDiskBrowseView::TDiskBrowseView(Catalogue catalogue) : cat_(std::move(catalogue)) {
    const size_t n = cat_.Count();
    childStart_.assign(n + 1, 0);
    subfolders_.assign(n, 0);
    // Counting sort by parent: every folder's entries in walk order, side by side.
    for (size_t i = 1; i < n; ++i) {
        const uint32_t p = cat_.parent[i];
        if (p >= n) continue;
        ++childStart_[p + 1];
        if (IsFolder(static_cast<uint32_t>(i))) ++subfolders_[p];
    }
    for (size_t i = 0; i < n; ++i) childStart_[i + 1] += childStart_[i];
    children_.resize(childStart_[n]);
    std::vector<uint32_t> fill(childStart_.begin(), childStart_.end() - 1);
    for (size_t i = 1; i < n; ++i) {
        const uint32_t p = cat_.parent[i];
        if (p < n) children_[fill[p]++] = static_cast<uint32_t>(i);
    }
    sorted_.assign(n, 0);
    rowInParent_.assign(n, 0);
}

bool TDiskBrowseView::NameLess(uint32_t a, uint32_t b) const {
    const std::string_view x = cat_.Name(a), y = cat_.Name(b);
    const int c = CompareText(x, y);
    if (c != 0) return c < 0;
    return x != y ? x < y : a < b;
}

void TDiskBrowseView::SortChildren(uint32_t f) {
    if (f >= Count() || sorted_[f]) return;
    uint32_t* begin = children_.data() + childStart_[f];
    uint32_t* end = children_.data() + childStart_[f + 1];
    std::sort(begin, end, [this](uint32_t a, uint32_t b) {
        const bool fa = IsFolder(a), fb = IsFolder(b);
        if (fa != fb) return fa;
        return NameLess(a, b);
    });
    for (uint32_t* p = begin; p != end; ++p) rowInParent_[*p] = static_cast<uint32_t>(p - begin);
    sorted_[f] = 1;
}

std::span<const uint32_t> TDiskBrowseView::Children(uint32_t f) {
    if (f >= Count()) return {};
    SortChildren(f);
    return {children_.data() + childStart_[f], childStart_[f + 1] - childStart_[f]};
}

uint32_t TDiskBrowseView::RowInParent(uint32_t e) {
    if (e == 0 || e >= Count()) return 0;
    SortChildren(cat_.parent[e]);
    return rowInParent_[e];
}

std::string TDiskBrowseView::FolderPath(uint32_t e) const {
    std::string p = Figures().root;
    if (e == 0 || e >= Count()) return p;
    return p + cat_.Path(cat_.parent[e], '\\');
}

std::string TDiskBrowseView::EntryPath(uint32_t e) const { return Figures().root + cat_.Path(e, '\\'); }

std::string_view TDiskBrowseView::Section(uint32_t e) const {
    if (e >= Count()) return Figures().root;
    uint32_t at = cat_.parent[e];
    if (at == 0 || at == kNoParent) return Figures().root;
    while (at < Count() && cat_.parent[at] != 0 && cat_.parent[at] < at) at = cat_.parent[at];
    return cat_.Name(at);
}

std::vector<uint32_t> TDiskBrowseView::Holding(std::string_view word) const {
    std::vector<uint32_t> out;
    if (word.empty()) return out;
    const std::string folded = AnsiLowerCase(word);
    for (size_t i = 1; i < Count(); ++i)
        if (HoldsFolded(cat_.Name(i), folded) && !cat_.OutsideRecord(i)) out.push_back(static_cast<uint32_t>(i));
    return out;
}

std::vector<uint32_t> TDiskBrowseView::FilterAll(std::string_view filter) const {
    const std::string folded = AnsiLowerCase(filter);
    std::vector<uint32_t> out;
    for (size_t i = 1; i < Count(); ++i)
        if (ShownHolds(cat_.Name(i), folded)) out.push_back(static_cast<uint32_t>(i));
    return out;
}

std::vector<uint32_t> TDiskBrowseView::Filter(std::span<const uint32_t> rows, std::string_view filter,
                                              bool withFolders) const {
    const std::string folded = AnsiLowerCase(filter);
    // Whether each folder's path holds the filter, found once per folder met.
    std::vector<int8_t> folderHolds(withFolders ? Count() : 0, -1);
    std::vector<uint32_t> out;
    for (const uint32_t e : rows) {
        if (e >= Count()) continue;
        bool keep = ShownHolds(cat_.Name(e), folded);
        if (!keep && withFolders) {
            const uint32_t p = e == 0 ? 0 : cat_.parent[e];
            int8_t& h = folderHolds[p];
            if (h < 0) h = ShownHolds(FolderPath(e), folded) ? 1 : 0;
            keep = h == 1;
        }
        if (keep) out.push_back(e);
    }
    return out;
}

void TDiskBrowseView::RankFolders() {
    if (!folderRank_.empty()) return;
    folderRank_.assign(Count(), 0);
    // Depth first over the folders, each folder's folders in name order: the order of
    // their paths, compared name by name.
    // Only the folders are sorted here: a folder's files wait until it is opened.
    std::vector<uint32_t> stack{0}, folders;
    uint32_t rank = 0;
    while (!stack.empty()) {
        const uint32_t f = stack.back();
        stack.pop_back();
        folderRank_[f] = rank++;
        folders.clear();
        for (uint32_t i = childStart_[f]; i < childStart_[f + 1]; ++i)
            if (IsFolder(children_[i])) folders.push_back(children_[i]);
        std::sort(folders.begin(), folders.end(), [this](uint32_t a, uint32_t b) { return NameLess(a, b); });
        for (auto it = folders.rbegin(); it != folders.rend(); ++it) stack.push_back(*it);
    }
}

void TDiskBrowseView::Sort(std::vector<uint32_t>& rows, Key key, bool descending, bool foldersFirst) {
    // Folders' ranks only when the rows lie in more than one folder (a folder's own list
    // does not need the whole disk sorted).
    bool mixed = false;
    for (const uint32_t e : rows)
        if (e != 0 && e < Count() && !rows.empty() && cat_.parent[e] != cat_.parent[rows.front()]) mixed = true;
    if (mixed) RankFolders();
    struct Row {
        uint64_t primary;
        uint64_t folder; // rank of the folder holding it
        uint64_t prefix, prefix2;
        uint32_t entry;
    };
    std::vector<Row> keyed;
    keyed.reserve(rows.size());
    for (const uint32_t e : rows) {
        const std::string_view name = cat_.Name(e);
        Row r{0, 0, Prefix(name, 0), Prefix(name, 8), e};
        r.folder = e == 0 || !mixed ? 0 : folderRank_[cat_.parent[e]];
        switch (key) {
        case Key::Folder: r.primary = r.folder; break;
        case Key::Name: r.primary = r.prefix; break;
        case Key::Size: r.primary = cat_.size[e]; break;
        // Times as unsigned keys in the order of the signed values.
        case Key::Date: r.primary = static_cast<uint64_t>(cat_.mtime[e]) ^ (uint64_t(1) << 63); break;
        }
        keyed.push_back(r);
    }
    const auto less = [&](const Row& a, const Row& b) {
        if (foldersFirst) {
            const bool fa = IsFolder(a.entry), fb = IsFolder(b.entry);
            if (fa != fb) return fa;
        }
        if (a.primary != b.primary) return a.primary < b.primary;
        if (key != Key::Name && a.folder != b.folder) return a.folder < b.folder;
        if (a.prefix != b.prefix) return a.prefix < b.prefix;
        if (a.prefix2 != b.prefix2) return a.prefix2 < b.prefix2;
        if (key == Key::Name && a.folder != b.folder) {
            // Same first bytes: the names decide before the folders.
            const int c = CompareText(cat_.Name(a.entry), cat_.Name(b.entry));
            if (c != 0) return c < 0;
            return a.folder < b.folder;
        }
        return NameLess(a.entry, b.entry);
    };
    std::sort(keyed.begin(), keyed.end(), less);
    if (descending) {
        std::reverse(keyed.begin(), keyed.end());
        if (foldersFirst) // folders stay first, each part reversed
            std::stable_partition(keyed.begin(), keyed.end(), [&](const Row& r) { return IsFolder(r.entry); });
    }
    for (size_t i = 0; i < keyed.size(); ++i) rows[i] = keyed[i].entry;
}

} // namespace quindle
