// JSON text for the helpers' --json outputs: one spelling of strings and numbers.
#pragma once

#include <string>
#include <string_view>

namespace options {

// A JSON string of any bytes: quotes and backslashes escaped, every byte outside printable ASCII
// (control characters, code page 932 text) as its own code point \u00XX.
std::string json_string(std::string_view bytes);

// A number in its shortest form that reads back the same; null where it is not finite.
std::string json_number(double value);

}  // namespace options
