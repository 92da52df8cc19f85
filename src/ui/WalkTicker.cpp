#include "ui/WalkTicker.h"

namespace quindle {

namespace {

// 1234567 -> "1,234,567": the figures read the same whatever the locale.
QString Grouped(long n) {
    QString digits = QString::number(n < 0 ? -n : n);
    for (int at = digits.size() - 3; at > 0; at -= 3) digits.insert(at, QLatin1Char(','));
    return n < 0 ? QLatin1Char('-') + digits : digits;
}

} // namespace

WalkTicker::WalkTicker(const WalkProgress& progress, bool withFiles, std::function<void(const QString&)> show)
    : progress_(progress), withFiles_(withFiles), show_(std::move(show)) {
    timer_.setInterval(kTickMs);
    connect(&timer_, &QTimer::timeout, this, [this] { show_(Text()); });
}

void WalkTicker::Start() { timer_.start(); }

void WalkTicker::Stop() {
    timer_.stop();
    show_(Text());
}

QString WalkTicker::Text() const { return Figures(progress_, withFiles_, std::chrono::steady_clock::now()); }

QString WalkTicker::Figures(const WalkProgress& p, bool withFiles, std::chrono::steady_clock::time_point now) {
    const long tenths =
        static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(now - p.started).count() / 100);
    const long seconds = tenths / 10;
    QString text = Grouped(p.folders) + (p.folders == 1 ? QStringLiteral(" folder") : QStringLiteral(" folders"));
    if (withFiles) text += QStringLiteral(", ") + Grouped(p.files) + (p.files == 1 ? QStringLiteral(" file") : QStringLiteral(" files"));
    // "4.2 s" for a short walk, "12:05" once it takes minutes.
    if (seconds < 60) return text + QStringLiteral(", %1.%2 s").arg(seconds).arg(tenths % 10);
    return text + QStringLiteral(", %1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace quindle
