#pragma once
// What changed on a disk between two catalogues of it: entries matched by their exact path
// bytes (a folder renamed is its old path removed and its new path added, with all it
// holds), files of the same path whose size or date differ.
#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/Catalogue.h"

namespace quindle {

enum class ChangeKind : uint8_t { Added, Removed, Changed };
// "added", "removed", "changed".
const char* ChangeKindName(ChangeKind k);

constexpr uint32_t kNoEntry = UINT32_MAX;

struct EntryChange {
    ChangeKind change;
    uint32_t oldEntry; // index in the old catalogue; kNoEntry for an added entry
    uint32_t newEntry; // index in the new catalogue; kNoEntry for a removed entry
};

struct ChangeCounts {
    uint64_t addedFiles = 0, addedFolders = 0;
    uint64_t removedFiles = 0, removedFolders = 0;
    uint64_t changedFiles = 0;
    bool None() const { return addedFiles + addedFolders + removedFiles + removedFolders + changedFiles == 0; }
};

// "3 files and 1 folder added, 2 files removed, 1 file changed"; "nothing changed".
std::string ChangeCountsText(const ChangeCounts& c);

struct CatalogueDiff {
    // In path order: siblings by their name bytes, an added or removed folder followed by
    // what it holds.
    std::vector<EntryChange> changes;
    ChangeCounts counts;
};

// Entries that are not folders are "files" here (links and others included). An entry
// whose kind differs between the two (a file became a folder) is removed and added. A
// folder is never "changed": its date moves with what it holds, which is reported.
//
// Hidden entries (hidden, or below a hidden folder) are compared like the others unless
// `includeHidden` is false, which leaves them out on both sides. A catalogue of version 1
// held no hidden folder nor anything below one: against such a `before`, those of `after`
// are left out, so that what the older catalogue never held does not pass for added.
struct DiffOptions {
    bool includeHidden = true;
};
CatalogueDiff DiffCatalogues(const Catalogue& before, const Catalogue& after, DiffOptions options = {});

} // namespace quindle
