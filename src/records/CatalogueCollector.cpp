#include "records/CatalogueCollector.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "browse/DirectoryOutline.h"
#include "browse/FileListBox.h"
#include "platform/CodePage.h"
#include "records/DiskWalk.h"
#include "records/FileSystemType.h"

namespace quindle {

namespace {
int64_t Seconds(const struct timespec& t) { return static_cast<int64_t>(t.tv_sec); }
} // namespace

void CatalogueCollector::Folder(TDirectoryOutline& tree, int n, const std::string& dir, const std::string& host,
                            bool listed, TFileListBox& lister) {
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

Catalogue CatalogueCollector::Finish(char d, const std::string& rootHost, bool stopped) {
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

void CatalogueCollector::Apply(const FolderLook& look) {
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

void CatalogueCollector::Unread(const std::string& where, const std::string& name, int error) {
    if (++unread_ > kNamedUnread) return;
    std::string path = where;
    if (!name.empty()) {
        std::string scratch;
        if (!path.empty() && path.back() != '\\') path += '\\';
        path += OneLineName(name, scratch);
    }
    ctx_.Log("Cannot read the size and date of " + path + ": " + std::strerror(error));
}

} // namespace quindle
