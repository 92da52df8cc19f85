#include "copies/Copies.h"

#include <xxhash.h>

#include <algorithm>
#include <memory>
#include <utility>


namespace quindle {

uint64_t NameSizeHash(std::string_view name, uint64_t size) {
    return XXH3_64bits_withSeed(name.data(), name.size(), size);
}

namespace {

// A regular file not left out by its flags (`leaveOut`).
bool IsFile(const Catalogue& c, size_t i, uint8_t leaveOut) {
    return c.kind[i] == static_cast<uint8_t>(EntryKind::File) && !(c.flags[i] & leaveOut);
}

// A file that takes part: a regular file, not left out, with a checksum when contents match.
bool Takes(const Catalogue& c, size_t i, uint8_t leaveOut, CopyMatch m) {
    return IsFile(c, i, leaveOut) && (m == CopyMatch::NameSize || c.ChecksumOf(i));
}

uint64_t KeyHash(const Catalogue& c, size_t i, CopyMatch m) {
    if (m == CopyMatch::NameSize) return NameSizeHash(c.Name(i), c.size[i]);
    return XXH3_64bits_withSeed(c.ChecksumOf(i)->data(), c.ChecksumOf(i)->size(), c.size[i]);
}

// The same key: size, and name or checksum.
bool SameKey(const Catalogue& a, size_t i, const Catalogue& b, size_t j, CopyMatch m) {
    if (a.size[i] != b.size[j]) return false;
    return m == CopyMatch::NameSize ? a.Name(i) == b.Name(j) : *a.ChecksumOf(i) == *b.ChecksumOf(j);
}

// A slot's tag: the hash's top byte, never 0 (the empty slot's).
uint8_t Tag(uint64_t hash) { return static_cast<uint8_t>((hash >> 56) | 1); }

} // namespace

Copies FindCopies(const std::vector<PackageDisk>& disks, uint64_t minSize, bool includeHidden, CopyMatch match) {
    const uint8_t leaveOut = includeHidden ? 0 : kEntryHidden;
    struct Keyed {
        uint64_t hash;
        FileRef ref;
    };
    size_t files = 0;
    for (const PackageDisk& d : disks)
        for (size_t i = 1; i < d.catalogue.Count(); ++i) files += Takes(d.catalogue, i, leaveOut, match) && d.catalogue.size[i] >= minSize;
    std::vector<Keyed> keyed;
    keyed.reserve(files);
    for (uint32_t d = 0; d < disks.size(); ++d) {
        const Catalogue& c = disks[d].catalogue;
        for (size_t i = 1; i < c.Count(); ++i)
            if (Takes(c, i, leaveOut, match) && c.size[i] >= minSize)
                keyed.push_back({KeyHash(c, i, match), {d, static_cast<uint32_t>(i)}});
    }
    // Equal hashes next to each other, in disk and walk order: `keyed` is in that order,
    // and a stable radix sort by hash keeps it (16 bits a pass, four passes).
    {
        // Every element is written before it is read: no zeroing of a large buffer.
        std::unique_ptr<Keyed[]> spare(new Keyed[keyed.size()]);
        Keyed* from = keyed.data();
        Keyed* to = spare.get();
        std::vector<size_t> count(1 << 16);
        for (int shift = 0; shift < 64; shift += 16) {
            std::fill(count.begin(), count.end(), 0);
            for (size_t i = 0; i < keyed.size(); ++i) ++count[(from[i].hash >> shift) & 0xFFFF];
            size_t at = 0;
            for (size_t& c : count) at += std::exchange(c, at);
            for (size_t i = 0; i < keyed.size(); ++i) to[count[(from[i].hash >> shift) & 0xFFFF]++] = from[i];
            std::swap(from, to);
        }
        // Four passes: the sorted order is back in `keyed`.
    }
    const auto name = [&](const FileRef& r) { return disks[r.disk].catalogue.Name(r.entry); };
    const auto size = [&](const FileRef& r) { return disks[r.disk].catalogue.size[r.entry]; };
    const auto same = [&](const FileRef& a, const FileRef& b) {
        return SameKey(disks[a.disk].catalogue, a.entry, disks[b.disk].catalogue, b.entry, match);
    };
    const auto keyLess = [&](const FileRef& a, const FileRef& b) {
        if (size(a) != size(b)) return size(a) < size(b);
        if (match == CopyMatch::NameSize) return name(a) < name(b);
        return *disks[a.disk].catalogue.ChecksumOf(a.entry) < *disks[b.disk].catalogue.ChecksumOf(b.entry);
    };

    Copies out;
    std::vector<FileRef> run;
    for (size_t at = 0; at < keyed.size();) {
        size_t end = at + 1;
        while (end < keyed.size() && keyed[end].hash == keyed[at].hash) ++end;
        if (end - at >= 2) {
            run.clear();
            for (size_t k = at; k < end; ++k) run.push_back(keyed[k].ref);
            // Two names may share a hash: only equal names and sizes are copies. The
            // stable sort keeps disk and walk order within each; a run of one name (the
            // rule) needs none.
            bool one = true;
            for (size_t k = 1; k < run.size() && one; ++k) one = same(run[k], run[0]);
            if (!one) std::stable_sort(run.begin(), run.end(), keyLess);
            for (size_t g = 0; g < run.size();) {
                size_t h = g + 1;
                while (h < run.size() && same(run[h], run[g])) ++h;
                if (h - g >= 2) {
                    CopyGroup group;
                    group.size = size(run[g]);
                    group.first = static_cast<uint32_t>(out.refs.size());
                    group.count = static_cast<uint32_t>(h - g);
                    out.refs.insert(out.refs.end(), run.begin() + static_cast<long>(g), run.begin() + static_cast<long>(h));
                    out.copyFiles += group.count;
                    out.spareBytes += group.size * (group.count - 1);
                    out.groups.push_back(group);
                }
                g = h;
            }
        }
        at = end;
    }
    keyed.clear();
    keyed.shrink_to_fit();
    std::sort(out.groups.begin(), out.groups.end(), [&](const CopyGroup& a, const CopyGroup& b) {
        if (a.Total() != b.Total()) return a.Total() > b.Total();
        const auto na = name(out.refs[a.first]), nb = name(out.refs[b.first]);
        if (na != nb) return na < nb;
        return a.size < b.size;
    });
    return out;
}

UniqueFiles::UniqueFiles(const Catalogue& disk, bool includeHidden, CopyMatch match)
    : disk_(disk), leaveOut_(includeHidden ? 0 : kEntryHidden), match_(match), copied_(disk.Count(), false) {
    for (size_t i = 1; i < disk.Count(); ++i)
        if (Takes(disk, i, leaveOut_, match_)) keys_.push_back({KeyHash(disk, i, match_), static_cast<uint32_t>(i)});
    std::sort(keys_.begin(), keys_.end(), [](const Key& a, const Key& b) { return a.hash < b.hash; });
    size_t slots = 16;
    while (slots < keys_.size() * 2) slots *= 2;
    slot_.assign(slots, Slot{0, 0, false});
    tag_.assign(slots, 0);
    // One slot per distinct hash, with its first key; a probe reads the slots alone.
    for (size_t k = 0; k < keys_.size(); ++k) {
        if (k > 0 && keys_[k].hash == keys_[k - 1].hash) continue;
        size_t s = keys_[k].hash & (slots - 1);
        while (slot_[s].key != 0) s = (s + 1) & (slots - 1);
        slot_[s] = {keys_[k].hash, static_cast<uint32_t>(k + 1), false};
        tag_[s] = Tag(keys_[k].hash);
    }
}

void UniqueFiles::Compare(const Catalogue& other) {
    const size_t mask = slot_.size() - 1;
    for (size_t i = 1; i < other.Count(); ++i) {
        if (!Takes(other, i, leaveOut_, match_)) continue;
        const uint64_t hash = KeyHash(other, i, match_);
        const uint8_t tag = Tag(hash);
        for (size_t s = hash & mask; tag_[s] != 0; s = (s + 1) & mask) {
            if (tag_[s] != tag) continue;
            Slot& slot = slot_[s];
            if (slot.hash != hash) continue;
            if (slot.done) break; // every file of this hash has a copy already
            bool all = true;
            for (size_t k = slot.key - 1; k < keys_.size() && keys_[k].hash == hash; ++k) {
                const uint32_t e = keys_[k].entry;
                if (!copied_[e] && SameKey(disk_, e, other, i, match_)) copied_[e] = true;
                all = all && copied_[e];
            }
            slot.done = all;
            break;
        }
    }
}

std::vector<uint32_t> UniqueFiles::Entries() const {
    std::vector<uint32_t> out;
    for (size_t i = 1; i < disk_.Count(); ++i)
        if (Takes(disk_, i, leaveOut_, match_) && !copied_[i]) out.push_back(static_cast<uint32_t>(i));
    return out;
}

} // namespace quindle
