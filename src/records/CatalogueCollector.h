#pragma once
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/AppContext.h"
#include "catalogue/DiskCatalogue.h"
#include "records/ChecksumPhase.h"
#include "records/EntryLooks.h"
#include "records/WalkOptions.h"

namespace quindle {

class TDirectoryOutline;
class TFileListBox;
class TOutlineNode;

// What the walk collects beside the record: one entry per folder visited and per name listed,
// and the entries the record leaves out: the hidden folders of each folder listed, with
// everything below them (the walk reads them itself, pumping once per folder as it does for
// the tree's, and stopping on Abort). Hidden entries are flagged so, as are the record's
// hidden files. The walk stays on its own thread; the entries of each folder it lists are looked at
// (lstat) by an EntryLooker meanwhile, which hands its findings back folder by folder. An
// entry that cannot be looked at keeps its name, as the record does, but has no size or
// date: it is counted and named in the log (the first kNamedUnread), and the catalogue is
// then not complete (its figures count them; the callers tell the user).
class CatalogueCollector {
public:
    static constexpr uint64_t kNamedUnread = 20;

    // `d`: the drive walked, for the log.
    CatalogueCollector(AppContext& ctx, char d, const WalkOptions& options)
        : ctx_(ctx), start_(std::chrono::steady_clock::now()), archives_{options.archives, {}, {}},
          checksums_(options.checksums ? std::make_unique<ChecksumPhase>(ctx, builder_, d) : nullptr),
          looker_(0, archives_) {}

    // Folder item n of the tree, read by the lister (`listed`) or not; `dir` its path as
    // the user sees it, `host` its folder.
    void Folder(TDirectoryOutline& tree, int n, const std::string& dir, const std::string& host, bool listed,
                TFileListBox& lister);
    // With checksums: waits until every regular file collected has been read, storing
    // their checksums (see ChecksumPhase).
    void FinishChecksums();
    // The catalogue of what was collected, with drive d's figures; `stopped`: the walk ended early.
    Catalogue Finish(char d, const std::string& rootHost, bool stopped);

private:
    // Adds the names of a folder listed (entry `index`, read through `host` just now, `dir`
    // as the user sees it): hands them to the looker, or looks at them here.
    FolderLook Listed(uint32_t index, const std::string& dir, const std::vector<std::string>& names);
    void LookOrHand(FolderLook look, const std::string& host);
    // The hidden folders `names` of folder entry `parent` (`dir`, `host`), and all below.
    void HiddenFolders(uint32_t parent, const std::string& dir, const std::string& host,
                       std::vector<std::string> names);
    // A folder whose names could not be listed: its date alone.
    void Unlisted(uint32_t index, const std::string& dir, const std::string& host);
    void Apply(const FolderLook& look);
    // Hands a folder to the workers, applying what they give back while they are full.
    void HandOver(FolderLook look);
    // Waits for every folder handed over, applying each as it comes back.
    void ApplyEveryLook();
    // The members of the regular file entry `file`, read as an archive, added below it.
    void AddMembers(uint32_t file, const ArchiveListing& listing);
    // Entry `name` of folder `where` (the folder itself for "") could not be looked at.
    void Unread(const std::string& where, const std::string& name, int error);

    AppContext& ctx_;
    std::chrono::steady_clock::time_point start_;
    CatalogueBuilder builder_;
    // The folders from the root down to the last one added, with their entries.
    struct OpenFolder {
        const TOutlineNode* node;
        uint32_t index;
    };
    std::vector<OpenFolder> open_;
    uint64_t unread_ = 0; // entries that could not be looked at
    ArchiveOptions archives_; // for the folders the walk looks at itself
    // With checksums: reads each regular file once the walk has looked at it.
    std::unique_ptr<ChecksumPhase> checksums_;
    EntryLooker looker_;      // last: its worker ends first
};

} // namespace quindle
