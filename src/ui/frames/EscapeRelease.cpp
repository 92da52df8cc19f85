#include "ui/frames/EscapeRelease.h"

#include <QKeyEvent>
#include <QWidget>

#include <utility>

namespace quindle {

bool SwallowEscapePress(QEvent* event) {
    auto* k = static_cast<QKeyEvent*>(event);
    if (k->key() != Qt::Key_Escape) return false;
    event->accept();
    return true;
}

bool EndOnEscapeRelease(QDialog* dialog, int result, QObject* watched, QEvent* event, bool& pressedElsewhere) {
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease) return false;
    auto* w = qobject_cast<QWidget*>(watched);
    auto* k = static_cast<QKeyEvent*>(event);
    if (!w || k->key() != Qt::Key_Escape || k->isAutoRepeat()) return false;
    if (event->type() == QEvent::KeyPress) {
        pressedElsewhere = w->window() != dialog;
        return false;
    }
    if (w->window() != dialog) return false;
    if (!std::exchange(pressedElsewhere, false)) dialog->done(result);
    return true;
}

} // namespace quindle
