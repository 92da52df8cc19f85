#pragma once
// Member paths made safe, and the members of one listing gathered in the order they come
// and put in catalogue order at the end: one entry per path, folders before what they
// hold, the folders that paths only imply made up.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "archives/Archives.h"

namespace quindle {

enum class PathVerdict : uint8_t {
    Ok,     // appended
    Empty,  // names the archive itself ("", "/", "./"): nothing appended
    Unsafe, // a ".." component, or longer than kMaxMemberPath: nothing appended
};

// Appends `raw`, a member's path as the archive gives it, to `out` as a path within the
// archive: components joined by "/", leading "/" and empty and "." components dropped. A
// ".." component would leave the archive (or a folder of it), so such a path is refused
// whole rather than resolved. Every other byte is kept as it is ("\", line breaks, bytes
// that are not UTF-8).
PathVerdict AppendMemberPath(std::string_view raw, std::string& out);

// Collects members as they come, each with its whole path below the listed file.
class MemberCollector {
public:
    // A member of archive `archive` at `path` (already safe). `linkTarget`: the safe path of
    // a hard link's target in the same archive, whose size it takes when it has none.
    // Returns the member's number, for MarkNested.
    uint32_t Add(std::string_view path, uint32_t archive, MemberKind kind, uint64_t size, int64_t mtime,
                 std::string_view linkTarget = {});
    // Member `n` is the archive archives[nested].
    void MarkNested(uint32_t n, uint32_t nested) { raw_[n].nested = nested; }
    size_t Count() const { return raw_.size(); }
    size_t PathBytes() const { return paths_.size(); }
    // Forgets the members from `count` on (an archive inside another that failed).
    void Truncate(size_t count);

    // Puts the members into `listing` in catalogue order (listing.archives describes the
    // archives they name), at most `maxMembers` of them with the implied folders; returns
    // false when some were left out for that bound. The collector is empty afterwards.
    bool Build(ArchiveListing& listing, uint64_t maxMembers);

private:
    struct Raw {
        uint64_t path = 0; // in paths_
        uint64_t link = 0; // hard link target in paths_ (linkLength 0: none)
        uint32_t pathLength = 0, linkLength = 0;
        uint32_t archive = 0;
        uint32_t nested = kNoIndex;
        MemberKind kind = MemberKind::File;
        uint64_t size = 0;
        int64_t mtime = 0;
    };
    std::string_view PathOf(const Raw& r) const { return {paths_.data() + r.path, r.pathLength}; }

    std::vector<Raw> raw_;
    std::string paths_;
};

} // namespace quindle
