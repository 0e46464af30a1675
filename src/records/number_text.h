// Exact number text: exponent and integer fields written into fixed-width columns, and integer
// fields read back. Pure functions; every digit the program writes goes through here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace records {

enum class FieldStatus { kOk, kOverflow };

// Writes exactly `width` characters at `field`: |x| rounded once, from its exact binary value,
// to nearest with ties to even, in exponent form with `digits` digits after the point under
// scale factor `scale`. NaN and infinities start in the field's second column; a field too
// narrow for the text is filled with asterisks (kOverflow).
FieldStatus write_exponent_field(char* field, double x, int width, int digits, int scale);
std::string exponent_field(double x, int width, int digits, int scale);
// The two fields of the series files, their sizes fixed: the bytes of
// write_exponent_field(field, x, 16, 7, 0) and of write_exponent_field(field, x, 14, 5, 1).
void write_time_field(char* field, double x);
void write_value_field(char* field, double x);
// A row's run of value fields: for each of the `count` values a comma and the bytes of
// write_value_field, 15 bytes a value. Where the processor has 512-bit vector instructions, eight
// values are rounded at a time.
void write_value_fields(char* out, const double* values, std::size_t count);
// The ways write_value_fields can take: one value at a time, or eight with 512-bit instructions
// (with byte permutes where the processor has them). It takes the most capable one this
// processor has; a test can ask for any of them that it has.
enum class FieldsWay { kOneByOne, kEight, kEightPermuted };
bool processor_has(FieldsWay way);
void write_value_fields(char* out, const double* values, std::size_t count, FieldsWay way);

// Writes exactly `width` characters: the value right-aligned with at least `min_digits` digits,
// "-" for negatives, or asterisks when it does not fit.
FieldStatus write_integer_field(char* field, std::int32_t value, int width, int min_digits = 1);
std::string integer_field(std::int32_t value, int width, int min_digits = 1);

struct IntegerInput {
  bool ok;
  std::int32_t value;  // 0 when !ok
};

// Reads a numeric input field: blanks are ignored wherever they stand, one leading sign, decimal
// digits, and the result must lie in the 32-bit signed range.
IntegerInput read_integer_field(std::string_view field);

// The rounded decimal form of |x| (finite, non-zero): `count` significant digits D (as an integer
// of exactly `count` digits, 1 <= count <= 19) and q with |x| ~= 0.D * 10^q. Exposed for tests.
struct DecimalDigits {
  std::uint64_t digits;
  int exponent;
};
DecimalDigits round_to_digits(double x, int count);
// The same through the slow exact path only, as an independent check of the fast one.
DecimalDigits round_to_digits_exact(double x, int count);

}  // namespace records
