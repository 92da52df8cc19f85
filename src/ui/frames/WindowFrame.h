#pragma once
// A top-level window's frame as the window manager has placed it.
//
// QWidget::frameGeometry(), pos() and move() use the frame width Qt saw at the window's
// last move. When that move came before the window manager framed the window, and the
// framing itself moved nothing, they keep treating the client area as the frame (a move
// then puts the title bar above the point asked). The native window reads the frame
// width again at every configure, so these go through it once it exists.
#include <QPoint>
#include <QRect>

class QWidget;

namespace quindle {

QRect FrameGeometry(const QWidget& window);
// Puts the frame's top-left corner at `topLeft` (the client area, before the window exists).
void MoveFrame(QWidget& window, QPoint topLeft);

} // namespace quindle
