// quindle-cli remove: takes a disk's record and catalogue out of the package.
#include <cerrno>
#include <cstring>

#include "catalogue/DiskCatalogue.h"
#include "cli/Cli.h"
#include "records/DiskRecord.h"

namespace quindle::cli {

int Remove(AppContext& ctx, const DiskOptions& o) {
    const std::string serial = std::to_string(o.serial);
    const std::string path = RecordPath(ctx, serial);
    if (!ctx.platform.FileExists(path)) throw UsageError("remove: no disk " + serial + " in the package");
    if (!ctx.platform.DeleteFile(path)) throw UsageError("remove: cannot delete " + path + ": " + std::strerror(errno));
    // The catalogue goes with its record; one left behind is never shown.
    if (!RemoveDiskCatalogue(path))
        Message("remove: cannot delete " + CataloguePathOf(path) + ": " + std::strerror(errno));
    return kOk;
}

} // namespace quindle::cli
