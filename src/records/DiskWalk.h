#pragma once
// The walk: every folder of a drive, in the main window's directory tree's order, each listed
// by the hidden file lister, its names written into a record and the catalogue collected.
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>

#include "app/AppContext.h"
#include "catalogue/DiskCatalogue.h"
#include "records/WalkOptions.h"

namespace quindle {

class TDirectoryOutline;
class TFileListBox;
class TIniFile32;
class Platform;

// A name holding a line break would write extra lines into the record and could forge a
// section; such names are recorded with each CR and LF replaced by "?". Returns `name`
// itself when it holds none, else `scratch` made from it.
const std::string& OneLineName(const std::string& name, std::string& scratch);

// Points the tree and the lister at drive d, forcing both to rebuild or re-read when
// they already showed it (the tree is first set to drive c, the lister to "c:\").
void ResetBrowsers(TDirectoryOutline& tree, TFileListBox& lister, char d);

// The tree and the lister read each directory one right after the other: the second
// read takes the first one's entries while the directory is unchanged. Held for a walk.
struct ShareReads {
    Platform& p;
    explicit ShareReads(Platform& pf);
    ~ShareReads();
};

// A drive that is not ready is never walked (the tree and the lister would otherwise keep
// showing another drive): throws EFileError, else points both at drive d afresh.
void StartWalk(AppContext& ctx, TDirectoryOutline& tree, TFileListBox& lister, char d);

// A walk's catalogue, whose entries are being encoded on a worker thread while the saved
// record is made durable.
struct WalkedCatalogue {
    std::unique_ptr<Catalogue> catalogue; // stays put while the worker reads it
    std::future<EncodedEntries> entries;
};

// Walks the drive and returns the catalogue of what it walked; nothing when the walk
// stopped because the program ends. With a record file `file`, the walk writes the record
// into it as well (handing the store to `finish` before it is saved) and the catalogue's
// entries are being encoded for the file; with none (""), it only collects the catalogue
// and writes nothing. With options.checksums, every regular file's content is read for its
// checksum while the walk goes on, and the walk then waits for the last (ChecksumPhase),
// stopping on Abort as the tree walk does.
std::optional<WalkedCatalogue> WalkDrive(AppContext& ctx, TDirectoryOutline& tree, TFileListBox& lister, char d,
                                         const std::string& file, const std::function<void(TIniFile32&)>& finish,
                                         const WalkOptions& options);

// The same walk of drive d into memory only: the catalogue MemorizeDisk would write, and
// nothing written anywhere. Pumps and stops on ctx.AbortFlag as MemorizeDisk does (the
// catalogue is then marked partial); nothing when the program ends (ctx.Quitting). A drive
// that is not ready throws EFileError.
std::optional<Catalogue> WalkDiskCatalogue(AppContext& ctx, TDirectoryOutline& tree, TFileListBox& lister, char d,
                                           const WalkOptions& options = {});

} // namespace quindle
