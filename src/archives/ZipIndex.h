#pragma once
// A zip's members read straight from its central directory, for the zips a walk meets by
// the thousand (backups, downloads). libarchive lists a zip by reading every member's local
// header after the directory and turning every name into wide characters: about ten times
// the work of reading the directory alone.
//
// This reader vouches only for zips whose reading is certain: one directory at the end,
// no zip64, every member's local header in agreement with its directory entry, and extra
// fields it knows. Anything else (damage, other writers' extensions, encodings, links)
// is left to libarchive, which then lists the zip as before. No Qt.
#include <cstdint>
#include <string_view>
#include <vector>

#include "archives/Archives.h"

namespace quindle {

struct ZipIndexEntry {
    std::string_view name; // as the zip holds it, in the bytes given
    MemberKind kind = MemberKind::File;
    uint64_t size = 0;     // uncompressed
    int64_t mtime = 0;     // seconds since 1970 UTC
    bool encrypted = false;
};

// The members of the zip that `bytes` holds whole, in the order of their local headers
// (libarchive's order); false when this reader does not vouch for them.
bool ReadZipIndex(std::string_view bytes, std::vector<ZipIndexEntry>& out);

} // namespace quindle
