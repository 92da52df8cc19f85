#include "changes/CatalogueDiff.h"

#include "checksums/ProgressText.h"

#include <algorithm>

namespace quindle {

const char* ChangeKindName(ChangeKind k) {
    switch (k) {
    case ChangeKind::Added: return "added";
    case ChangeKind::Removed: return "removed";
    case ChangeKind::Changed: break;
    }
    return "changed";
}

namespace {

std::string FilesAndFolders(uint64_t files, uint64_t folders, const char* what) {
    std::string s;
    if (files) s = CountedText(files, "file", "files");
    if (files && folders) s += " and ";
    if (folders) s += CountedText(folders, "folder", "folders");
    return s + " " + what;
}

// The entries each folder holds, sorted by name bytes: children of folder f are
// order[start[f], start[f + 1]) (start is indexed by entry, empty for entries that are not folders).
struct Children {
    std::vector<uint32_t> start, order;

    // `leaveOut`: flags of which entries (with all they hold) are not compared; 0: none.
    // `recordOnly`: what a catalogue of version 1 held, the record's entries and folders.
    Children(const Catalogue& c, uint8_t leaveOut, bool recordOnly) {
        const size_t n = c.Count();
        const auto kept = [&](size_t i) { return !(c.flags[i] & leaveOut) && !(recordOnly && c.OutsideRecord(i)); };
        start.assign(n + 1, 0);
        for (size_t i = 1; i < n; ++i)
            if (kept(i)) ++start[c.parent[i] + 1];
        for (size_t i = 0; i < n; ++i) start[i + 1] += start[i];
        order.resize(start[n]);
        std::vector<uint32_t> at(start.begin(), start.end() - 1);
        for (size_t i = 1; i < n; ++i)
            if (kept(i)) order[at[c.parent[i]]++] = static_cast<uint32_t>(i);
        for (size_t f = 0; f < n; ++f) {
            if (start[f + 1] - start[f] < 2) continue;
            std::sort(order.begin() + start[f], order.begin() + start[f + 1],
                      [&](uint32_t a, uint32_t b) { return c.Name(a) < c.Name(b); });
        }
    }
};

class Differ {
public:
    Differ(const Catalogue& before, const Catalogue& after, DiffOptions o)
        : a_(before), b_(after), ca_(before, o.includeHidden ? 0 : kEntryHidden, false),
          cb_(after, o.includeHidden ? 0 : kEntryHidden, before.header.version < 2) {}

    CatalogueDiff Run() {
        Match(0, 0);
        return std::move(out_);
    }

private:
    static bool IsFolder(const Catalogue& c, uint32_t i) { return c.kind[i] == uint8_t(EntryKind::Folder); }

    // Entry i and all it holds, as one change.
    void Whole(const Catalogue& c, const Children& ch, uint32_t i, ChangeKind k) {
        // Pre-order without recursion: deep trees must not exhaust the stack.
        std::vector<uint32_t> stack{i};
        while (!stack.empty()) {
            const uint32_t e = stack.back();
            stack.pop_back();
            const bool folder = IsFolder(c, e);
            if (k == ChangeKind::Added) {
                out_.changes.push_back({k, kNoEntry, e});
                ++(folder ? out_.counts.addedFolders : out_.counts.addedFiles);
            } else {
                out_.changes.push_back({k, e, kNoEntry});
                ++(folder ? out_.counts.removedFolders : out_.counts.removedFiles);
            }
            if (c.IsParent(e)) // a folder, or an archive with its members
                for (uint32_t j = ch.start[e + 1]; j-- > ch.start[e];) stack.push_back(ch.order[j]);
        }
    }

    // Two folders of the same path: merges what they hold by name, depth first, so the
    // changes come out in path order. A stack of open folder pairs, each with its place in
    // both child lists: deep trees must not exhaust the call stack.
    void Match(uint32_t rootA, uint32_t rootB) {
        struct Frame {
            uint32_t i, iEnd, j, jEnd;
        };
        const auto open = [&](uint32_t fa, uint32_t fb) {
            return Frame{ca_.start[fa], ca_.start[fa + 1], cb_.start[fb], cb_.start[fb + 1]};
        };
        std::vector<Frame> stack{open(rootA, rootB)};
        while (!stack.empty()) {
            Frame& f = stack.back();
            if (f.i == f.iEnd && f.j == f.jEnd) {
                stack.pop_back();
                continue;
            }
            const uint32_t ea = f.i < f.iEnd ? ca_.order[f.i] : kNoEntry;
            const uint32_t eb = f.j < f.jEnd ? cb_.order[f.j] : kNoEntry;
            int cmp;
            if (ea == kNoEntry) cmp = 1;
            else if (eb == kNoEntry) cmp = -1;
            else cmp = a_.Name(ea).compare(b_.Name(eb));
            if (cmp < 0) {
                ++f.i;
                Whole(a_, ca_, ea, ChangeKind::Removed);
                continue;
            }
            if (cmp > 0) {
                ++f.j;
                Whole(b_, cb_, eb, ChangeKind::Added);
                continue;
            }
            ++f.i;
            ++f.j;
            const bool folderA = IsFolder(a_, ea), folderB = IsFolder(b_, eb);
            if (folderA && folderB) {
                stack.push_back(open(ea, eb)); // `f` is not used after this
            } else if (a_.kind[ea] != b_.kind[eb]) {
                Whole(a_, ca_, ea, ChangeKind::Removed);
                Whole(b_, cb_, eb, ChangeKind::Added);
            } else {
                if (a_.size[ea] != b_.size[eb] || a_.mtime[ea] != b_.mtime[eb]) {
                    out_.changes.push_back({ChangeKind::Changed, ea, eb});
                    ++out_.counts.changedFiles;
                }
                // An archive listed both times: what changed among its members too. (`f`
                // is not used after this.)
                if (a_.IsArchive(ea) && b_.IsArchive(eb)) stack.push_back(open(ea, eb));
            }
        }
    }

    const Catalogue& a_;
    const Catalogue& b_;
    Children ca_, cb_;
    CatalogueDiff out_;
};

} // namespace

std::string ChangeCountsText(const ChangeCounts& c) {
    std::vector<std::string> parts;
    if (c.addedFiles || c.addedFolders) parts.push_back(FilesAndFolders(c.addedFiles, c.addedFolders, "added"));
    if (c.removedFiles || c.removedFolders)
        parts.push_back(FilesAndFolders(c.removedFiles, c.removedFolders, "removed"));
    if (c.changedFiles) parts.push_back(CountedText(c.changedFiles, "file", "files") + " changed");
    if (parts.empty()) return "nothing changed";
    std::string s = parts[0];
    for (size_t i = 1; i < parts.size(); ++i) s += ", " + parts[i];
    return s;
}

CatalogueDiff DiffCatalogues(const Catalogue& before, const Catalogue& after, DiffOptions options) {
    return Differ(before, after, options).Run();
}

} // namespace quindle
