// quindle-cli drives: the drive table.
#include <algorithm>

#include "cli/Cli.h"
#include "records/Memorizer.h"

namespace quindle::cli {

namespace {

const char* KindName(DriveKind k) {
    switch (k) {
    case DriveKind::Removable: return "removable";
    case DriveKind::Fixed: return "fixed";
    case DriveKind::Remote: return "remote";
    case DriveKind::CDRom: return "cdrom";
    case DriveKind::RamDisk: return "ramdisk";
    case DriveKind::NoRootDir: return "noroot";
    case DriveKind::Unknown: break;
    }
    return "unknown";
}

} // namespace

int Drives(AppContext& ctx) {
    std::vector<DriveInfo> drives = ctx.platform.Drives();
    std::sort(drives.begin(), drives.end(), [](const DriveInfo& x, const DriveInfo& y) { return x.letter < y.letter; });
    for (const DriveInfo& d : drives) {
        const std::string serial = GetVolumeSerial(ctx, d.letter);
        const std::string label = ctx.platform.GetVolumeLabel(d.letter).value_or("");
        Out(std::string(1, d.letter) + ":\t" + KindName(d.kind) + "\t" + serial + "\t" + label + "\t" + d.root + "\n");
    }
    return kOk;
}

} // namespace quindle::cli
