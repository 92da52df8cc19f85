#pragma once
// Real input for the desktop tests: xdotool sends X events (XTest) to the X server, which
// hands them to the windows exactly as a mouse and a keyboard would.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPoint>
#include <QProcess>
#include <QStringList>
#include <QThread>
#include <QWidget>
#include <QWindow>
#include <cstdio>
#include <functional>

#include "WaitFor.h"

namespace quindle::test {

inline bool& HaveDesktopFlag() {
    static bool have = false;
    return have;
}
inline bool HaveDesktop() { return HaveDesktopFlag(); }
inline void SetHaveDesktop(bool v) { HaveDesktopFlag() = v; }

// Runs xdotool with the arguments; true when it succeeded.
inline bool Xdo(const QStringList& args) { return QProcess::execute(QStringLiteral("xdotool"), args) == 0; }

inline QString WinId(const QWidget* w) { return QString::number(w->winId()); }

// Activates a shown window through the window manager and waits until Qt sees it active.
inline bool Activate(QWidget* w) {
    Xdo({QStringLiteral("windowactivate"), QStringLiteral("--sync"), WinId(w)});
    return WaitFor([w] { return w->isActiveWindow() && w->windowHandle() && w->windowHandle()->isExposed(); });
}

// A real left click at a widget's point (its own coordinates).
inline bool ClickAt(const QWidget* w, QPoint p) {
    const QPoint g = w->mapToGlobal(p);
    return Xdo({QStringLiteral("mousemove"), QString::number(g.x()), QString::number(g.y()),
                QStringLiteral("click"), QStringLiteral("1")});
}

// The whole screen into <build>/desktop-failures/<name>.png, while the windows still show.
inline void Screenshot(const QString& name) {
    const QString dir = QStringLiteral(QUINDLE_BINARY_DIR "/desktop-failures");
    QProcess::execute(QStringLiteral("mkdir"), {QStringLiteral("-p"), dir});
    const QString file = dir + QLatin1Char('/') + name + QStringLiteral(".png");
    QProcess::execute(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), file});
    fprintf(stderr, "screenshot: %s\n", qPrintable(file));
}

inline bool Key(const QString& keys) { return Xdo({QStringLiteral("key"), keys}); }
inline bool Type(const QString& text) { return Xdo({QStringLiteral("type"), text}); }

// ---- the real program as its own process ----

// The window manager's window of process `pid` whose title is `title` ("" when none),
// from wmctrl's list: "<id> <desktop> <pid> <host> <title>".
inline QString ClientWindow(qint64 pid, const QString& title) {
    QProcess list;
    list.start(QStringLiteral("wmctrl"), {QStringLiteral("-l"), QStringLiteral("-p")});
    if (!list.waitForFinished(5000)) return {};
    for (const QByteArray& raw : list.readAllStandardOutput().split('\n')) {
        const QStringList f = QString::fromUtf8(raw).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (f.size() < 5 || f[2] != QString::number(pid)) continue;
        if (f.mid(4).join(QLatin1Char(' ')) == title) return f[0];
    }
    return {};
}

// wmctrl's hexadecimal window id as xdotool takes it.
inline QString Decimal(const QString& hexId) { return QString::number(hexId.toULong(nullptr, 16)); }

// The window that has the keyboard focus, as xdotool names it.
inline QString FocusedWindow() {
    QProcess q;
    q.start(QStringLiteral("xdotool"), {QStringLiteral("getwindowfocus")});
    if (!q.waitForFinished(5000)) return {};
    return QString::fromUtf8(q.readAllStandardOutput().trimmed());
}

inline bool WaitForProcess(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) return false;
        QThread::msleep(20);
    }
    return true;
}

} // namespace quindle::test
