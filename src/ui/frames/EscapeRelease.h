#pragma once
// Esc ends a window on its release, not on its press as dialogs do: a press that ended a
// window above (a file dialog, the matches) would otherwise see its release end this one
// too. The window watches the key events of its children (an event filter) and keeps one
// flag: whether the last Esc press went to another window.
#include <QDialog>
#include <QEvent>

namespace quindle {

// For keyPressEvent: true when the event is Esc, taken here and to be ignored further.
bool SwallowEscapePress(QEvent* event);
// For eventFilter: ends `dialog` with `result` on the release of an Esc pressed in it;
// true when the event was taken.
bool EndOnEscapeRelease(QDialog* dialog, int result, QObject* watched, QEvent* event, bool& pressedElsewhere);

} // namespace quindle
