#pragma once
// What a walk reads beyond the names, sizes and dates, as the user chose it for a disk. The
// catalogue keeps the choice, so that walking the disk again (Memorize again, diff) reads
// the same.
#include "archives/Archives.h"

namespace quindle {

struct WalkOptions {
    // Which archives have their members listed in the catalogue.
    ArchiveMode archives = ArchiveMode::Indexed;
    // The XXH3-128 of every regular file's content (not the members of archives).
    bool checksums = false;
};

} // namespace quindle
