// JSON strings and numbers.
#include "options/json_text.h"

#include <cmath>
#include <cstdio>

#include "series/statistics.h"

namespace options {

std::string json_string(std::string_view bytes) {
  std::string out = "\"";
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out.append(1, '\\').append(1, c);
    } else if (b < 0x20 || b >= 0x7f) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", b);
      out.append(escape);
    } else {
      out.append(1, c);
    }
  }
  return out.append("\"");
}

std::string json_number(double value) {
  return std::isfinite(value) ? series::shortest_text(value) : "null";
}

}  // namespace options
