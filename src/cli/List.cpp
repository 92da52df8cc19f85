// quindle-cli list: serial, title, date and description of every disk.
#include "cli/Cli.h"
#include "package/Package.h"
#include "records/DiskRecord.h"
#include "platform/Errors.h"
#include "search/RecordLines.h"

namespace quindle::cli {

int List(AppContext& ctx) {
    int status = kOk;
    for (const std::string& name : PackageRecordFiles(ctx)) {
        const std::string path = ctx.PackageFolder + name;
        try {
            if (!ctx.platform.FileExists(path)) continue; // deleted since the listing
            const DiskInfo info = ReadDiskInfo(path, ctx.InfoSection);
            if (!info.readable) throw EFileError(Format("Cannot open file %s", path));
            Out(info.serial + "\t" + info.title + "\t" + info.date + "\t" + info.description + "\n");
        } catch (const std::exception& e) {
            Message(e.what());
            status = kError;
        }
    }
    return status;
}

} // namespace quindle::cli
