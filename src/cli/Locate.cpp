// quindle-cli locate: every file of every disk whose name (or path) matches the terms,
// from the package index: one line per match, or JSON Lines with --json.
#include <algorithm>
#include <string_view>

#include "catalogue/EntryText.h"
#include "cli/Cli.h"
#include "index/FileQuery.h"
#include "index/PackageIndex.h"

namespace quindle::cli {

int Locate(AppContext& ctx, const LocateOptions& o) {
    std::string text;
    for (const std::string& t : o.terms) text += t + ' ';
    FileQuerySpec spec;
    spec.terms = ParseQuery(text);
    if (spec.terms.empty()) throw UsageError("missing TERM");
    spec.filters = o.filters;
    spec.order = o.order;
    spec.descending = o.reverse;
    const QueryFilters& f = spec.filters;

    PackageIndex index(ctx.PackageFolder, ctx.InfoSection);
    index.Refresh(2);
    const auto snapshot = index.Snapshot();
    for (const std::string& serial : f.disks) {
        const bool known = std::any_of(snapshot->disks.begin(), snapshot->disks.end(),
                                       [&](const auto& d) { return d->serial == serial; });
        if (!known) throw UsageError("no disk " + serial + " in the package");
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
    const bool json = o.json;
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
