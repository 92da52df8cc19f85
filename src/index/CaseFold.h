#pragma once
// Case folding for finding files: a name that is valid UTF-8 folds every letter by Unicode
// simple case folding (libutf8proc's tables); a name that is not folds ASCII letters only,
// leaving its other bytes as they are. Query terms fold by the same rule, so a term typed
// in UTF-8 finds the names it would find on screen.
#include <string>
#include <string_view>

namespace quindle {

// Appends the folded `name` to `out`; returns whether `name` was valid UTF-8.
bool AppendFolded(std::string& out, std::string_view name);

// The folded text alone.
std::string Folded(std::string_view name);

} // namespace quindle
