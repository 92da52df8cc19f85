#pragma once
// The program's four windows, created once each and in this order: main window,
// package dialog, about box, search report. Tests build the same object.
#include <memory>

#include "app/AppContext.h"
#include "settings/UserSettings.h"
#include "ui/package/CollectForm.h"
#include "ui/app/DiskWatch.h"
#include "ui/main/InfoForm.h"
#include "ui/main/MainForm.h"
#include "ui/search/SearchForm.h"

namespace quindle {

// The application font the windows are laid out for: the desktop's sans font at a small
// dialog size (8 points). The dialogs set their own pixel sizes; the main window uses it.
void SetProgramFont();

struct Application {
    Application(UiServices& ui, const QString& programFile);
    ~Application();

    AppContext ctx;
    std::unique_ptr<TMainForm> MainForm;
    std::unique_ptr<TCollectForm> CollectForm;
    std::unique_ptr<TInfoForm> InfoForm;
    std::unique_ptr<TSearchForm> SearchForm;
    // Which disks of the package are in a drive, from the mount table's notifications.
    std::unique_ptr<DiskWatch> Watch;
    // Package menu: the copies across the package, and the files of a disk with no copy.
    QAction* Disks1 = nullptr;
    QAction* Copies1 = nullptr;
    QAction* Unique1 = nullptr;
};

} // namespace quindle
