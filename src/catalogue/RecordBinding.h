#pragma once
// The tie between a record and its catalogue. The bound part of a record is every byte
// before the header line of its information section (the first line whose whole text is
// "[" + info section + "]", ignoring ASCII case, as the store finds it), followed by the
// values of "Volume Serial" and "Memorization Date" in that section. Package > Update
// rewrites only the information section and writes those two values back unchanged, so
// it keeps the tie; another walk of the disk (a record restored from a backup, copied from
// another package, or left by a kill between the two renames) changes the date at least.
#include <optional>
#include <string>
#include <string_view>

#include "catalogue/Catalogue.h"
#include "catalogue/CatalogueFile.h"

namespace quindle {

// The binding of a record's whole text (the identity fields stay 0).
RecordBinding BindingOfRecordText(std::string_view record, std::string_view infoSection);

// The binding of the record file at `path`, identity fields included; nullopt when it
// cannot be read.
std::optional<RecordBinding> BindingOfRecordFile(const std::string& path, std::string_view infoSection);

// Whether the catalogue whose header holds `bound` belongs to the record at `path`: None,
// NotBound, NoRecord (no file there) or Unreadable.
CatalogueProblem CheckBinding(const RecordBinding& bound, const std::string& path, std::string_view infoSection);

} // namespace quindle
