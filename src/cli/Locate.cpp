// quindle-cli locate: every file of every disk whose name (or path) matches the terms,
// from the package index: one line per match, or JSON Lines with --json.
#include <algorithm>
#include <string_view>

#include "catalogue/EntryText.h"
#include "cli/Cli.h"
#include "index/FileQuery.h"
#include "index/PackageIndex.h"

namespace quindle::cli {

namespace {

void AppendOneLine(std::string& out, std::string_view s) {
    for (const char c : s) out += (c == '\t' || c == '\r' || c == '\n') ? '?' : c;
}

uint64_t SizeOption(const std::string& option, const std::string& text) {
    const auto v = ParseSizeText(text);
    if (!v) throw UsageError("locate: " + option + ": \"" + text + "\" is no size (a number of bytes, or with K, M or G)");
    return *v;
}

int64_t DateOption(const std::string& option, const std::string& text) {
    const auto v = ParseLocalDate(text);
    if (!v) throw UsageError("locate: " + option + ": \"" + text + "\" is no date (YYYY-MM-DD)");
    return *v;
}

} // namespace

int Locate(AppContext& ctx, const std::vector<std::string>& args) {
    const CommandArgs a = ParseCommandArgs("locate", args, {"--json", "--reverse", "--no-hidden"},
                                           {"--kind", "--min-size", "--max-size", "--after", "--before", "--disk",
                                            "--sort"});
    if (a.positional.empty()) throw UsageError("locate: missing TERM");
    std::string text;
    for (const std::string& t : a.positional) text += t + ' ';
    FileQuerySpec spec;
    spec.terms = ParseQuery(text);
    if (spec.terms.empty()) throw UsageError("locate: missing TERM");
    QueryFilters& f = spec.filters;
    for (const auto& [name, value] : a.options) {
        const std::string v = value.value_or("");
        if (name == "--kind") {
            bool known = false;
            for (uint8_t k = 0; k < kEntryKindCount; ++k)
                if (v == EntryKindName(static_cast<EntryKind>(k))) {
                    f.kinds.push_back(static_cast<EntryKind>(k));
                    known = true;
                }
            if (!known) throw UsageError("locate: --kind: \"" + v + "\" is not one of folder, file, link, other");
        } else if (name == "--min-size") {
            f.minSize = SizeOption(name, v);
        } else if (name == "--max-size") {
            f.maxSize = SizeOption(name, v);
        } else if (name == "--after") {
            f.after = DateOption(name, v);
        } else if (name == "--before") {
            f.before = DateOption(name, v);
        } else if (name == "--disk") {
            f.disks.push_back(std::to_string(SerialArgument("locate", v)));
        } else if (name == "--sort") {
            if (v == "title") spec.order = FileOrder::TitlePath;
            else if (v == "name") spec.order = FileOrder::Name;
            else if (v == "size") spec.order = FileOrder::Size;
            else if (v == "date") spec.order = FileOrder::Date;
            else throw UsageError("locate: --sort: \"" + v + "\" is not one of title, name, size, date");
        }
    }
    spec.descending = a.Flag("--reverse");
    f.includeHidden = !a.Flag("--no-hidden");

    PackageIndex index(ctx.PackageFolder, ctx.InfoSection);
    index.Refresh(2);
    const auto snapshot = index.Snapshot();
    for (const std::string& serial : f.disks) {
        const bool known = std::any_of(snapshot->disks.begin(), snapshot->disks.end(),
                                       [&](const auto& d) { return d->serial == serial; });
        if (!known) throw UsageError("locate: no disk " + serial + " in the package");
    }
    const auto say = [&](const std::vector<DiskProblem>& problems) {
        for (const DiskProblem& p : problems) {
            if (!f.disks.empty() && std::find(f.disks.begin(), f.disks.end(), p.serial) == f.disks.end()) continue;
            Message("disk " + p.serial + (p.title.empty() ? "" : " (" + p.title + ")") + ": " + p.reason +
                    (p.skipped ? "; skipped" : "; only its record's names are searched, without sizes or dates"));
        }
    };
    say(index.Problems());
    FileQuery query(snapshot, spec);
    const auto hits = query.Run();
    say(query.Failures());
    const bool json = a.Flag("--json");
    std::string line;
    for (const FileHit& h : *hits) {
        const IndexedDisk& d = *snapshot->disks[h.disk];
        const size_t e = h.entry;
        line.clear();
        const char* kind = EntryKindName(d.cat.Kind(e));
        if (json) {
            line += "{\"serial\":";
            AppendJsonString(line, d.serial);
            line += ",\"title\":";
            AppendJsonString(line, d.title);
            line += ",\"path\":";
            AppendJsonString(line, d.RelativePath(e));
            AppendEntryJsonFields(line, d.cat, e, d.details);
            line += "}\n";
        } else {
            line += d.serial + '\t';
            AppendOneLine(line, d.title);
            line += '\t';
            line += kind;
            if (d.details) line += '\t' + std::to_string(d.cat.size[e]) + '\t' + IsoUtc(d.cat.mtime[e]) + '\t';
            else line += "\t-\t-\t";
            AppendOneLine(line, d.WindowsPath(e));
            line += '\n';
        }
        Out(line);
    }
    return hits->empty() ? kNotFound : kOk;
}

} // namespace quindle::cli
