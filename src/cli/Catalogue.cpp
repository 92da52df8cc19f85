// quindle-cli files and show: a disk's catalogue, its entries and its figures.
#include <string_view>

#include "catalogue/DiskCatalogue.h"
#include "catalogue/EntryText.h"
#include "cli/Cli.h"
#include "records/DiskRecord.h"
#include "package/Package.h"
#include "search/RecordLines.h"

namespace quindle::cli {

int Files(AppContext& ctx, const DiskOptions& o) {
    const std::string path = RecordOfDisk(ctx, o.serial);
    const DiskCatalogue disk = OpenDiskCatalogue(path, ctx.InfoSection);
    if (!disk.catalogue) NoDetails(o.serial, CatalogueProblemText(disk.problem));
    const Catalogue& c = *disk.catalogue;
    const bool json = o.json, hidden = !o.noHidden;
    const std::string& root = c.header.figures.root;
    std::string line;
    const auto entry = [&](size_t i, std::string_view folder, std::string_view name) {
        if (!hidden && c.Hidden(i)) return;
        line.clear();
        if (json) {
            line += "{\"path\":";
            std::string p(folder);
            if (!p.empty() && !name.empty()) p += '/';
            p += name;
            AppendJsonString(line, p);
            AppendEntryJsonFields(line, c, i);
            line += "}\n";
        } else {
            line += EntryKindName(c.Kind(i));
            line += '\t' + std::to_string(c.size[i]) + '\t' + IsoUtc(c.mtime[i]) + '\t';
            AppendOneLine(line, root);
            AppendOneLine(line, folder);
            if (!folder.empty() && !name.empty()) line += '\\';
            AppendOneLine(line, name);
            line += '\n';
        }
        Out(line);
    };
    entry(0, {}, {});
    ForEachEntryPath(c, json ? '/' : '\\', entry);
    return kOk;
}

int Show(AppContext& ctx, const DiskOptions& o) {
    const std::string serial = std::to_string(o.serial);
    const std::string path = RecordOfDisk(ctx, o.serial);
    const DiskCatalogueHeader disk = OpenDiskCatalogueHeader(path, ctx.InfoSection);
    if (!disk.header) NoDetails(o.serial, CatalogueProblemText(disk.problem));
    const DiskFigures& f = disk.header->figures;
    const DiskInfo info = ReadDiskInfo(path, ctx.InfoSection);
    const std::pair<const char*, std::string> texts[] = {
        {"serial", serial}, {"title", info.title}, {"date", info.date},
        {"description", info.description}, {"additional", info.additional}, {"filesystem", f.fileSystem}};
    const std::pair<const char*, uint64_t> numbers[] = {{"files", f.files}, {"folders", f.folders},
                                                        {"bytes", f.bytes}, {"capacity", f.capacity},
                                                        {"free", f.freeBytes}, {"unread", f.unreadEntries},
                                                        {"checksummed", f.checksummed},
                                                        {"unreadable", f.contentUnread}};
    std::string out;
    if (o.json) {
        out = "{";
        for (const auto& [key, value] : texts) {
            out += std::string(out.size() > 1 ? "," : "") + "\"" + key + "\":";
            AppendJsonString(out, value);
        }
        for (const auto& [key, value] : numbers) out += std::string(",\"") + key + "\":" + std::to_string(value);
        out += std::string(",\"complete\":") + (f.complete ? "true" : "false") + "}\n";
    } else {
        for (const auto& [key, value] : texts) {
            out += std::string(key) + '\t';
            AppendOneLine(out, value);
            out += '\n';
        }
        for (const auto& [key, value] : numbers) out += std::string(key) + '\t' + std::to_string(value) + '\n';
        out += std::string("complete\t") + (f.complete ? "yes" : "no") + '\n';
        out += "walk\t" + std::to_string(f.walkMillis / 1000) + "." + std::to_string(f.walkMillis % 1000 / 100) + " s\n";
    }
    Out(out);
    return kOk;
}

} // namespace quindle::cli
