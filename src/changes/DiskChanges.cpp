#include "changes/DiskChanges.h"

#include "catalogue/DiskCatalogue.h"
#include "records/DiskRecord.h"
#include "records/Memorizer.h"
#include "records/PackageTitles.h"

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
    try {
        out.memorizationDate = TRecordTitleReader().Read(recordPath, infoSection, "Memorization Date");
    } catch (const std::exception&) {
        // The date only decorates the report.
    }
    return out;
}

DiskDiff DiffDisk(AppContext& ctx, TDirectoryOutline& tree, TFileListBox& lister, char d,
                  const std::string& recordPath) {
    DiskDiff out;
    out.before = ReadPreviousCatalogue(recordPath, ctx.InfoSection);
    if (!out.before.catalogue) {
        out.cause = out.before.cause;
        return out;
    }
    out.after = WalkDiskCatalogue(ctx, tree, lister, d);
    if (!out.after || !out.after->header.figures.complete) {
        out.cause = out.after ? IncompleteCatalogueText(out.after->header.figures) : "the walk was stopped";
        return out;
    }
    out.diff = DiffCatalogues(*out.before.catalogue, *out.after);
    return out;
}

std::string ChangesLogLine(const std::string& memorizationDate, const ChangeCounts& counts) {
    const std::string since = memorizationDate.empty() ? "Changes since the last memorization: "
                                                        : "Changes since " + memorizationDate + ": ";
    return since + ChangeCountsText(counts);
}

} // namespace quindle
