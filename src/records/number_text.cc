// The exact number fields: exponent fields of any width, digit count and scale factor, integer
// fields, and numeric input fields. This is the reference every quicker way is tested against.
// An exponent field is formatted by scaling the value into [10^(n-1), 10^n) with a 64-bit power
// of ten and 128-bit integer arithmetic. The scaled value's error is far below the margin kept
// from a rounding tie, so its nearest integer is the correctly rounded digit string unless the
// value lies within that margin. Those rare cases, and digit counts this path does not cover, go
// to std::to_chars, which rounds the exact binary value with ties to even. (The series files'
// two fields take a quicker path of their own: value_fields.cc.)
#include "records/number_text.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

#include "records/number_parts.h"
#include "records/number_tables.h"

namespace records {
namespace {

using namespace number_tables;

// Writes the `count` decimal digits of v (zero-padded on the left) ending just before `end`.
template <typename Unsigned>
void put_digits(char* end, Unsigned v, int count) {
  while (count >= 2) {
    unsigned pair = static_cast<unsigned>(v % 100);
    v /= 100;
    end -= 2;
    std::memcpy(end, kDigitPairs + 2 * pair, 2);
    count -= 2;
  }
  if (count == 1) *--end = static_cast<char>('0' + v % 10);
}

__extension__ typedef unsigned __int128 Wide;

// |x| * 10^scale split into its integer part and its fraction as a 64-bit fixed-point number.
struct Scaled {
  std::uint64_t integer;
  std::uint64_t fraction;
};

// `mantissa` has its bit 52 set, so the product has at least 116 bits and, the scaled value being
// below 2^34, the binary point lies 17 to 53 bits into the low half's top: plain 64-bit shifts.
Scaled scale_value(std::uint64_t mantissa, int binary_exponent, const PowerEntry& p) {
  const Wide product = static_cast<Wide>(mantissa) * p.mantissa;
  const auto high = static_cast<std::uint64_t>(product >> 64);
  const auto low = static_cast<std::uint64_t>(product);
  const int shift = -(binary_exponent + p.exponent) - 64;
  if (shift <= 0 || shift >= 64) return {0, 0};  // outside the range the callers can use
  return {high >> shift, (high << (64 - shift)) | (low >> shift)};
}

// `bits`: those of a positive finite double.
[[gnu::always_inline]] inline bool fast_round(std::uint64_t bits, int count, DecimalDigits& out) {
  const int biased = static_cast<int>(bits >> 52);
  std::uint64_t mantissa = (bits & ((1ULL << 52) - 1)) | (1ULL << 52);
  int binary_exponent = biased - 1075;
  if (biased == 0) {  // subnormal: normalise so that bit 52 is set
    const int lift = std::countl_zero(bits) - 11;
    mantissa = bits << lift;
    binary_exponent = -1074 - lift;
  }
  int scale = count - 1 - decimal_exponent(bits);
  // The decimal exponent lies in [-324, 308] and count in [1, 19]: scale is always in the table.
  const Scaled y = scale_value(mantissa, binary_exponent, power_of_ten(scale));
  // y lies in [10^(n-1), 10^n) unless a lies within a hair of a power of ten.
  if (y.integer < kPow10[count - 1] || y.integer >= kPow10[count]) return false;
  // A fraction within kTieMargin of one half goes the exact way; the test is one unsigned
  // comparison, with no branch on which side of one half the fraction lies.
  constexpr std::uint64_t kHalf = 1ULL << 63;
  if (y.fraction - (kHalf - kTieMargin) <= 2 * kTieMargin) return false;
  std::uint64_t digits = y.integer + (y.fraction >> 63);  // up when above one half
  if (digits >= kPow10[count]) {                          // rounded up into the next power of ten
    digits /= 10;
    --scale;
  }
  out = {digits, count - scale};
  return true;
}

FieldStatus fill_asterisks(char* field, int width) {
  std::memset(field, '*', static_cast<std::size_t>(width));
  return FieldStatus::kOverflow;
}

FieldStatus write_left(char* field, int width, std::string_view text) {
  if (static_cast<int>(text.size()) > width) return fill_asterisks(field, width);
  std::memset(field, ' ', static_cast<std::size_t>(width));
  std::memcpy(field, text.data(), text.size());
  return FieldStatus::kOk;
}

}  // namespace

DecimalDigits round_to_digits_exact(double x, int count) {
  char text[64];
  double a = std::fabs(x);
  auto result =
      std::to_chars(text, text + sizeof text, a, std::chars_format::scientific, count - 1);
  // text holds D[.DDD]e<sign><digits>
  std::uint64_t digits = 0;
  const char* p = text;
  for (; *p != 'e'; ++p)
    if (*p != '.') digits = digits * 10 + static_cast<std::uint64_t>(*p - '0');
  int exponent = 0;
  std::from_chars(p + (p[1] == '+' ? 2 : 1), result.ptr, exponent);
  return {digits, exponent + 1};
}

DecimalDigits round_to_digits(double x, int count) {
  DecimalDigits out{};
  if (count <= kFastMaxDigits && fast_round(std::bit_cast<std::uint64_t>(std::fabs(x)), count, out))
    return out;
  return round_to_digits_exact(x, count);
}

namespace number_parts {

// Kept out of line so that the common path needs no large stack frame.
[[gnu::noinline]] FieldStatus write_any_exponent_field(char* field, double x, int width, int digits,
                                                       int scale) {
  if (width <= 0) return FieldStatus::kOk;
  if (std::isnan(x)) return write_left(field, width, width >= 4 ? " NaN" : "NaN");
  if (std::isinf(x)) return write_left(field, width, x > 0 ? " Infinity" : " -Infinity");
  const bool negative = std::signbit(x) && x != 0;
  // Zero is written as positive zero with scale factor 0, whatever the sign and the factor.
  if (x == 0) scale = 0;
  // Digits before the point (scale > 0), zeros after it (scale < 0), significant digits.
  const int count = scale > 0 ? digits + 1 : digits + scale;
  if (digits < 1 || count < 1 || count > 40 || scale > digits + 1)
    return fill_asterisks(field, width);

  char mantissa[64];
  int mantissa_length = 0;
  int exponent = 0;
  if (x == 0) {
    mantissa[0] = '.';
    std::memset(mantissa + 1, '0', static_cast<std::size_t>(digits));
    mantissa_length = digits + 1;
  } else {
    char significant[48];
    if (count <= 19) {
      DecimalDigits d = round_to_digits(x, count);
      put_digits(significant + count, d.digits, count);
      exponent = d.exponent - scale;
    } else {
      char text[96];
      auto r = std::to_chars(text, text + sizeof text, std::fabs(x), std::chars_format::scientific,
                             count - 1);
      int n = 0;
      const char* p = text;
      for (; *p != 'e'; ++p)
        if (*p != '.') significant[n++] = *p;
      int e10 = 0;
      std::from_chars(p + (p[1] == '+' ? 2 : 1), r.ptr, e10);
      exponent = e10 + 1 - scale;
    }
    if (scale > 0) {
      std::memcpy(mantissa, significant, static_cast<std::size_t>(scale));
      mantissa[scale] = '.';
      std::memcpy(mantissa + scale + 1, significant + scale,
                  static_cast<std::size_t>(count - scale));
      mantissa_length = count + 1;
    } else {
      mantissa[0] = '.';
      std::memset(mantissa + 1, '0', static_cast<std::size_t>(-scale));
      std::memcpy(mantissa + 1 - scale, significant, static_cast<std::size_t>(count));
      mantissa_length = 1 - scale + count;
    }
  }

  const int magnitude = exponent < 0 ? -exponent : exponent;
  if (magnitude > 999) return fill_asterisks(field, width);
  char exponent_part[4];
  if (magnitude <= 99) {
    exponent_part[0] = 'E';
    exponent_part[1] = exponent < 0 ? '-' : '+';
    put_digits(exponent_part + 4, static_cast<std::uint64_t>(magnitude), 2);
  } else {
    exponent_part[0] = exponent < 0 ? '-' : '+';
    put_digits(exponent_part + 4, static_cast<std::uint64_t>(magnitude), 3);
  }

  const int required = (negative ? 1 : 0) + mantissa_length + 4;
  if (required > width) return fill_asterisks(field, width);
  const bool leading_zero = scale <= 0 && width >= required + 1;
  const int length = required + (leading_zero ? 1 : 0);
  char* p = field;
  std::memset(p, ' ', static_cast<std::size_t>(width - length));
  p += width - length;
  if (negative) *p++ = '-';
  if (leading_zero) *p++ = '0';
  std::memcpy(p, mantissa, static_cast<std::size_t>(mantissa_length));
  std::memcpy(p + mantissa_length, exponent_part, 4);
  return FieldStatus::kOk;
}

}  // namespace number_parts

FieldStatus write_exponent_field(char* field, double x, int width, int digits, int scale) {
  if (number_parts::write_common_field(field, x, width, digits, scale)) return FieldStatus::kOk;
  return number_parts::write_any_exponent_field(field, x, width, digits, scale);
}

std::string exponent_field(double x, int width, int digits, int scale) {
  std::string out(static_cast<std::size_t>(width), ' ');
  write_exponent_field(out.data(), x, width, digits, scale);
  return out;
}

FieldStatus write_integer_field(char* field, std::int32_t value, int width, int min_digits) {
  if (width <= 0) return FieldStatus::kOk;
  const bool negative = value < 0;
  std::uint64_t magnitude =
      negative ? 0ULL - static_cast<std::uint64_t>(static_cast<std::int64_t>(value))
               : static_cast<std::uint64_t>(value);
  int count = 1;
  while (count < 19 && magnitude >= kPow10[count]) ++count;
  if (count < min_digits) count = min_digits;
  const int length = count + (negative ? 1 : 0);
  if (length > width) return fill_asterisks(field, width);
  std::memset(field, ' ', static_cast<std::size_t>(width - length));
  if (negative) field[width - length] = '-';
  put_digits(field + width, magnitude, count);
  return FieldStatus::kOk;
}

std::string integer_field(std::int32_t value, int width, int min_digits) {
  std::string out(static_cast<std::size_t>(width > 0 ? width : 0), ' ');
  write_integer_field(out.data(), value, width, min_digits);
  return out;
}

IntegerInput read_integer_field(std::string_view field) {
  std::size_t i = 0;
  while (i < field.size() && field[i] == ' ') ++i;
  bool negative = false;
  if (i < field.size() && (field[i] == '+' || field[i] == '-')) {
    negative = field[i] == '-';
    ++i;
  }
  std::uint64_t magnitude = 0;
  for (; i < field.size(); ++i) {
    const char c = field[i];
    if (c == ' ') continue;
    if (c < '0' || c > '9') return {false, 0};
    const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
    if (magnitude > (UINT64_MAX - digit) / 10) return {false, 0};
    magnitude = magnitude * 10 + digit;
  }
  if (negative ? magnitude > 2147483648ULL : magnitude > 2147483647ULL) return {false, 0};
  const std::int64_t value =
      negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
  return {true, static_cast<std::int32_t>(value)};
}

}  // namespace records
