#include "ui/frames/WindowFrame.h"

#include <QWidget>
#include <QWindow>

namespace quindle {

QRect FrameGeometry(const QWidget& window) {
    if (const QWindow* w = window.windowHandle(); w && w->handle()) return w->frameGeometry();
    return window.frameGeometry();
}

void MoveFrame(QWidget& window, QPoint topLeft) {
    if (QWindow* w = window.windowHandle(); w && w->handle())
        w->setFramePosition(topLeft);
    else
        window.move(topLeft);
}

} // namespace quindle
