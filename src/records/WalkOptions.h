#pragma once
// What a memorizing walk collects besides names, sizes and dates: one small struct that
// the package dialog, Memorize again and quindle-cli add hand down to the walk.

namespace quindle {

struct WalkOptions {
    // The XXH3-128 of every regular file's content (not the members of archives).
    bool checksums = false;
};

} // namespace quindle
