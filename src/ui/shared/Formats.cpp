#include "ui/shared/Formats.h"

#include "checksums/ProgressText.h"

#include <QDateTime>
#include <QLocale>

namespace quindle {

QString GroupedNumber(uint64_t n) { return QLocale().toString(static_cast<qulonglong>(n)); }

QString Counted(uint64_t n, const char* one, const char* many) {
    return GroupedNumber(n) + QLatin1Char(' ') + QString::fromUtf8(n == 1 ? one : many);
}

QString SizeText(uint64_t bytes) { return QString::fromStdString(ByteSizeText(bytes)); }

QString DateText(int64_t seconds) {
    return QDateTime::fromSecsSinceEpoch(seconds).toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
}

} // namespace quindle
