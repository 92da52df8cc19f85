#pragma once
// The walk's checksums: every regular file that lies on the disk (no archive member) is read
// whole by a ChecksumReader and its checksum stored in the catalogue being built. Files are
// handed over as soon as the walk has looked at them, so reading goes on while the walk
// does; Finish then waits for the rest. A file that cannot be read keeps no checksum; its
// note says why, and the log names it. The walk's thread pumps while it waits, so Abort
// stops the reading (the catalogue is then a stopped walk's).
#include <cstdint>
#include <string>
#include <vector>

#include "app/AppContext.h"
#include "checksums/ChecksumReader.h"

namespace quindle {

class CatalogueBuilder;

struct ChecksumPhaseResult {
    uint64_t files = 0;      // checksummed
    uint64_t unreadable = 0; // could not be read (noted)
    uint64_t bytes = 0;      // read
    bool stopped = false;    // Abort ended it early
};

class ChecksumPhase {
public:
    // `builder`: the catalogue the walk builds, which outlives this; `d` the drive's letter,
    // for the log's paths.
    ChecksumPhase(AppContext& ctx, CatalogueBuilder& builder, char d) : ctx_(ctx), builder_(builder), d_(d) {}

    // Regular file entry `entry`, at host path `path`, found `size` bytes long. Waits (and
    // pumps) only while the reader has thousands of files waiting.
    void Hand(uint32_t entry, std::string path, uint64_t size);
    // Waits for every file handed over and stores what is left to store. Shows its
    // progress in ctx.Progress.reading ("1.23 GB of 2.00 GB, 850 MB/s, 1 s left"), where its
    // last figures stay for the caller's summary, and pumps.
    ChecksumPhaseResult Finish();

private:
    void Store(const std::vector<ChecksumResult>& results);
    void Idle();

    AppContext& ctx_;
    CatalogueBuilder& builder_;
    char d_;
    ChecksumReader reader_;
    ChecksumPhaseResult out_;
    uint64_t handed_ = 0;
};

} // namespace quindle
