#pragma once
// A record's catalogue in the package: "<serial>.cat" beside "<serial>.dat". Never "*.dat",
// so no listing or search takes it for a record. Opening one checks that it belongs to the
// record beside it; a catalogue that does not is never handed out, only the reason.
#include <optional>
#include <string>
#include <string_view>

#include "catalogue/Catalogue.h"
#include "catalogue/CatalogueFile.h"

namespace quindle {

// "<dir>/123.cat" for "<dir>/123.dat"; a path not ending in ".dat" gets ".cat" appended.
std::string CataloguePathOf(const std::string& recordPath);

// The catalogue of the record at recordPath, whole, or the reason it cannot be used. Neither
// opener throws: a file that cannot be read, however damaged, is a reason.
struct DiskCatalogue {
    CatalogueProblem problem = CatalogueProblem::Missing;
    std::optional<Catalogue> catalogue; // set exactly when problem is None
};
DiskCatalogue OpenDiskCatalogue(const std::string& recordPath, std::string_view infoSection);

// Its header alone (figures, binding, complete flag), checked against the record the same way.
struct DiskCatalogueHeader {
    CatalogueProblem problem = CatalogueProblem::Missing;
    std::optional<CatalogueHeader> header;
};
DiskCatalogueHeader OpenDiskCatalogueHeader(const std::string& recordPath, std::string_view infoSection);

// Removes the catalogue of a record (nothing when there is none); false when one stays.
bool RemoveDiskCatalogue(const std::string& recordPath);

} // namespace quindle
