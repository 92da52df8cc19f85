#include "changes/DiskChanges.h"

#include "catalogue/DiskCatalogue.h"
#include "records/DiskRecord.h"
#include "records/Memorizer.h"
#include "package/Package.h"

namespace quindle {

const char* const kPartialCatalogue = "the catalogue is of a walk that was stopped";

std::optional<char> ConnectedDriveOf(const Platform& platform, uint32_t serial) {
    for (const DriveInfo& d : platform.Drives()) {
        const auto s = platform.GetVolumeSerial(d.letter);
        if (s && *s == serial && DriveReady(d)) return d.letter;
    }
    return std::nullopt;
}

std::vector<ConnectedDisk> ConnectedDisks(const Platform& platform, const std::vector<std::string>& recordFiles) {
    // Each drive's serial once: a volume query costs a few system calls.
    std::vector<std::pair<uint32_t, char>> ready;
    for (const DriveInfo& d : platform.Drives()) {
        if (!DriveReady(d)) continue;
        if (const auto s = platform.GetVolumeSerial(d.letter)) ready.emplace_back(*s, d.letter);
    }
    std::vector<ConnectedDisk> out;
    for (const std::string& file : recordFiles) {
        const std::string serial = SerialOfRecordName(file);
        const auto number = ParseDecimalSerial(serial);
        // Only the serial's own spelling names its record ("0123.dat" is no disk's).
        if (!number || std::to_string(*number) != serial) continue;
        for (const auto& [s, letter] : ready)
            if (s == *number) {
                out.push_back({file, serial, letter});
                break;
            }
    }
    return out;
}

PreviousCatalogue ReadPreviousCatalogue(const std::string& recordPath, std::string_view infoSection) {
    PreviousCatalogue out;
    DiskCatalogue disk = OpenDiskCatalogue(recordPath, infoSection);
    if (!disk.catalogue) {
        out.cause = CatalogueProblemText(disk.problem);
        return out;
    }
    if (const DiskFigures& f = disk.catalogue->header.figures; !f.complete) {
        out.cause = f.unreadEntries > 0 ? "the catalogue is incomplete: " + IncompleteCatalogueText(f)
                                        : std::string(kPartialCatalogue);
        return out;
    }
    out.catalogue = std::move(disk.catalogue);
    out.memorizationDate = ReadDiskInfo(recordPath, infoSection).date; // "" when unreadable: it only decorates
    return out;
}

DiskDiff DiffDisk(AppContext& ctx, TDirectoryOutline& tree, TFileListBox& lister, char d,
                  const std::string& recordPath, DiffOptions options) {
    DiskDiff out;
    out.before = ReadPreviousCatalogue(recordPath, ctx.InfoSection);
    if (!out.before.catalogue) {
        out.cause = out.before.cause;
        return out;
    }
    // Walked as it was memorized, so that only what changed on the disk differs.
    out.after = WalkDiskCatalogue(ctx, tree, lister, d, WalkOptionsOf(*out.before.catalogue));
    if (!out.after || !out.after->header.figures.complete) {
        out.cause = out.after ? IncompleteCatalogueText(out.after->header.figures) : "the walk was stopped";
        return out;
    }
    out.diff = DiffCatalogues(*out.before.catalogue, *out.after, options);
    return out;
}

std::string ChangesLogLine(const std::string& memorizationDate, const ChangeCounts& counts) {
    const std::string since = memorizationDate.empty() ? "Changes since the last memorization: "
                                                        : "Changes since " + memorizationDate + ": ";
    return since + ChangeCountsText(counts);
}

std::string MemorizeResult::ChangesLine() const {
    if (changes) return ChangesLogLine(before->memorizationDate, *changes);
    if (!before) return {};
    const std::string why = before->catalogue && figures ? IncompleteCatalogueText(*figures) : before->cause;
    return why.empty() ? std::string() : "Changes since the last memorization not counted: " + why;
}

std::string MemorizeResult::IncompleteLine() const { return Detailed() ? std::string() : IncompleteCatalogueLine(*figures); }

MemorizeResult MemorizeAndCompare(AppContext& ctx, TDirectoryOutline& tree, TFileListBox& lister, char d,
                                  const std::string& serial, const std::string& recordPath, const DiskInfoFields& info,
                                  const ChangedCallback& changed, const std::optional<WalkOptions>& options) {
    MemorizeResult r;
    // A disk memorized again: what changed since, when its old catalogue can tell.
    if (ctx.platform.FileExists(recordPath)) r.before = ReadPreviousCatalogue(recordPath, ctx.InfoSection);
    WalkOptions walk;
    if (options)
        walk = *options;
    else if (r.before && r.before->catalogue)
        walk = WalkOptionsOf(*r.before->catalogue);
    r.complete = MemorizeDiskWithInfo(ctx, tree, lister, d, serial, recordPath, info, [&](const Catalogue& now) {
        r.figures = now.header.figures;
        if (!r.before || !r.before->catalogue || !now.header.figures.complete) return;
        const CatalogueDiff diff = DiffCatalogues(*r.before->catalogue, now);
        r.changes = diff.counts;
        if (changed && !diff.changes.empty()) changed(*r.before->catalogue, now, diff);
    }, walk);
    return r;
}

namespace {
WalkOptions OptionsOfHeader(const CatalogueHeader& h) {
    WalkOptions options;
    const DiskFigures& f = h.figures;
    if (h.version >= 2) options.archives = static_cast<ArchiveMode>(f.archiveMode);
    options.checksums = f.checksummed > 0 || f.contentUnread > 0;
    return options;
}
} // namespace

WalkOptions WalkOptionsOf(const Catalogue& catalogue) { return OptionsOfHeader(catalogue.header); }

WalkOptions KeptWalkOptions(const std::string& recordPath, std::string_view infoSection) {
    const DiskCatalogueHeader h = OpenDiskCatalogueHeader(recordPath, infoSection);
    return h.header ? OptionsOfHeader(*h.header) : WalkOptions{};
}

} // namespace quindle
