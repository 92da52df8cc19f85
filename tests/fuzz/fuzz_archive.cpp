// Archive listing over arbitrary bytes, read from memory and from a file: no crash, no hang
// past the bounds, and every listing keeps its shape (members below their parents, one per
// path, no "." or ".." or "/" in a name, each member below the archive that holds it),
// whichever way the bytes are read and in either mode.
#include <cstdint>
#include <string>

#include "ArchiveFuzz.h"

using namespace quindle;
using namespace quindle::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const ArchiveListing all = ListArchiveBytes(bytes, ArchiveFuzzOptions(ArchiveMode::All));
    CheckListing(all, "memory, all");
    const ArchiveListing indexed = ListArchiveBytes(bytes, ArchiveFuzzOptions(ArchiveMode::Indexed));
    CheckListing(indexed, "memory, indexed");
    // A zip listed from its own directory lists as libarchive lists it.
    ArchiveOptions throughLibarchive = ArchiveFuzzOptions(ArchiveMode::Indexed);
    throughLibarchive.zipIndex = false;
    const ArchiveListing other = ListArchiveBytes(bytes, throughLibarchive);
    if (indexed.Status() != other.Status() || indexed.Info().format != other.Info().format ||
        indexed.droppedMembers != other.droppedMembers || indexed.names != other.names ||
        indexed.members.size() != other.members.size())
        Fail("a zip's directory and libarchive list differently", other.Info().reason + " " + other.Info().detail);
    for (size_t i = 0; i < indexed.members.size(); ++i) {
        const ArchiveMember &a = indexed.members[i], &b = other.members[i];
        if (a.parent != b.parent || a.kind != b.kind || a.size != b.size || a.mtime != b.mtime || a.implied != b.implied ||
            a.archive != b.archive || a.nested != b.nested)
            Fail("a zip's directory and libarchive give a member differently", std::string(indexed.Name(i)));
    }

    // The same bytes as a file: read with pread, in blocks of their own size.
    static const std::string path = ScratchFolder() + "/archive";
    WriteWhole(path, bytes);
    const ArchiveListing fromFile = ListArchive(AT_FDCWD, path.c_str(), size, ArchiveFuzzOptions(ArchiveMode::All));
    CheckListing(fromFile, "file, all");
    if (fromFile.Status() != all.Status() || fromFile.members.size() != all.members.size() ||
        fromFile.names != all.names)
        Fail("a file and the same bytes in memory list differently", all.Info().detail + " / " + fromFile.Info().detail);
    return 0;
}
