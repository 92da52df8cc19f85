#include "ui/widgets/WalkTicker.h"

#include "ui/shared/Formats.h"

#include <algorithm>

namespace quindle {

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
    // The checksum phase: bytes read, the pace and the time left.
    if (!p.reading.empty()) return QStringLiteral("checksums: ") + QString::fromStdString(p.reading);
    QString text = Counted(static_cast<uint64_t>(std::max(0L, p.folders)), "folder", "folders");
    if (withFiles) text += QStringLiteral(", ") + Counted(static_cast<uint64_t>(std::max(0L, p.files)), "file", "files");
    // "4.2 s" for a short walk, "12:05" once it takes minutes.
    if (seconds < 60) return text + QStringLiteral(", %1.%2 s").arg(seconds).arg(tenths % 10);
    return text + QStringLiteral(", %1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace quindle
