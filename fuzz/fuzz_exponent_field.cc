// Any 8 bytes as a double in both exponent fields of the series files: each field has its exact
// width, and its text equals the one built from std::to_chars' exactly rounded digits; read back
// with strtod it is the value correctly rounded to 7 or 6 significant digits. The input's first
// eight doubles (the first repeated) as a row of value fields give the same bytes in every way
// the processor can take as one field at a time.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "records/number_text.h"

namespace {

// The field from the exact path alone: digits of to_chars, placed by the field rules.
std::string reference_field(double x, int width, int digits, int scale) {
  if (std::isnan(x) || std::isinf(x) || x == 0)
    return records::exponent_field(x, width, digits, scale);
  const int count = digits + scale;
  const records::DecimalDigits d = records::round_to_digits_exact(x, count);
  std::string text = std::to_string(d.digits);
  const int e = d.exponent - scale;
  char exponent[8];
  if (std::abs(e) <= 99)
    std::snprintf(exponent, sizeof exponent, "E%c%02d", e < 0 ? '-' : '+', std::abs(e));
  else
    std::snprintf(exponent, sizeof exponent, "%c%03d", e < 0 ? '-' : '+', std::abs(e));
  text = scale == 0 ? "0." + text : text.substr(0, 1) + "." + text.substr(1);
  text = (std::signbit(x) ? "-" : "") + text + exponent;
  return std::string(static_cast<std::size_t>(width) - text.size(), ' ') + text;
}

void check(double x, int width, int digits, int scale) {
  const std::string field = records::exponent_field(x, width, digits, scale);
  if (field.size() != static_cast<std::size_t>(width)) std::abort();
  if (field != reference_field(x, width, digits, scale)) std::abort();
  if (std::isfinite(x) && x != 0) {
    std::string text = field;
    // Three-digit exponents drop the letter: put it back for strtod.
    const std::size_t sign = text.find_last_of("+-");
    if (sign != std::string::npos && sign > 0 && text[sign - 1] != 'E') text.insert(sign, "E");
    char expected[64];
    std::snprintf(expected, sizeof expected, "%.*e", digits + scale - 1, x);
    if (std::strtod(text.c_str(), nullptr) != std::strtod(expected, nullptr)) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return 0;
  double x;
  std::memcpy(&x, data, 8);
  check(x, 16, 7, 0);
  check(x, 14, 5, 1);
  // The series files' own entry points give the same bytes as the general one.
  char time_field[16], value_field[14];
  records::write_time_field(time_field, x);
  records::write_value_field(value_field, x);
  if (std::string(time_field, 16) != records::exponent_field(x, 16, 7, 0)) std::abort();
  if (std::string(value_field, 14) != records::exponent_field(x, 14, 5, 1)) std::abort();

  double row[8];
  for (std::size_t i = 0; i < 8; ++i)
    std::memcpy(&row[i], data + (8 * i + 8 <= size ? 8 * i : 0), 8);
  char one_by_one[15 * 8];
  records::write_value_fields(one_by_one, row, 8, records::FieldsWay::kOneByOne);
  for (const auto way : {records::FieldsWay::kEight, records::FieldsWay::kEightPermuted}) {
    char together[15 * 8];
    if (!records::processor_has(way)) continue;
    records::write_value_fields(together, row, 8, way);
    if (std::memcmp(together, one_by_one, sizeof together) != 0) std::abort();
  }
  return 0;
}
