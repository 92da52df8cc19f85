#pragma once
// The walk's checksum phase: once the tree walk has collected the entries, every regular
// file that lies on the disk (no archive member) is read whole by a ChecksumReader and its
// checksum stored in the catalogue being built. A file that cannot be read keeps no
// checksum; its note says why, and the log names it. The walk's thread pumps while the
// reader works, so Abort stops the phase (the catalogue is then a stopped walk's).
#include <cstdint>
#include <string>

#include "app/AppContext.h"

namespace quindle {

class CatalogueBuilder;

struct ChecksumPhaseResult {
    uint64_t files = 0;      // checksummed
    uint64_t unreadable = 0; // could not be read (noted)
    uint64_t bytes = 0;      // read
    bool stopped = false;    // Abort ended it early
};

// `rootHost`: the drive root's host folder; `d` its letter, for the log's paths. Shows its
// progress in ctx.Progress.reading ("1.23 GB of 2.00 GB, 850 MB/s, 1 s left") and pumps.
ChecksumPhaseResult ChecksumEntries(AppContext& ctx, CatalogueBuilder& builder, const std::string& rootHost, char d);

} // namespace quindle
