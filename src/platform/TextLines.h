#pragma once
// Line-by-line reading of the small system texts the platform parses (mountinfo, udev
// data): LF-ended lines, a CR before the LF dropped.
#include <string_view>

namespace quindle {

template <class Fn> void ForEachLine(std::string_view text, Fn&& fn) {
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        fn(line);
    }
}

} // namespace quindle
