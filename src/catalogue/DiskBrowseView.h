#pragma once
// A disk's catalogue as the windows list it: the entries of each folder sorted by name
// (folders first), the order of all folders by path, and the rows that hold a word or a
// filter. Every table is an array of entry indices built once (about 12 bytes per entry),
// and a folder's entries are sorted only when someone first asks for them, so a tree of
// a million entries opens at once and pays for what is looked at.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/Catalogue.h"

namespace quindle {

class TDiskBrowseView {
public:
    explicit TDiskBrowseView(Catalogue catalogue);

    const Catalogue& Cat() const { return cat_; }
    const DiskFigures& Figures() const { return cat_.header.figures; }
    size_t Count() const { return cat_.Count(); }
    bool IsFolder(uint32_t e) const { return cat_.kind[e] == static_cast<uint8_t>(EntryKind::Folder); }

    // The entries of folder `f`: its folders first, then the rest, each part by name
    // (ASCII case ignored; case twins in byte order).
    std::span<const uint32_t> Children(uint32_t f);
    // How many of them are folders (needs no sorting).
    uint32_t SubfolderCount(uint32_t f) const { return subfolders_[f]; }
    // Where a folder stands among its parent's entries (the root: 0).
    uint32_t RowInParent(uint32_t e);

    // As the program writes paths: the drive root ("E:\"), then the names joined by "\".
    // The folder holding `e`, and `e` itself.
    std::string FolderPath(uint32_t e) const;
    std::string EntryPath(uint32_t e) const;
    // The record's section of `e`: the drive root for the root's entries, otherwise the
    // top-level folder it lies in.
    std::string_view Section(uint32_t e) const;

    // Every entry but the root whose name holds `word`, ASCII case ignored, as the search
    // counts a record (bytes compared as they are), in walk order: the entries the record
    // holds, none that lies outside it (Catalogue::OutsideRecord).
    std::vector<uint32_t> Holding(std::string_view word) const;
    // The entries of `rows` whose name, or (with `withFolders`) whose folder's path as
    // FolderPath writes it, holds `filter` (UTF-8, ASCII case ignored) as the windows show
    // them: a byte that is not UTF-8 as its Latin-1 character. Order is kept.
    std::vector<uint32_t> Filter(std::span<const uint32_t> rows, std::string_view filter, bool withFolders) const;
    // Every entry but the root whose name holds `filter` as Filter compares: the whole disk.
    std::vector<uint32_t> FilterAll(std::string_view filter) const;

    enum class Key { Folder, Name, Size, Date };
    // Sorts entries by `key`, ties by folder then name; `foldersFirst` puts folders before
    // the other entries whatever the key. Descending reverses the whole order.
    void Sort(std::vector<uint32_t>& rows, Key key, bool descending, bool foldersFirst);

private:
    void SortChildren(uint32_t f);
    void RankFolders();
    // Name order: ASCII case ignored, then bytes.
    bool NameLess(uint32_t a, uint32_t b) const;

    Catalogue cat_;
    std::vector<uint32_t> childStart_; // Count() + 1: entry f's entries are children_[childStart_[f], childStart_[f+1])
    std::vector<uint32_t> children_;
    std::vector<uint32_t> subfolders_;
    std::vector<uint8_t> sorted_;     // per entry: its children are sorted
    std::vector<uint32_t> rowInParent_; // valid once the parent is sorted
    std::vector<uint32_t> folderRank_;  // per entry (folders only): place in path order; empty until needed
};

} // namespace quindle
