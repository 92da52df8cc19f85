// quindle-cli list: serial, title, date and description of every disk; with --json every
// figure of each disk as well.
#include "catalogue/EntryText.h"
#include "changes/DiskChanges.h"
#include "cli/Cli.h"
#include "package/Package.h"
#include "platform/Errors.h"
#include "records/DiskRecord.h"

namespace quindle::cli {

namespace {

// One disk as a JSON object: its texts, when it was memorized (ISO 8601 in UTC), its
// figures (null without a valid catalogue), its drive when it is in one, and whether its
// catalogue can be used.
std::string DiskJson(const DiskSummary& s, char drive) {
    std::string out = "{\"serial\":";
    AppendJsonString(out, s.info.serial);
    out += ",\"title\":";
    AppendJsonString(out, s.info.title);
    out += ",\"date\":";
    if (s.memorized)
        AppendJsonString(out, IsoUtc(*s.memorized));
    else
        out += "null";
    out += ",\"description\":";
    AppendJsonString(out, s.info.description);
    const auto number = [&](const char* key, std::optional<uint64_t> v) {
        out += std::string(",\"") + key + "\":" + (v ? std::to_string(*v) : std::string("null"));
    };
    const DiskFigures* f = s.figures ? &*s.figures : nullptr;
    number("files", f ? std::optional<uint64_t>(f->files) : std::nullopt);
    number("folders", f ? std::optional<uint64_t>(f->folders) : std::nullopt);
    number("bytes", f ? std::optional<uint64_t>(f->bytes) : std::nullopt);
    number("capacity", f ? std::optional<uint64_t>(f->capacity) : std::nullopt);
    number("free", f ? std::optional<uint64_t>(f->freeBytes) : std::nullopt);
    out += std::string(",\"complete\":") + (f ? (f->complete ? "true" : "false") : "null");
    out += ",\"connected\":";
    if (drive)
        AppendJsonString(out, std::string(1, drive));
    else
        out += "null";
    out += ",\"catalogue\":";
    AppendJsonString(out, s.catalogue);
    return out + "}\n";
}

} // namespace

int List(AppContext& ctx, const ListOptions& o) {
    const bool json = o.json;
    const std::vector<std::string> files = PackageRecordFiles(ctx);
    std::vector<ConnectedDisk> connected;
    if (json) connected = ConnectedDisks(ctx.platform, files);
    int status = kOk;
    for (const std::string& name : files) {
        const std::string path = ctx.PackageFolder + name;
        try {
            if (!ctx.platform.FileExists(path)) continue; // deleted since the listing
            if (json) {
                const DiskSummary s = SummarizeDisk(ctx.PackageFolder, name, ctx.InfoSection);
                if (!s.info.readable) throw EFileError(Format("Cannot open file %s", path));
                char drive = 0;
                for (const ConnectedDisk& c : connected)
                    if (c.recordFile == name && !drive) drive = c.letter;
                Out(DiskJson(s, drive));
                continue;
            }
            const DiskInfo info = ReadDiskInfo(path, ctx.InfoSection);
            if (!info.readable) throw EFileError(Format("Cannot open file %s", path));
            Out(info.serial + "\t" + info.title + "\t" + info.date + "\t" + info.description + "\n");
        } catch (const std::exception& e) {
            Message(e.what());
            status = kError;
        }
    }
    return status;
}

} // namespace quindle::cli
