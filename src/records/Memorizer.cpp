#include "records/Memorizer.h"

#include "browse/DirectoryOutline.h"
#include "browse/FileListBox.h"
#include "platform/CodePage.h"
#include "records/DiskRecord.h"
#include "records/IniFile.h"
#include "platform/Errors.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

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
std::string CreateWalkFile(const std::string& record) {
    const auto slash = record.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : record.substr(0, slash + 1);
    struct stat old;
    const bool hadOld = stat(record.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    const mode_t mode = hadOld ? (old.st_mode & 07777) : 0666;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temp = dir + ".~walk-" + std::to_string(getpid()) + "-" +
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

// Makes the walk's file durable and renames it over the record: the old record stays
// whole until the new one is complete on disk.
void PutInPlace(const std::string& temp, const std::string& record) {
    const int fd = open(temp.c_str(), O_RDONLY | O_CLOEXEC);
    const bool synced = fd >= 0 && fsync(fd) == 0;
    if (fd >= 0) close(fd);
    if (!synced || rename(temp.c_str(), record.c_str()) != 0) throw EFileError(Format("Cannot create file %s", record));
    const auto slash = record.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : record.substr(0, slash);
    const int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        fsync(dfd);
        close(dfd);
    }
}

void Walk(AppContext& ctx, TDirectoryOutline& tree, TFileListBox& lister, const std::string& file,
          const std::function<void(TIniFile32&)>& finish) {
    const std::string rootHost = tree.HostPath(1);
    const std::string notReady = "Please, make sure that disk is ready!";
    // Deferred: the store writes the file once, when the walk ends. The walk's file is no
    // record until it is renamed over one, so writing it sooner would keep nothing safer;
    // a kill leaves a stray file that start-up removes.
    TIniFile32 store(file);
    store.SetDeferred(true);
    ctx.AbortFlag = false;
    ctx.Progress = WalkProgress{};
    std::string scratch, sectionScratch;
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
        // The lister reads the very folder of the item. One that cannot be read (no
        // permission, removed meanwhile) is skipped and named in the log; when the drive
        // itself is gone, the walk cannot go on.
        if (!lister.ShowDirectory(dir, tree.HostPath(i))) {
            if (access((rootHost + "/.").c_str(), F_OK) != 0) throw EFileError(notReady);
            ctx.Log("Skipped " + OneLineName(dir, scratch) + ": the folder cannot be read");
            continue;
        }
        const std::string section = SectionOf(tree, i, sectionScratch);
        const auto& names = lister.Items();
        ++ctx.Progress.folders;
        ctx.Progress.files += static_cast<long>(names.size());
        for (size_t j = 0; j < names.size(); ++j)
            store.WriteString(section, OneLineName(names[j], scratch), std::to_string(j + 1));
    }
    if (ctx.Quitting) return; // the caller removes the file
    if (finish) finish(store);
    store.Checkpoint();
}

} // namespace

void MemorizeDisk(AppContext& ctx, TDirectoryOutline& tree, TFileListBox& lister, char d, const std::string& path,
                  const std::function<void(TIniFile32&)>& finish) {
    // The tree and the lister read each directory one right after the other: the second
    // read takes the first one's entries while the directory is unchanged.
    struct ShareReads {
        Platform& p;
        explicit ShareReads(Platform& pf) : p(pf) { p.SetShareRepeatedRead(true); }
        ~ShareReads() { p.SetShareRepeatedRead(false); }
    } share(ctx.platform);
    // A drive that is not ready is never walked: the tree and the lister would otherwise
    // keep showing another drive.
    const auto root = ctx.platform.DriveRootHost(d);
    if (!root || access((*root + "/.").c_str(), F_OK) != 0) throw EFileError("Please, make sure that disk is ready!");
    ResetBrowsers(tree, lister, d);

    const std::string temp = CreateWalkFile(path);
    try {
        Walk(ctx, tree, lister, temp, finish);
        if (ctx.Quitting) {
            unlink(temp.c_str());
            return;
        }
        HideFile(ctx, temp); // the attribute moves with the file
        PutInPlace(temp, path);
    } catch (const EFileError& e) {
        unlink(temp.c_str());
        // The user knows the record, not the walk's file.
        std::string message = e.what();
        if (const auto at = message.find(temp); at != std::string::npos) message.replace(at, temp.size(), path);
        throw EFileError(message);
    } catch (...) {
        unlink(temp.c_str());
        throw;
    }
}

bool MemorizeDiskWithInfo(AppContext& ctx, TDirectoryOutline& tree, TFileListBox& lister, char d,
                          const std::string& serial, const std::string& path, const DiskInfoFields& info) {
    // Written also when the walk stopped on Abort: the partial record keeps its information.
    // It goes into the walk's file before that replaces the record, so no record is ever
    // seen without its information section.
    MemorizeDisk(ctx, tree, lister, d, path, [&](TIniFile32& walked) {
        WriteDiskInfo(ctx, walked, serial, NowAsMemorizationDate(), info.title, info.description, info.additional);
    });
    return !ctx.AbortFlag;
}

} // namespace quindle
