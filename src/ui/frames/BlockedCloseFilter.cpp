#include "ui/frames/BlockedCloseFilter.h"

#include <QApplication>
#include <QGuiApplication>
#include <QWidget>
#include <QWindow>
#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

namespace quindle {

namespace {
uint32_t InternAtom(xcb_connection_t* c, const char* name) {
    const auto cookie = xcb_intern_atom(c, 0, static_cast<uint16_t>(strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, cookie, nullptr);
    const uint32_t atom = reply ? reply->atom : 0;
    free(reply);
    return atom;
}
} // namespace

BlockedCloseFilter::BlockedCloseFilter(const QWidget& window, std::function<bool()> handler)
    : window_(window), handler_(std::move(handler)) {
    // (The offscreen platform offers the interface without a connection.)
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (xcb_connection_t* c = x11 ? x11->connection() : nullptr) {
        wmProtocols_ = InternAtom(c, "WM_PROTOCOLS");
        wmDeleteWindow_ = InternAtom(c, "WM_DELETE_WINDOW");
    }
    if (wmProtocols_ && wmDeleteWindow_) QCoreApplication::instance()->installNativeEventFilter(this);
}

BlockedCloseFilter::~BlockedCloseFilter() {
    if (QCoreApplication::instance()) QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool BlockedCloseFilter::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t") return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE) return false;
    const auto* m = reinterpret_cast<const xcb_client_message_event_t*>(event);
    if (m->format != 32 || m->type != wmProtocols_ || m->data.data32[0] != wmDeleteWindow_) return false;
    if (!window_.internalWinId() || m->window != window_.internalWinId()) return false;
    // Unblocked, Qt delivers the close itself.
    const QWidget* modal = QApplication::activeModalWidget();
    if (!modal || modal == &window_) return false;
    return handler_();
}

} // namespace quindle
