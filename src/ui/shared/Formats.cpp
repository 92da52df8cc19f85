#include "ui/shared/Formats.h"

#include <QDateTime>
#include <QLocale>

namespace quindle {

QString GroupedNumber(uint64_t n) { return QLocale().toString(static_cast<qulonglong>(n)); }

QString Counted(uint64_t n, const char* one, const char* many) {
    return GroupedNumber(n) + QLatin1Char(' ') + QString::fromUtf8(n == 1 ? one : many);
}

QString SizeText(uint64_t bytes) {
    if (bytes < 1024) return QStringLiteral("%1 B").arg(bytes);
    const char* units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    double v = static_cast<double>(bytes) / 1024.0;
    int u = 0;
    while (v >= 1024.0 && u < 5) {
        v /= 1024.0;
        ++u;
    }
    // Three significant digits: "1.23 GB", "12.3 MB", "123 KB".
    const int decimals = v < 10 ? 2 : (v < 100 ? 1 : 0);
    return QString::number(v, 'f', decimals) + QLatin1Char(' ') + QLatin1String(units[u]);
}

QString DateText(int64_t seconds) {
    return QDateTime::fromSecsSinceEpoch(seconds).toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
}

} // namespace quindle
