#include "platform/Errors.h"

namespace quindle {

std::string Format(std::string_view fmt, std::string_view arg) {
    std::string r(fmt);
    if (auto p = r.find("%s"); p != std::string::npos) r.replace(p, 2, arg);
    return r;
}

} // namespace quindle
