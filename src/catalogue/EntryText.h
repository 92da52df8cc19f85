#pragma once
// Catalogue entries written as text: JSON strings with "\udc80".."\udcff" for bytes that
// are not UTF-8 (what Python's os.fsdecode reads back to the same bytes), and dates in
// ISO 8601, UTC.
#include <cstdint>
#include <string>
#include <string_view>

namespace quindle {

struct Catalogue;

// Appends `bytes` as a JSON string, quotes included. Valid UTF-8 sequences pass as they
// are (control characters, '"' and '\' escaped); every byte of an invalid sequence
// becomes "\udcXX".
void AppendJsonString(std::string& out, std::string_view bytes);

// Entry i's fields after its "path" in every command's JSON: "kind", "size", "mtime"
// (null for both with `details` false: a disk known by its record's names only), then the
// keys that only some entries have: "hidden": true for an entry that is hidden or lies
// below a hidden folder; "archive", the path of the innermost archive holding a member;
// "archive_error", why an archive could not be listed, or "archive_partial", why its
// listing stopped. Each starts with its comma; no braces.
void AppendEntryJsonFields(std::string& out, const Catalogue& c, size_t i, bool details = true);

// What entry i's note says, for a person: "Not listed: <why>" for an archive that could not
// be listed, "Listed in part: <why>" for one whose listing stopped at a bound, "Content not
// read: <why>" for a file whose checksum could not be taken; "" without a note.
std::string EntryNoteText(const Catalogue& c, size_t i);

// "2024-05-01T12:34:56Z".
std::string IsoUtc(int64_t seconds);

} // namespace quindle
