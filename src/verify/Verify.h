#pragma once
// Verify: a disk in its drive read again and compared with its catalogue. The real folders
// are walked below the drive's host root (never following a link, never leaving the file
// system, hidden entries included as the catalogue holds them), names, kinds, sizes and
// dates compared, and each regular file that has a checksum in the catalogue read whole
// again and its checksum compared. Nothing is written.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "catalogue/Catalogue.h"
#include "checksums/ChecksumReader.h"

namespace quindle {

enum class VerifyStatus : uint8_t {
    Changed,    // another kind, size or date, or (silent) the same size and date but another checksum
    Missing,    // in the catalogue, not on the disk
    Added,      // on the disk, not in the catalogue
    Unreadable, // a file or folder that could not be read: `error` says why
};

// "changed", "missing", "added", "unreadable".
const char* VerifyStatusName(VerifyStatus s);

struct VerifyItem {
    VerifyStatus status = VerifyStatus::Changed;
    std::string path; // below the root, names joined by "/", the exact name bytes
    EntryKind kind = EntryKind::File; // on the disk; the catalogue's for a missing entry
    uint64_t size = 0;                // likewise
    int64_t mtime = 0;
    uint64_t oldSize = 0; // the catalogue's, for a changed entry
    int64_t oldMtime = 0;
    bool silent = false;  // changed content under the same size and date
    std::string error;    // with Unreadable
};

struct VerifyCounts {
    uint64_t same = 0; // entries found as the catalogue has them
    uint64_t changed = 0, silent = 0, missing = 0, added = 0, unreadable = 0;
    uint64_t checksummed = 0; // files whose content was read and compared
    uint64_t Differing() const { return changed + missing + added + unreadable; }
};

// "12 same, 2 changed (1 silent), 1 missing, 0 added, 0 unreadable"; `number` writes each
// count (plain digits when none is given).
std::string VerifyCountsText(const VerifyCounts& c, const std::function<std::string(uint64_t)>& number = {});

struct VerifyResult {
    std::vector<VerifyItem> items; // sorted by path
    VerifyCounts counts;
    bool cancelled = false;
    bool withChecksums = false; // the catalogue has checksums: contents were compared
};

// How far it has got; handed to the idle callback.
struct VerifyProgress {
    uint64_t entries = 0;            // entries of the disk looked at
    uint64_t bytesDone = 0, bytesTotal = 0; // of the contents to read (total: as the catalogue says)
    double seconds = 0;
    // "1.23 GB of 2.00 GB, 850 MB/s, 1 s left", or the entries looked at before any read.
    std::string Text() const;
};

struct VerifyControl {
    // Called often (every few hundred entries, and about every 100 ms while files are
    // read): a window pumps its events there. Returning true cancels.
    std::function<bool(const VerifyProgress&)> idle;
    ChecksumReader::Options reader; // threads and chunk size of the reads
};

// Compares the disk below `rootHost` with catalogue `c`. Archive members are not compared
// (their archive is). Throws std::runtime_error when the root itself cannot be opened.
VerifyResult VerifyDisk(const Catalogue& c, const std::string& rootHost, const VerifyControl& control);

} // namespace quindle
