#pragma once
// Catalogue files damaged as disks and copies damage them, made from a catalogue the real
// writer wrote. Each leaves a file the reader must refuse without allocating what it claims.
#include <string>

namespace quindle::test {

enum class CatalogueDamage {
    Grown,      // a sparse file of 200 GB, the old bytes at its start (a failed copy, a file-system fault)
    LengthsOff, // the preamble's lengths add up to one byte more than the file holds
    HugeClaim,  // the header and the entries frame both claim 2^40 bytes of entries
    HugeCount,  // the header claims 4 billion entries, behind a sparse frame as long as they need
};
constexpr CatalogueDamage kCatalogueDamages[] = {CatalogueDamage::Grown, CatalogueDamage::LengthsOff,
                                                 CatalogueDamage::HugeClaim, CatalogueDamage::HugeCount};
const char* CatalogueDamageName(CatalogueDamage how);

// Damages the catalogue file at `path` in place.
void DamageCatalogue(const std::string& path, CatalogueDamage how);

} // namespace quindle::test
