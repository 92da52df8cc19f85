#pragma once
// The window manager's request to close a window (its close box, Alt+F4, a logout) that a
// modal dialog blocks. Qt drops such a request before any event or event filter sees it.
// On X11 this filter meets it as it arrives, a WM_DELETE_WINDOW client message for the
// window, and hands it to a handler while a modal window blocks it; other platforms and
// unblocked windows keep Qt's own handling.
#include <QAbstractNativeEventFilter>
#include <cstdint>
#include <functional>

class QWidget;

namespace quindle {

class BlockedCloseFilter : public QAbstractNativeEventFilter {
public:
    // `handler` returns true when it takes the request (it then never reaches Qt). The
    // filter installs itself on the application and removes itself when destroyed.
    BlockedCloseFilter(const QWidget& window, std::function<bool()> handler);
    ~BlockedCloseFilter() override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    const QWidget& window_;
    std::function<bool()> handler_;
    uint32_t wmProtocols_ = 0, wmDeleteWindow_ = 0; // the X atoms; 0 when not on X11
};

} // namespace quindle
