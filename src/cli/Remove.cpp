// quindle-cli remove: takes a disk's record and catalogue out of the package.
#include <cerrno>
#include <cstring>

#include "catalogue/DiskCatalogue.h"
#include "cli/Cli.h"
#include "records/DiskRecord.h"

namespace quindle::cli {

int Remove(AppContext& ctx, const DiskOptions& o) {
    const std::string path = RecordOfDisk(ctx, o.serial);
    if (!ctx.platform.DeleteFile(path)) throw std::runtime_error("cannot delete " + path + ": " + std::strerror(errno));
    // The catalogue goes with its record; one left behind is never shown.
    if (!RemoveDiskCatalogue(path))
        Message("cannot delete " + CataloguePathOf(path) + ": " + std::strerror(errno));
    return kOk;
}

} // namespace quindle::cli
