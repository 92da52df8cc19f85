#include "records/ChecksumPhase.h"

#include <algorithm>
#include <chrono>

#include "catalogue/Catalogue.h"
#include "checksums/ProgressText.h"
#include "platform/CodePage.h"
#include "records/DiskWalk.h"

namespace quindle {

namespace {

// Results are stored, and the walk pumps, at about this pace while files are handed over
// (the reader calls back only when its queue is full).
constexpr uint64_t kStoreEvery = 256;

// "E:\Docs\a.txt" for the log.
std::string ShownPath(const CatalogueBuilder& c, size_t i, char d) {
    std::string scratch;
    return std::string(1, static_cast<char>(UpperByte(static_cast<unsigned char>(d)))) + ":\\" +
           OneLineName(c.Path(i, '\\'), scratch);
}

} // namespace

void ChecksumPhase::Store(const std::vector<ChecksumResult>& results) {
    for (const ChecksumResult& r : results) {
        const auto i = static_cast<uint32_t>(r.id);
        if (r.status == ChecksumStatus::Done) {
            builder_.SetChecksum(i, r.sum.bytes);
            ++out_.files;
            out_.bytes += r.size;
        } else if (r.status != ChecksumStatus::Cancelled) {
            const std::string why = ChecksumProblemText(r);
            builder_.SetNote(i, why);
            ++out_.unreadable;
            ctx_.Log("Cannot read the content of " + ShownPath(builder_, i, d_) + ": " + why);
        }
    }
}

void ChecksumPhase::Idle() {
    ctx_.Pump();
    if (ctx_.AbortFlag) reader_.Cancel();
}

void ChecksumPhase::Hand(uint32_t entry, std::string path, uint64_t size) {
    if (reader_.IsCancelled()) return;
    reader_.Submit({entry, std::move(path), size}, [this] { Idle(); });
    if (++handed_ % kStoreEvery == 0) Store(reader_.Take());
}

ChecksumPhaseResult ChecksumPhase::Finish() {
    const auto show = [&] {
        const ChecksumProgress p = reader_.Progress();
        ctx_.Progress.reading = ReadProgressText(std::min(p.bytesDone, p.bytesTotal), p.bytesTotal, p.seconds);
    };
    show();
    while (reader_.Outstanding() > 0) {
        Store(reader_.Take(std::chrono::milliseconds(100)));
        show();
        Idle();
    }
    out_.stopped = reader_.IsCancelled();
    show();
    return out_;
}

} // namespace quindle
