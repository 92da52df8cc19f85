#pragma once
// Disk records: one INI-style file per memorized disk in the package folder, named after
// the disk's volume serial ("<serial>.dat"). Sections list file names per top-level
// folder; the information section, last, describes the disk.
#include <cstdint>
#include <ctime>
#include <optional>
#include <string_view>
#include <string>

#include "app/AppContext.h"

namespace quindle {

class TIniFile32;

// The record path of a serial: PackageFolder + serial + ".dat" (".dat" alone for an empty serial).
std::string RecordPath(const AppContext& ctx, const std::string& serial);

// The serial a record's file name stands for: the name without folder and ".dat" (the
// package dialog's list by serial shows it).
std::string SerialOfRecordName(const std::string& fileName);

// Writes the five information keys into an existing record, in the order Volume Serial,
// Memorization Date, Title, Description, Additional. Does nothing when no file exists at path.
void WriteDiskInfo(const AppContext& ctx, const std::string& path, const std::string& serial,
                   const std::string& date, const std::string& title, const std::string& description,
                   const std::string& additional);
// The same into a record's open store, which the caller saves.
void WriteDiskInfo(const AppContext& ctx, TIniFile32& store, const std::string& serial, const std::string& date,
                   const std::string& title, const std::string& description, const std::string& additional);

// "dd/mm/yyyy hh:mm:ss" (24-hour time), the blank and the time left out at exactly 00:00:00.
std::string FormatMemorizationDate(const std::tm& t);
std::string NowAsMemorizationDate();
// The time a memorization date stands for (local time), seconds since 1970; nothing for a
// text of another form.
std::optional<int64_t> ParseMemorizationDate(std::string_view text);

// A title, description or additional text holding "[" would end the information section
// for every reader and make the disk's information unreadable; returns the offending
// character, or 0 when the value can be stored.
char UnstorableInfoChar(const std::string& value);

} // namespace quindle
