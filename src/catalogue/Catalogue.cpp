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

bool SumsIntoParent(const Catalogue& c, size_t i) {
    const auto k = static_cast<EntryKind>(c.kind[i]);
    return (k == EntryKind::Folder || k == EntryKind::File) &&
           c.kind[c.parent[i]] == static_cast<uint8_t>(EntryKind::Folder);
}

std::string Catalogue::Path(size_t i, char sep) const {
    std::vector<size_t> chain; // i and its folders up to, not including, the root
    size_t length = 0;
    for (size_t at = i; at != 0 && at < Count() && parent[at] < at; at = parent[at]) {
        chain.push_back(at);
        length += Name(at).size() + 1;
    }
    std::string path;
    path.reserve(length);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (!path.empty()) path += sep;
        path += Name(*it);
    }
    return path;
}

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
    cat_.nameStart = {0, 0};
    cat_.parent = {kNoParent};
    cat_.kind = {static_cast<uint8_t>(EntryKind::Folder)};
    cat_.size = {0};
    cat_.mtime = {0};
    cat_.flags = {0};
}

void CatalogueBuilder::SetNote(uint32_t index, std::string_view note) {
    auto& notes = cat_.notes;
    auto at = std::lower_bound(notes.begin(), notes.end(), index,
                               [](const auto& n, uint32_t e) { return n.first < e; });
    const bool has = at != notes.end() && at->first == index;
    if (note.empty()) {
        if (has) notes.erase(at);
        cat_.flags[index] &= static_cast<uint8_t>(~kEntryNoted);
        return;
    }
    note = note.substr(0, kMaxNoteBytes);
    if (has) at->second.assign(note);
    else notes.insert(at, {index, std::string(note)});
    cat_.flags[index] |= kEntryNoted;
}

void CatalogueBuilder::SetChecksum(uint32_t index, const Checksum128& sum) {
    if (cat_.checksums.size() < cat_.Count()) cat_.checksums.resize(cat_.Count());
    cat_.checksums[index] = sum;
    cat_.flags[index] |= kEntryChecksummed;
}

uint32_t CatalogueBuilder::Add(uint32_t parent, std::string_view name, EntryKind kind, uint64_t size, int64_t mtime) {
    if (cat_.names.size() + name.size() > UINT32_MAX || cat_.Count() >= UINT32_MAX - 1)
        throw std::length_error("the catalogue is too large");
    const auto index = static_cast<uint32_t>(cat_.Count());
    cat_.names.insert(cat_.names.end(), name.begin(), name.end());
    cat_.nameStart.push_back(static_cast<uint32_t>(cat_.names.size()));
    cat_.parent.push_back(parent);
    cat_.kind.push_back(static_cast<uint8_t>(kind));
    cat_.size.push_back(kind == EntryKind::Folder ? 0 : size);
    cat_.mtime.push_back(mtime);
    // Below a hidden folder everything is hidden; inside an archive everything is a member.
    const uint8_t above = cat_.flags[parent];
    cat_.flags.push_back(static_cast<uint8_t>((above & kEntryHidden) |
                                              ((above & (kEntryMember | kEntryArchive)) ? kEntryMember : 0)));
    if (!cat_.checksums.empty()) cat_.checksums.emplace_back();
    return index;
}

Catalogue CatalogueBuilder::Finish(DiskFigures figures) {
    Catalogue& c = cat_;
    figures.files = figures.folders = 0;
    figures.hiddenEntries = figures.archiveMembers = figures.archivesListed = figures.archivesUnlisted = 0;
    figures.checksummed = figures.contentUnread = 0;
    if (!c.checksums.empty()) c.checksums.resize(c.Count());
    // Children come after their parent: one backward pass sums every folder.
    for (size_t i = c.Count(); i-- > 0;) {
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
        if (SumsIntoParent(c, i)) c.size[c.parent[i]] += c.size[i];
    }
    figures.bytes = c.size[0];
    c.names.shrink_to_fit();
    c.nameStart.shrink_to_fit();
    c.parent.shrink_to_fit();
    c.kind.shrink_to_fit();
    c.size.shrink_to_fit();
    c.mtime.shrink_to_fit();
    c.flags.shrink_to_fit();
    c.notes.shrink_to_fit();
    c.checksums.shrink_to_fit();
    c.header.version = kCatalogueVersion;
    c.header.entryCount = c.Count();
    c.header.nameBytes = c.names.size();
    c.header.figures = std::move(figures);
    Catalogue out = std::move(c);
    cat_ = Catalogue();
    return out;
}

} // namespace quindle
