#include "index/FileQuery.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <thread>

namespace quindle {

namespace {
constexpr uint32_t kUnset = UINT32_MAX;
}

// Per worker thread: the folded paths of the folders of the disk being matched, built
// once each (a folder always comes before what it holds, so its parent's path is there).
struct FileQuery::Scratch {
    const IndexedDisk* disk = nullptr;
    std::vector<std::pair<uint32_t, uint32_t>> folder; // offset and length in `blob`
    std::string blob;
    std::string path;

    void Start(const IndexedDisk& d) {
        disk = &d;
        folder.assign(d.Count(), {kUnset, 0});
        blob.clear();
    }
    std::string_view FolderPath(uint32_t f) {
        if (f == 0 || f == kNoParent) return disk->foldedRoot;
        if (folder[f].first == kUnset) {
            // Climb to the nearest folder whose path is known, then build downwards.
            std::vector<uint32_t> chain;
            for (uint32_t p = f; p != 0 && p != kNoParent && folder[p].first == kUnset; p = disk->cat.parent[p])
                chain.push_back(p);
            for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
                const uint32_t p = disk->cat.parent[*it];
                std::string built(p == 0 || p == kNoParent ? std::string_view(disk->foldedRoot) : View(p));
                if (p != 0 && p != kNoParent) built += '/';
                built += disk->FoldedName(*it);
                folder[*it] = {static_cast<uint32_t>(blob.size()), static_cast<uint32_t>(built.size())};
                blob += built;
            }
        }
        return View(f);
    }
    std::string_view View(uint32_t f) const { return std::string_view(blob).substr(folder[f].first, folder[f].second); }
    std::string_view EntryPath(size_t e) {
        const uint32_t p = disk->cat.parent[e];
        path.assign(FolderPath(p));
        if (p != 0) path += '/';
        path += disk->FoldedName(e);
        return path;
    }
};

std::string FoldedPath(const IndexedDisk& d, size_t entry) {
    std::string rel;
    std::vector<uint32_t> chain;
    for (uint32_t p = static_cast<uint32_t>(entry); p != 0 && p != kNoParent; p = d.cat.parent[p]) chain.push_back(p);
    std::string out = d.foldedRoot;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (it != chain.rbegin()) out += '/';
        out += d.FoldedName(*it);
    }
    return out;
}

FileQuery::FileQuery(std::shared_ptr<const IndexSnapshot> snapshot, FileQuerySpec spec, unsigned threads)
    : snapshot_(std::move(snapshot)), spec_(std::move(spec)), threads_(std::max(1u, threads)) {
    size_t best = 0;
    for (size_t t = 0; t < spec_.terms.size(); ++t) {
        const QueryTerm& term = spec_.terms[t];
        if (term.path) needPath_ = true;
        else if (term.required.size() > best) {
            best = term.required.size();
            driver_ = static_cast<int>(t);
        }
    }
    kindAllowed_.assign(256, spec_.filters.kinds.empty() ? 1 : 0);
    for (const EntryKind k : spec_.filters.kinds) kindAllowed_[static_cast<uint8_t>(k)] = 1;
}

bool FileQuery::DiskSelected(const IndexedDisk& d) const {
    if (d.Count() < 2) return false;
    if (spec_.filters.SizeOrDate() && !d.details) return false; // no sizes or dates known
    const auto& wanted = spec_.filters.disks;
    return wanted.empty() || std::find(wanted.begin(), wanted.end(), d.serial) != wanted.end();
}

bool FileQuery::EntryPasses(const IndexedDisk& d, size_t e, Scratch& s) const {
    const Catalogue& c = d.cat;
    if (!kindAllowed_[c.kind[e]]) return false;
    const QueryFilters& f = spec_.filters;
    if (c.size[e] < f.minSize || c.size[e] > f.maxSize) return false;
    if (c.mtime[e] < f.after || c.mtime[e] >= f.before) return false;
    std::string_view path;
    bool havePath = false;
    for (const QueryTerm& t : spec_.terms) {
        if (t.path) {
            if (!havePath) {
                path = s.EntryPath(e);
                havePath = true;
            }
            if (!TermMatches(t, path)) return false;
        } else if (!TermMatches(t, d.FoldedName(e))) {
            return false;
        }
    }
    return true;
}

bool FileQuery::MatchDisk(size_t i, std::vector<uint32_t>& out, Scratch& s) const {
    const IndexedDisk& d = *snapshot_->disks[i];
    if (!DiskSelected(d)) return true;
    if (needPath_) s.Start(d);
    const size_t n = d.Count();
    if (driver_ < 0) {
        for (size_t e = 1; e < n; ++e) {
            if ((e & 4095) == 0 && Cancelled()) return false;
            if (EntryPasses(d, e, s)) out.push_back(static_cast<uint32_t>(e));
        }
        return true;
    }
    // Scan the folded names for the driving term's bytes; a find that runs over the end
    // of a name is no match there, and the scan goes on inside the next name.
    const std::string& needle = spec_.terms[static_cast<size_t>(driver_)].required;
    const char* base = d.FoldedBytes();
    const size_t total = d.FoldedSize();
    const uint32_t* starts = d.FoldedStarts();
    size_t pos = starts[1];
    unsigned finds = 0;
    while (pos + needle.size() <= total) {
        const void* hit = memmem(base + pos, total - pos, needle.data(), needle.size());
        if (!hit) break;
        const size_t at = static_cast<size_t>(static_cast<const char*>(hit) - base);
        const size_t e = static_cast<size_t>(std::upper_bound(starts + 1, starts + n + 1, at) - starts) - 1;
        if (at + needle.size() > starts[e + 1]) {
            pos = at + 1;
            continue;
        }
        if ((++finds & 1023) == 0 && Cancelled()) return false;
        if (EntryPasses(d, e, s)) out.push_back(static_cast<uint32_t>(e));
        pos = starts[e + 1];
    }
    return !Cancelled();
}

void FileQuery::SortDisk(const IndexedDisk& d, std::vector<uint32_t>& entries) const {
    if (entries.size() < 2) return;
    // Keys: the folded names from the root down, "\0" between them, so a folder sorts
    // before what it holds and "a/b" before "a b".
    std::vector<std::pair<std::string, uint32_t>> keyed;
    keyed.reserve(entries.size());
    std::vector<uint32_t> chain;
    for (const uint32_t e : entries) {
        chain.clear();
        for (uint32_t p = e; p != 0 && p != kNoParent; p = d.cat.parent[p]) chain.push_back(p);
        std::string key;
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
            if (it != chain.rbegin()) key += '\0';
            key += d.FoldedName(*it);
        }
        keyed.emplace_back(std::move(key), e);
    }
    std::sort(keyed.begin(), keyed.end(), [&](const auto& a, const auto& b) {
        if (a.first != b.first) return a.first < b.first;
        const std::string pa = d.cat.Path(a.second), pb = d.cat.Path(b.second); // case twins
        return pa != pb ? pa < pb : a.second < b.second;
    });
    for (size_t k = 0; k < entries.size(); ++k) entries[k] = keyed[k].second;
}

std::optional<size_t> FileQuery::Count() {
    std::atomic<size_t> next{0}, total{0};
    const size_t disks = snapshot_->disks.size();
    const auto work = [&] {
        Scratch s;
        std::vector<uint32_t> found;
        for (size_t i; (i = next.fetch_add(1)) < disks;) {
            found.clear();
            if (!MatchDisk(i, found, s)) return;
            total += found.size();
        }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads_ && t < disks; ++t) pool.emplace_back(work);
    work();
    for (auto& t : pool) t.join();
    if (Cancelled()) return std::nullopt;
    return total.load();
}

std::optional<std::vector<FileHit>> FileQuery::Run(size_t limit) {
    const size_t disks = snapshot_->disks.size();
    const bool titleOrder = spec_.order == FileOrder::TitlePath;
    const bool early = titleOrder && limit > 0;
    std::vector<std::vector<uint32_t>> perDisk(disks);
    std::vector<uint8_t> done(disks, 0);
    std::mutex m;
    size_t prefix = 0, prefixCount = 0;
    std::atomic<bool> enough{false};
    std::atomic<size_t> next{0};
    // Disks in the order the results list them.
    const auto diskAt = [&](size_t k) { return titleOrder && spec_.descending ? disks - 1 - k : k; };
    const auto work = [&] {
        Scratch s;
        for (size_t k; !enough && (k = next.fetch_add(1)) < disks;) {
            const size_t i = diskAt(k);
            std::vector<uint32_t> found;
            if (!MatchDisk(i, found, s)) return;
            SortDisk(*snapshot_->disks[i], found);
            std::lock_guard lock(m);
            perDisk[i] = std::move(found);
            done[k] = 1;
            while (prefix < disks && done[prefix]) prefixCount += perDisk[diskAt(prefix++)].size();
            if (early && prefixCount >= limit) enough = true;
        }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads_ && t < disks; ++t) pool.emplace_back(work);
    work();
    for (auto& t : pool) t.join();
    if (Cancelled()) return std::nullopt;

    std::vector<FileHit> hits;
    for (size_t k = 0; k < disks && (!early || hits.size() < limit); ++k) {
        const size_t i = diskAt(k);
        auto& found = perDisk[i];
        if (titleOrder && spec_.descending) std::reverse(found.begin(), found.end());
        for (const uint32_t e : found) hits.push_back({static_cast<uint32_t>(i), e});
    }
    if (!titleOrder) {
        const auto& ds = snapshot_->disks;
        const bool desc = spec_.descending;
        // Ties keep the title and path order the hits are in.
        switch (spec_.order) {
        case FileOrder::Size:
            std::stable_sort(hits.begin(), hits.end(), [&](const FileHit& a, const FileHit& b) {
                const uint64_t x = ds[a.disk]->cat.size[a.entry], y = ds[b.disk]->cat.size[b.entry];
                return desc ? x > y : x < y;
            });
            break;
        case FileOrder::Date:
            std::stable_sort(hits.begin(), hits.end(), [&](const FileHit& a, const FileHit& b) {
                const int64_t x = ds[a.disk]->cat.mtime[a.entry], y = ds[b.disk]->cat.mtime[b.entry];
                return desc ? x > y : x < y;
            });
            break;
        default:
            std::stable_sort(hits.begin(), hits.end(), [&](const FileHit& a, const FileHit& b) {
                const std::string_view x = ds[a.disk]->FoldedName(a.entry), y = ds[b.disk]->FoldedName(b.entry);
                return desc ? x > y : x < y;
            });
            break;
        }
    }
    if (limit > 0 && hits.size() > limit) hits.resize(limit);
    return hits;
}

} // namespace quindle
