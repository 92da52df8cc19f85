#pragma once
// The Search command: counts the word of the main window's search box in the record of
// every checked disk of the package dialog's list and shows the report.
#include "app/AppContext.h"
#include "ui/app/UiServices.h"

namespace quindle {

class TMainForm;
class TCollectForm;
class TSearchForm;

void RunPackageSearch(AppContext& ctx, UiServices& ui, TMainForm& main, TCollectForm& collect, TSearchForm& report);

} // namespace quindle
