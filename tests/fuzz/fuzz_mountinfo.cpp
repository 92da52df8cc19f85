// ParseMountInfo and drive discovery over arbitrary text: no crash, and the table keeps
// its shape whatever the mounts say.
#include <cstdint>
#include <set>
#include <string>

#include "FuzzSupport.h"
#include "platform/Drives.h"

using namespace quindle;
using namespace quindle::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto mounts = ParseMountInfo(text);
    for (const auto& m : mounts) {
        if (m.root.empty() || m.root[0] != '/') Fail("a mount root not beginning with /", m.root);
        if (m.mountPoint.empty() || m.mountPoint[0] != '/') Fail("a mount point not beginning with /", m.mountPoint);
    }
    // No sysfs, no udev: discovery must not need them.
    const SystemPaths nowhere{"/nonexistent-sysfs", "/nonexistent-dev", "/nonexistent-udev"};
    const auto drives = DiscoverDrives(mounts, nowhere);
    std::set<char> letters;
    for (const auto& d : drives) {
        if (d.letter < 'C' || d.letter > 'Z') Fail("a letter outside C..Z", std::string(1, d.letter));
        if (!letters.insert(d.letter).second) Fail("a letter given twice", std::string(1, d.letter));
        if ((d.letter == 'C') != (d.root == "/")) Fail("C: is the root file system and only it", d.root);
        if (d.root.empty()) Fail("a drive without a root folder");
    }
    // A user mapping on top must keep letters unique as well.
    const std::vector<DriveMapping> mapping = {{'D', "/mnt", "cdrom", "12", ""}, {'c', "/tmp", "", "", ""}};
    std::set<char> all;
    for (const auto& d : BuildDriveTable(mapping, mounts, nowhere))
        if (d.letter < 'A' || d.letter > 'Z' || !all.insert(d.letter).second)
            Fail("table letters not unique", std::string(1, d.letter));
    return 0;
}
