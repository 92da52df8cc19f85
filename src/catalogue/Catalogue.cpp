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

size_t Catalogue::MemoryBytes() const {
    return names.capacity() + nameStart.capacity() * sizeof(uint32_t) + parent.capacity() * sizeof(uint32_t) +
           kind.capacity() + size.capacity() * sizeof(uint64_t) + mtime.capacity() * sizeof(int64_t);
}

CatalogueBuilder::CatalogueBuilder() {
    cat_.nameStart = {0, 0};
    cat_.parent = {kNoParent};
    cat_.kind = {static_cast<uint8_t>(EntryKind::Folder)};
    cat_.size = {0};
    cat_.mtime = {0};
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
    return index;
}

Catalogue CatalogueBuilder::Finish(DiskFigures figures) {
    Catalogue& c = cat_;
    figures.files = figures.folders = 0;
    // Children come after their folder: one backward pass sums every folder.
    for (size_t i = c.Count(); i-- > 0;) {
        const bool folder = c.kind[i] == static_cast<uint8_t>(EntryKind::Folder);
        ++(folder ? figures.folders : figures.files);
        if (i == 0) break;
        if (folder || c.kind[i] == static_cast<uint8_t>(EntryKind::File)) c.size[c.parent[i]] += c.size[i];
    }
    figures.bytes = c.size[0];
    c.names.shrink_to_fit();
    c.nameStart.shrink_to_fit();
    c.parent.shrink_to_fit();
    c.kind.shrink_to_fit();
    c.size.shrink_to_fit();
    c.mtime.shrink_to_fit();
    c.header.entryCount = c.Count();
    c.header.nameBytes = c.names.size();
    c.header.figures = std::move(figures);
    Catalogue out = std::move(c);
    cat_ = Catalogue();
    return out;
}

} // namespace quindle
