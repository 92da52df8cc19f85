#include "records/CatalogueCollector.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "browse/DirectoryOutline.h"
#include "browse/FileListBox.h"
#include "platform/CodePage.h"
#include "platform/Platform.h"
#include "records/DiskWalk.h"
#include "records/FileSystemType.h"

namespace quindle {

namespace {
int64_t Seconds(const struct timespec& t) { return static_cast<int64_t>(t.tv_sec); }
} // namespace

namespace {

// "E:\Docs" and "a" give "E:\Docs\a"; "E:\" and "a" give "E:\a".
std::string ShownChild(const std::string& dir, const std::string& name) {
    std::string path = dir;
    if (!path.empty() && path.back() != '\\') path += '\\';
    return path + name;
}

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
        Unlisted(index, dir, host);
        return;
    }
    FolderLook look = Listed(index, dir, lister.Items());
    look.host = host;
    // The folder as the lister read it, kept open for the worker (a copy of the
    // lister's descriptor, which the next search closes).
    const int read = ctx_.platform.FolderFdOfLastRead(host);
    look.fd = read >= 0 ? fcntl(read, F_DUPFD_CLOEXEC, 0) : open(host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // No descriptor to spare: the walk looks itself, through the lister's or by path.
    if (look.fd < 0) LookAtFolder(look, read, host, &archives_);
    // What the record leaves out, from the same read: the folder's hidden folders, and
    // which of its names are hidden.
    std::vector<std::string> hiddenFolders, hiddenNames;
    ctx_.platform.FindHiddenIn(host, n == 1, [&](const SearchRec& r) {
        ((r.Attr & faDirectory) ? hiddenFolders : hiddenNames).push_back(r.Name);
    });
    if (!hiddenNames.empty()) {
        std::sort(hiddenNames.begin(), hiddenNames.end());
        for (size_t j = 0; j < look.names.size(); ++j)
            if (std::binary_search(hiddenNames.begin(), hiddenNames.end(), look.names[j]))
                builder_.SetHidden(static_cast<uint32_t>(look.first + j));
    }
    if (look.fd >= 0) HandOver(std::move(look));
    else Apply(look);
    if (!hiddenFolders.empty()) HiddenFolders(index, dir, host, std::move(hiddenFolders));
}

FolderLook CatalogueCollector::Listed(uint32_t index, const std::string& dir, const std::vector<std::string>& names) {
    FolderLook look;
    look.folder = index;
    look.where = dir;
    look.names = names;
    look.first = static_cast<uint32_t>(builder_.Count());
    for (const std::string& name : look.names) builder_.Add(index, name, EntryKind::File, 0, 0);
    return look;
}

void CatalogueCollector::Unlisted(uint32_t index, const std::string& dir, const std::string& host) {
    struct stat st;
    if (lstat(host.c_str(), &st) == 0)
        builder_.SetTime(index, Seconds(st.st_mtim));
    else
        Unread(dir, {}, errno);
}

void CatalogueCollector::HiddenFolders(uint32_t parent, const std::string& dir, const std::string& host,
                                       std::vector<std::string> names) {
    // Depth first, each folder's entries right after it, as the tree's folders come.
    struct Pending {
        uint32_t parent;
        std::string name, dir, host;
    };
    std::vector<Pending> stack;
    const auto push = [&](uint32_t p, const std::string& d, const std::string& h, std::vector<std::string>& sub) {
        std::sort(sub.begin(), sub.end());
        for (auto it = sub.rbegin(); it != sub.rend(); ++it)
            stack.push_back({p, *it, ShownChild(d, *it), HostJoin(h, *it)});
    };
    push(parent, dir, host, names);
    std::vector<std::string> files, folders;
    std::string scratch;
    while (!stack.empty()) {
        // The walk's own pace: one pump a folder, and Abort ends it here.
        ++ctx_.Progress.hiddenFolders;
        ctx_.Pump();
        if (ctx_.AbortFlag) return;
        for (const FolderLook& look : looker_.Take(false)) Apply(look);
        const Pending p = std::move(stack.back());
        stack.pop_back();
        const uint32_t index = builder_.Add(p.parent, p.name, EntryKind::Folder, 0, 0);
        builder_.SetHidden(index); // and so everything added below it
        files.clear();
        folders.clear();
        // Everything in it, hidden or not; folders on another file system are left out by
        // the search, and links are files, never followed.
        const bool read = ctx_.platform.FindFilesIn(
            p.host, false, "*", faDirectory | faHidden | faSysFile | faReadOnly | faArchive,
            [&](const SearchRec& r) {
                if (!(r.Attr & faDirectory)) files.push_back(r.Name);
                else if (r.Name != "." && r.Name != "..") folders.push_back(r.Name);
            });
        if (!read) {
            ctx_.Log("Skipped " + OneLineName(p.dir, scratch) + ": the folder cannot be read");
            Unlisted(index, p.dir, p.host);
            continue;
        }
        LookOrHand(Listed(index, p.dir, files), p.host);
        push(index, p.dir, p.host, folders);
    }
}

void CatalogueCollector::LookOrHand(FolderLook look, const std::string& host) {
    look.host = host;
    const int read = ctx_.platform.FolderFdOfLastRead(host);
    look.fd = read >= 0 ? fcntl(read, F_DUPFD_CLOEXEC, 0) : open(host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (look.fd >= 0) {
        HandOver(std::move(look));
        return;
    }
    LookAtFolder(look, read, host, &archives_);
    Apply(look);
}

void CatalogueCollector::FinishChecksums() {
    if (!checksums_) return;
    ApplyEveryLook();
    checksums_->Finish();
}

Catalogue CatalogueCollector::Finish(char d, const std::string& rootHost, bool stopped) {
    if (stopped) looker_.StopListings();
    ApplyEveryLook();
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
    f.archiveMode = static_cast<uint8_t>(archives_.mode);
    return builder_.Finish(std::move(f));
}

void CatalogueCollector::HandOver(FolderLook look) {
    // While the workers are full, what they give back is applied rather than left waiting:
    // a folder's archives listed wait in memory until the walk takes them.
    while (!looker_.HasRoom())
        for (const FolderLook& done : looker_.TakeNext()) Apply(done);
    looker_.Hand(std::move(look));
}

void CatalogueCollector::ApplyEveryLook() {
    for (std::deque<FolderLook> looks; !(looks = looker_.TakeNext()).empty();)
        for (const FolderLook& look : looks) Apply(look);
}

void CatalogueCollector::Apply(const FolderLook& look) {
    if (look.self.error == 0)
        builder_.SetTime(look.folder, look.self.mtime);
    else
        Unread(look.where, {}, look.self.error);
    for (size_t i = 0; i < look.found.size(); ++i) {
        const EntryLook& l = look.found[i];
        const auto entry = static_cast<uint32_t>(look.first + i);
        if (l.error == 0) {
            builder_.SetEntry(entry, l.kind, l.size, l.mtime);
            // Read while the walk goes on (the names may be gone from the look: the
            // catalogue has them).
            if (checksums_ && l.kind == EntryKind::File)
                checksums_->Hand(entry, HostJoin(look.host, std::string(builder_.Name(entry))), l.size);
        } else
            Unread(look.where, i < look.names.size() ? look.names[i] : std::string(), l.error);
    }
    for (const auto& [i, listing] : look.archives) AddMembers(static_cast<uint32_t>(look.first + i), listing);
}

void CatalogueCollector::AddMembers(uint32_t file, const ArchiveListing& listing) {
    // An archive entry is flagged before anything is added below it: that makes its members
    // members. One that could not be listed keeps why in its note.
    const auto mark = [&](uint32_t index, const ArchiveInfo& info) {
        switch (info.status) {
        case ArchiveStatus::Listed:
            builder_.SetArchive(index, false);
            return true;
        case ArchiveStatus::Partial:
            builder_.SetArchive(index, true);
            builder_.SetNote(index, info.reason);
            return true;
        case ArchiveStatus::Error:
            builder_.SetArchive(index, false);
            builder_.SetNote(index, info.reason);
            return false;
        default:
            return false;
        }
    };
    if (!mark(file, listing.Info())) return;
    std::vector<uint32_t> entryOf(listing.members.size());
    for (size_t m = 0; m < listing.members.size(); ++m) {
        const ArchiveMember& member = listing.members[m];
        const uint32_t parent = member.parent == kNoIndex ? file : entryOf[member.parent];
        entryOf[m] = builder_.Add(parent, listing.Name(m), static_cast<EntryKind>(member.kind), member.size,
                                  member.mtime);
        if (member.nested != kNoIndex) mark(entryOf[m], listing.archives[member.nested]);
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
