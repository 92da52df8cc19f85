#pragma once
// Package > "Verify E:...": the disk in drive E read again and compared with its catalogue,
// on a thread of its own, in a list window: progress (bytes, MB/s, time left) and Cancel
// while it reads, then every entry that differs, sortable, with a filter and "Save as
// CSV...". The counts go to the log. Nothing is written: not the record, not the catalogue.
#include <QString>

#include "app/AppContext.h"
#include "changes/DiskChanges.h"
#include "ui/app/UiServices.h"

class QWidget;

namespace quindle {

class TEntryListWindow;

// "Verify E:..." for the menu.
QString VerifyCommandText(char letter);

// Opens the window and starts reading `disk` (a disk of the package in its drive).
TEntryListWindow* ShowVerifyWindow(AppContext& ctx, UiServices& ui, QWidget* parent, const ConnectedDisk& disk);

} // namespace quindle
