#include "index/FileQuery.h"

#include <algorithm>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

namespace quindle {

namespace {
constexpr uint32_t kUnset = UINT32_MAX;

// The first place of `needle` (at least 2 bytes) in s[0, n): 16 places at a time, those
// whose first and last bytes both fit are compared whole. Far quicker than memmem on the
// short stretches between two finds, as it builds no table per call.
const char* FindBytes(const char* s, size_t n, const std::string& needle) {
    const size_t k = needle.size();
    if (n < k) return nullptr;
    if (k == 1) return static_cast<const char*>(std::memchr(s, needle[0], n));
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i first = _mm_set1_epi8(needle[0]), last = _mm_set1_epi8(needle[k - 1]);
    for (; i + k - 1 + 16 <= n; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + k - 1));
        unsigned mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last))));
        while (mask) {
            const unsigned bit = static_cast<unsigned>(__builtin_ctz(mask));
            const char* at = s + i + bit;
            size_t j = 1;
            while (j + 1 < k && at[j] == needle[j]) ++j; // short terms: no call for the middle
            if (j + 1 >= k) return at;
            mask &= mask - 1;
        }
    }
#endif
    for (; i + k <= n; ++i)
        if (s[i] == needle[0] && std::memcmp(s + i, needle.data(), k) == 0) return s + i;
    return nullptr;
}
} // namespace

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
    failed_.reserve(snapshot_->disks.size());
}

void FileQuery::NoteFailure(size_t disk, const std::exception& e) {
    const char* reason = dynamic_cast<const std::bad_alloc*>(&e) ? "not enough memory to search it"
                                                                 : "searching it failed";
    std::lock_guard lock(failedMutex_);
    if (failed_.size() < failed_.capacity()) failed_.push_back({disk, reason});
}

std::vector<DiskProblem> FileQuery::Failures() const {
    std::vector<DiskProblem> out;
    std::lock_guard lock(failedMutex_);
    for (const Failure& f : failed_) {
        const IndexedDisk& d = *snapshot_->disks[f.disk];
        out.push_back({d.serial, d.title, true, f.reason});
    }
    std::sort(out.begin(), out.end(), [](const DiskProblem& a, const DiskProblem& b) { return a.serial < b.serial; });
    return out;
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
    if (!f.includeHidden && c.Hidden(e)) return false;
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
    else s.disk = nullptr;
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
    const char* base = d.cat.names.data();
    const size_t total = d.cat.names.size();
    const uint32_t* starts = d.cat.nameStart.data();
    size_t pos = starts[1];
    size_t lastEntry = 1;
    unsigned finds = 0;
    while (pos + needle.size() <= total) {
        const char* hit = FindBytes(base + pos, total - pos, needle);
        if (!hit) break;
        const size_t at = static_cast<size_t>(hit - base);
        // The entry holding the find: finds come in name order, so step from the last
        // one, and search by halves only past a few names.
        size_t e = lastEntry;
        for (int step = 0; step < 8 && starts[e + 1] <= at; ++step) ++e;
        if (starts[e + 1] <= at)
            e = static_cast<size_t>(std::upper_bound(starts + e + 1, starts + n + 1, at) - starts) - 1;
        lastEntry = e;
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

namespace {

// A path in pieces, compared as if joined: the folder's folded path, "/" unless the folder
// is the root (whose folded path ends with its own separator), the folded name.
struct PathPieces {
    std::string_view p[3];
};

int ComparePieces(const PathPieces& a, const PathPieces& b) {
    size_t ia = 0, ib = 0, oa = 0, ob = 0;
    while (true) {
        while (ia < 3 && oa == a.p[ia].size()) ++ia, oa = 0;
        while (ib < 3 && ob == b.p[ib].size()) ++ib, ob = 0;
        if (ia == 3 || ib == 3) return (ia == 3) == (ib == 3) ? 0 : ia == 3 ? -1 : 1;
        const size_t n = std::min(a.p[ia].size() - oa, b.p[ib].size() - ob);
        if (const int c = std::memcmp(a.p[ia].data() + oa, b.p[ib].data() + ob, n)) return c;
        oa += n;
        ob += n;
    }
}

} // namespace

void FileQuery::SortDisk(const IndexedDisk& d, std::vector<uint32_t>& entries, Scratch& s) const {
    if (entries.size() < 2) return;
    // The folded path ("e:/docs/a.txt") decides, folder paths built once per folder; case
    // twins ("A.txt", "a.txt") go by their bytes.
    if (s.disk != &d) s.Start(d);
    for (const uint32_t e : entries) s.FolderPath(d.cat.parent[e]); // built before any view is taken
    const auto pieces = [&](uint32_t e) {
        const uint32_t p = d.cat.parent[e];
        PathPieces k;
        k.p[0] = s.FolderPath(p);
        k.p[1] = p == 0 ? std::string_view() : std::string_view("/");
        k.p[2] = d.FoldedName(e);
        return k;
    };
    std::vector<std::pair<PathPieces, uint32_t>> keyed;
    keyed.reserve(entries.size());
    for (const uint32_t e : entries) keyed.emplace_back(pieces(e), e);
    std::sort(keyed.begin(), keyed.end(), [&](const auto& a, const auto& b) {
        if (const int c = ComparePieces(a.first, b.first)) return c < 0;
        const std::string pa = d.Path(a.second, '/'), pb = d.Path(b.second, '/');
        return pa != pb ? pa < pb : a.second < b.second;
    });
    for (size_t k = 0; k < entries.size(); ++k) entries[k] = keyed[k].second;
}

std::optional<size_t> FileQuery::Count() {
    std::atomic<size_t> next{0}, total{0};
    const size_t disks = snapshot_->disks.size();
    failed_.clear();
    // Nothing leaves a worker: a disk whose matching throws is left out and noted.
    const auto work = [&] {
        Scratch s;
        std::vector<uint32_t> found;
        for (size_t i; (i = next.fetch_add(1)) < disks;) {
            found.clear();
            try {
                if (!MatchDisk(i, found, s)) return;
            } catch (const std::exception& e) {
                NoteFailure(i, e);
                continue;
            }
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
    failed_.clear();
    // Nothing leaves a worker: a disk whose matching throws is left out (no hits) and noted.
    const auto work = [&] {
        Scratch s;
        for (size_t k; !enough && !Cancelled() && (k = next.fetch_add(1)) < disks;) {
            const size_t i = diskAt(k);
            std::vector<uint32_t> found;
            try {
                if (!MatchDisk(i, found, s)) return;
                SortDisk(*snapshot_->disks[i], found, s);
            } catch (const std::exception& e) {
                NoteFailure(i, e);
                found = {};
                s = Scratch();
            }
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
