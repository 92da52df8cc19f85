#include "records/Memorizer.h"

#include "browse/DirectoryOutline.h"
#include "catalogue/CatalogueFile.h"
#include "catalogue/DiskCatalogue.h"
#include "catalogue/RecordBinding.h"
#include "browse/FileListBox.h"
#include "platform/CodePage.h"
#include "records/DiskRecord.h"
#include "records/EntryLooks.h"
#include "records/IniFile.h"
#include "platform/Errors.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <future>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

namespace quindle {

namespace {

// A name holding a line break would write extra lines into the record and could forge a
// section; such names are recorded with each CR and LF replaced by "?".
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

} // namespace

void ResetBrowsers(TDirectoryOutline& tree, TFileListBox& lister, char d) {
    // Always read afresh: a tree or a list kept from an earlier walk of the same drive
    // would miss what was created since and keep what was deleted.
    tree.SetDrive(d);
    tree.Rebuild();
    lister.Reset();
    lister.ShowDirectory(tree.Directory(), tree.HostPath(1));
}

std::string FirstFolderName(const std::string& s) {
    const auto p = s.find('\\');
    if (p == std::string::npos) return s;
    const auto q = s.find('\\', p + 1);
    return s.substr(p + 1, q == std::string::npos ? std::string::npos : q - p - 1);
}

void HideFile(const AppContext& ctx, const std::string& path) {
    const int attr = ctx.platform.FileGetAttr(path);
    if (attr < 0) return;
    ctx.platform.FileSetAttr(path, static_cast<uint32_t>(attr) | faHidden);
}

std::string GetVolumeSerial(const AppContext& ctx, char d) {
    const auto serial = ctx.platform.GetVolumeSerial(static_cast<char>(UpperByte(static_cast<unsigned char>(d))));
    return serial ? std::to_string(*serial) : std::string();
}

namespace {

std::atomic<unsigned> walkCounter{0};

// The section of item n: its top-level folder's name, or the root's path for the root.
std::string SectionOf(TDirectoryOutline& tree, int n, std::string& scratch) {
    const TOutlineNode* node = tree.Items(n);
    if (node->Level() == 1) return tree.Directory();
    while (node->Level() > 2) node = node->Parent();
    return OneLineName(node->Text(), scratch);
}

// The file a walk writes into, beside the record: a name no listing or search takes for a
// record (not "*.dat"), which start-up removes when a crash left it behind. Created with
// the old record's mode, so a private record is never readable by others meanwhile.
std::string CreateWalkFile(const std::string& record, const char* prefix = ".~walk-") {
    const auto slash = record.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : record.substr(0, slash + 1);
    struct stat old;
    const bool hadOld = stat(record.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    const mode_t mode = hadOld ? (old.st_mode & 07777) : 0666;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temp = dir + prefix + std::to_string(getpid()) + "-" +
                           std::to_string(walkCounter.fetch_add(1)) + ".tmp";
        const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, hadOld ? 0600 : mode);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            break;
        }
        if (hadOld) fchmod(fd, mode);
        close(fd);
        return temp;
    }
    throw EFileError(Format("Cannot create file %s", record));
}

bool SyncFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const bool synced = fd >= 0 && fsync(fd) == 0;
    if (fd >= 0) close(fd);
    return synced;
}

void SyncFolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        fsync(dfd);
        close(dfd);
    }
}

// Names of the common file systems' magic numbers (statfs), for drives that are folders.
std::string FileSystemName(const std::string& host) {
    struct statfs fs;
    if (statfs(host.c_str(), &fs) != 0) return {};
    static const std::pair<unsigned long, const char*> kNames[] = {
        {0xEF53, "ext4"},       {0x01021994, "tmpfs"}, {0x9123683E, "btrfs"}, {0x58465342, "xfs"},
        {0x4d44, "vfat"},       {0x2011BAB0, "exfat"}, {0x5346544e, "ntfs"},  {0x65735546, "fuse"},
        {0x6969, "nfs"},        {0xFF534D42, "cifs"},  {0xFE534D42, "smb2"},  {0x794c7630, "overlay"},
        {0x9660, "iso9660"},    {0x15013346, "udf"},   {0x2FC12FC1, "zfs"},   {0xF2F52010, "f2fs"},
        {0x858458f6, "ramfs"},  {0x01021997, "9p"},    {0x73717368, "squashfs"},
    };
    for (const auto& [magic, name] : kNames)
        if (static_cast<unsigned long>(fs.f_type) == magic) return name;
    char hex[32];
    std::snprintf(hex, sizeof hex, "0x%lx", static_cast<unsigned long>(fs.f_type));
    return hex;
}

int64_t Seconds(const struct timespec& t) { return static_cast<int64_t>(t.tv_sec); }

// What the walk collects beside the record: one entry per folder visited and per name listed.
// The walk stays on its own thread; the entries of each folder it lists are looked at
// (lstat) by an EntryLooker meanwhile, which hands its findings back folder by folder. An
// entry that cannot be looked at keeps its name, as the record does, but has no size or
// date: it is counted and named in the log (the first kNamedUnread), and the catalogue is
// then not complete (its figures count them; the callers tell the user).
class CatalogueCollector {
public:
    static constexpr uint64_t kNamedUnread = 20;

    explicit CatalogueCollector(AppContext& ctx) : ctx_(ctx), start_(std::chrono::steady_clock::now()) {}

    // Folder item n of the tree, read by the lister (`listed`) or not; `dir` its path as
    // the user sees it, `host` its folder.
    void Folder(TDirectoryOutline& tree, int n, const std::string& dir, const std::string& host, bool listed,
                TFileListBox& lister) {
        for (const FolderLook& look : looker_.Take(false)) Apply(look);
        const TOutlineNode* node = tree.Items(n);
        uint32_t index = 0;
        if (n != 1) {
            // Items come in depth-first order: the parent is on the chain of open folders.
            while (!open_.empty() && open_.back().node != node->Parent()) open_.pop_back();
            if (open_.empty()) return; // (never: parents are visited first)
            index = builder_.Add(open_.back().index, node->Key, EntryKind::Folder, 0, 0);
        }
        open_.push_back({node, index});
        if (!listed) {
            // Its names are in neither the record nor the catalogue; its own date is.
            struct stat st;
            if (lstat(host.c_str(), &st) == 0)
                builder_.SetTime(index, Seconds(st.st_mtim));
            else
                Unread(dir, {}, errno);
            return;
        }
        FolderLook look;
        look.folder = index;
        look.where = dir;
        look.names = lister.Items();
        look.first = static_cast<uint32_t>(builder_.Count());
        for (const std::string& name : look.names) builder_.Add(index, name, EntryKind::File, 0, 0);
        // The folder as the lister read it, kept open for the worker (a copy of the
        // lister's descriptor, which the next search closes).
        const int read = ctx_.platform.FolderFdOfLastRead(host);
        look.fd = read >= 0 ? fcntl(read, F_DUPFD_CLOEXEC, 0) : open(host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (look.fd >= 0) {
            looker_.Hand(std::move(look));
            return;
        }
        // No descriptor to spare: the walk looks itself, through the lister's or by path.
        LookAtFolder(look, read, host);
        Apply(look);
    }

    Catalogue Finish(char d, const std::string& rootHost, bool stopped) {
        for (const FolderLook& look : looker_.Take(true)) Apply(look);
        DiskFigures f;
        const DriveInfo* drive = ctx_.platform.FindDrive(d);
        f.fileSystem = drive && !drive->fsType.empty() ? drive->fsType : FileSystemName(rootHost);
        f.root = std::string(1, static_cast<char>(UpperByte(static_cast<unsigned char>(d)))) + ":\\";
        struct statvfs vfs;
        if (statvfs(rootHost.c_str(), &vfs) == 0) {
            f.capacity = static_cast<uint64_t>(vfs.f_blocks) * vfs.f_frsize;
            f.freeBytes = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
        }
        f.walkMillis = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                 std::chrono::steady_clock::now() - start_)
                                                 .count());
        f.walkEnd = static_cast<int64_t>(std::time(nullptr));
        f.unreadEntries = unread_;
        f.complete = !stopped && unread_ == 0;
        return builder_.Finish(std::move(f));
    }

private:
    void Apply(const FolderLook& look) {
        if (look.self.error == 0)
            builder_.SetTime(look.folder, look.self.mtime);
        else
            Unread(look.where, {}, look.self.error);
        for (size_t i = 0; i < look.found.size(); ++i) {
            const EntryLook& l = look.found[i];
            if (l.error == 0)
                builder_.SetEntry(static_cast<uint32_t>(look.first + i), l.kind, l.size, l.mtime);
            else
                Unread(look.where, i < look.names.size() ? look.names[i] : std::string(), l.error);
        }
    }

    // Entry `name` of folder `where` (the folder itself for "") could not be looked at.
    void Unread(const std::string& where, const std::string& name, int error) {
        if (++unread_ > kNamedUnread) return;
        std::string path = where;
        if (!name.empty()) {
            std::string scratch;
            if (!path.empty() && path.back() != '\\') path += '\\';
            path += OneLineName(name, scratch);
        }
        ctx_.Log("Cannot read the size and date of " + path + ": " + std::strerror(error));
    }

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
    EntryLooker looker_;  // last: its worker ends first
};

// A walk's catalogue, whose entries are being encoded on a worker thread while the saved
// record is made durable.
struct WalkedCatalogue {
    std::unique_ptr<Catalogue> catalogue; // stays put while the worker reads it
    std::future<EncodedEntries> entries;
};

// Walks the drive and returns the catalogue of what it walked; nothing when the walk
// stopped because the program ends. With a record file `file`, the walk writes the record
// into it as well and the catalogue's entries are being encoded for the file; with none
// (""), it only collects the catalogue and writes nothing.
std::optional<WalkedCatalogue> Walk(AppContext& ctx, TDirectoryOutline& tree, TFileListBox& lister, char d,
                              const std::string& file, const std::function<void(TIniFile32&)>& finish) {
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
    CatalogueCollector catalogue(ctx);
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
        catalogue.Folder(tree, i, dir, host, true, lister);
        const auto& names = lister.Items();
        ++ctx.Progress.folders;
        ctx.Progress.files += static_cast<long>(names.size());
        if (!store) continue;
        const std::string section = SectionOf(tree, i, sectionScratch);
        for (size_t j = 0; j < names.size(); ++j)
            store->WriteString(section, OneLineName(names[j], scratch), std::to_string(j + 1));
    }
    if (ctx.Quitting) return std::nullopt; // the caller removes the file
    WalkedCatalogue walked;
    walked.catalogue = std::make_unique<Catalogue>(catalogue.Finish(d, rootHost, ctx.AbortFlag));
    if (store) {
        if (finish) finish(*store);
        store->Checkpoint();
        store.reset(); // its lines are on disk: the encoding below does not hold them too
        walked.entries =
            std::async(std::launch::async, [cat = walked.catalogue.get()] { return EncodeCatalogueEntries(*cat); });
    }
    return walked;
}

} // namespace

namespace {

// The tree and the lister read each directory one right after the other: the second
// read takes the first one's entries while the directory is unchanged.
struct ShareReads {
    Platform& p;
    explicit ShareReads(Platform& pf) : p(pf) { p.SetShareRepeatedRead(true); }
    ~ShareReads() { p.SetShareRepeatedRead(false); }
};

// A drive that is not ready is never walked: the tree and the lister would otherwise
// keep showing another drive.
void StartWalk(AppContext& ctx, TDirectoryOutline& tree, TFileListBox& lister, char d) {
    const auto root = ctx.platform.DriveRootHost(d);
    if (!root || access((*root + "/.").c_str(), F_OK) != 0) throw EFileError("Please, make sure that disk is ready!");
    ResetBrowsers(tree, lister, d);
}

} // namespace

std::optional<Catalogue> WalkDiskCatalogue(AppContext& ctx, TDirectoryOutline& tree, TFileListBox& lister, char d) {
    const ShareReads share(ctx.platform);
    StartWalk(ctx, tree, lister, d);
    std::optional<WalkedCatalogue> walked = Walk(ctx, tree, lister, d, std::string(), {});
    if (!walked) return std::nullopt;
    return std::move(*walked->catalogue);
}

void MemorizeDisk(AppContext& ctx, TDirectoryOutline& tree, TFileListBox& lister, char d, const std::string& path,
                  const std::function<void(TIniFile32&)>& finish,
                  const std::function<void(const Catalogue&)>& onWalked) {
    const ShareReads share(ctx.platform);
    StartWalk(ctx, tree, lister, d);

    const std::string temp = CreateWalkFile(path);
    std::string catalogueTemp;
    try {
        std::optional<WalkedCatalogue> walked = Walk(ctx, tree, lister, d, temp, finish);
        if (!walked) {
            unlink(temp.c_str());
            return;
        }
        Catalogue* catalogue = walked->catalogue.get();
        HideFile(ctx, temp); // the attribute moves with the file
        // Both files are complete and durable before either replaces what was there; the
        // catalogue goes first, so a kill between the two renames leaves a new catalogue
        // beside the old record, which its binding tells apart.
        if (!SyncFile(temp)) throw EFileError(Format("Cannot create file %s", path));
        const std::string cataloguePath = CataloguePathOf(path);
        // The entries were encoded while the record was made durable; the binding reads the
        // record whole, so it waits until the encoding's working memory is given back.
        EncodedEntries entries;
        try {
            entries = walked->entries.get();
        } catch (const std::length_error&) {
            throw EFileError(Format("Cannot create file %s", cataloguePath));
        }
        const auto binding = BindingOfRecordFile(temp, ctx.InfoSection);
        if (!binding) throw EFileError(Format("Cannot create file %s", path));
        catalogue->header.binding = *binding;
        catalogueTemp = CreateWalkFile(path, ".~cat-");
        struct stat st;
        const unsigned mode = stat(temp.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0600;
        unlink(catalogueTemp.c_str()); // reserved the name; written afresh, exclusively
        WriteCatalogueFile(catalogueTemp, *catalogue, mode, &entries);
        if (!onWalked) walked.reset();
        if (rename(catalogueTemp.c_str(), cataloguePath.c_str()) != 0)
            throw EFileError(Format("Cannot create file %s", cataloguePath));
        catalogueTemp.clear();
        if (rename(temp.c_str(), path.c_str()) != 0) throw EFileError(Format("Cannot create file %s", path));
        SyncFolderOf(path);
        // The disk is memorized: what the caller does with the catalogue now cannot undo it.
        if (onWalked) {
            try {
                onWalked(*catalogue);
            } catch (const std::exception& e) {
                ctx.Log(e.what());
            }
        }
    } catch (const EFileError& e) {
        unlink(temp.c_str());
        if (!catalogueTemp.empty()) unlink(catalogueTemp.c_str());
        // The user knows the record, not the walk's files.
        std::string message = e.what();
        for (const std::string* t : {&temp, static_cast<const std::string*>(&catalogueTemp)})
            if (const auto at = t->empty() ? std::string::npos : message.find(*t); at != std::string::npos)
                message.replace(at, t->size(), path);
        throw EFileError(message);
    } catch (...) {
        unlink(temp.c_str());
        if (!catalogueTemp.empty()) unlink(catalogueTemp.c_str());
        throw;
    }
}

bool MemorizeDiskWithInfo(AppContext& ctx, TDirectoryOutline& tree, TFileListBox& lister, char d,
                          const std::string& serial, const std::string& path, const DiskInfoFields& info,
                          const std::function<void(const Catalogue&)>& walked) {
    // Written also when the walk stopped on Abort: the partial record keeps its information.
    // It goes into the walk's file before that replaces the record, so no record is ever
    // seen without its information section.
    MemorizeDisk(
        ctx, tree, lister, d, path,
        [&](TIniFile32& walked) {
            WriteDiskInfo(ctx, walked, serial, NowAsMemorizationDate(), info.title, info.description,
                          info.additional);
        },
        walked);
    return !ctx.AbortFlag;
}

} // namespace quindle
