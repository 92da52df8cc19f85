#include "ui/PackageSearch.h"

namespace quindle {

void RunPackageSearch(AppContext&, UiServices&, TMainForm&, TCollectForm&, TSearchForm&) {}

} // namespace quindle
