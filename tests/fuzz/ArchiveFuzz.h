#pragma once
// What the archive fuzz targets share: the bounds a listing runs within, and the checks
// every listing must pass.
#include <string>

#include "../archives/ListingShape.h"
#include "FuzzSupport.h"
#include "archives/Archives.h"

namespace quindle::fuzz {

inline ArchiveOptions ArchiveFuzzOptions(ArchiveMode mode) {
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

// Members below their parents, one per path, no "." or ".." or "/" in a name, each below
// the archive that holds it, and no more than the bound.
inline void CheckListing(const ArchiveListing& l, const char* how) {
    const std::string fault = quindle::test::ListingShapeFault(l);
    if (!fault.empty()) Fail(how, fault);
    if (l.members.size() > 2000) Fail("more members than the bound", how);
}

} // namespace quindle::fuzz
