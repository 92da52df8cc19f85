#pragma once
// The members of archives found on a disk, read with libarchive (UDF images with a reader of
// their own, UdfImage.h): which files are archives
// (told by their content, never their name), and what they hold, down to archives inside
// archives. No Qt.
//
// A listing is bounded, whatever the archive claims: in members, in names kept, in bytes
// decompressed, in time and in nesting depth (ArchiveLimits). Past a bound the listing stops
// and is partial. A damaged archive, one whose names are encrypted, or one in a format that
// cannot be read gives an error reason and no members. Nothing here throws or stops the
// caller; each call is independent and may run on any thread.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quindle {

// How much the walk reads to list archives, as the user chose it.
enum class ArchiveMode : uint8_t {
    None,    // archives are files like any other
    Indexed, // archives whose listing reads little (see ListArchive)
    All,     // every archive, within the limits
};

// "none", "indexed", "all" (exactly so) for the command line's --archives and the settings.
std::optional<ArchiveMode> ParseArchiveMode(std::string_view text);
const char* ArchiveModeName(ArchiveMode mode);

struct ArchiveLimits {
    // Members of one archive file, its nested archives' members and the folders their paths
    // imply included. The largest real archives (photo backups, data sets) hold about a
    // million files; a listing costs about 150 bytes a member plus its path while it is
    // built, so the bound keeps one archive under a few hundred MB.
    uint64_t maxMembers = 1'000'000;
    // Bytes of member paths kept for one archive file.
    uint64_t maxNameBytes = 256ull << 20;
    // Bytes decompressed to list one archive file: a compressed stream's output and the
    // data of members read to list archives inside them. About two minutes of gzip.
    uint64_t maxDecompressedBytes = 64ull << 30;
    // Wall time to list one archive file, nested archives included.
    uint32_t maxMillis = 120'000;
    // Archives inside archives: the file itself is level 1; an archive at a deeper level
    // is listed as a file.
    uint32_t maxDepth = 3;
    // Indexed mode lists an archive that must be read whole (a compressed tarball, or any
    // archive inside another) only up to this size: a tar.gz of 64 MiB lists in about
    // 0.6 s (bench/archives), a slower compression such as xz takes a few times that.
    uint64_t indexedStreamBytes = 64ull << 20;
    // An archive inside another whose format needs to seek (zip's central directory, 7z's
    // header at the end) is read into memory up to this size; a larger zip is read as a
    // stream, a larger 7z is not listed.
    uint64_t nestedBufferBytes = 64ull << 20;
};

struct ArchiveOptions {
    ArchiveMode mode = ArchiveMode::Indexed;
    ArchiveLimits limits;
    // Asked now and then during a listing; true stops it (partial).
    std::function<bool()> stop;
    // In indexed mode, a zip read whole whose central directory is certain is listed from
    // that alone (ZipIndex.h), not through libarchive; the listing is the same (tests and
    // the fuzzer compare the two ways).
    bool zipIndex = true;
};

enum class ArchiveStatus : uint8_t {
    NotArchive, // not an archive (or mode None): a file like any other
    Listed,     // every member listed
    Partial,    // a bound was met or the listing stopped: the members up to there
    Error,      // damaged, encrypted names, unsupported: no members
    Skipped,    // an archive the mode does not list
};

// The same values as the catalogue's entry kinds.
enum class MemberKind : uint8_t {
    Folder = 0,
    File = 1,
    Link = 2,  // a symbolic link; its size is its target's length
    Other = 3, // device, FIFO, socket
};

constexpr uint32_t kNoIndex = UINT32_MAX;

// One member, in the order a catalogue wants them: every folder (and every listed archive)
// comes before what it holds, siblings in byte order of their names.
struct ArchiveMember {
    uint32_t parent = kNoIndex;  // the member holding it; kNoIndex: the listed file itself
    uint32_t archive = 0;        // ArchiveListing::archives index of the innermost archive holding it
    uint32_t nested = kNoIndex;  // archives index when this member is an archive itself
    uint32_t nameStart = 0, nameLength = 0; // in ArchiveListing::names
    MemberKind kind = MemberKind::File;
    bool implied = false; // a folder named only in the paths of other members
    uint64_t size = 0;    // uncompressed bytes; 0 for a folder
    int64_t mtime = 0;    // seconds since 1970 UTC, the member's own; an implied folder: its newest content's
};

// The listed file itself (archives[0]) or a member that is an archive.
struct ArchiveInfo {
    uint32_t member = kNoIndex; // its member; kNoIndex for the listed file
    uint32_t depth = 1;         // 1 for the listed file
    ArchiveStatus status = ArchiveStatus::NotArchive;
    std::string format; // "zip", "7z", "rar", "cab", "iso9660", "udf", "tar", "tar.gz", "cpio.xz", ...
    std::string reason; // Partial, Error or Skipped: why, as the user reads it (k...Reason)
    std::string detail; // the reader's own words for an Error, for the log; may be empty
};

// Reasons as the user reads them.
inline constexpr const char* kDamagedReason = "damaged archive";
inline constexpr const char* kEncryptedReason = "encrypted names";
inline constexpr const char* kUnsupportedReason = "unsupported format";
inline constexpr const char* kUnreadableReason = "cannot be read";
inline constexpr const char* kNestedTooLargeReason = "too large to list inside another archive";
inline constexpr const char* kMembersReason = "too many members";
inline constexpr const char* kBytesReason = "too much data to decompress";
inline constexpr const char* kTimeReason = "listing took too long";
inline constexpr const char* kStoppedReason = "listing was stopped";
inline constexpr const char* kMemoryReason = "not enough memory";
inline constexpr const char* kSkippedReason = "too large to list in indexed mode";

struct ArchiveListing {
    std::vector<ArchiveMember> members;
    std::string names; // members' own names back to back
    std::vector<ArchiveInfo> archives{ArchiveInfo{}};
    // Members left out: a path with a ".." component or longer than kMaxMemberPath, or a
    // name the archive holds in a form that cannot be read.
    uint64_t droppedMembers = 0;

    ArchiveStatus Status() const { return archives[0].status; }
    const ArchiveInfo& Info() const { return archives[0]; }
    std::string_view Name(size_t i) const { return {names.data() + members[i].nameStart, members[i].nameLength}; }
    // Member i's path below the listed file, names joined by "/", through nested archives
    // ("inner.zip/2019/beach.jpg").
    std::string Path(size_t i) const;
    // The path of the innermost archive holding member i; "" for the listed file.
    std::string ArchivePath(size_t i) const;
};

// libarchive turns a zip member's DOS date into seconds with mktime, and glibc's mktime
// looks at /etc/localtime again (a stat) at every call while TZ is unset: most of the time
// a zip of small members takes to list. Called once at program start, before any thread is
// started, this sets TZ to ":/etc/localtime" when it is unset: the same zone, read once
// (glibc and Qt both take that value for the system's zone). Nothing else changes.
void ReadTimeZoneOnce();

// A member path longer than this (in bytes, within its own archive) is dropped.
constexpr size_t kMaxMemberPath = 4096;

// Lists the regular file `name` of folder `dirfd` (never following a link). `sizeHint` is
// the size the caller already knows: a file too small to be an archive is not opened.
//
// Most files are not archives: telling so reads the first 512 bytes, and 2 KiB at 32 KiB
// for the few that start with zeros or a boot sector (where ISO 9660 keeps its mark).
// Zip, 7z, rar, cab, ISO 9660, UDF, tar and cpio are recognised by their marks; a compressed
// stream (gzip, bzip2, xz, lzip, zstd, lz4, compress) is an archive when what it holds is a
// tar, a cpio or an ISO 9660 image, never a single compressed file. Self-extracting
// programs and archives behind other data are files.
//
// An image with both a UDF volume and an ISO 9660 part is listed from its UDF tree, the one
// Windows reads (some images hold a stub in ISO 9660's), or from its ISO 9660 part when the
// UDF volume cannot be read.
//
// Indexed mode lists zip, 7z, rar, cab, ISO 9660 and UDF, and uncompressed tar and cpio (whose
// members' data is skipped by seeking); compressed tarballs and archives inside archives
// only up to limits.indexedStreamBytes. It looks for archives inside only among the
// members of zip, tar, cpio and images whose names end as archives' do (".zip",
// ".tar.gz", ...: LooksLikeArchiveName), and among every member of an archive it reads
// whole anyway. All lists every archive and looks into every member. Either way a
// member's content, never its name, tells whether it is an archive.
ArchiveListing ListArchive(int dirfd, const char* name, uint64_t sizeHint, const ArchiveOptions& options);
// The same for an open regular file (read with pread; the descriptor stays open).
ArchiveListing ListArchiveFd(int fd, const ArchiveOptions& options);
// The same for bytes in memory.
ArchiveListing ListArchiveBytes(std::string_view bytes, const ArchiveOptions& options);

} // namespace quindle
