#include "records/DiskWalk.h"

#include <unistd.h>

#include "browse/DirectoryOutline.h"
#include "browse/FileListBox.h"
#include "platform/Errors.h"
#include "records/CatalogueCollector.h"
#include "records/ChecksumPhase.h"
#include "records/IniFile.h"

namespace quindle {

const std::string& OneLineName(const std::string& name, std::string& scratch) {
    // A plain loop: find_first_of would call memchr on the two-byte set for every byte.
    bool plain = true;
    for (const char c : name) plain &= c != '\r' && c != '\n';
    if (plain) return name;
    scratch = name;
    for (char& c : scratch)
        if (c == '\r' || c == '\n') c = '?';
    return scratch;
}

void ResetBrowsers(TDirectoryOutline& tree, TFileListBox& lister, char d) {
    // Always read afresh: a tree or a list kept from an earlier walk of the same drive
    // would miss what was created since and keep what was deleted.
    tree.SetDrive(d);
    tree.Rebuild();
    lister.Reset();
    lister.ShowDirectory(tree.Directory(), tree.HostPath(1));
}

namespace {

// The section of item n: its top-level folder's name, or the root's path for the root.
std::string SectionOf(TDirectoryOutline& tree, int n, std::string& scratch) {
    const TOutlineNode* node = tree.Items(n);
    if (node->Level() == 1) return tree.Directory();
    while (node->Level() > 2) node = node->Parent();
    return OneLineName(node->Text(), scratch);
}

} // namespace

std::optional<WalkedCatalogue> WalkDrive(AppContext& ctx, TDirectoryOutline& tree, TFileListBox& lister, char d,
                                         const std::string& file, const std::function<void(TIniFile32&)>& finish,
                                         const WalkOptions& options) {
    const std::string rootHost = tree.HostPath(1);
    const std::string notReady = "Please, make sure that disk is ready!";
    // Deferred: the store writes the file once, when the walk ends. The walk's file is no
    // record until it is renamed over one, so writing it sooner would keep nothing safer;
    // a kill leaves a stray file that start-up removes.
    std::optional<TIniFile32> store;
    if (!file.empty()) {
        store.emplace(file);
        store->SetDeferred(true);
    }
    ctx.AbortFlag = false;
    ctx.Progress = WalkProgress{};
    std::string scratch, sectionScratch;
    CatalogueCollector catalogue(ctx, d, options);
    for (int i = 1; i <= tree.ItemCount(); ++i) {
        ctx.Pump();
        if (ctx.AbortFlag) {
            if (!ctx.Quitting) ctx.Log("Operation aborted by user");
            break;
        }
        if (i > tree.ItemCount()) break; // the tree may have changed during the pump
        tree.SetSelectedItem(i);
        tree.Items(i)->Expand();
        const std::string& dir = tree.Directory();
        const std::string host = tree.HostPath(i);
        // The lister reads the very folder of the item. One that cannot be read (no
        // permission, removed meanwhile) is skipped and named in the log; when the drive
        // itself is gone, the walk cannot go on.
        if (!lister.ShowDirectory(dir, host)) {
            if (access((rootHost + "/.").c_str(), F_OK) != 0) throw EFileError(notReady);
            ctx.Log("Skipped " + OneLineName(dir, scratch) + ": the folder cannot be read");
            catalogue.Folder(tree, i, dir, host, false, lister);
            continue;
        }
        const auto& names = lister.Items();
        ++ctx.Progress.folders;
        ctx.Progress.files += static_cast<long>(names.size());
        if (store) {
            const std::string section = SectionOf(tree, i, sectionScratch);
            for (size_t j = 0; j < names.size(); ++j)
                store->WriteString(section, OneLineName(names[j], scratch), std::to_string(j + 1));
        }
        // Last: below the folder's hidden folders, the catalogue pumps as the walk does.
        catalogue.Folder(tree, i, dir, host, true, lister);
    }
    if (!ctx.AbortFlag) catalogue.FinishChecksums();
    if (ctx.Quitting) return std::nullopt; // the caller removes the file
    WalkedCatalogue walked;
    walked.catalogue = std::make_unique<Catalogue>(catalogue.Finish(d, rootHost, ctx.AbortFlag));
    if (store) {
        // The entries are compressed as they are encoded, into little more than the file:
        // that goes on while the record is written.
        walked.entries =
            std::async(std::launch::async, [cat = walked.catalogue.get()] { return EncodeCatalogueEntries(*cat); });
        if (finish) finish(*store);
        store->Checkpoint();
    }
    return walked;
}

ShareReads::ShareReads(Platform& pf) : p(pf) { p.SetShareRepeatedRead(true); }
ShareReads::~ShareReads() { p.SetShareRepeatedRead(false); }

void StartWalk(AppContext& ctx, TDirectoryOutline& tree, TFileListBox& lister, char d) {
    const auto root = ctx.platform.DriveRootHost(d);
    if (!root || access((*root + "/.").c_str(), F_OK) != 0) throw EFileError("Please, make sure that disk is ready!");
    ResetBrowsers(tree, lister, d);
}

std::optional<Catalogue> WalkDiskCatalogue(AppContext& ctx, TDirectoryOutline& tree, TFileListBox& lister, char d,
                                           const WalkOptions& options) {
    const ShareReads share(ctx.platform);
    StartWalk(ctx, tree, lister, d);
    std::optional<WalkedCatalogue> walked = WalkDrive(ctx, tree, lister, d, std::string(), {}, options);
    if (!walked) return std::nullopt;
    return std::move(*walked->catalogue);
}

} // namespace quindle
