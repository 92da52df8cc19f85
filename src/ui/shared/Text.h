#pragma once
// The one conversion between the core's 8-bit strings and Qt's strings.
#include <QString>
#include <string>
#include <string_view>

#include "platform/CodePage.h"

namespace quindle {
inline QString ToQ(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
inline std::string FromQ(const QString& s) {
    const QByteArray b = s.toUtf8();
    return std::string(b.constData(), static_cast<size_t>(b.size()));
}
// A name from a record shown whole: a byte that is not UTF-8 shows as its Latin-1
// character (ShowableUtf8), where ToQ would show U+FFFD for it. The lists of matches and
// of a disk's contents, and the CSV files saved from them, show names this way.
inline QString NameToQ(std::string_view s) {
    const std::string u = ShowableUtf8(s);
    return QString::fromUtf8(u.data(), static_cast<qsizetype>(u.size()));
}
} // namespace quindle
