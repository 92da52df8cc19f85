#include "archives/UdfImage.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <unordered_set>

namespace quindle {

namespace {

// Descriptor tags (ECMA-167).
constexpr uint16_t kAnchor = 2, kPointer = 3, kPartition = 5, kLogicalVolume = 6, kTerminating = 8;
constexpr uint16_t kFileSet = 256, kIdentifier = 257, kExtentList = 258, kIndirect = 259, kFileEntry = 261,
                   kExtendedEntry = 266;

// Bounds on what an image may claim: descriptors of the volume's sequence read, pointers and
// indirect entries followed, partition maps, extents of one file, lists of extents chained.
constexpr uint32_t kMaxSequenceBlocks = 256, kMaxHops = 16, kMaxMaps = 64;
constexpr size_t kMaxExtents = size_t{1} << 20;
constexpr uint32_t kMaxExtentLists = 1u << 16;
// A link's components read to measure its target; a longer one keeps its entry's length.
constexpr uint64_t kMaxLinkBytes = 4096;
// Blocks of zeros passed over at an image's end, and blocks before the last recorded one
// where a virtual allocation table may lie.
constexpr uint64_t kMaxPadding = 1u << 16, kVatPlaces = 8;

uint16_t U16(std::string_view b, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}
uint32_t U32(std::string_view b, size_t at) { return U16(b, at) | static_cast<uint32_t>(U16(b, at + 2)) << 16; }
uint64_t U64(std::string_view b, size_t at) { return U32(b, at) | static_cast<uint64_t>(U32(b, at + 4)) << 32; }

// A descriptor's tag: its identifier and checksum, and, where the caller knows it, the block
// it says it was written at (a copy of a descriptor found elsewhere is no descriptor here).
bool TagIs(std::string_view b, uint16_t id, std::optional<uint32_t> at = std::nullopt) {
    if (b.size() < 16) return false;
    uint8_t sum = 0;
    for (size_t i = 0; i < 16; ++i)
        if (i != 4) sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(b[i]));
    return sum == static_cast<uint8_t>(b[4]) && U16(b, 0) == id && (!at || U32(b, 12) == *at);
}

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

// A timestamp (12 bytes): local time with its offset from UTC in minutes, where given.
int64_t Seconds(std::string_view b, size_t at) {
    const uint16_t typeAndZone = U16(b, at);
    const auto year = static_cast<int16_t>(U16(b, at + 2));
    const auto month = static_cast<uint8_t>(b[at + 4]), day = static_cast<uint8_t>(b[at + 5]),
               hour = static_cast<uint8_t>(b[at + 6]), minute = static_cast<uint8_t>(b[at + 7]),
               second = static_cast<uint8_t>(b[at + 8]);
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return 0;
    int64_t s = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    int zone = typeAndZone & 0x0FFF;
    if (zone & 0x0800) zone -= 0x1000; // twelve bits, signed
    if ((typeAndZone >> 12) == 1 && zone >= -1440 && zone <= 1440) s -= zone * 60;
    return s;
}

void AppendUtf8(uint32_t c, std::string& out) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Text in OSTA's compressed Unicode, appended to `out`: a byte saying 8 (Latin-1 bytes) or
// 16 (UTF-16, big-endian) bits a character, then the characters. False for another
// compression (254 and 255 mark deleted names) or broken UTF-16.
bool AppendCompressed(std::string_view raw, std::string& out) {
    if (raw.size() < 2) return false;
    const auto comp = static_cast<uint8_t>(raw[0]);
    raw.remove_prefix(1);
    if (comp == 8) {
        for (const char ch : raw) AppendUtf8(static_cast<uint8_t>(ch), out);
    } else if (comp == 16) {
        if (raw.size() % 2 != 0) return false;
        for (size_t i = 0; i < raw.size(); i += 2) {
            uint32_t c = static_cast<uint32_t>(static_cast<uint8_t>(raw[i])) << 8 | static_cast<uint8_t>(raw[i + 1]);
            if (c >= 0xDC00 && c <= 0xDFFF) return false;
            if (c >= 0xD800 && c <= 0xDBFF) {
                if (i + 3 >= raw.size()) return false;
                const uint32_t low =
                    static_cast<uint32_t>(static_cast<uint8_t>(raw[i + 2])) << 8 | static_cast<uint8_t>(raw[i + 3]);
                if (low < 0xDC00 || low > 0xDFFF) return false;
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
            AppendUtf8(c, out);
        }
    } else {
        return false;
    }
    return true;
}

// A file identifier; false for a name this program cannot keep: not decoded, NUL or "/",
// "." or "..".
bool DecodeName(std::string_view raw, std::string& out) {
    out.clear();
    return AppendCompressed(raw, out) && out.find('\0') == std::string::npos && out.find('/') == std::string::npos &&
           out != "." && out != "..";
}

// The text of a symbolic link's target from its path components (ECMA-167 4/14.16): the
// root, "..", "." or a name, each after a 4-byte head. Empty when they cannot be read.
std::string LinkTarget(std::string_view d) {
    std::string target;
    for (size_t p = 0; p < d.size();) {
        if (d.size() - p < 4) return {};
        const auto type = static_cast<uint8_t>(d[p]), length = static_cast<uint8_t>(d[p + 1]);
        if (d.size() - p - 4 < length) return {};
        const std::string_view name = d.substr(p + 4, length);
        p += 4 + size_t{length};
        if (type == 1 || type == 2) {
            target = "/";
            continue;
        }
        if (!target.empty() && target.back() != '/') target += '/';
        if (type == 3)
            target += "..";
        else if (type == 4)
            target += ".";
        else if (type != 5 || !AppendCompressed(name, target))
            return {};
    }
    return target;
}

struct Failure {
    UdfResult result;
    std::string detail;
};

// A file entry: what it is, and where its bytes lie.
struct Entry {
    uint8_t type = 0; // the entry's file type
    MemberKind kind = MemberKind::File;
    bool folder = false;
    uint64_t size = 0;
    int64_t mtime = 0;
    std::vector<UdfExtent> extents;
    std::string embedded;
};

class Volume {
public:
    Volume(ImageBytes& image, uint64_t maxDirectoryBytes) : image_(image), maxDirectoryBytes_(maxDirectoryBytes) {}

    UdfOutcome List(const std::function<bool(const UdfEntry&)>& fn) {
        UdfOutcome out;
        try {
            Open();
            Walk(fn);
            out.result = UdfResult::Listed;
        } catch (const Failure& f) {
            out.result = f.result;
            out.detail = f.detail;
        }
        out.droppedNames = dropped_;
        return out;
    }

private:
    struct Map {
        bool metadata = false, isVirtual = false;
        uint16_t number = 0;       // the partition's
        uint64_t start = 0, length = 0; // the partition, in blocks
        // A metadata partition: its blocks are the metadata file's bytes.
        std::vector<UdfExtent> file;
        std::vector<uint64_t> fileStarts;
        // A virtual partition (a disc written in sessions): the block of the physical map
        // `physical` that each of its blocks is, from the virtual allocation table.
        std::vector<uint32_t> table;
        uint16_t physical = 0;
    };

    [[noreturn]] static void Damaged(std::string what) { throw Failure{UdfResult::Damaged, std::move(what)}; }
    [[noreturn]] static void Unsupported(std::string what) { throw Failure{UdfResult::Unsupported, std::move(what)}; }

    // Checks the place against the image before it sets memory aside.
    bool ReadBytes(uint64_t offset, size_t n, std::string& out) {
        if (offset > image_.Size() || n > image_.Size() - offset) return false;
        out.resize(n);
        return image_.ReadAt(offset, out.data(), n) == n;
    }
    bool ReadSector(uint64_t sector, std::string& out) {
        return sector <= UINT64_MAX / bs_ && ReadBytes(sector * bs_, bs_, out);
    }

    // The block size: the one at whose block 256 (or last, or last but 256) an anchor lies.
    std::optional<uint32_t> FindAnchor(std::string& anchor) {
        for (const uint32_t bs : {2048u, 512u, 1024u, 4096u}) {
            bs_ = bs;
            const uint64_t blocks = image_.Size() / bs;
            for (const uint64_t at : {uint64_t{256}, blocks - 1, blocks - 257}) {
                if (blocks < 257 || at >= blocks) continue;
                if (ReadSector(at, anchor) && TagIs(anchor, kAnchor, static_cast<uint32_t>(at))) return bs;
            }
        }
        return std::nullopt;
    }

    // The volume descriptor sequence at `sector`, `length` bytes: the newest partition
    // descriptors by number, and the newest logical volume descriptor.
    void ReadSequence(uint32_t sector, uint32_t length) {
        std::string b;
        uint32_t hops = 0, newestVolume = 0;
        for (uint32_t i = 0, n = std::min(length / bs_, kMaxSequenceBlocks); i < n; ++i) {
            const uint64_t at = uint64_t{sector} + i;
            if (!ReadSector(at, b)) return;
            const uint16_t id = U16(b, 0);
            if (!TagIs(b, id, static_cast<uint32_t>(at)) || id == kTerminating) return;
            if (id == kPointer) {
                if (++hops > kMaxHops) return;
                sector = U32(b, 24);
                n = std::min(U32(b, 20) / bs_, kMaxSequenceBlocks);
                i = UINT32_MAX; // the loop's ++ makes it 0
                continue;
            }
            const uint32_t seq = U32(b, 16);
            if (id == kPartition) {
                auto& [partSeq, part] = partitions_[U16(b, 22)];
                if (part.empty() || seq >= partSeq) partSeq = seq, part = b;
            } else if (id == kLogicalVolume && (volume_.empty() || seq >= newestVolume)) {
                newestVolume = seq;
                volume_ = b;
            }
        }
    }

    void Open() {
        std::string anchor;
        if (!FindAnchor(anchor)) Damaged("no anchor volume descriptor");
        ReadSequence(U32(anchor, 20), U32(anchor, 16));
        if (volume_.empty() || partitions_.empty()) {
            partitions_.clear();
            volume_.clear();
            ReadSequence(U32(anchor, 28), U32(anchor, 24)); // the reserve copy
        }
        if (volume_.empty()) Damaged("no logical volume descriptor");
        if (U32(volume_, 212) != bs_) Damaged("logical block size differs from the anchor's");
        const uint32_t tableLength = U32(volume_, 264), count = U32(volume_, 268);
        if (count == 0 || count > kMaxMaps || tableLength > bs_ - 440) Damaged("bad partition maps");
        std::vector<std::pair<size_t, std::string_view>> metadata; // maps to finish, and their entries
        for (size_t p = 440, end = 440 + tableLength, k = 0; k < count; ++k) {
            if (p + 2 > end) Damaged("bad partition maps");
            const auto type = static_cast<uint8_t>(volume_[p]), length = static_cast<uint8_t>(volume_[p + 1]);
            if (length < 6 || p + length > end) Damaged("bad partition map");
            Map m;
            if (type == 1 && length == 6) {
                m.number = U16(volume_, p + 4);
            } else if (type == 2 && length == 64) {
                const std::string_view id = std::string_view(volume_).substr(p + 5, 23);
                m.number = U16(volume_, p + 38);
                if (id.starts_with("*UDF Metadata Partition")) {
                    m.metadata = true;
                    metadata.emplace_back(maps_.size(), std::string_view(volume_).substr(p + 40, 8));
                } else if (id.starts_with("*UDF Virtual Partition")) {
                    m.isVirtual = true;
                } else if (!id.starts_with("*UDF Sparable Partition")) {
                    Unsupported("partition map of another kind");
                }
            } else {
                Unsupported("partition map of another kind");
            }
            const auto it = partitions_.find(m.number);
            if (it == partitions_.end()) Damaged("a partition map names no partition");
            m.start = U32(it->second.second, 188);
            m.length = U32(it->second.second, 192);
            maps_.push_back(std::move(m));
            p += length;
        }
        for (size_t k = 0; k < maps_.size(); ++k)
            if (maps_[k].isVirtual) ReadTable(k);
        // A metadata partition's file is read through another map of the same partition: the
        // physical one, or on a disc written in sessions the virtual one.
        for (const auto& [k, places] : metadata) {
            Entry file;
            bool ok = false;
            std::vector<uint16_t> through{PhysicalMapOf(maps_[k].number)};
            for (size_t i = 0; i < maps_.size(); ++i)
                if (maps_[i].isVirtual && maps_[i].number == maps_[k].number) through.push_back(static_cast<uint16_t>(i));
            for (const uint16_t ref : through)
                for (const size_t at : {size_t{0}, size_t{4}}) { // the file, then its mirror
                    if (ok) break;
                    try {
                        file = ReadEntry(ref, U32(places, at));
                        ok = true;
                    } catch (const Failure&) {
                    }
                }
            if (!ok || !file.embedded.empty()) Damaged("metadata file cannot be read");
            uint64_t start = 0;
            for (const UdfExtent& e : file.extents) {
                maps_[k].fileStarts.push_back(start);
                start += e.length;
            }
            maps_[k].file = std::move(file.extents);
        }
    }

    // The virtual allocation table of virtual map `k`: the last file written to the disc, in
    // its last recorded block or one of the few before it (a CD's run-out blocks), past the
    // zeros an image may have been padded with. UDF 2.00 and later mark it by its file type
    // and start it with a header; UDF 1.50 ends it with its identifier.
    void ReadTable(size_t k) {
        const uint16_t physical = PhysicalMapOf(maps_[k].number);
        const Map p = maps_[physical];
        uint64_t last = image_.Size() / bs_;
        std::string b;
        for (uint64_t padding = 0; last > 0 && padding < kMaxPadding; --last, ++padding)
            if (!ReadSector(last - 1, b) || b.find_first_not_of('\0') != std::string::npos) break;
        for (uint64_t back = 0; back < kVatPlaces && back < last; ++back) {
            const uint64_t at = last - 1 - back;
            if (at < p.start || at - p.start >= p.length) continue;
            Entry e;
            try {
                e = ReadEntry(physical, static_cast<uint32_t>(at - p.start));
            } catch (const Failure&) {
                continue;
            }
            if ((e.type != 248 && e.type != 0) || e.size > image_.Size() || e.size < 36) continue;
            UdfEntry view;
            view.size = e.size;
            view.extents = &e.extents;
            view.embedded = e.embedded;
            std::string t(static_cast<size_t>(e.size), '\0');
            if (UdfFileBytes(image_, view).ReadAt(0, t.data(), t.size()) != t.size()) continue;
            size_t first = 0, end = t.size();
            if (e.type == 248) {
                first = U16(t, 0);
                if (first < 152 || first > end) continue;
            } else {
                if (std::string_view(t).substr(end - 35, 22) != "*UDF Virtual Alloc Tbl") continue;
                end -= 36;
            }
            auto& table = maps_[k].table;
            for (size_t i = first; i + 4 <= end; i += 4) table.push_back(U32(t, i));
            maps_[k].physical = physical;
            return;
        }
        Damaged("no virtual allocation table");
    }

    // A physical map of partition `number`, made when the volume has none of its own.
    uint16_t PhysicalMapOf(uint16_t number) {
        for (size_t i = 0; i < maps_.size(); ++i)
            if (!maps_[i].metadata && !maps_[i].isVirtual && maps_[i].number == number)
                return static_cast<uint16_t>(i);
        Map m;
        const auto it = partitions_.find(number);
        m.number = number;
        m.start = U32(it->second.second, 188);
        m.length = U32(it->second.second, 192);
        maps_.push_back(std::move(m));
        return static_cast<uint16_t>(maps_.size() - 1);
    }

    // Appends where `length` bytes from block `block` of map `ref` lie in the image.
    void Place(uint16_t ref, uint32_t block, uint64_t length, std::vector<UdfExtent>& out) {
        if (ref >= maps_.size()) Damaged("extent in no partition");
        const Map& m = maps_[ref];
        if (m.isVirtual) {
            // Block by block through the table, runs that stay together joined.
            for (uint64_t i = 0; length > 0; ++i) {
                const uint64_t n = std::min<uint64_t>(length, bs_);
                const uint64_t v = uint64_t{block} + i;
                if (v >= m.table.size() || m.table[v] == UINT32_MAX) Damaged("block not in the allocation table");
                const Map& p = maps_[m.physical];
                if (m.table[v] >= p.length) Damaged("extent beyond its partition");
                const uint64_t at = (p.start + m.table[v]) * bs_;
                if (!out.empty() && !out.back().zeros && out.back().offset + out.back().length == at)
                    out.back().length += n;
                else
                    out.push_back({at, n, false});
                if (out.size() > kMaxExtents) Damaged("too many extents");
                length -= n;
            }
            return;
        }
        if (!m.metadata) {
            const uint64_t blocks = (length + bs_ - 1) / bs_;
            if (block > m.length || blocks > m.length - block) Damaged("extent beyond its partition");
            out.push_back({(m.start + block) * bs_, length, false});
            return;
        }
        uint64_t at = uint64_t{block} * bs_;
        while (length > 0) {
            const auto it = std::upper_bound(m.fileStarts.begin(), m.fileStarts.end(), at);
            if (it == m.fileStarts.begin()) Damaged("extent beyond the metadata file");
            const size_t k = static_cast<size_t>(it - m.fileStarts.begin()) - 1;
            const UdfExtent& e = m.file[k];
            const uint64_t within = at - m.fileStarts[k];
            if (within >= e.length) Damaged("extent beyond the metadata file");
            const uint64_t n = std::min(length, e.length - within);
            out.push_back({e.zeros ? 0 : e.offset + within, n, e.zeros});
            if (out.size() > kMaxExtents) Damaged("too many extents");
            at += n;
            length -= n;
        }
    }

    void Block(uint16_t ref, uint32_t block, std::string& out) {
        where_.clear();
        Place(ref, block, bs_, where_);
        const uint64_t at = where_.size() == 1 && !where_[0].zeros ? where_[0].offset : UINT64_MAX;
        if (at > image_.Size() || bs_ > image_.Size() - at) Damaged("a block cannot be read");
        // Writers put a directory's file entries one after the other: a window of blocks
        // read at once serves the next ones.
        if (at < windowAt_ || at + bs_ > windowAt_ + window_.size()) {
            const uint64_t n = std::min<uint64_t>(kWindowBytes, image_.Size() - at);
            if (!ReadBytes(at, static_cast<size_t>(n), window_)) {
                window_.clear();
                Damaged("a block cannot be read");
            }
            windowAt_ = at;
        }
        out.assign(window_, static_cast<size_t>(at - windowAt_), bs_);
    }

    // The allocation descriptors `ads` of an entry in map `ref`, short (8 bytes) or long
    // (16), and the lists of further descriptors they chain to.
    void Extents(uint16_t ref, std::string_view ads, bool longForm, std::vector<UdfExtent>& out) {
        const size_t size = longForm ? 16 : 8;
        std::string next;
        for (uint32_t lists = 0;;) {
            bool chained = false;
            for (size_t p = 0; p + size <= ads.size(); p += size) {
                const uint32_t word = U32(ads, p);
                const uint32_t length = word & 0x3FFFFFFF, type = word >> 30;
                if (length == 0) break;
                const uint32_t block = U32(ads, p + 4);
                const uint16_t part = longForm ? U16(ads, p + 8) : ref;
                if (type == 3) {
                    if (++lists > kMaxExtentLists) Damaged("too many lists of extents");
                    Block(part, block, next);
                    if (!TagIs(next, kExtentList, block)) Damaged("bad list of extents");
                    const uint32_t n = U32(next, 20);
                    if (n > bs_ - 24) Damaged("bad list of extents");
                    ads = std::string_view(next).substr(24, n);
                    ref = part;
                    chained = true;
                    break;
                }
                if (type == 0)
                    Place(part, block, length, out);
                else
                    out.push_back({0, length, true});
                if (out.size() > kMaxExtents) Damaged("too many extents");
            }
            if (!chained) return;
        }
    }

    Entry ReadEntry(uint16_t ref, uint32_t block) {
        std::string b;
        for (uint32_t hops = 0;; ++hops) {
            if (hops > kMaxHops) Damaged("indirect entries run on");
            Block(ref, block, b);
            if (!TagIs(b, kIndirect, block)) break;
            block = U32(b, 40); // the entry it points to (a long allocation descriptor at 36)
            ref = U16(b, 44);
        }
        const bool extended = TagIs(b, kExtendedEntry, block);
        if (!extended && !TagIs(b, kFileEntry, block)) Damaged("bad file entry");
        Entry e;
        const auto type = static_cast<uint8_t>(b[27]);
        e.type = type;
        e.folder = type == 4;
        e.kind = type == 4    ? MemberKind::Folder
                 : type == 12 ? MemberKind::Link
                 : type == 6 || type == 7 || type == 9 || type == 10 ? MemberKind::Other
                                                                    : MemberKind::File;
        e.size = U64(b, 56); // a folder's: its identifiers' bytes
        e.mtime = Seconds(b, extended ? 92 : 84);
        const size_t base = extended ? 216 : 176;
        const uint64_t eaLength = U32(b, extended ? 208 : 168), adLength = U32(b, extended ? 212 : 172);
        if (base + eaLength + adLength > bs_) Damaged("bad file entry");
        const std::string_view ads = std::string_view(b).substr(base + eaLength, adLength);
        switch (U16(b, 34) & 7) {
        case 0: Extents(ref, ads, false, e.extents); break;
        case 1: Extents(ref, ads, true, e.extents); break;
        case 3: e.embedded.assign(ads.substr(0, std::min<uint64_t>(e.size, ads.size()))); break;
        default: Unsupported("extended allocation descriptors");
        }
        return e;
    }

    // A directory's identifiers, all of them.
    std::string DirectoryBytes(const Entry& dir) {
        // Its identifiers are bytes of the image: no more of them than the image holds.
        if (dir.size > maxDirectoryBytes_ || dir.size > image_.Size()) Damaged("directory too large");
        if (!dir.embedded.empty() || dir.extents.empty()) return dir.embedded.substr(0, dir.size);
        std::string out;
        std::string chunk;
        for (const UdfExtent& x : dir.extents) {
            if (out.size() >= dir.size) break;
            const uint64_t n = std::min<uint64_t>(x.length, dir.size - out.size());
            if (x.zeros) {
                out.append(n, '\0');
            } else {
                if (!ReadBytes(x.offset, static_cast<size_t>(n), chunk)) Damaged("a directory cannot be read");
                out += chunk;
            }
        }
        if (out.size() < dir.size) Damaged("directory shorter than its entry says");
        return out;
    }

    void Walk(const std::function<bool(const UdfEntry&)>& fn) {
        std::string fsd;
        const std::string_view v = volume_;
        const uint32_t fsdBlock = U32(v, 252);
        Block(U16(v, 256), fsdBlock, fsd);
        if (!TagIs(fsd, kFileSet, fsdBlock)) Damaged("bad file set descriptor");
        struct Pending {
            uint16_t ref;
            uint32_t block;
            std::string path;
        };
        std::vector<Pending> stack{{U16(fsd, 408), U32(fsd, 404), std::string()}};
        std::unordered_set<uint64_t> seen;
        std::string name, path;
        while (!stack.empty()) {
            const Pending dir = std::move(stack.back());
            stack.pop_back();
            if (!seen.insert(uint64_t{dir.ref} << 32 | dir.block).second) continue;
            const Entry self = ReadEntry(dir.ref, dir.block);
            if (!self.folder) Damaged("a directory's entry is not a directory's");
            const std::string ids = DirectoryBytes(self);
            const std::string_view d = ids;
            std::vector<Pending> below;
            for (size_t p = 0; p < d.size();) {
                if (d.size() - p < 38) Damaged("bad file identifier");
                const std::string_view id = d.substr(p);
                if (!TagIs(id, kIdentifier)) Damaged("bad file identifier");
                const auto traits = static_cast<uint8_t>(id[18]), nameLength = static_cast<uint8_t>(id[19]);
                const uint16_t useLength = U16(id, 36);
                const size_t length = 38 + size_t{useLength} + nameLength;
                if (length > id.size()) Damaged("bad file identifier");
                p += std::min(d.size() - p, (length + 3) & ~size_t{3});
                // Hidden ones are kept: only the parent and deleted ones are no entries.
                if (traits & 0x0C || (U32(id, 20) & 0x3FFFFFFF) == 0) continue;
                if (!DecodeName(id.substr(38 + useLength, nameLength), name)) {
                    ++dropped_;
                    continue;
                }
                const uint32_t block = U32(id, 24);
                const uint16_t ref = U16(id, 28);
                const Entry e = ReadEntry(ref, block);
                path = dir.path.empty() ? name : dir.path + "/" + name;
                UdfEntry out;
                out.path = path;
                out.kind = e.kind;
                out.size = e.folder ? 0 : e.size;
                out.extents = &e.extents;
                out.embedded = e.embedded;
                // A link's size is its target's length, as elsewhere in the catalogue; its
                // entry's bytes are the target in components.
                if (e.kind == MemberKind::Link && e.size <= kMaxLinkBytes) {
                    std::string components(static_cast<size_t>(e.size), '\0');
                    components.resize(UdfFileBytes(image_, out).ReadAt(0, components.data(), components.size()));
                    if (const std::string target = LinkTarget(components); !target.empty()) out.size = target.size();
                }
                out.mtime = e.mtime;
                if (!fn(out)) throw Failure{UdfResult::Stopped, {}};
                if (e.folder) below.push_back({ref, block, path});
            }
            // Depth first, in the directory's order.
            std::move(below.rbegin(), below.rend(), std::back_inserter(stack));
        }
    }

    ImageBytes& image_;
    const uint64_t maxDirectoryBytes_;
    uint32_t bs_ = 2048;
    std::map<uint16_t, std::pair<uint32_t, std::string>> partitions_; // by number: sequence number, descriptor
    std::string volume_;
    std::vector<Map> maps_;
    uint64_t dropped_ = 0;
    // The blocks last read at once, from windowAt_ in the image.
    static constexpr uint64_t kWindowBytes = 64 * 1024;
    std::string window_;
    uint64_t windowAt_ = 0;
    std::vector<UdfExtent> where_; // scratch
};

} // namespace

bool HasUdfVolume(ImageBytes& image) {
    // One descriptor each 2 KiB from 32 KiB (or each block, where blocks are larger: the
    // gaps read as unknown and are passed over), up to the end of the sequence.
    char id[6];
    for (uint64_t k = 0; k < 64; ++k) {
        if (image.ReadAt(32768 + k * 2048, id, sizeof id) != sizeof id) return false;
        const std::string_view s(id + 1, 5);
        if (s == "NSR02" || s == "NSR03") return true;
        if (s == "TEA01") return false;
    }
    return false;
}

UdfOutcome ListUdf(ImageBytes& image, const std::function<bool(const UdfEntry&)>& fn, uint64_t maxDirectoryBytes) {
    if (!HasUdfVolume(image)) return {};
    return Volume(image, maxDirectoryBytes).List(fn);
}

size_t MemoryImage::ReadAt(uint64_t offset, char* out, size_t n) {
    if (offset >= bytes_.size()) return 0;
    n = static_cast<size_t>(std::min<uint64_t>(n, bytes_.size() - offset));
    std::memcpy(out, bytes_.data() + offset, n);
    return n;
}

UdfFileBytes::UdfFileBytes(ImageBytes& image, const UdfEntry& e) : image_(image), embedded_(e.embedded), size_(e.size) {
    if (!e.extents) {
        size_ = std::min<uint64_t>(size_, embedded_.size());
        return;
    }
    uint64_t start = 0;
    for (const UdfExtent& x : *e.extents) {
        if (start >= size_) break;
        extents_.push_back(x);
        starts_.push_back(start);
        start += x.length;
    }
    if (embedded_.empty()) size_ = std::min(size_, start);
    else size_ = std::min<uint64_t>(size_, embedded_.size());
}

size_t UdfFileBytes::ReadAt(uint64_t offset, char* out, size_t n) {
    if (offset >= size_) return 0;
    n = static_cast<size_t>(std::min<uint64_t>(n, size_ - offset));
    if (!embedded_.empty() || extents_.empty()) {
        std::memcpy(out, embedded_.data() + offset, n);
        return n;
    }
    size_t done = 0;
    auto it = std::upper_bound(starts_.begin(), starts_.end(), offset);
    for (size_t k = static_cast<size_t>(it - starts_.begin()) - 1; done < n && k < extents_.size(); ++k) {
        const UdfExtent& x = extents_[k];
        const uint64_t within = offset + done - starts_[k];
        const size_t take = static_cast<size_t>(std::min<uint64_t>(n - done, x.length - within));
        if (x.zeros) {
            std::memset(out + done, 0, take);
        } else if (image_.ReadAt(x.offset + within, out + done, take) != take) {
            return done;
        }
        done += take;
    }
    return done;
}

} // namespace quindle
