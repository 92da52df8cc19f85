// Simple case folding: one code point to one code point. utf8proc gives the full folding
// (which may turn one code point into several, "ß" into "ss"); where it does, simple
// folding keeps a single code point, and the lower case mapping is that code point.
#include "index/CaseFold.h"

#include <utf8proc.h>

#include <array>

namespace quindle {

namespace {

constexpr std::array<char, 128> AsciiLower() {
    std::array<char, 128> t{};
    for (int i = 0; i < 128; ++i) t[i] = static_cast<char>(i >= 'A' && i <= 'Z' ? i + 32 : i);
    return t;
}
constexpr std::array<char, 128> kLower = AsciiLower();

utf8proc_int32_t SimpleFold(utf8proc_int32_t cp) {
    utf8proc_int32_t out[4];
    int last = 0;
    const utf8proc_ssize_t n = utf8proc_decompose_char(cp, out, 4, UTF8PROC_CASEFOLD, &last);
    if (n == 1) return out[0];
    return utf8proc_tolower(cp);
}

bool ValidUtf8(std::string_view s) {
    const auto* p = reinterpret_cast<const utf8proc_uint8_t*>(s.data());
    utf8proc_ssize_t left = static_cast<utf8proc_ssize_t>(s.size());
    while (left > 0) {
        if (*p < 0x80) {
            ++p;
            --left;
            continue;
        }
        utf8proc_int32_t cp;
        const utf8proc_ssize_t n = utf8proc_iterate(p, left, &cp);
        if (n <= 0 || cp < 0) return false;
        p += n;
        left -= n;
    }
    return true;
}

} // namespace

bool AppendFolded(std::string& out, std::string_view name) {
    bool ascii = true;
    for (const char c : name)
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
    if (ascii || !ValidUtf8(name)) {
        for (const char c : name) {
            const auto b = static_cast<unsigned char>(c);
            out += b < 0x80 ? kLower[b] : c;
        }
        return ascii;
    }
    const auto* p = reinterpret_cast<const utf8proc_uint8_t*>(name.data());
    utf8proc_ssize_t left = static_cast<utf8proc_ssize_t>(name.size());
    while (left > 0) {
        if (*p < 0x80) {
            out += kLower[*p];
            ++p;
            --left;
            continue;
        }
        utf8proc_int32_t cp;
        const utf8proc_ssize_t n = utf8proc_iterate(p, left, &cp);
        p += n;
        left -= n;
        utf8proc_uint8_t buf[4];
        const utf8proc_ssize_t m = utf8proc_encode_char(SimpleFold(cp), buf);
        out.append(reinterpret_cast<const char*>(buf), static_cast<size_t>(m));
    }
    return true;
}

std::string Folded(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    AppendFolded(out, name);
    return out;
}

} // namespace quindle
