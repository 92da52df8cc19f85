#pragma once
// What a person types to find files, taken apart: terms separated by blanks, every one of
// which must match (AND). A term holding "/" or "\" (either stands for the folder
// separator) is matched against the whole path ("e:/docs/2019/a.jpg", folded), any other
// against the name alone. A term holding "*", "?" or a "[...]" class is a glob over the
// whole name (or path); any other term matches anywhere in it (substring). Case is folded
// on both sides (CaseFold.h).
//
// Double quotes make what they enclose plain text: "*", "?" and "[" in it are the
// characters themselves, and blanks in it belong to the term ("[1080p]" finds
// "Movie [1080p].mkv"; "holiday 2019" is one term, the blank included). The quotes are not
// part of the term; quoted and unquoted text may meet in one term (*"[1080p]".mkv is a
// glob whose brackets are plain), and a quote left open runs to the end of the text.
// "/" and "\" separate folders in quotes too. A name holding a double quote is found with
// "?" in its place.
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/Catalogue.h"

namespace quindle {

// One element of a glob, over code points (a byte that is not part of valid UTF-8 is a
// code point of its own, 0xDC00 + byte, so it never equals a character).
struct GlobToken {
    enum Type : uint8_t { Literal, AnyOne, AnyRun, Class } type = Literal;
    std::string literal;                           // Literal: folded bytes
    std::vector<std::pair<char32_t, char32_t>> ranges; // Class: inclusive ranges
    bool negate = false;                           // Class: "[!...]" or "[^...]"
};

struct QueryTerm {
    std::string text;   // folded, without its quotes; "\" turned into "/" for a path term
    std::vector<uint8_t> quoted; // per byte of text: typed in double quotes (plain); empty when none was
    bool path = false;  // matched against the whole path
    bool glob = false;
    std::vector<GlobToken> tokens; // a glob's elements
    // The longest run of bytes every match holds (the whole text for a substring): the
    // fast scan looks for it first.
    std::string required;
};

// Splits and compiles; an empty or blank text gives no terms (which match everything).
std::vector<QueryTerm> ParseQuery(std::string_view text);

// Whether `folded` (a folded name or path) matches the term.
bool TermMatches(const QueryTerm& term, std::string_view folded);
// A glob over the whole of `text`.
bool GlobMatches(const std::vector<GlobToken>& tokens, std::string_view text);

struct QueryFilters {
    // Kinds kept; all when empty.
    std::vector<EntryKind> kinds;
    uint64_t minSize = 0, maxSize = std::numeric_limits<uint64_t>::max(); // inclusive
    // Modification time, seconds since 1970 UTC: after <= mtime < before.
    int64_t after = std::numeric_limits<int64_t>::min(), before = std::numeric_limits<int64_t>::max();
    // Serials of the disks searched (the record's name, "439041101"); all when empty.
    std::vector<std::string> disks;
    // Entries that are hidden or lie below a hidden folder are found too.
    bool includeHidden = true;

    bool SizeOrDate() const {
        return minSize != 0 || maxSize != std::numeric_limits<uint64_t>::max() ||
               after != std::numeric_limits<int64_t>::min() || before != std::numeric_limits<int64_t>::max();
    }
};

// "1500", "10K", "3M", "2G" (powers of 1024; "k", "m", "g" too); nullopt for anything else
// or a value beyond 64 bits.
std::optional<uint64_t> ParseSizeText(std::string_view text);
// "YYYY-MM-DD": the start of that day in local time, seconds since 1970 UTC; nullopt for
// anything else or a day that does not exist.
std::optional<int64_t> ParseLocalDate(std::string_view text);

} // namespace quindle
