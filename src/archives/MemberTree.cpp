#include "archives/MemberTree.h"

#include <algorithm>
#include <cstring>

namespace quindle {

PathVerdict AppendMemberPath(std::string_view raw, std::string& out) {
    const size_t start = out.size();
    size_t i = 0;
    while (i < raw.size()) {
        size_t j = raw.find('/', i);
        if (j == std::string_view::npos) j = raw.size();
        const std::string_view part = raw.substr(i, j - i);
        i = j + 1;
        if (part.empty() || part == ".") continue;
        const size_t separator = out.size() > start ? 1 : 0;
        if (part == ".." || out.size() - start + separator + part.size() > kMaxMemberPath) {
            out.resize(start);
            return PathVerdict::Unsafe;
        }
        if (separator) out += '/';
        out += part;
    }
    return out.size() == start ? PathVerdict::Empty : PathVerdict::Ok;
}

uint32_t MemberCollector::Add(std::string_view path, uint32_t archive, MemberKind kind, uint64_t size,
                              int64_t mtime, std::string_view linkTarget) {
    Raw r;
    r.path = paths_.size();
    r.pathLength = static_cast<uint32_t>(path.size());
    paths_ += path;
    if (!linkTarget.empty()) {
        r.link = paths_.size();
        r.linkLength = static_cast<uint32_t>(linkTarget.size());
        paths_ += linkTarget;
    }
    r.archive = archive;
    r.kind = kind;
    r.size = kind == MemberKind::Folder ? 0 : size;
    r.mtime = mtime;
    raw_.push_back(r);
    return static_cast<uint32_t>(raw_.size() - 1);
}

void MemberCollector::Truncate(size_t count) {
    if (count >= raw_.size()) return;
    paths_.resize(raw_[count].path);
    raw_.resize(count);
}

namespace {

// Paths in the order of their components: "a", "a/b", "a-b" ("/" sorts before every byte).
bool PathLess(std::string_view a, std::string_view b) {
    const size_t n = std::min(a.size(), b.size());
    const auto at = std::mismatch(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(n), b.begin());
    const size_t i = static_cast<size_t>(at.first - a.begin());
    if (i == n) return a.size() < b.size();
    const unsigned ca = a[i] == '/' ? 0u : static_cast<unsigned char>(a[i]) + 1u;
    const unsigned cb = b[i] == '/' ? 0u : static_cast<unsigned char>(b[i]) + 1u;
    return ca < cb;
}

bool Holds(const ArchiveListing& l, const ArchiveMember& m) {
    if (m.kind == MemberKind::Folder) return true;
    if (m.nested == kNoIndex) return false;
    const ArchiveStatus s = l.archives[m.nested].status;
    return s == ArchiveStatus::Listed || s == ArchiveStatus::Partial;
}

} // namespace

bool MemberCollector::Build(ArchiveListing& listing, uint64_t maxMembers) {
    std::vector<uint32_t> order(raw_.size());
    for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    // Equal paths keep the order they came in: the last one stands, as it would on extraction.
    std::stable_sort(order.begin(), order.end(),
                     [&](uint32_t x, uint32_t y) { return PathLess(PathOf(raw_[x]), PathOf(raw_[y])); });

    // Hard links share their data, which an archive keeps with one of them (tar: the first,
    // cpio: the last): each has the size of the one that holds it. Links name the first of
    // their group, so two rounds reach every member of it.
    for (int round = 0; round < 2; ++round)
        for (Raw& r : raw_) {
            if (r.linkLength == 0 || r.kind != MemberKind::File) continue;
            const std::string_view target(paths_.data() + r.link, r.linkLength);
            const auto it = std::lower_bound(order.begin(), order.end(), target, [&](uint32_t x, std::string_view t) {
                return PathLess(PathOf(raw_[x]), t);
            });
            if (it == order.end() || PathOf(raw_[*it]) != target || raw_[*it].kind != MemberKind::File) continue;
            r.size = raw_[*it].size = std::max(r.size, raw_[*it].size);
        }

    auto& out = listing.members;
    auto& names = listing.names;
    out.clear();
    names.clear();
    out.reserve(std::min<uint64_t>(raw_.size(), maxMembers));
    // Archives whose members are left out: one that lost to a later member of the same path,
    // or one inside such an archive.
    std::vector<bool> gone(listing.archives.size(), false);
    auto forget = [&](uint32_t nested) {
        if (nested == kNoIndex) return;
        gone[nested] = true;
        listing.archives[nested].member = kNoIndex;
    };
    // The chain of members from the listed file down to the last one added: each with the
    // length of its path, a prefix of every path that goes below it.
    struct Open {
        uint32_t index;
        size_t length;
    };
    std::vector<Open> chain;
    std::string_view chainPath; // a path running through the whole chain
    bool complete = true;

    auto add = [&](std::string_view name, MemberKind kind, uint64_t size, int64_t mtime, bool implied) -> bool {
        if (out.size() >= maxMembers || names.size() + name.size() > UINT32_MAX) return false;
        ArchiveMember m;
        m.parent = chain.empty() ? kNoIndex : chain.back().index;
        if (m.parent != kNoIndex && !Holds(listing, out[m.parent])) {
            // A file named as a folder by a later path: a folder it becomes (paths stay one
            // per member); an archive it stood for is no longer listed.
            ArchiveMember& p = out[m.parent];
            forget(p.nested);
            p.nested = kNoIndex;
            p.kind = MemberKind::Folder;
            p.size = 0;
        }
        m.archive = 0;
        m.nameStart = static_cast<uint32_t>(names.size());
        m.nameLength = static_cast<uint32_t>(name.size());
        names += name;
        m.kind = kind;
        m.size = kind == MemberKind::Folder ? 0 : size;
        m.mtime = mtime;
        m.implied = implied;
        out.push_back(m);
        return true;
    };

    for (size_t k = 0; k < order.size() && complete; ++k) {
        const Raw& r = raw_[order[k]];
        const std::string_view path = PathOf(r);
        if ((k + 1 < order.size() && PathOf(raw_[order[k + 1]]) == path) || gone[r.archive]) {
            forget(r.nested);
            continue;
        }
        while (!chain.empty()) {
            const size_t len = chain.back().length;
            if (path.size() > len && path[len] == '/' && std::memcmp(path.data(), chainPath.data(), len) == 0) break;
            chain.pop_back();
        }
        // A path may run only through its own archive's members: one that runs into an
        // archive inside it (a hostile archive holding both "in.zip" and "in.zip/x") is
        // left out, so every member lies below the archive that holds it.
        if (!chain.empty()) {
            const ArchiveMember& above = out[chain.back().index];
            if ((above.nested != kNoIndex ? above.nested : above.archive) != r.archive) {
                ++listing.droppedMembers;
                forget(r.nested);
                continue;
            }
        }
        // The folders between the deepest open member and this one: implied.
        size_t from = chain.empty() ? 0 : chain.back().length + 1;
        for (size_t slash; (slash = path.find('/', from)) != std::string_view::npos; from = slash + 1) {
            if (!add(path.substr(from, slash - from), MemberKind::Folder, 0, 0, true)) {
                complete = false;
                break;
            }
            // Its archive: the one holding the member that implied it.
            out.back().archive = r.archive;
            chain.push_back({static_cast<uint32_t>(out.size() - 1), slash});
        }
        if (!complete || !add(path.substr(from), r.kind, r.size, r.mtime, false)) {
            complete = false;
            break;
        }
        out.back().archive = r.archive;
        if (r.nested != kNoIndex) {
            out.back().nested = r.nested;
            listing.archives[r.nested].member = static_cast<uint32_t>(out.size() - 1);
        }
        chain.push_back({static_cast<uint32_t>(out.size() - 1), path.size()});
        chainPath = path;
    }
    // An implied folder is as new as the newest thing it holds (children come after parents).
    for (size_t i = out.size(); i-- > 0;) {
        const uint32_t p = out[i].parent;
        if (p != kNoIndex && out[p].implied) out[p].mtime = std::max(out[p].mtime, out[i].mtime);
    }
    std::vector<Raw>().swap(raw_);
    std::string().swap(paths_);
    return complete;
}

std::string ArchiveListing::Path(size_t i) const {
    std::vector<uint32_t> up;
    for (uint32_t k = static_cast<uint32_t>(i); k != kNoIndex; k = members[k].parent) up.push_back(k);
    std::string path;
    for (size_t j = up.size(); j-- > 0;) {
        if (!path.empty()) path += '/';
        path += Name(up[j]);
    }
    return path;
}

std::string ArchiveListing::ArchivePath(size_t i) const {
    const uint32_t member = archives[members[i].archive].member;
    return member == kNoIndex ? std::string() : Path(member);
}

} // namespace quindle
