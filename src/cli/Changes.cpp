// quindle-cli diff, dupes and unique: what changed on a connected disk, and which files
// have copies in the package and which have none.
#include <unistd.h>

#include <string_view>

#include "browse/DirectoryOutline.h"
#include "browse/FileListBox.h"
#include "catalogue/EntryText.h"
#include "checksums/Checksum.h"
#include "copies/Copies.h"
#include "changes/DiskChanges.h"
#include "checksums/ProgressText.h"
#include "cli/Cli.h"
#include "package/Package.h"
#include "records/DiskRecord.h"

namespace quindle::cli {

namespace {

// Entry i's path as the user sees it ("E:\Docs\a.txt") or as --json writes it ("Docs/a.txt").
void AppendPath(std::string& out, const Catalogue& c, size_t i, bool json) {
    if (json) {
        AppendJsonString(out, c.Path(i, '/'));
        return;
    }
    AppendOneLine(out, c.header.figures.root);
    AppendOneLine(out, c.Path(i, '\\'));
}

// One entry as `files` writes it: kind, size, date, path; or its JSON object's fields.
void AppendEntry(std::string& out, const Catalogue& c, size_t i, bool json) {
    if (json) {
        out += "\"path\":";
        AppendPath(out, c, i, true);
        AppendEntryJsonFields(out, c, i);
        return;
    }
    out += EntryKindName(c.Kind(i));
    out += '\t' + std::to_string(c.size[i]) + '\t' + IsoUtc(c.mtime[i]) + '\t';
    AppendPath(out, c, i, false);
}

// Output in blocks: millions of lines through one buffer.
class Lines {
public:
    std::string& Line() { return buf_; }
    void Flush(bool force = false) {
        if (!force && buf_.size() < (1u << 16)) return;
        Out(buf_);
        buf_.clear();
    }
    ~Lines() { Flush(true); }

private:
    std::string buf_;
};

// A disk whose catalogue cannot be used, named on stderr.
void LeftOut(const DiskInfo& disk, const std::string& reason) {
    Message("disk " + disk.serial + " left out: " + reason + " (memorize it again)");
}

// The catalogues of the package; those that cannot be used are named on stderr.
PackageCatalogues LoadCatalogues(AppContext& ctx) {
    PackageCatalogues p = LoadPackageCatalogues(ctx.PackageFolder, PackageRecordFiles(ctx), ctx.InfoSection);
    for (const auto& s : p.skipped) LeftOut(s.info, s.reason);
    return p;
}

} // namespace

int Diff(AppContext& ctx, const DiskOptions& o) {
    const uint32_t number = o.serial;
    const std::string serial = std::to_string(number);
    const std::string path = RecordOfDisk(ctx, number);
    const auto d = ConnectedDriveOf(ctx.platform, number);
    if (!d) throw std::runtime_error("disk " + serial + " is not in any drive (see quindle-cli drives)");

    TDirectoryOutline tree(ctx);
    tree.SetTextCase(tcAsIs);
    TFileListBox lister(ctx);
    lister.SetFileType(ftReadOnly | ftHidden | ftSystem | ftArchive | ftNormal);
    // Progress on stderr as `add` shows it: one line redrawn on a terminal, a line every
    // 1000 folders otherwise.
    const bool tty = isatty(2) == 1;
    const std::string drive(1, *d);
    const auto figures = [&] {
        return drive + ": " + CountedText(ctx.Progress.folders, "folder", "folders") + ", " +
               CountedText(ctx.Progress.files, "file", "files");
    };
    long shown = -1;
    ctx.AddToLog = [&](const std::string& line) { WriteAll(2, (tty ? "\r\x1b[K" : "") + line + "\n"); };
    ctx.ProcessMessages = [&] {
        if (ctx.Progress.folders == shown) return;
        shown = ctx.Progress.folders;
        if (tty)
            WriteAll(2, "\r\x1b[K" + figures());
        else if (shown > 0 && shown % 1000 == 0)
            WriteAll(2, figures() + "\n");
    };
    const DiskDiff r = DiffDisk(ctx, tree, lister, *d, path, DiffOptions{!o.noHidden});
    if (r.after) WriteAll(2, (tty ? "\r\x1b[K" : "") + figures() + "\n");
    if (!r.cause.empty())
        throw std::runtime_error("disk " + serial + ": " + r.cause +
                                 "; memorize it again before comparing (quindle-cli add " + std::string(1, *d) +
                                 ": --replace)");
    const Catalogue& before = *r.before.catalogue;
    const Catalogue& after = *r.after;
    const bool json = o.json;
    Lines out;
    for (const EntryChange& c : r.diff.changes) {
        std::string& line = out.Line();
        // The new values; the old ones for a removed entry.
        const bool old = c.change == ChangeKind::Removed;
        const Catalogue& cat = old ? before : after;
        const uint32_t i = old ? c.oldEntry : c.newEntry;
        if (json) {
            line += "{\"change\":\"";
            line += ChangeKindName(c.change);
            line += "\",";
            AppendEntry(line, cat, i, true);
            if (c.change == ChangeKind::Changed)
                line += ",\"old_size\":" + std::to_string(before.size[c.oldEntry]) +
                        ",\"old_mtime\":" + std::to_string(before.mtime[c.oldEntry]);
            line += "}\n";
        } else {
            line += ChangeKindName(c.change);
            line += '\t';
            AppendEntry(line, cat, i, false);
            if (c.change == ChangeKind::Changed)
                line += '\t' + std::to_string(before.size[c.oldEntry]) + '\t' + IsoUtc(before.mtime[c.oldEntry]);
            line += '\n';
        }
        out.Flush();
    }
    Message("disk " + serial + " in " + std::string(1, *d) + ": " +
            ChangesLogLine(r.before.memorizationDate, r.diff.counts));
    return r.diff.counts.None() ? kOk : kNotFound;
}

// With --content: a disk whose catalogue holds no checksum takes no part, and is named.
// True when it was left out.
bool LeftOutWithoutChecksums(const DiskInfo& disk, const Catalogue& c) {
    if (c.HasChecksums()) return false;
    Message("disk " + disk.serial + " left out: it has no checksums (memorize it with quindle-cli add " +
            c.header.figures.root.substr(0, 2) + " --checksums --replace)");
    return true;
}

int Dupes(AppContext& ctx, const DupesOptions& o) {
    const PackageCatalogues p = LoadCatalogues(ctx);
    const CopyMatch match = o.content ? CopyMatch::Content : CopyMatch::NameSize;
    if (o.content)
        for (const PackageDisk& disk : p.disks) LeftOutWithoutChecksums(disk.info, disk.catalogue);
    const Copies copies = FindCopies(p.disks, o.minSize, !o.noHidden, match);
    const bool json = o.json;
    Lines out;
    for (const CopyGroup& g : copies.groups) {
        std::string& line = out.Line();
        const FileRef& firstRef = copies.refs[g.first];
        const std::string_view name = p.disks[firstRef.disk].catalogue.Name(firstRef.entry);
        // By content, a group is its checksum: the names may differ.
        const std::string sum =
            o.content ? Checksum{*p.disks[firstRef.disk].catalogue.ChecksumOf(firstRef.entry)}.Hex() : std::string();
        if (json) {
            if (o.content) {
                line += "{\"size\":" + std::to_string(g.size) + ",\"xxh128\":\"" + sum + "\",\"copies\":[";
            } else {
                line += "{\"name\":";
                AppendJsonString(line, name);
                line += ",\"size\":" + std::to_string(g.size) + ",\"copies\":[";
            }
        } else {
            line += std::to_string(g.count) + '\t' + std::to_string(g.size) + '\t';
            if (o.content) line += sum;
            else AppendOneLine(line, name);
            line += '\n';
        }
        for (uint32_t k = 0; k < g.count; ++k) {
            const FileRef& r = copies.refs[g.first + k];
            const PackageDisk& disk = p.disks[r.disk];
            if (json) {
                line += k ? ",{\"serial\":" : "{\"serial\":";
                AppendJsonString(line, disk.Serial());
                line += ",\"path\":";
                AppendPath(line, disk.catalogue, r.entry, true);
                if (disk.catalogue.Hidden(r.entry)) line += ",\"hidden\":true";
                line += '}';
            } else {
                line += '\t' + disk.Serial() + '\t';
                AppendPath(line, disk.catalogue, r.entry, false);
                line += '\n';
            }
        }
        if (json) line += "]}\n";
        out.Flush();
    }
    out.Flush(true);
    Message(CountedText(copies.groups.size(), "group", "groups") + " of copies, " +
            CountedText(copies.copyFiles, "file", "files") + "; " + std::to_string(copies.spareBytes) +
            " bytes in copies beyond the first of each");
    return copies.groups.empty() ? kNotFound : kOk;
}

int Unique(AppContext& ctx, const DiskOptions& o) {
    const std::string serial = std::to_string(o.serial);
    const std::string file = serial + ".dat";
    RecordOfDisk(ctx, o.serial);
    // The disk's own catalogue is held throughout; the others are read one at a time.
    LoadedDisk disk = LoadPackageDisk(ctx.PackageFolder, file, ctx.InfoSection);
    if (!disk.catalogue) NoDetails(o.serial, disk.reason);
    const Catalogue& own = *disk.catalogue;
    std::vector<std::string> others = PackageRecordFiles(ctx);
    std::erase(others, file);
    if (o.content && !own.HasChecksums())
        throw std::runtime_error("disk " + serial + " has no checksums (quindle-cli add " +
                                 own.header.figures.root.substr(0, 2) + " --checksums --replace)");
    UniqueFiles unique(own, !o.noHidden, o.content ? CopyMatch::Content : CopyMatch::NameSize);
    uint64_t compared = 0, skipped = 0;
    ForEachPackageDisk(ctx.PackageFolder, others, ctx.InfoSection, [&](LoadedDisk& other) {
        if (!other.catalogue) {
            LeftOut(other.info, other.reason);
            ++skipped;
            return;
        }
        if (o.content && LeftOutWithoutChecksums(other.info, *other.catalogue)) {
            ++skipped;
            return;
        }
        unique.Compare(*other.catalogue);
        ++compared;
    });
    const bool json = o.json;
    Lines out;
    uint64_t bytes = 0;
    const std::vector<uint32_t> entries = unique.Entries();
    for (const uint32_t i : entries) {
        std::string& line = out.Line();
        if (json) line += '{';
        AppendEntry(line, own, i, json);
        line += json ? "}\n" : "\n";
        bytes += own.size[i];
        out.Flush();
    }
    out.Flush(true);
    Message(CountedText(entries.size(), "file", "files") + " of disk " + serial + " (" + std::to_string(bytes) +
            " bytes) " + (entries.size() == 1 ? "has" : "have") + " no copy on the " +
            CountedText(compared, "other disk", "other disks") + (skipped == 0 ? std::string() : " with a catalogue"));
    return entries.empty() ? kNotFound : kOk;
}

} // namespace quindle::cli
