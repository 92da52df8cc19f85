// quindle-cli files and show: a disk's catalogue, its entries and its figures.
#include <string_view>

#include "catalogue/DiskCatalogue.h"
#include "catalogue/EntryText.h"
#include "cli/Cli.h"
#include "records/DiskRecord.h"
#include "package/Package.h"
#include "search/RecordLines.h"

namespace quindle::cli {

namespace {

// The record of the serial given, which must be in the package.
std::string RecordOfArgument(AppContext& ctx, const std::string& command, const std::string& text) {
    const std::string serial = std::to_string(SerialArgument(command, text));
    const std::string path = RecordPath(ctx, serial);
    if (!ctx.platform.FileExists(path)) throw UsageError(command + ": no disk " + serial + " in the package");
    return path;
}

[[noreturn]] void NoDetails(const std::string& command, const std::string& serial, CatalogueProblem why) {
    throw std::runtime_error(command + ": disk " + serial + ": " + CatalogueProblemText(why) +
                             "; the disk has no details until it is memorized again");
}

// A name or path on one text line: tabs and line breaks would split the fields.
void AppendOneLine(std::string& out, std::string_view s) {
    for (const char c : s) out += (c == '\t' || c == '\r' || c == '\n') ? '?' : c;
}

} // namespace

int Files(AppContext& ctx, const std::vector<std::string>& args) {
    const CommandArgs a = ParseCommandArgs("files", args, {"--json", "--no-hidden"}, {});
    ExpectPositional("files", a, 1, "SERIAL");
    const std::string path = RecordOfArgument(ctx, "files", a.positional[0]);
    const DiskCatalogue disk = OpenDiskCatalogue(path, ctx.InfoSection);
    if (!disk.catalogue) NoDetails("files", a.positional[0], disk.problem);
    const Catalogue& c = *disk.catalogue;
    const bool json = a.Flag("--json"), hidden = !a.Flag("--no-hidden");
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

int Show(AppContext& ctx, const std::vector<std::string>& args) {
    const CommandArgs a = ParseCommandArgs("show", args, {"--json"}, {});
    ExpectPositional("show", a, 1, "SERIAL");
    const std::string path = RecordOfArgument(ctx, "show", a.positional[0]);
    const DiskCatalogueHeader disk = OpenDiskCatalogueHeader(path, ctx.InfoSection);
    if (!disk.header) NoDetails("show", a.positional[0], disk.problem);
    const DiskFigures& f = disk.header->figures;
    const DiskInfo info = ReadDiskInfo(path, ctx.InfoSection);
    const std::string serial = std::to_string(SerialArgument("show", a.positional[0]));
    const std::pair<const char*, std::string> texts[] = {
        {"serial", serial}, {"title", info.title}, {"date", info.date},
        {"description", info.description}, {"additional", info.additional}, {"filesystem", f.fileSystem}};
    const std::pair<const char*, uint64_t> numbers[] = {{"files", f.files}, {"folders", f.folders},
                                                        {"bytes", f.bytes}, {"capacity", f.capacity},
                                                        {"free", f.freeBytes}, {"unread", f.unreadEntries}};
    std::string out;
    if (a.Flag("--json")) {
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
