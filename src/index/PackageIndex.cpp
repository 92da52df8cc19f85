#include "index/PackageIndex.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <thread>

#include "catalogue/DiskCatalogue.h"
#include "index/CaseFold.h"
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

std::string IndexedDisk::WindowsPath(size_t i) const {
    std::string p = root;
    p += cat.Path(i, '\\');
    return p;
}

size_t IndexedDisk::MemoryBytes() const {
    return sizeof(*this) + cat.MemoryBytes() + folded.capacity() + foldedStart.capacity() * sizeof(uint32_t) +
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
        b.Add(lastFolder, line.key, EntryKind::File, 0, 0);
    });
    DiskFigures f;
    f.root = root;
    return b.Finish(f);
}

void FoldNames(IndexedDisk& d) {
    const Catalogue& c = d.cat;
    const size_t n = c.Count();
    if (n == 0) return;
    bool ascii = true, changes = false;
    for (const char ch : c.names) {
        const auto b = static_cast<unsigned char>(ch);
        if (b >= 0x80) ascii = false;
        if (b >= 'A' && b <= 'Z') changes = true;
    }
    if (ascii) {
        if (!changes) return;
        d.folded.resize(c.names.size());
        for (size_t i = 0; i < c.names.size(); ++i) {
            const char ch = c.names[i];
            d.folded[i] = (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch + 32) : ch;
        }
        return;
    }
    std::string out;
    out.reserve(c.names.size() + c.names.size() / 8);
    std::vector<uint32_t> starts(n + 1);
    bool sameLengths = true;
    for (size_t i = 0; i < n; ++i) {
        starts[i] = static_cast<uint32_t>(out.size());
        AppendFolded(out, c.Name(i));
        if (out.size() - starts[i] != c.nameStart[i + 1] - c.nameStart[i]) sameLengths = false;
    }
    starts[n] = static_cast<uint32_t>(out.size());
    if (sameLengths && std::equal(out.begin(), out.end(), c.names.begin())) return;
    d.folded.assign(out.begin(), out.end());
    if (!sameLengths) d.foldedStart = std::move(starts);
}

std::string FoldedRoot(const std::string& root) {
    std::string r = Folded(root);
    for (char& ch : r)
        if (ch == '\\') ch = '/';
    return r;
}

} // namespace

std::shared_ptr<IndexedDisk> LoadIndexedDisk(const std::string& recordPath, std::string_view infoSection) {
    auto d = std::make_shared<IndexedDisk>();
    const auto slash = recordPath.rfind('/');
    d->serial = recordPath.substr(slash == std::string::npos ? 0 : slash + 1);
    if (d->serial.size() >= 4 && d->serial.compare(d->serial.size() - 4, 4, ".dat") == 0)
        d->serial.resize(d->serial.size() - 4);
    // Identities before reading: a change while reading shows at the next refresh.
    d->recordId = IdentityOf(recordPath);
    d->catalogueId = IdentityOf(CataloguePathOf(recordPath));
    std::optional<TRecordText> record;
    try {
        record.emplace(recordPath);
        if (!record->Present()) throw std::runtime_error("gone");
    } catch (const std::exception&) {
        d->skipped = true;
        d->problem = "the record cannot be read";
        return d;
    }
    d->title = FindIniValue(record->Text(), infoSection, "Title");
    DiskCatalogue dc = OpenDiskCatalogue(recordPath, infoSection);
    if (dc.catalogue) {
        d->cat = std::move(*dc.catalogue);
        d->root = d->cat.header.figures.root;
        d->details = true;
    } else {
        d->problem = CatalogueProblemText(dc.problem);
        d->cat = CatalogueFromRecord(*record, infoSection, d->root);
    }
    record.reset();
    d->foldedRoot = FoldedRoot(d->root);
    FoldNames(*d);
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

    std::vector<std::string> serials;
    if (DIR* dir = opendir(folder_.c_str())) {
        while (const dirent* e = readdir(dir)) {
            const std::string_view name = e->d_name;
            if (name.size() > 4 && name.substr(name.size() - 4) == ".dat" && name[0] != '.')
                serials.emplace_back(name.substr(0, name.size() - 4));
        }
        closedir(dir);
    }
    RefreshFigures fig;
    std::vector<std::shared_ptr<const IndexedDisk>> disks(serials.size());
    std::vector<size_t> toRead;
    for (size_t i = 0; i < serials.size(); ++i) {
        const std::string record = folder_ + serials[i] + ".dat";
        struct stat st;
        if (stat(record.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue; // a folder named "x.dat"
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
    const auto work = [&] {
        for (size_t j; (j = next.fetch_add(1)) < toRead.size();) {
            const size_t i = toRead[j];
            disks[i] = LoadIndexedDisk(folder_ + serials[i] + ".dat", infoSection_);
        }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < std::max(1u, threads) && t < toRead.size(); ++t) pool.emplace_back(work);
    work();
    for (auto& t : pool) t.join();

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
