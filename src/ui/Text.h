#pragma once
// The one conversion between the core's 8-bit strings and Qt's strings.
#include <QString>
#include <string>

namespace quindle {
inline QString ToQ(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
inline std::string FromQ(const QString& s) {
    const QByteArray b = s.toUtf8();
    return std::string(b.constData(), static_cast<size_t>(b.size()));
}
} // namespace quindle
