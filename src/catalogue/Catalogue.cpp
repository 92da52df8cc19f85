#include "catalogue/Catalogue.h"

#include <algorithm>
#include <stdexcept>

namespace quindle {

const char* EntryKindName(EntryKind k) {
    switch (k) {
    case EntryKind::Folder: return "folder";
    case EntryKind::File: return "file";
    case EntryKind::Link: return "link";
    case EntryKind::Other: break;
    }
    return "other";
}

std::string IncompleteCatalogueText(const DiskFigures& f) {
    if (f.complete) return {};
    if (f.unreadEntries == 1) return "the size and date of 1 entry could not be read";
    if (f.unreadEntries > 1)
        return "the sizes and dates of " + std::to_string(f.unreadEntries) + " entries could not be read";
    return "the walk was stopped";
}

std::string IncompleteCatalogueLine(const DiskFigures& f) {
    return "The catalogue is incomplete: " + IncompleteCatalogueText(f);
}

bool SumsIntoParent(const Catalogue& c, size_t i) { return SumsInto(c.kind[i], c.kind[c.parent[i]]); }

namespace {

// Entry i's path below the root, for a catalogue or its columns being built.
template <class Columns> std::string JoinedPath(const Columns& c, size_t i, char sep) {
    std::vector<size_t> chain; // i and its folders up to, not including, the root
    size_t length = 0;
    for (size_t at = i; at != 0 && at < c.Count() && c.parent[at] < at; at = c.parent[at]) {
        chain.push_back(at);
        length += c.Name(at).size() + 1;
    }
    std::string path;
    path.reserve(length);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (!path.empty()) path += sep;
        path += c.Name(*it);
    }
    return path;
}

} // namespace

std::string Catalogue::Path(size_t i, char sep) const { return JoinedPath(*this, i, sep); }

std::string_view Catalogue::Note(size_t i) const {
    if (!(flags[i] & kEntryNoted)) return {};
    const auto at = std::lower_bound(notes.begin(), notes.end(), i,
                                     [](const auto& n, size_t e) { return n.first < e; });
    return at != notes.end() && at->first == i ? std::string_view(at->second) : std::string_view();
}

size_t Catalogue::MemoryBytes() const {
    size_t n = names.capacity() + nameStart.capacity() * sizeof(uint32_t) + parent.capacity() * sizeof(uint32_t) +
               kind.capacity() + size.capacity() * sizeof(uint64_t) + mtime.capacity() * sizeof(int64_t) +
               flags.capacity() + notes.capacity() * sizeof(notes[0]) + checksums.capacity() * sizeof(Checksum128);
    for (const auto& note : notes) n += note.second.capacity() > 15 ? note.second.capacity() : 0;
    return n;
}

CatalogueBuilder::CatalogueBuilder() {
    cols_.nameStart.push_back(0);
    cols_.nameStart.push_back(0);
    cols_.parent.push_back(kNoParent);
    cols_.kind.push_back(static_cast<uint8_t>(EntryKind::Folder));
    cols_.size.push_back(0);
    cols_.mtime.push_back(0);
    cols_.flags.push_back(0);
}

std::string CatalogueBuilder::Path(size_t i, char sep) const { return JoinedPath(cols_, i, sep); }

void CatalogueBuilder::SetNote(uint32_t index, std::string_view note) {
    auto& notes = cols_.notes;
    auto at = std::lower_bound(notes.begin(), notes.end(), index,
                               [](const auto& n, uint32_t e) { return n.first < e; });
    const bool has = at != notes.end() && at->first == index;
    if (note.empty() || cols_.kind[index] != static_cast<uint8_t>(EntryKind::File)) {
        if (has) notes.erase(at);
        cols_.flags[index] &= static_cast<uint8_t>(~kEntryNoted);
        return;
    }
    note = note.substr(0, kMaxNoteBytes);
    if (has) at->second.assign(note);
    else notes.insert(at, {index, std::string(note)});
    cols_.flags[index] |= kEntryNoted;
}

void CatalogueBuilder::SetChecksum(uint32_t index, const Checksum128& sum) {
    if (cols_.kind[index] != static_cast<uint8_t>(EntryKind::File)) return;
    if (cols_.checksums.size() < cols_.Count()) cols_.checksums.resize(cols_.Count());
    cols_.checksums[index] = sum;
    cols_.flags[index] |= kEntryChecksummed;
}

uint32_t CatalogueBuilder::Add(uint32_t parent, std::string_view name, EntryKind kind, uint64_t size, int64_t mtime) {
    if (cols_.names.size() + name.size() > UINT32_MAX || cols_.Count() >= UINT32_MAX - 1)
        throw std::length_error("the catalogue is too large");
    const auto index = static_cast<uint32_t>(cols_.Count());
    cols_.names.append(name.data(), name.size());
    cols_.nameStart.push_back(static_cast<uint32_t>(cols_.names.size()));
    cols_.parent.push_back(parent);
    cols_.kind.push_back(static_cast<uint8_t>(kind));
    cols_.size.push_back(kind == EntryKind::Folder ? 0 : size);
    cols_.mtime.push_back(mtime);
    // Below a hidden folder everything is hidden; inside an archive everything is a member.
    const uint8_t above = cols_.flags[parent];
    cols_.flags.push_back(static_cast<uint8_t>((above & kEntryHidden) |
                                               ((above & (kEntryMember | kEntryArchive)) ? kEntryMember : 0)));
    if (!cols_.checksums.empty()) cols_.checksums.push_back({});
    return index;
}

Catalogue CatalogueBuilder::Finish(DiskFigures figures) {
    Columns& c = cols_;
    const size_t n = c.Count();
    figures.files = figures.folders = 0;
    figures.hiddenEntries = figures.archiveMembers = figures.archivesListed = figures.archivesUnlisted = 0;
    figures.checksummed = figures.contentUnread = 0;
    if (!c.checksums.empty()) c.checksums.resize(n);
    // A note or a checksum is a file's: an entry that turned out to be something else
    // (a later look found a folder) keeps neither.
    for (size_t i = 0; i < n; ++i)
        if (c.kind[i] != static_cast<uint8_t>(EntryKind::File) && (c.flags[i] & (kEntryNoted | kEntryChecksummed)))
            c.flags[i] &= static_cast<uint8_t>(~(kEntryNoted | kEntryChecksummed));
    std::erase_if(c.notes, [&](const auto& note) { return !(c.flags[note.first] & kEntryNoted); });
    // Children come after their parent: one backward pass sums every folder.
    for (size_t i = n; i-- > 0;) {
        const uint8_t fl = c.flags[i];
        const bool folder = c.kind[i] == static_cast<uint8_t>(EntryKind::Folder);
        if (fl & kEntryMember) ++figures.archiveMembers;
        else ++(folder ? figures.folders : figures.files);
        figures.hiddenEntries += fl & kEntryHidden ? 1 : 0;
        figures.checksummed += fl & kEntryChecksummed ? 1 : 0;
        // A note on an archive says why its listing failed (all of it unless partial), on
        // any other file why its content could not be read.
        if (fl & kEntryArchive)
            ++((fl & kEntryNoted) && !(fl & kEntryPartial) ? figures.archivesUnlisted : figures.archivesListed);
        else if (fl & kEntryNoted)
            ++figures.contentUnread;
        if (i == 0) break;
        if (SumsInto(c.kind[i], c.kind[c.parent[i]])) c.size[c.parent[i]] += c.size[i];
    }
    figures.bytes = c.size[0];
    // Column by column, each given back as it is copied.
    Catalogue out;
    out.names = c.names.TakeVector();
    out.nameStart = c.nameStart.TakeVector();
    out.parent = c.parent.TakeVector();
    out.kind = c.kind.TakeVector();
    out.size = c.size.TakeVector();
    out.mtime = c.mtime.TakeVector();
    out.flags = c.flags.TakeVector();
    out.checksums = c.checksums.TakeVector();
    out.notes = std::move(c.notes);
    out.notes.shrink_to_fit();
    out.header.version = kCatalogueVersion;
    out.header.entryCount = out.Count();
    out.header.nameBytes = out.names.size();
    out.header.figures = std::move(figures);
    cols_ = Columns();
    return out;
}

} // namespace quindle
