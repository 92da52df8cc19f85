#pragma once
// How the windows show numbers, sizes, counts and dates to a person: one function for
// each, used by every window. Numbers are grouped as the user's locale groups them; dates
// are local time in the program's one format. Files written for other programs (CSV) take
// their forms from the core instead (plain digits, ISO 8601 in UTC: IsoUtc).
#include <QString>
#include <cstdint>

namespace quindle {

// "1,234,567" in an English locale, "1.234.567" in a German one.
QString GroupedNumber(uint64_t n);
// A count with its noun: "1 file", "2,345 files". `one` and `many` are the two forms.
QString Counted(uint64_t n, const char* one, const char* many);
// "0 B", "512 B", "1.50 KB", "12.3 MB", "1.23 GB" (units of 1024): the core's ByteSizeText,
// which the command line uses too.
QString SizeText(uint64_t bytes);
// Local time as the program writes dates: "dd/mm/yyyy hh:mm:ss".
QString DateText(int64_t seconds);

} // namespace quindle
