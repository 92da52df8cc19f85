#include "catalogue/DiskCatalogue.h"

#include <unistd.h>

#include <cerrno>

#include "catalogue/RecordBinding.h"

namespace quindle {

std::string CataloguePathOf(const std::string& recordPath) {
    const std::string_view dat = ".dat";
    if (recordPath.size() >= dat.size() && recordPath.compare(recordPath.size() - dat.size(), dat.size(), dat) == 0)
        return recordPath.substr(0, recordPath.size() - dat.size()) + ".cat";
    return recordPath + ".cat";
}

DiskCatalogueHeader OpenDiskCatalogueHeader(const std::string& recordPath, std::string_view infoSection) {
    DiskCatalogueHeader out;
    auto header = ReadCatalogueHeaderFile(CataloguePathOf(recordPath), out.problem);
    if (!header) return out;
    out.problem = CheckBinding(header->binding, recordPath, infoSection);
    if (out.problem == CatalogueProblem::None) out.header = std::move(header);
    return out;
}

DiskCatalogue OpenDiskCatalogue(const std::string& recordPath, std::string_view infoSection) {
    DiskCatalogue out;
    // The binding first: the header is cheap, the entries are not.
    const DiskCatalogueHeader head = OpenDiskCatalogueHeader(recordPath, infoSection);
    out.problem = head.problem;
    if (out.problem != CatalogueProblem::None) return out;
    auto cat = ReadCatalogueFile(CataloguePathOf(recordPath), out.problem);
    // Replaced between the two reads: what was read must still be what was checked.
    if (cat && cat->header.binding.digestLow != head.header->binding.digestLow)
        out.problem = CheckBinding(cat->header.binding, recordPath, infoSection);
    if (cat && out.problem == CatalogueProblem::None) out.catalogue = std::move(cat);
    return out;
}

bool RemoveDiskCatalogue(const std::string& recordPath) {
    return unlink(CataloguePathOf(recordPath).c_str()) == 0 || errno == ENOENT;
}

} // namespace quindle
