#pragma once
// Archives made by their own tools in a temporary folder, and their listings in a form a
// test compares at a glance.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <string>

#include "ListingShape.h"
#include "archives/Archives.h"
#include "support/TempDrive.h"

namespace quindle::test {

// The one date every made file carries: 2017-07-14 02:40:00 UTC.
constexpr int64_t kMadeAt = 1500000000;

// A small tree, every file and folder dated kMadeAt.
inline const char* kTree = R"(
mkdir -p tree/docs/deep tree/empty
printf 'hello\n' > tree/a.txt
seq 1 1000 > tree/docs/b.txt
head -c 100 /dev/zero | tr '\0' x > tree/docs/deep/c.txt
find tree -exec touch -h -d @1500000000 {} +
)";

inline const std::map<std::string, std::string> kTreeMembers = {
    {"tree", "d"},
    {"tree/a.txt", "f 6"},
    {"tree/docs", "d"},
    {"tree/docs/b.txt", "f 3893"},
    {"tree/docs/deep", "d"},
    {"tree/docs/deep/c.txt", "f 100"},
    {"tree/empty", "d"},
};

inline bool HasTool(const std::string& tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a bash script in `dir` (stopping at the first failing command); true when it succeeded.
inline bool Shell(const TempDir& dir, const std::string& script) {
    const std::string file = dir.MakeFile(".script.sh", "set -e -o pipefail\ncd '" + dir.path() + "'\n" + script + "\n");
    const int rc = std::system(("bash '" + file + "' >'" + dir.path() + "/.script.log' 2>&1").c_str());
    unlink(file.c_str());
    if (rc != 0) ADD_FAILURE() << "script failed:\n" << script << "\n" << dir.Read(".script.log");
    return rc == 0;
}

// Lists `rel` in `dir` as the walk would: through its folder's descriptor.
inline ArchiveListing ListIn(const TempDir& dir, const std::string& rel, const ArchiveOptions& options = {}) {
    const std::string path = dir.path() + "/" + rel;
    const auto slash = path.rfind('/');
    const int dfd = open(path.substr(0, slash).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat st;
    const uint64_t size = lstat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    ArchiveListing l = ListArchive(dfd, path.c_str() + slash + 1, size, options);
    close(dfd);
    const std::string fault = ListingShapeFault(l);
    EXPECT_EQ(fault, "") << rel;
    return l;
}

inline ArchiveOptions Mode(ArchiveMode m) {
    ArchiveOptions o;
    o.mode = m;
    return o;
}

// A member as a test writes it: "f 6" (a file of 6 bytes), "d" (a folder), "l 5" (a link),
// "o" (other); "d*" an implied folder; with " @archive" when an archive inside holds it.
inline std::string Looks(const ArchiveListing& l, size_t i) {
    const ArchiveMember& m = l.members[i];
    std::string s;
    switch (m.kind) {
    case MemberKind::Folder: s = m.implied ? "d*" : "d"; break;
    case MemberKind::File: s = "f " + std::to_string(m.size); break;
    case MemberKind::Link: s = "l " + std::to_string(m.size); break;
    case MemberKind::Other: s = "o"; break;
    }
    if (m.archive != 0) s += " @" + l.ArchivePath(i);
    return s;
}

// Every member by its path.
inline std::map<std::string, std::string> Members(const ArchiveListing& l) {
    std::map<std::string, std::string> out;
    for (size_t i = 0; i < l.members.size(); ++i) out[l.Path(i)] = Looks(l, i);
    return out;
}

// The archive info of the member at `path` (nullptr when it is no archive).
inline const ArchiveInfo* NestedAt(const ArchiveListing& l, const std::string& path) {
    for (size_t i = 0; i < l.members.size(); ++i)
        if (l.Path(i) == path) return l.members[i].nested == kNoIndex ? nullptr : &l.archives[l.members[i].nested];
    return nullptr;
}

} // namespace quindle::test
