#pragma once
// A disk of the package in its drive: which drive holds it, and what changed on it since
// it was memorized, from a new walk into memory (nothing is written).
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/AppContext.h"
#include "catalogue/Catalogue.h"
#include "changes/CatalogueDiff.h"
#include "records/Memorizer.h"

namespace quindle {

class TDirectoryOutline;
class TFileListBox;

// The drive (letter) that holds the disk of volume serial `serial` and is ready; the first
// such drive of the table, nothing when none does.
std::optional<char> ConnectedDriveOf(const Platform& platform, uint32_t serial);

// The disks of the package that are in a ready drive now: record file names
// ("<serial>.dat") matched against the serials of the drive table.
struct ConnectedDisk {
    std::string recordFile; // "123.dat"
    std::string serial;     // "123"
    char letter = 0;        // its drive
};
std::vector<ConnectedDisk> ConnectedDisks(const Platform& platform, const std::vector<std::string>& recordFiles);

// The catalogue a disk had before a new walk, when a diff against it means something:
// bound to its record and from a walk that went to its end.
struct PreviousCatalogue {
    std::optional<Catalogue> catalogue;
    std::string cause;           // why there is none ("no catalogue", ...)
    std::string memorizationDate; // of the record, as it holds it
};
PreviousCatalogue ReadPreviousCatalogue(const std::string& recordPath, std::string_view infoSection);

// "the catalogue is of a walk that was stopped": an old catalogue that cannot be compared.
extern const char* const kPartialCatalogue;

// What changed on the disk of record `recordPath` in drive d: walks the drive into memory
// (pumping and stopping on ctx.AbortFlag as a memorization does) and compares. `cause` says
// why there is no diff: the old catalogue is missing, stale or partial (then the drive is
// not walked), or the walk was stopped. A drive that is not ready throws EFileError.
struct DiskDiff {
    std::string cause;                // "" when `diff` holds the changes
    PreviousCatalogue before;
    std::optional<Catalogue> after;
    CatalogueDiff diff;
};
DiskDiff DiffDisk(AppContext& ctx, TDirectoryOutline& tree, TFileListBox& lister, char d,
                  const std::string& recordPath, DiffOptions options = {});

// The log line after memorizing again: "Changes since 08/12/2026 10:00:00: 2 files added".
std::string ChangesLogLine(const std::string& memorizationDate, const ChangeCounts& counts);

// Memorizing a disk, for the first time or again, as the package dialog, Package >
// "Memorize X: again" and quindle-cli add all do it: memorizes drive d into the record at
// `recordPath` with the disk's texts (MemorizeDiskWithInfo; errors propagate) and counts
// what changed since the last memorization when the old catalogue can tell.
struct MemorizeResult {
    bool complete = false;
    std::optional<PreviousCatalogue> before; // set when the disk was in the package
    std::optional<ChangeCounts> changes;     // set when counted
    std::optional<DiskFigures> figures;      // the new catalogue's, once written
    // What changed ("Changes since ...: ..."), or why it was not counted; "" for a new disk.
    std::string ChangesLine() const;
    // False when entries could not be looked at: the record holds every name, but the
    // catalogue lacks their sizes and dates.
    bool Detailed() const { return !figures || figures->complete; }
    // Says so (IncompleteCatalogueLine) for a walk that went to its end; "" otherwise.
    std::string IncompleteLine() const;
};
// Called when something changed, while the new catalogue is still at hand (to list it).
using ChangedCallback = std::function<void(const Catalogue& before, const Catalogue& now, const CatalogueDiff& diff)>;
// `options`: what the walk reads besides the names; none given, a disk memorized again
// keeps the choice its catalogue holds (WalkOptionsOf), a new one takes the defaults.
MemorizeResult MemorizeAndCompare(AppContext& ctx, TDirectoryOutline& tree, TFileListBox& lister, char d,
                                  const std::string& serial, const std::string& recordPath, const DiskInfoFields& info,
                                  const ChangedCallback& changed = {},
                                  const std::optional<WalkOptions>& options = std::nullopt);
// The choices a disk was memorized with, as its catalogue holds them: its archive choice,
// and checksums when any file has one or could not be read for one; the defaults for a
// catalogue written before they were kept.
WalkOptions WalkOptionsOf(const Catalogue& catalogue);
// The same, read from the header of the catalogue of record `recordPath` alone; the
// defaults for a disk without one.
WalkOptions KeptWalkOptions(const std::string& recordPath, std::string_view infoSection);

} // namespace quindle
