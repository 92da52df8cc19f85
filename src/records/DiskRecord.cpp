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

char UnstorableInfoChar(const std::string& value) {
    return value.find('[') != std::string::npos ? '[' : 0;
}

} // namespace quindle
