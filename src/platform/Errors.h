#pragma once
// Exceptions that cross the core. Their messages are the texts the user sees.
#include <stdexcept>
#include <string>
#include <string_view>

namespace quindle {

// Replaces the first "%s" of fmt with arg.
std::string Format(std::string_view fmt, std::string_view arg);

// File errors: "Cannot create file %s", "Cannot open file %s", "Invalid file name - %s".
class EFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace quindle
