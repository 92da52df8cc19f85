#include "records/FileSystemType.h"

#include <sys/statfs.h>

#include <cstdio>
#include <utility>

namespace quindle {

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

} // namespace quindle
