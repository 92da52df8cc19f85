#include "index/PackageIndex.h"

#include <fcntl.h>
#include <unistd.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <atomic>
#include <map>
#include <new>
#include <thread>

#include "catalogue/DiskCatalogue.h"
#include "index/CaseFold.h"
#include "package/Package.h"
#include "platform/Platform.h"
#include "records/DiskRecord.h"
#include "records/PackageTitles.h"
#include "search/RecordLines.h"

namespace quindle {

FileIdentity IdentityOf(const std::string& path) {
    struct stat st;
    FileIdentity id;
    if (stat(path.c_str(), &st) != 0) return id;
    id.dev = st.st_dev;
    id.ino = st.st_ino;
    id.size = st.st_size;
    id.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return id;
}

std::string IndexedDisk::Name(size_t i) const {
    const auto ex = std::lower_bound(originalEntry.begin(), originalEntry.end(), static_cast<uint32_t>(i));
    if (ex != originalEntry.end() && *ex == i) {
        const size_t k = static_cast<size_t>(ex - originalEntry.begin());
        return std::string(originalNames.data() + originalStart[k], originalStart[k + 1] - originalStart[k]);
    }
    std::string name(cat.Name(i));
    if (!capitals.empty()) {
        const size_t start = cat.nameStart[i];
        for (size_t j = 0; j < name.size(); ++j)
            if (capitals[(start + j) >> 6] >> ((start + j) & 63) & 1) name[j] = static_cast<char>(name[j] - 32);
    }
    return name;
}

std::string IndexedDisk::Path(size_t i, char sep) const {
    std::vector<uint32_t> chain;
    for (uint32_t p = static_cast<uint32_t>(i); p != 0 && p != kNoParent; p = cat.parent[p]) chain.push_back(p);
    std::string out;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (it != chain.rbegin()) out += sep;
        out += Name(*it);
    }
    return out;
}

size_t IndexedDisk::MemoryBytes() const {
    return sizeof(*this) + cat.MemoryBytes() + capitals.capacity() * sizeof(uint64_t) +
           (originalEntry.capacity() + originalStart.capacity()) * sizeof(uint32_t) + originalNames.capacity() +
           serial.capacity() + title.capacity() + root.capacity() + foldedRoot.capacity() + problem.capacity();
}

size_t IndexSnapshot::MemoryBytes() const {
    size_t n = sizeof(*this) + disks.capacity() * sizeof(disks[0]);
    for (const auto& d : disks) n += d->MemoryBytes();
    return n;
}

namespace {

bool IsDriveRoot(std::string_view s) {
    return s.size() == 3 && ((s[0] >= 'A' && s[0] <= 'Z') || (s[0] >= 'a' && s[0] <= 'z')) && s[1] == ':' &&
           s[2] == '\\';
}

// The record's names, each in the folder of its section; the root's own section keeps
// its names at the root.
Catalogue CatalogueFromRecord(const TRecordText& record, std::string_view infoSection, std::string& root) {
    CatalogueBuilder b;
    std::map<std::string_view, uint32_t> folders;
    std::string_view lastSection;
    uint32_t lastFolder = 0;
    bool haveLast = false;
    record.ForEachLine(infoSection, [&](const RecordLine& line) {
        if (line.header || line.info || line.section.empty() || line.key.empty()) return;
        if (!haveLast || line.section.data() != lastSection.data() || line.section != lastSection) {
            lastSection = line.section;
            haveLast = true;
            if (IsDriveRoot(line.section)) {
                if (root.empty()) root = std::string(line.section);
                lastFolder = 0;
            } else if (auto f = folders.find(line.section); f != folders.end()) {
                lastFolder = f->second;
            } else {
                lastFolder = b.Add(0, line.section, EntryKind::Folder, 0, 0);
                folders.emplace(line.section, lastFolder);
            }
        }
        const uint32_t e = b.Add(lastFolder, line.key, EntryKind::File, 0, 0);
        // The record keeps no attributes: a name tells what it can.
        if (HiddenByName(line.key)) b.SetHidden(e);
    });
    DiskFigures f;
    f.root = root;
    return b.Finish(f);
}

// Folds the names in place, noting what gives them back (see IndexedDisk).
void FoldNames(IndexedDisk& d) {
    Catalogue& c = d.cat;
    const size_t n = c.Count();
    if (n == 0) return;
    // Folding keeps one code point per code point; UTF-8 lengths grow at most by half.
    std::vector<char> out(c.names.size() + c.names.size() / 2 + 8);
    std::vector<uint32_t> starts(n + 1);
    std::vector<uint64_t>& caps = d.capitals;
    caps.assign((out.size() + 63) / 64, 0);
    bool anyCapital = false, sameStarts = true;
    size_t w = 0;
    std::string scratch;
    for (size_t i = 0; i < n; ++i) {
        starts[i] = static_cast<uint32_t>(w);
        if (starts[i] != c.nameStart[i]) sameStarts = false;
        const std::string_view name = c.Name(i);
        bool ascii = true;
        for (const char ch : name)
            if (static_cast<unsigned char>(ch) >= 0x80) {
                ascii = false;
                break;
            }
        if (ascii) {
            for (const char ch : name) {
                if (ch >= 'A' && ch <= 'Z') {
                    out[w] = static_cast<char>(ch + 32);
                    caps[w >> 6] |= uint64_t(1) << (w & 63);
                    anyCapital = true;
                } else {
                    out[w] = ch;
                }
                ++w;
            }
            continue;
        }
        scratch.clear();
        AppendFolded(scratch, name);
        // Given back by capitals alone when only ASCII letters changed.
        bool byCapitals = scratch.size() == name.size();
        for (size_t j = 0; byCapitals && j < name.size(); ++j)
            byCapitals = scratch[j] == name[j] || (name[j] >= 'A' && name[j] <= 'Z' && scratch[j] == name[j] + 32);
        if (byCapitals) {
            for (size_t j = 0; j < name.size(); ++j)
                if (scratch[j] != name[j]) {
                    caps[(w + j) >> 6] |= uint64_t(1) << ((w + j) & 63);
                    anyCapital = true;
                }
        } else {
            d.originalEntry.push_back(static_cast<uint32_t>(i));
            d.originalStart.push_back(static_cast<uint32_t>(d.originalNames.size()));
            d.originalNames.insert(d.originalNames.end(), name.begin(), name.end());
        }
        std::memcpy(out.data() + w, scratch.data(), scratch.size());
        w += scratch.size();
    }
    starts[n] = static_cast<uint32_t>(w);
    if (starts[n] != c.nameStart[n]) sameStarts = false;
    if (!d.originalEntry.empty()) d.originalStart.push_back(static_cast<uint32_t>(d.originalNames.size()));
    out.resize(w);
    out.shrink_to_fit();
    c.names = std::move(out);
    if (!sameStarts) c.nameStart = std::move(starts);
    if (anyCapital) {
        caps.resize((w + 63) / 64);
        caps.shrink_to_fit();
    } else {
        caps = {};
    }
    d.originalEntry.shrink_to_fit();
    d.originalStart.shrink_to_fit();
    d.originalNames.shrink_to_fit();
}

std::string FoldedRoot(const std::string& root) {
    std::string r = Folded(root);
    for (char& ch : r)
        if (ch == '\\') ch = '/';
    return r;
}

} // namespace

namespace {

// A disk of which nothing could be read, with the reason.
std::shared_ptr<IndexedDisk> SkippedDisk(const std::string& serial, FileIdentity recordId, FileIdentity catalogueId,
                                         std::string reason) {
    auto skipped = std::make_shared<IndexedDisk>(); // nothing of a catalogue read meanwhile
    skipped->serial = serial;
    skipped->recordId = recordId;
    skipped->catalogueId = catalogueId;
    skipped->skipped = true;
    skipped->problem = std::move(reason);
    return skipped;
}

void ReadIndexedDisk(std::shared_ptr<IndexedDisk>& d, const std::string& recordPath, std::string_view infoSection) {
    DiskCatalogue dc = OpenDiskCatalogue(recordPath, infoSection);
    if (dc.catalogue) {
        d->cat = std::move(*dc.catalogue);
        d->root = d->cat.header.figures.root;
        d->details = true;
        d->title = ReadDiskInfo(recordPath, infoSection).title;
        d->foldedRoot = FoldedRoot(d->root);
        FoldNames(*d);
        return;
    }
    std::optional<TRecordText> record;
    try {
        record.emplace(recordPath);
        if (!record->Present()) throw std::runtime_error("gone");
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {
        d = SkippedDisk(d->serial, d->recordId, d->catalogueId, "the record cannot be read");
        return;
    }
    d->title = ReadDiskInfo(recordPath, infoSection).title;
    d->problem = CatalogueProblemText(dc.problem);
    d->cat = CatalogueFromRecord(*record, infoSection, d->root);
    record.reset();
    d->foldedRoot = FoldedRoot(d->root);
    FoldNames(*d);
}

} // namespace

std::shared_ptr<IndexedDisk> LoadIndexedDisk(const std::string& recordPath, std::string_view infoSection) {
    auto d = std::make_shared<IndexedDisk>();
    const auto slash = recordPath.rfind('/');
    d->serial = SerialOfRecordName(recordPath.substr(slash == std::string::npos ? 0 : slash + 1));
    // Identities before reading: a change while reading shows at the next refresh.
    d->recordId = IdentityOf(recordPath);
    d->catalogueId = IdentityOf(CataloguePathOf(recordPath));
    const std::string serial = d->serial;
    const FileIdentity recordId = d->recordId, catalogueId = d->catalogueId;
    try {
        ReadIndexedDisk(d, recordPath, infoSection);
    } catch (const std::bad_alloc&) {
        d.reset(); // what was read goes before the note is made
        return SkippedDisk(serial, recordId, catalogueId, "not enough memory to read the disk");
    } catch (const std::exception& e) {
        d.reset();
        return SkippedDisk(serial, recordId, catalogueId, std::string("the disk cannot be read: ") + e.what());
    }
    return d;
}

PackageIndex::PackageIndex(std::string packageFolder, std::string infoSection)
    : folder_(std::move(packageFolder)), infoSection_(std::move(infoSection)),
      snapshot_(std::make_shared<IndexSnapshot>()) {
    if (!folder_.empty() && folder_.back() != '/') folder_ += '/';
}

std::shared_ptr<const IndexSnapshot> PackageIndex::Snapshot() const {
    std::lock_guard lock(mutex_);
    return snapshot_;
}

std::vector<DiskProblem> PackageIndex::Problems() const {
    std::vector<DiskProblem> out;
    for (const auto& d : Snapshot()->disks)
        if (!d->problem.empty()) out.push_back({d->serial, d->title, d->skipped, d->problem});
    std::sort(out.begin(), out.end(), [](const DiskProblem& a, const DiskProblem& b) { return a.serial < b.serial; });
    return out;
}

PackageIndex::RefreshFigures PackageIndex::Refresh(unsigned threads) {
    std::lock_guard busy(refreshing_);
    const auto old = Snapshot();
    std::unordered_map<std::string, std::shared_ptr<const IndexedDisk>> known;
    for (const auto& d : old->disks) known.emplace(d->serial, d);

    const std::vector<std::string> recordFiles = PackageRecordFiles(folder_);
    std::vector<std::string> serials;
    serials.reserve(recordFiles.size());
    for (const std::string& name : recordFiles) serials.push_back(SerialOfRecordName(name));
    RefreshFigures fig;
    std::vector<std::shared_ptr<const IndexedDisk>> disks(serials.size());
    std::vector<size_t> toRead;
    for (size_t i = 0; i < serials.size(); ++i) {
        const std::string record = folder_ + recordFiles[i];
        struct stat st;
        if (stat(record.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue; // gone since it was listed
        auto k = known.find(serials[i]);
        if (k != known.end() && k->second->recordId == IdentityOf(record) &&
            k->second->catalogueId == IdentityOf(CataloguePathOf(record))) {
            disks[i] = k->second;
            ++fig.kept;
        } else {
            toRead.push_back(i);
        }
        if (k != known.end()) known.erase(k);
    }
    fig.removed = known.size();
    fig.read = toRead.size();
    std::atomic<size_t> next{0};
    // Nothing leaves a worker: LoadIndexedDisk turns what it cannot read into a skipped
    // disk; should even that fail (no memory left), the disk is skipped below.
    std::vector<uint8_t> failed(toRead.size(), 0);
    const auto work = [&] {
        for (size_t j; (j = next.fetch_add(1)) < toRead.size();) {
            const size_t i = toRead[j];
            try {
                disks[i] = LoadIndexedDisk(folder_ + recordFiles[i], infoSection_);
            } catch (...) {
                failed[j] = 1;
            }
        }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < std::max(1u, threads) && t < toRead.size(); ++t) pool.emplace_back(work);
    work();
    for (auto& t : pool) t.join();
    for (size_t j = 0; j < toRead.size(); ++j)
        if (failed[j]) disks[toRead[j]] = SkippedDisk(serials[toRead[j]], {}, {}, "not enough memory to read the disk");

    auto fresh = std::make_shared<IndexSnapshot>();
    for (auto& d : disks)
        if (d) fresh->disks.push_back(std::move(d));
    // Titles folded once for the sort.
    std::vector<std::pair<std::string, const IndexedDisk*>> keys;
    keys.reserve(fresh->disks.size());
    for (const auto& d : fresh->disks) keys.emplace_back(Folded(d->title), d.get());
    std::vector<size_t> order(fresh->disks.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const IndexedDisk &x = *keys[a].second, &y = *keys[b].second;
        if (keys[a].first != keys[b].first) return keys[a].first < keys[b].first;
        if (x.title != y.title) return x.title < y.title;
        if (x.serial.size() != y.serial.size()) return x.serial.size() < y.serial.size();
        return x.serial < y.serial;
    });
    std::vector<std::shared_ptr<const IndexedDisk>> sorted;
    sorted.reserve(order.size());
    for (const size_t i : order) {
        sorted.push_back(fresh->disks[i]);
        if (sorted.back()->Count() > 0) fresh->entries += sorted.back()->Count() - 1;
    }
    fresh->disks = std::move(sorted);
    std::lock_guard lock(mutex_);
    snapshot_ = std::move(fresh);
    return fig;
}

} // namespace quindle
