#include "records/ChecksumPhase.h"

#include <algorithm>
#include <chrono>

#include "catalogue/Catalogue.h"
#include "checksums/ChecksumReader.h"
#include "checksums/ProgressText.h"
#include "platform/CodePage.h"
#include "platform/Platform.h"
#include "records/DiskWalk.h"

namespace quindle {

namespace {

// Pumps at about this pace while files are handed over (the reader calls back only when
// its queue is full).
constexpr uint64_t kPumpEvery = 256;

// "E:\Docs\a.txt" for the log.
std::string ShownPath(const Catalogue& c, size_t i, char d) {
    std::string scratch;
    return std::string(1, static_cast<char>(UpperByte(static_cast<unsigned char>(d)))) + ":\\" +
           OneLineName(c.Path(i, '\\'), scratch);
}

} // namespace

ChecksumPhaseResult ChecksumEntries(AppContext& ctx, CatalogueBuilder& builder, const std::string& rootHost, char d) {
    ChecksumPhaseResult out;
    const Catalogue& c = builder.Entries();
    const auto wanted = [&c](size_t i) { return c.Kind(i) == EntryKind::File && !c.Member(i); };
    uint64_t total = 0;
    for (size_t i = 1; i < c.Count(); ++i)
        if (wanted(i)) total += c.size[i];

    ChecksumReader reader;
    const auto show = [&] {
        const ChecksumProgress p = reader.Progress();
        ctx.Progress.reading = ReadProgressText(std::min(p.bytesDone, total), total, p.seconds);
    };
    const auto store = [&](const std::vector<ChecksumResult>& results) {
        for (const ChecksumResult& r : results) {
            const auto i = static_cast<uint32_t>(r.id);
            if (r.status == ChecksumStatus::Done) {
                builder.SetChecksum(i, r.sum.bytes);
                ++out.files;
                out.bytes += r.size;
            } else if (r.status != ChecksumStatus::Cancelled) {
                const std::string why = ChecksumProblemText(r);
                builder.SetNote(i, why);
                ++out.unreadable;
                ctx.Log("Cannot read the content of " + ShownPath(c, i, d) + ": " + why);
            }
        }
    };
    const auto idle = [&] {
        show();
        ctx.Pump();
        if (ctx.AbortFlag) reader.Cancel();
    };

    idle();
    uint64_t handed = 0;
    // Paths from the catalogue's own name bytes below the root's host folder.
    ForEachEntryPath(c, '/', [&](size_t i, std::string_view folder, std::string_view name) {
        if (!wanted(i) || reader.IsCancelled()) return;
        std::string path = rootHost;
        if (path.empty() || path.back() != '/') path += '/';
        if (!folder.empty()) {
            path += folder;
            path += '/';
        }
        path += name;
        reader.Submit({i, std::move(path), c.size[i]}, idle);
        if (++handed % kPumpEvery == 0) {
            idle();
            store(reader.Take());
        }
    });
    while (reader.Outstanding() > 0) {
        store(reader.Take(std::chrono::milliseconds(100)));
        idle();
    }
    out.stopped = reader.IsCancelled();
    show();
    return out;
}

} // namespace quindle
