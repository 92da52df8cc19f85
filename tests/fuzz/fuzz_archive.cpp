// Archive listing over arbitrary bytes, read from memory and from a file: no crash, no hang
// past the bounds, and every listing keeps its shape (members below their parents, one per
// path, no "." or ".." or "/" in a name, each member below the archive that holds it),
// whichever way the bytes are read and in either mode.
#include <cstdint>
#include <string>

#include "../archives/ListingShape.h"
#include "FuzzSupport.h"
#include "archives/Archives.h"

using namespace quindle;
using namespace quindle::fuzz;

namespace {

ArchiveOptions Options(ArchiveMode mode) {
    ArchiveOptions o;
    o.mode = mode;
    // Small enough that an input claiming much is cut quickly; the time bound stays far
    // away so that a run does not depend on the machine's speed.
    o.limits.maxMembers = 2000;
    o.limits.maxNameBytes = 1 << 20;
    o.limits.maxDecompressedBytes = 64 << 20;
    o.limits.maxMillis = 60'000;
    o.limits.indexedStreamBytes = 4096;
    o.limits.nestedBufferBytes = 1 << 20;
    return o;
}

void Check(const ArchiveListing& l, const char* how) {
    const std::string fault = quindle::test::ListingShapeFault(l);
    if (!fault.empty()) Fail(how, fault);
    if (l.members.size() > 2000) Fail("more members than the bound", how);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const ArchiveListing all = ListArchiveBytes(bytes, Options(ArchiveMode::All));
    Check(all, "memory, all");
    const ArchiveListing indexed = ListArchiveBytes(bytes, Options(ArchiveMode::Indexed));
    Check(indexed, "memory, indexed");
    // A zip listed from its own directory lists as libarchive lists it.
    ArchiveOptions throughLibarchive = Options(ArchiveMode::Indexed);
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
    const ArchiveListing fromFile = ListArchive(AT_FDCWD, path.c_str(), size, Options(ArchiveMode::All));
    Check(fromFile, "file, all");
    if (fromFile.Status() != all.Status() || fromFile.members.size() != all.members.size() ||
        fromFile.names != all.names)
        Fail("a file and the same bytes in memory list differently", all.Info().detail + " / " + fromFile.Info().detail);
    return 0;
}
