// Exponent fields are formatted by scaling the value into [10^(n-1), 10^n) in 80-bit extended
// precision: the scaled value's error is far below 1e-9, so its nearest integer is the correctly
// rounded digit string unless the value lies within a hair of a rounding tie. Those rare cases,
// and digit counts the fast path does not cover, go to std::to_chars, which rounds the exact
// binary value with ties to even.
#include "records/number_text.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>

namespace records {
namespace {

constexpr int kMinPower = -360;
constexpr int kMaxPower = 360;
constexpr int kFastMaxDigits = 9;
// The scaled value carries a relative error of a few 1e-19, so below 1e9 the absolute error is
// under 1e-9; anything closer than this to a tie is decided exactly.
constexpr long double kTieMargin = 1e-6L;

struct PowerTable {
  std::array<long double, kMaxPower - kMinPower + 1> value;
  PowerTable() {
    long double p = 1.0L;
    for (int s = 0; s <= kMaxPower; ++s) {
      value[s - kMinPower] = p;
      p *= 10.0L;  // exact up to 10^27; later products carry one rounding each
    }
    for (int s = 1; s <= -kMinPower; ++s) value[-s - kMinPower] = 1.0L / value[s - kMinPower];
  }
  long double operator()(int s) const { return value[s - kMinPower]; }
};

const PowerTable& powers() {
  static const PowerTable table;
  return table;
}

constexpr std::uint64_t kPow10[20] = {1ULL,
                                      10ULL,
                                      100ULL,
                                      1000ULL,
                                      10000ULL,
                                      100000ULL,
                                      1000000ULL,
                                      10000000ULL,
                                      100000000ULL,
                                      1000000000ULL,
                                      10000000000ULL,
                                      100000000000ULL,
                                      1000000000000ULL,
                                      10000000000000ULL,
                                      100000000000000ULL,
                                      1000000000000000ULL,
                                      10000000000000000ULL,
                                      100000000000000000ULL,
                                      1000000000000000000ULL,
                                      10000000000000000000ULL};

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes the `count` decimal digits of v (zero-padded on the left) ending just before `end`.
void put_digits(char* end, std::uint64_t v, int count) {
  while (count >= 2) {
    unsigned pair = static_cast<unsigned>(v % 100);
    v /= 100;
    end -= 2;
    std::memcpy(end, kDigitPairs + 2 * pair, 2);
    count -= 2;
  }
  if (count == 1) *--end = static_cast<char>('0' + v % 10);
}

bool fast_round(double a, int count, DecimalDigits& out) {
  int binary_exponent = 0;
  std::frexp(a, &binary_exponent);  // a = f * 2^e, f in [0.5, 1)
  // floor(log10(a)) or one less: 0.30103 * (e - 1) <= log10(a) < 0.30103 * e.
  int estimate = static_cast<int>(std::floor((binary_exponent - 1) * 0.30102999566398119521));
  int scale = count - 1 - estimate;
  if (scale < kMinPower || scale > kMaxPower) return false;
  long double y = static_cast<long double>(a) * powers()(scale);
  // The estimate is floor(log10(a)) or one less, so y lies in [10^(n-1), 10^(n+1)).
  if (y >= static_cast<long double>(kPow10[count])) {
    --scale;
    if (scale < kMinPower) return false;
    y = static_cast<long double>(a) * powers()(scale);
  }
  long long nearest = __builtin_llrintl(y);
  long double off = y - static_cast<long double>(nearest);
  if (off < 0) off = -off;
  if (off > 0.5L - kTieMargin) return false;
  std::uint64_t digits = static_cast<std::uint64_t>(nearest);
  if (digits >= kPow10[count]) {  // rounded up into the next power of ten
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
  auto result = std::to_chars(text, text + sizeof text, a, std::chars_format::scientific,
                              count - 1);
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
  if (count <= kFastMaxDigits && fast_round(std::fabs(x), count, out)) return out;
  return round_to_digits_exact(x, count);
}

FieldStatus write_exponent_field(char* field, double x, int width, int digits, int scale) {
  if (width <= 0) return FieldStatus::kOk;
  if (std::isnan(x)) return write_left(field, width, width >= 4 ? " NaN" : "NaN");
  if (std::isinf(x)) return write_left(field, width, x > 0 ? " Infinity" : " -Infinity");
  const bool negative = std::signbit(x) && x != 0;
  // Zero is written as positive zero with scale factor 0, whatever the sign and the factor.
  if (x == 0) scale = 0;
  // Digits before the point (scale > 0), zeros after it (scale < 0), significant digits.
  const int count = scale > 0 ? digits + 1 : digits + scale;
  if (digits < 1 || count < 1 || count > 40 || scale > digits + 1) return fill_asterisks(field, width);

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
      auto r = std::to_chars(text, text + sizeof text, std::fabs(x),
                             std::chars_format::scientific, count - 1);
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
      std::memcpy(mantissa + scale + 1, significant + scale, static_cast<std::size_t>(count - scale));
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

std::string exponent_field(double x, int width, int digits, int scale) {
  std::string out(static_cast<std::size_t>(width), ' ');
  write_exponent_field(out.data(), x, width, digits, scale);
  return out;
}

FieldStatus write_integer_field(char* field, std::int32_t value, int width, int min_digits) {
  if (width <= 0) return FieldStatus::kOk;
  const bool negative = value < 0;
  std::uint64_t magnitude = negative ? 0ULL - static_cast<std::uint64_t>(static_cast<std::int64_t>(value))
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
