#pragma once
// Waiting for a window's work in a gtest test: unlike QTRY_VERIFY, whose failure returns from
// the test without gtest seeing it, the answer goes to an ASSERT.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <functional>

namespace quindle::test {

// Pumps the program's events until `done` holds (true) or `ms` milliseconds have passed (false).
inline bool WaitFor(const std::function<bool()>& done, int ms = 15000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

} // namespace quindle::test
