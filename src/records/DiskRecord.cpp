#include "records/DiskRecord.h"

#include <cstdio>

#include "records/IniFile.h"

namespace quindle {

std::string RecordPath(const AppContext& ctx, const std::string& serial) {
    return ctx.PackageFolder + serial + ".dat";
}

std::string SerialOfRecordName(const std::string& fileName) {
    const size_t slash = fileName.find_last_of("/\\");
    std::string serial = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
    serial.resize(serial.size() >= 4 ? serial.size() - 4 : 0); // ".dat"
    return serial;
}

void WriteDiskInfo(const AppContext& ctx, const std::string& path, const std::string& serial,
                   const std::string& date, const std::string& title, const std::string& description,
                   const std::string& additional) {
    if (!ctx.platform.FileExists(path)) return;
    TIniFile32 store(path);
    // One save for the five keys: a record holds up to millions of lines, and the five
    // writes land together or not at all.
    store.SetDeferred(true);
    WriteDiskInfo(ctx, store, serial, date, title, description, additional);
    store.Checkpoint();
}

void WriteDiskInfo(const AppContext& ctx, TIniFile32& store, const std::string& serial, const std::string& date,
                   const std::string& title, const std::string& description, const std::string& additional) {
    store.WriteString(ctx.InfoSection, "Volume Serial", serial);
    store.WriteString(ctx.InfoSection, "Memorization Date", date);
    store.WriteString(ctx.InfoSection, "Title", title);
    store.WriteString(ctx.InfoSection, "Description", description);
    store.WriteString(ctx.InfoSection, "Additional", additional);
}

std::string FormatMemorizationDate(const std::tm& t) {
    char buf[64];
    if (t.tm_hour == 0 && t.tm_min == 0 && t.tm_sec == 0)
        std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", t.tm_mday, t.tm_mon + 1, t.tm_year + 1900);
    else
        std::snprintf(buf, sizeof buf, "%02d/%02d/%04d %02d:%02d:%02d", t.tm_mday, t.tm_mon + 1, t.tm_year + 1900,
                      t.tm_hour, t.tm_min, t.tm_sec);
    return buf;
}

std::string NowAsMemorizationDate() {
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    return FormatMemorizationDate(t);
}

std::optional<int64_t> ParseMemorizationDate(std::string_view text) {
    // "dd/mm/yyyy" or "dd/mm/yyyy hh:mm:ss", digits exactly where FormatMemorizationDate puts them.
    const auto digits = [&](size_t at, size_t n) -> std::optional<int> {
        int v = 0;
        for (size_t k = at; k < at + n; ++k) {
            if (k >= text.size() || text[k] < '0' || text[k] > '9') return std::nullopt;
            v = v * 10 + (text[k] - '0');
        }
        return v;
    };
    if (text.size() != 10 && text.size() != 19) return std::nullopt;
    if (text[2] != '/' || text[5] != '/') return std::nullopt;
    std::tm t{};
    const auto day = digits(0, 2), month = digits(3, 2), year = digits(6, 4);
    if (!day || !month || !year || *day < 1 || *day > 31 || *month < 1 || *month > 12) return std::nullopt;
    t.tm_mday = *day;
    t.tm_mon = *month - 1;
    t.tm_year = *year - 1900;
    if (text.size() == 19) {
        if (text[10] != ' ' || text[13] != ':' || text[16] != ':') return std::nullopt;
        const auto h = digits(11, 2), m = digits(14, 2), s = digits(17, 2);
        if (!h || !m || !s || *h > 23 || *m > 59 || *s > 60) return std::nullopt;
        t.tm_hour = *h;
        t.tm_min = *m;
        t.tm_sec = *s;
    }
    t.tm_isdst = -1;
    const std::time_t when = std::mktime(&t);
    // mktime moves 31/04 to 01/05: such a day is no date.
    if (when == static_cast<std::time_t>(-1) || t.tm_mday != *day) return std::nullopt;
    return static_cast<int64_t>(when);
}

char UnstorableInfoChar(const std::string& value) {
    return value.find('[') != std::string::npos ? '[' : 0;
}

} // namespace quindle
