#include "records/Memorizer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

#include "catalogue/CatalogueFile.h"
#include "catalogue/RecordBinding.h"
#include "platform/CodePage.h"
#include "platform/Errors.h"
#include "records/DiskRecord.h"
#include "records/DiskWalk.h"
#include "records/IniFile.h"
#include "records/RecordCommit.h"

namespace quindle {

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

void MemorizeDisk(AppContext& ctx, TDirectoryOutline& tree, TFileListBox& lister, char d, const std::string& path,
                  const std::function<void(TIniFile32&)>& finish,
                  const std::function<void(const Catalogue&)>& onWalked, const WalkOptions& options) {
    const ShareReads share(ctx.platform);
    StartWalk(ctx, tree, lister, d);

    const std::string temp = CreateWalkFile(path);
    std::string catalogueTemp;
    try {
        std::optional<WalkedCatalogue> walked = WalkDrive(ctx, tree, lister, d, temp, finish, options);
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
                          const std::function<void(const Catalogue&)>& walked, const WalkOptions& options) {
    // Written also when the walk stopped on Abort: the partial record keeps its information.
    // It goes into the walk's file before that replaces the record, so no record is ever
    // seen without its information section.
    MemorizeDisk(
        ctx, tree, lister, d, path,
        [&](TIniFile32& walked) {
            WriteDiskInfo(ctx, walked, serial, NowAsMemorizationDate(), info.title, info.description,
                          info.additional);
        },
        walked, options);
    return !ctx.AbortFlag;
}

} // namespace quindle
