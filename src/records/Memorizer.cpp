#include "records/Memorizer.h"

#include "browse/DirectoryOutline.h"
#include "browse/FileListBox.h"
#include "platform/CodePage.h"
#include "records/DiskRecord.h"
#include "records/IniFile.h"
#include "platform/Errors.h"

#include <fcntl.h>
#include <unistd.h>

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
    tree.SetDrive('c');
    tree.SetDrive(d);
    lister.OpenPath("c:\\");
    lister.OpenPath(std::string(1, d) + ":\\");
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

void MemorizeDisk(AppContext& ctx, TDirectoryOutline& tree, TFileListBox& lister, char d, const std::string& path) {
    // The tree and the lister read each directory one right after the other: the second
    // read takes the first one's entries while the directory is unchanged.
    struct ShareReads {
        Platform& p;
        explicit ShareReads(Platform& pf) : p(pf) { p.SetShareRepeatedRead(true); }
        ~ShareReads() { p.SetShareRepeatedRead(false); }
    } share(ctx.platform);
    ResetBrowsers(tree, lister, d);
    if (ctx.platform.FileExists(path)) ctx.platform.DeleteFile(path);

    {
        // Deferred: the store writes at the checkpoints below and when it goes out of
        // scope, also when an error leaves this block.
        TIniFile32 store(path);
        store.SetDeferred(true);
        ctx.AbortFlag = false;
        std::string scratch;
        for (int i = 1; i <= tree.ItemCount(); ++i) {
            store.Checkpoint();
            ctx.Pump();
            if (ctx.AbortFlag) {
                ctx.Log("Operation aborted by user");
                break;
            }
            if (i > tree.ItemCount()) break; // the tree may have changed during the pump
            tree.SetSelectedItem(i);
            tree.Items(i)->Expand();
            const std::string dir = tree.Directory();
            // A directory that cannot be entered (no permission, removed meanwhile) leaves
            // the lister on the previous one, whose names must not land in this
            // directory's section: such a directory is skipped.
            try {
                lister.OpenPath(dir);
            } catch (const EInvalidOperation&) {
                continue;
            }
            if (!SameText(lister.Directory(), dir)) continue;
            std::string section = FirstFolderName(dir);
            if (section.empty()) section = dir;
            const auto& names = lister.Items();
            for (size_t j = 0; j < names.size(); ++j)
                store.WriteString(section, OneLineName(names[j], scratch), std::to_string(j + 1));
        }
        store.Checkpoint();
    }
    // A disk without any file still gets its record, so that it shows in the package.
    if (!ctx.platform.FileExists(path)) {
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) throw EFileError(Format("Cannot create file %s", path));
        close(fd);
    }
    HideFile(ctx, path);
}

bool MemorizeDiskWithInfo(AppContext& ctx, TDirectoryOutline& tree, TFileListBox& lister, char d,
                          const std::string& serial, const std::string& path, const DiskInfoFields& info) {
    MemorizeDisk(ctx, tree, lister, d, path);
    // Written also when the walk stopped on Abort: the partial record keeps its information.
    WriteDiskInfo(ctx, path, serial, NowAsMemorizationDate(), info.title, info.description, info.additional);
    return !ctx.AbortFlag;
}

} // namespace quindle
