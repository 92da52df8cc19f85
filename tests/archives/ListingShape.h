#pragma once
// What every listing must look like, whatever the archive held: shared by the tests and
// the fuzz target.
#include <set>
#include <string>
#include <string_view>

#include "archives/Archives.h"

namespace quindle::test {

// "" when the listing keeps its promises, else what it breaks.
inline std::string ListingShapeFault(const ArchiveListing& l) {
    if (l.archives.empty()) return "no archive info";
    const ArchiveStatus s = l.Status();
    if (s != ArchiveStatus::Listed && s != ArchiveStatus::Partial && !l.members.empty())
        return "members of an archive that was not listed";
    if ((s == ArchiveStatus::Listed || s == ArchiveStatus::NotArchive) != l.Info().reason.empty())
        return "a reason goes with every status but Listed and NotArchive";
    std::set<std::string> paths;
    for (size_t i = 0; i < l.members.size(); ++i) {
        const ArchiveMember& m = l.members[i];
        if (m.nameStart + static_cast<uint64_t>(m.nameLength) > l.names.size()) return "a name beyond the names";
        const std::string_view name = l.Name(i);
        if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos ||
            name.find('\0') != std::string_view::npos)
            return "a bad name: " + std::string(name);
        if (m.parent != kNoIndex) {
            if (m.parent >= i) return "a member before its parent";
            const ArchiveMember& p = l.members[m.parent];
            const bool holds = p.kind == MemberKind::Folder ||
                               (p.nested != kNoIndex && (l.archives[p.nested].status == ArchiveStatus::Listed ||
                                                         l.archives[p.nested].status == ArchiveStatus::Partial));
            if (!holds) return "a parent that holds nothing: " + l.Path(m.parent);
            // Siblings in byte order, one member per path.
            if (i > 0 && i - 1 != m.parent && l.members[i - 1].parent == m.parent && !(l.Name(i - 1) < name))
                return "siblings out of order: " + l.Path(i);
        }
        if (!paths.insert(l.Path(i)).second) return "a path twice: " + l.Path(i);
        if (m.archive >= l.archives.size()) return "an archive index beyond the archives";
        if (m.kind == MemberKind::Folder && m.size != 0) return "a folder with a size";
        if (m.implied && m.kind != MemberKind::Folder) return "an implied member that is no folder";
        // The innermost archive holding a member is the nearest listed archive above it.
        uint32_t holder = 0;
        for (uint32_t k = m.parent; k != kNoIndex; k = l.members[k].parent)
            if (l.members[k].nested != kNoIndex) {
                holder = l.members[k].nested;
                break;
            }
        if (holder != m.archive)
            return "a member of the wrong archive: " + l.Path(i);
        if (m.nested != kNoIndex && (m.nested >= l.archives.size() || l.archives[m.nested].member != i))
            return "a nested archive that does not name its member: " + l.Path(i);
    }
    for (size_t k = 1; k < l.archives.size(); ++k) {
        const ArchiveInfo& a = l.archives[k];
        if (a.member != kNoIndex && (a.member >= l.members.size() || l.members[a.member].nested != k))
            return "an archive naming a member that is not it";
        if (a.depth < 2 || a.depth > 64) return "a nested archive's depth";
    }
    return {};
}

} // namespace quindle::test
