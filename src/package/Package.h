#pragma once
// The package: which files of the package folder are its disks, what each disk is called,
// and its catalogues opened and checked once. Windows and commands ask here instead of
// listing the folder or reading records themselves, so they all see the same disks.
#include <atomic>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/AppContext.h"
#include "catalogue/Catalogue.h"
#include "catalogue/CatalogueFile.h"

namespace quindle {

class TFileListBox;

// The lister's settings that make it list the package's disks: "*.dat", files read-only,
// hidden, archive and normal (system files, such as a FIFO or a device, and folders are
// never disks). The package dialog's own lister takes them from here.
void SetPackageListerRule(TFileListBox& lister);

// The record file names ("<serial>.dat", no folder) of the package folder `packageFolder`
// (a host path), in the package dialog's order. Lists with a lister and a context of its
// own, so it may run on any thread and never disturbs a walk in progress.
std::vector<std::string> PackageRecordFiles(const std::string& packageFolder);
inline std::vector<std::string> PackageRecordFiles(const AppContext& ctx) { return PackageRecordFiles(ctx.PackageFolder); }

// A record's information section: what the user typed, when, and the serial.
struct DiskInfo {
    std::string serial;      // the record's file name less ".dat"
    std::string title;       // "Title"
    std::string description; // "Description"
    std::string additional;  // "Additional"
    std::string date;        // "Memorization Date", as the record holds it
    bool readable = false;   // the record could be read (the texts are "" otherwise)

    // What a person is shown for the disk: its title, or its serial when it has none.
    std::string Name() const { return title.empty() ? serial : title; }
    // The same with the serial beside a title: "Holiday (439041101)".
    std::string NameWithSerial() const { return DiskNameWithSerial(title, serial); }
    static std::string DiskNameWithSerial(const std::string& title, const std::string& serial) {
        return title.empty() ? serial : title + " (" + serial + ")";
    }
};

// Reads the information section of the record at `recordPath` (a host path). The section
// is the record's last, so only the file's last 64 KB are read when its header is among
// them; otherwise (a huge additional text, an odd record) the whole record is read. A
// missing or unreadable record gives the serial alone.
DiskInfo ReadDiskInfo(const std::string& recordPath, std::string_view infoSection);

// What the package's list of disks shows for one disk: its information, when it was
// memorized, and its figures from the catalogue's header (the catalogue's entries are not
// read).
struct DiskSummary {
    DiskInfo info;
    std::optional<int64_t> memorized;   // the memorization date, seconds since 1970
    std::optional<DiskFigures> figures; // from a valid catalogue
    std::string catalogue;              // "valid", or why the catalogue is not used
};
DiskSummary SummarizeDisk(const std::string& packageFolder, const std::string& recordFile, std::string_view infoSection);

// Loading catalogues off the user-interface thread: the loader counts what it has done
// and stops early when `cancel` is set. Read from any thread.
struct LoadProgress {
    std::atomic<size_t> done{0};
    std::atomic<size_t> total{0};
    std::atomic<bool> cancel{false};
};

// One disk of the package and its catalogue.
struct PackageDisk {
    DiskInfo info;
    Catalogue catalogue;
    const std::string& Serial() const { return info.serial; }
};

// The disks of a package whose catalogues can be used, in the order of `recordFiles`, and
// those left out with the reason.
struct PackageCatalogues {
    std::vector<PackageDisk> disks;
    struct Skipped {
        DiskInfo info;
        std::string reason; // CatalogueProblemText, or what else kept the catalogue out
    };
    std::vector<Skipped> skipped;
    bool cancelled = false; // the loader stopped on LoadProgress::cancel: both lists are short
};

// Reads the catalogues of `recordFiles` ("<serial>.dat" names in `packageFolder`) on up to
// `threads` threads. Never throws for a bad file: a catalogue that cannot be read (damaged,
// too large to hold) is skipped with the reason.
PackageCatalogues LoadPackageCatalogues(const std::string& packageFolder, const std::vector<std::string>& recordFiles,
                                        std::string_view infoSection, unsigned threads = 2,
                                        LoadProgress* progress = nullptr);

// One disk's catalogue as LoadPackageCatalogues reads it: the disk, or why it was skipped.
struct LoadedDisk {
    DiskInfo info;
    std::optional<Catalogue> catalogue;
    std::string reason; // why there is no catalogue
};
LoadedDisk LoadPackageDisk(const std::string& packageFolder, const std::string& recordFile,
                           std::string_view infoSection);

// Hands the disks of `recordFiles` to `fn` one at a time, in order, on the calling thread,
// while the next one is read on a thread of its own: at most two catalogues are held at
// once, whatever the size of the package. Stops early on LoadProgress::cancel.
void ForEachPackageDisk(const std::string& packageFolder, const std::vector<std::string>& recordFiles,
                        std::string_view infoSection, const std::function<void(LoadedDisk&)>& fn,
                        LoadProgress* progress = nullptr);

} // namespace quindle
