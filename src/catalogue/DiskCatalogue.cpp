#include "catalogue/DiskCatalogue.h"

#include <unistd.h>

#include <cerrno>
#include <new>

#include "catalogue/RecordBinding.h"

namespace quindle {

std::string CataloguePathOf(const std::string& recordPath) {
    const std::string_view dat = ".dat";
    if (recordPath.size() >= dat.size() && recordPath.compare(recordPath.size() - dat.size(), dat.size(), dat) == 0)
        return recordPath.substr(0, recordPath.size() - dat.size()) + ".cat";
    return recordPath + ".cat";
}

namespace {

// What an exception while reading means for the one who asked: never more than that the
// catalogue cannot be used.
CatalogueProblem ProblemOf(const std::exception& e) {
    return dynamic_cast<const std::bad_alloc*>(&e) ? CatalogueProblem::TooLarge : CatalogueProblem::Unreadable;
}

} // namespace

DiskCatalogueHeader OpenDiskCatalogueHeader(const std::string& recordPath, std::string_view infoSection) {
    DiskCatalogueHeader out;
    try {
        auto header = ReadCatalogueHeaderFile(CataloguePathOf(recordPath), out.problem);
        if (!header) return out;
        out.problem = CheckBinding(header->binding, recordPath, infoSection);
        if (out.problem == CatalogueProblem::None) out.header = std::move(header);
    } catch (const std::exception& e) {
        out = {ProblemOf(e), std::nullopt};
    }
    return out;
}

DiskCatalogue OpenDiskCatalogue(const std::string& recordPath, std::string_view infoSection) {
    DiskCatalogue out;
    try {
        // The binding first: the header is cheap, the entries are not.
        const DiskCatalogueHeader head = OpenDiskCatalogueHeader(recordPath, infoSection);
        out.problem = head.problem;
        if (out.problem != CatalogueProblem::None) return out;
        auto cat = ReadCatalogueFile(CataloguePathOf(recordPath), out.problem);
        // Replaced between the two reads: what was read must still be what was checked.
        if (cat && cat->header.binding.digestLow != head.header->binding.digestLow)
            out.problem = CheckBinding(cat->header.binding, recordPath, infoSection);
        if (cat && out.problem == CatalogueProblem::None) out.catalogue = std::move(cat);
    } catch (const std::exception& e) {
        out.catalogue.reset();
        out.problem = ProblemOf(e);
    }
    return out;
}

bool RemoveDiskCatalogue(const std::string& recordPath) {
    return unlink(CataloguePathOf(recordPath).c_str()) == 0 || errno == ENOENT;
}

} // namespace quindle
