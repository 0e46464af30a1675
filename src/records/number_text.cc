// Exponent fields are formatted by scaling the value into [10^(n-1), 10^n) with a power of ten:
// the series files' two fields by double multiplications, other digit counts with a 64-bit power
// and 128-bit integer arithmetic. The scaled value's error is far below the margin kept from a
// rounding tie, so its nearest integer is the correctly rounded digit string unless the value
// lies within that margin. Those rare cases, and digit counts the fast paths do not cover, go to
// std::to_chars, which rounds the exact binary value with ties to even.
#include "records/number_text.h"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// GCC 12 warns inside its own 512-bit intrinsics (their placeholder "undefined" vectors).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#pragma GCC diagnostic pop
#endif

namespace records {
namespace {

constexpr int kMinPower = -360;
constexpr int kMaxPower = 360;
constexpr int kFastMaxDigits = 9;
// The scaled value (below 10^9) carries an absolute error under 1e-9; a fraction closer than
// 2^-20 (about 1e-6) to one half is decided the exact way.
constexpr std::uint64_t kTieMargin = 1ULL << 44;

// 10^s ~= mantissa * 2^exponent with the mantissa in [2^63, 2^64), built once from 80-bit
// extended products; its relative error of a few 2^-64 is what kTieMargin covers.
struct PowerEntry {
  std::uint64_t mantissa;
  int exponent;
};

struct PowerTable {
  std::array<PowerEntry, kMaxPower - kMinPower + 1> value;
  PowerTable() {
    std::array<long double, kMaxPower + 1> positive;
    long double p = 1.0L;
    for (int s = 0; s <= kMaxPower; ++s) {
      positive[static_cast<std::size_t>(s)] = p;
      p *= 10.0L;  // exact up to 10^27; later products carry one rounding each
    }
    for (int s = kMinPower; s <= kMaxPower; ++s) {
      const long double v = s >= 0 ? positive[static_cast<std::size_t>(s)]
                                   : 1.0L / positive[static_cast<std::size_t>(-s)];
      int e = 0;
      const long double f = std::frexp(v, &e);  // v = f * 2^e, f in [0.5, 1)
      value[static_cast<std::size_t>(s - kMinPower)] = {
          static_cast<std::uint64_t>(std::ldexp(f, 64)), e - 64};
    }
  }
  const PowerEntry& operator()(int s) const {
    return value[static_cast<std::size_t>(s - kMinPower)];
  }
};

const PowerTable kPowers;

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

// floor(log10(a)) or one less, from the binary exponent alone.
int decimal_exponent_estimate(std::uint64_t bits) {
  const int biased = static_cast<int>(bits >> 52);
  // a lies in [2^(e-1), 2^e)
  const int e = biased != 0 ? biased - 1022 : std::bit_width(bits) - 1074;
  return ((e - 1) * 78913) >> 18;  // floor((e - 1) * log10(2)) for |e| < 1650
}

// 10^k as a double's bits, for k from -323 (the smallest power above the least subnormal) to
// 309 (infinity), rounded from the 64-bit table: a value that comes out one off near a power of
// ten is caught by the caller's range check. Positive doubles order as their bits do, so the
// comparison with a value is one integer comparison.
constexpr int kMinDoublePower = -323;
constexpr int kMaxDoublePower = 309;
static_assert(kMinPower <= kMinDoublePower && kMaxDoublePower <= kMaxPower);

struct DoublePowerTable {
  std::array<std::uint64_t, kMaxDoublePower - kMinDoublePower + 1> bits;
  DoublePowerTable() {
    for (int k = kMinDoublePower; k <= kMaxDoublePower; ++k) {
      const PowerEntry& p = kPowers(k);
      bits[static_cast<std::size_t>(k - kMinDoublePower)] =
          std::bit_cast<std::uint64_t>(std::ldexp(static_cast<double>(p.mantissa), p.exponent));
    }
  }
};

const DoublePowerTable kDoublePowers;

// floor(log10(a)) without a branch, from a's bits (a positive and finite): the estimate, raised
// by one where a reaches the next power. Where 10^k is not a double, a within half an ulp of it
// can still come out one off; the caller's range check sends those few values the exact way.
inline int decimal_exponent(std::uint64_t bits) {
  const int estimate = decimal_exponent_estimate(bits);
  const std::uint64_t next =
      kDoublePowers.bits[static_cast<std::size_t>(estimate + 1 - kMinDoublePower)];
  return estimate + (bits >= next ? 1 : 0);
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
  const Scaled y = scale_value(mantissa, binary_exponent, kPowers(scale));
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

// 10^k for the series fields' rounding as a double split in two factors: a power of two by which
// the value is multiplied first, which is exact (the product is a normal double), and 10^k divided
// by it. With 2^200 for the values that need k above 5 (those below 1 or 10) and 2^-200 for the
// others, neither product of any finite value, subnormals included, overflows or underflows.
constexpr int kMinFieldPower = 5 - 308;  // 10^(count - 1 - floor(log10 a)), count 6 or 7
constexpr int kMaxFieldPower = 6 + 324;

struct FieldPower {
  double lift;
  double rest;
};

struct FieldPowerTable {
  std::array<FieldPower, kMaxFieldPower - kMinFieldPower + 1> value;
  FieldPowerTable() {
    for (int k = kMinFieldPower; k <= kMaxFieldPower; ++k) {
      const PowerEntry& p = kPowers(k);
      const int lift = k > 5 ? 200 : -200;
      value[static_cast<std::size_t>(k - kMinFieldPower)] = {
          std::ldexp(1.0, lift), std::ldexp(static_cast<double>(p.mantissa), p.exponent - lift)};
    }
  }
};

const FieldPowerTable kFieldPowers;

// The `kCount` significant digits of a (positive, finite, non-zero) by double multiplications:
// a * 10^k carries a relative error below 2^-51, under 2^-27 in absolute terms below 10^7, so
// away from a rounding tie (2^-20) its nearest integer is the correctly rounded digit string.
// False for the values within that margin and for a value whose decimal exponent came out one
// off next to a power of ten that is not a double (its scaled value falls outside the range).
// No margin is needed at the range's ends: a value that the error moves across 10^(kCount-1) or
// 10^kCount rounds to the same digits and exponent on either side (10^kCount carries into
// 10^(kCount-1) with the next exponent), so whole numbers, frequent in real series, stay here.
template <int kCount>
[[gnu::always_inline]] inline bool round_field(std::uint64_t magnitude, DecimalDigits& out) {
  static_assert(kCount == 6 || kCount == 7);
  constexpr double kLow = kCount == 6 ? 1e5 : 1e6;
  const int k = kCount - 1 - decimal_exponent(magnitude);
  const FieldPower& power = kFieldPowers.value[static_cast<std::size_t>(k - kMinFieldPower)];
  const double y = std::bit_cast<double>(magnitude) * power.lift * power.rest;
  // y in [kLow, 10 kLow): positive doubles order as their bits do.
  constexpr auto kLowBits = std::bit_cast<std::uint64_t>(kLow);
  constexpr auto kHighBits = std::bit_cast<std::uint64_t>(10 * kLow);
  const bool outside = std::bit_cast<std::uint64_t>(y) - kLowBits >= kHighBits - kLowBits;
  // Adding 2^52 rounds y to an integer in the sum's low bits; what it took off or added is
  // exact, and within the margin of one half for a near-tie.
  constexpr double kRounder = 0x1p52;
  const double sum = y + kRounder;
  constexpr double kMargin = 1.0 / (1 << 20);
  const bool near_tie = std::fabs(y - (sum - kRounder)) >= 0.5 - kMargin;
  if (outside | near_tie) return false;
  auto digits = std::bit_cast<std::uint64_t>(sum) - std::bit_cast<std::uint64_t>(kRounder);
  int shown = kCount - k;
  if (digits == static_cast<std::uint64_t>(10 * kLow)) {  // rounded up into the next power of ten
    digits = static_cast<std::uint64_t>(kLow);
    ++shown;
  }
  out = {digits, shown};
  return true;
}

// The first eight characters of the two series fields, for either sign and the leading three
// digits: "  s0.DDD" for the time field (100 to 999), "  sD.DD" and a spare byte for the value
// field (100 to 999), where s is the sign's place.
struct LeadingTexts {
  char time[2][1000][8];
  char value[2][1000][8];
  constexpr LeadingTexts() : time{}, value{} {
    for (int negative = 0; negative < 2; ++negative) {
      for (int v = 0; v < 1000; ++v) {
        const char sign = negative != 0 ? '-' : ' ';
        const char a = static_cast<char>('0' + v / 100), b = static_cast<char>('0' + v / 10 % 10),
                   c = static_cast<char>('0' + v % 10);
        const char time_text[8] = {' ', ' ', sign, '0', '.', a, b, c};
        const char value_text[8] = {' ', ' ', sign, a, '.', b, c, ' '};
        for (int i = 0; i < 8; ++i) {
          time[negative][v][i] = time_text[i];
          value[negative][v][i] = value_text[i];
        }
      }
    }
  }
};

constexpr LeadingTexts kLeadingTexts;

// The text of three digits with a spare byte, "DDD ", for 0 to 999.
struct ThreeDigitTexts {
  char text[1000][4];
  constexpr ThreeDigitTexts() : text{} {
    for (int v = 0; v < 1000; ++v) {
      text[v][0] = static_cast<char>('0' + v / 100);
      text[v][1] = static_cast<char>('0' + v / 10 % 10);
      text[v][2] = static_cast<char>('0' + v % 10);
      text[v][3] = ' ';
    }
  }
};

constexpr ThreeDigitTexts kThreeDigits;

// The four characters of every exponent part the common path can meet, so that the number of
// its digits costs no branch.
constexpr int kExponentTextLimit = 400;

struct ExponentTexts {
  char text[2 * kExponentTextLimit + 1][4];
  constexpr ExponentTexts() : text{} {
    for (int e = -kExponentTextLimit; e <= kExponentTextLimit; ++e) {
      char* at = text[e + kExponentTextLimit];
      const int magnitude = e < 0 ? -e : e;
      const char sign = e < 0 ? '-' : '+';
      if (magnitude <= 99) {
        at[0] = 'E';
        at[1] = sign;
      } else {
        at[0] = sign;
        at[1] = static_cast<char>('0' + magnitude / 100);
      }
      at[2] = static_cast<char>('0' + magnitude / 10 % 10);
      at[3] = static_cast<char>('0' + magnitude % 10);
    }
  }
};

constexpr ExponentTexts kExponentTexts;

// A finite non-zero value in one of the series files' two fields, E16.7 ("  -0.DDDDDDDE+dd")
// or 1PE14.5 ("  -D.DDDDDE+dd"). False when the value needs the exact path (zero, NaN and the
// infinities included). The field is wide enough for a sign and a leading zero whatever the
// value, so every character has a fixed place.
template <int kWidth, int kDigits, int kScale>
[[gnu::always_inline]] inline bool write_common_field(char* field, double x) {
  static_assert((kWidth == 16 && kDigits == 7 && kScale == 0) ||
                (kWidth == 14 && kDigits == 5 && kScale == 1));
  constexpr int kCount = kDigits + kScale;
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(x);
  const std::uint64_t magnitude = bits & ~(1ULL << 63);
  constexpr std::uint64_t kInfinity = 0x7FF0000000000000ULL;
  if (magnitude - 1 >= kInfinity - 1) return false;  // zero, infinities, NaN
  DecimalDigits d;
  if (!round_field<kCount>(magnitude, d)) return false;
  const int exponent = d.exponent - kScale;
  // kCount - k, or one more after a carry, less the scale: inside the table.
  static_assert(6 - kMaxFieldPower - 1 >= -kExponentTextLimit &&
                7 - kMinFieldPower + 1 <= kExponentTextLimit);
  // Every character has a fixed place: eight from one entry (blanks, sign, point and the first
  // digits), the last three digits from one text (in the time field after one more digit), and
  // the exponent part last, over the spare byte of the text before it.
  const auto value = static_cast<std::uint32_t>(d.digits);
  const auto negative = static_cast<std::size_t>(bits >> 63);
  if constexpr (kScale == 0) {
    const std::uint32_t thousands = value / 1000;
    const std::uint32_t high = thousands / 10;
    std::memcpy(field, kLeadingTexts.time[negative][high], 8);
    field[8] = static_cast<char>('0' + (thousands - high * 10));
    std::memcpy(field + 9, kThreeDigits.text[value - thousands * 1000], 4);
  } else {
    const std::uint32_t high = value / 1000;
    std::memcpy(field, kLeadingTexts.value[negative][high], 8);
    std::memcpy(field + 7, kThreeDigits.text[value - high * 1000], 4);
  }
  std::memcpy(field + kWidth - 4, kExponentTexts.text[exponent + kExponentTextLimit], 4);
  return true;
}

// The two fields of the series files take a path with every size known at compile time.
bool write_common_field(char* field, double x, int width, int digits, int scale) {
  if (width == 16 && digits == 7 && scale == 0) return write_common_field<16, 7, 0>(field, x);
  if (width == 14 && digits == 5 && scale == 1) return write_common_field<14, 5, 1>(field, x);
  return false;
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

namespace {

// Every value and field the common path does not take: special values, zero, near-ties, other
// widths. Kept out of line so that the common path needs no large stack frame.
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

}  // namespace

FieldStatus write_exponent_field(char* field, double x, int width, int digits, int scale) {
  if (write_common_field(field, x, width, digits, scale)) return FieldStatus::kOk;
  return write_any_exponent_field(field, x, width, digits, scale);
}

namespace {

// The rest of the series files' fields; zeros, frequent in real series, skip the general path.
template <int kWidth, int kDigits, int kScale>
[[gnu::noinline]] void write_uncommon_field(char* field, double x) {
  static const std::string zero = exponent_field(0.0, kWidth, kDigits, kScale);
  if (x == 0)
    std::memcpy(field, zero.data(), kWidth);
  else
    write_any_exponent_field(field, x, kWidth, kDigits, kScale);
}

}  // namespace

void write_time_field(char* field, double x) {
  if (!write_common_field<16, 7, 0>(field, x)) write_uncommon_field<16, 7, 0>(field, x);
}

void write_value_field(char* field, double x) {
  if (!write_common_field<14, 5, 1>(field, x)) write_uncommon_field<14, 5, 1>(field, x);
}

namespace {

// A comma and the value field: 15 bytes.
void write_comma_field(char* out, double x) {
  out[0] = ',';
  write_value_field(out + 1, x);
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define FLOWSERIES_VECTOR_FIELDS 1

// The texts of eight value fields, rounded together.
struct EightFields {
  __mmask8 ok;       // the lanes done here; the others are left to write_value_field
  __m512i middle;    // per lane the eight bytes after the two blanks: sign, "D.DD", "DDD"
  __m256i exponent;  // per lane the four bytes of the exponent part
};

#define FLOWSERIES_VECTOR_BASE "avx512f,avx512dq"

// Each value is scaled into [10^5, 10^6) by one multiplication with 10^k as a double: the
// product's error is below 2^-32, so away from a rounding tie (2^-20) its nearest integer is the
// correctly rounded digit string, the one the scalar path finds (see round_field). Lanes within
// that margin, zeros, NaN, infinities, subnormals and magnitudes beyond 1e+/-270 are not done
// here.
[[gnu::target(FLOWSERIES_VECTOR_BASE), gnu::always_inline]] inline EightFields round_eight(
    const double* values) {
  const __m512i bits = _mm512_castpd_si512(_mm512_loadu_pd(values));
  const __m512i magnitude = _mm512_and_si512(bits, _mm512_set1_epi64(0x7FFFFFFFFFFFFFFF));
  const __m512i biased = _mm512_srli_epi64(magnitude, 52);
  // 1e-270 to 1e+270, normal: the scaled products stay far from overflow and underflow, and the
  // table indices below within the tables.
  __mmask8 ok = _mm512_cmple_epu64_mask(_mm512_sub_epi64(biased, _mm512_set1_epi64(1023 - 896)),
                                        _mm512_set1_epi64(2 * 896));
  // floor(log10(a)) as decimal_exponent finds it: an estimate from the binary exponent, raised by
  // one where a reaches the next power.
  const __m512i e = _mm512_sub_epi64(biased, _mm512_set1_epi64(1023));
  const __m512i estimate = _mm512_srai_epi64(_mm512_mullo_epi64(e, _mm512_set1_epi64(78913)), 18);
  const auto* powers = reinterpret_cast<const long long*>(kDoublePowers.bits.data());
  const __m512i next = _mm512_mask_i64gather_epi64(
      _mm512_setzero_si512(), ok,
      _mm512_add_epi64(estimate, _mm512_set1_epi64(1 - kMinDoublePower)), powers, 8);
  const __m512i exponent = _mm512_mask_add_epi64(estimate, _mm512_cmpge_epu64_mask(magnitude, next),
                                                 estimate, _mm512_set1_epi64(1));
  const __m512d power = _mm512_castsi512_pd(_mm512_mask_i64gather_epi64(
      _mm512_setzero_si512(), ok,
      _mm512_sub_epi64(_mm512_set1_epi64(5 - kMinDoublePower), exponent), powers, 8));
  const __m512d y = _mm512_mul_pd(_mm512_castsi512_pd(magnitude), power);
  // y in [10^5, 10^6), near no tie, rounded by adding 2^52, all as round_field does it.
  ok &= _mm512_cmplt_epu64_mask(
      _mm512_sub_epi64(_mm512_castpd_si512(y), _mm512_set1_epi64(std::bit_cast<std::int64_t>(1e5))),
      _mm512_set1_epi64(std::bit_cast<std::int64_t>(1e6) - std::bit_cast<std::int64_t>(1e5)));
  const __m512d rounder = _mm512_set1_pd(0x1p52);
  const __m512d sum = _mm512_add_pd(y, rounder);
  constexpr double kMargin = 1.0 / (1 << 20);
  ok &= _mm512_cmp_pd_mask(_mm512_abs_pd(_mm512_sub_pd(y, _mm512_sub_pd(sum, rounder))),
                           _mm512_set1_pd(0.5 - kMargin), _CMP_LT_OQ);
  // A carry into 10^6 is 100000 with the next exponent.
  __m512i digits = _mm512_sub_epi64(_mm512_castpd_si512(sum), _mm512_castpd_si512(rounder));
  const __mmask8 carry = _mm512_cmpeq_epi64_mask(digits, _mm512_set1_epi64(1000000));
  digits = _mm512_mask_mov_epi64(digits, carry, _mm512_set1_epi64(100000));
  const __m512i shown = _mm512_mask_add_epi64(exponent, carry, exponent, _mm512_set1_epi64(1));
  // digits / 1000 by multiplication (exact below 2^32), and the remainder.
  const __m512i high =
      _mm512_srli_epi64(_mm512_mul_epu32(digits, _mm512_set1_epi64(274877907)), 38);
  const __m512i low = _mm512_sub_epi64(digits, _mm512_mullo_epi64(high, _mm512_set1_epi64(1000)));
  // "D.DD" from the scalar way's leading texts (the four bytes after blanks and sign), "DDD"
  // with its spare byte, which the shift below drops.
  const auto* lead = reinterpret_cast<const int*>(&kLeadingTexts.value[0][0][3]);
  const auto* tail = reinterpret_cast<const int*>(kThreeDigits.text);
  const auto* exponents = reinterpret_cast<const int*>(kExponentTexts.text);
  const __m512i lead_text =
      _mm512_cvtepu32_epi64(_mm512_mask_i64gather_epi32(_mm256_setzero_si256(), ok, high, lead, 8));
  const __m512i tail_text =
      _mm512_cvtepu32_epi64(_mm512_mask_i64gather_epi32(_mm256_setzero_si256(), ok, low, tail, 4));
  const __m512i sign = _mm512_mask_blend_epi64(_mm512_movepi64_mask(bits), _mm512_set1_epi64(' '),
                                               _mm512_set1_epi64('-'));
  return {ok,
          _mm512_or_si512(sign, _mm512_or_si512(_mm512_slli_epi64(lead_text, 8),
                                                _mm512_slli_epi64(tail_text, 40))),
          _mm512_mask_i64gather_epi32(
              _mm256_setzero_si256(), ok,
              _mm512_add_epi64(shown, _mm512_set1_epi64(kExponentTextLimit)), exponents, 4)};
}

// The lanes the vector way left, one by one.
void write_left_lanes(char* out, const double* values, unsigned done) {
  if (done == 0xFF) return;
  for (int i = 0; i < 8; ++i)
    if ((done >> i & 1U) == 0) write_comma_field(out + 15 * i, values[i]);
}

[[gnu::target(FLOWSERIES_VECTOR_BASE)]] void write_eight_value_fields(char* out,
                                                                      const double* values) {
  const EightFields fields = round_eight(values);
  alignas(64) std::uint64_t middles[8];
  alignas(32) std::uint32_t exponent_parts[8];
  _mm512_store_si512(middles, fields.middle);
  _mm256_store_si256(reinterpret_cast<__m256i*>(exponent_parts), fields.exponent);
  for (int i = 0; i < 8; ++i) {
    if ((fields.ok >> i & 1U) == 0) continue;
    char* field = out + 15 * i;
    field[0] = ',';
    field[1] = field[2] = ' ';
    std::memcpy(field + 3, &middles[i], 8);
    std::memcpy(field + 11, &exponent_parts[i], 4);
  }
  write_left_lanes(out, values, fields.ok);
}

// Where bytes can be picked from two registers at once: the 120 bytes of the eight fields in two
// stores. Byte j of a field is a comma (0), a blank (1, 2), a byte of its lane's middle (3 to
// 10) or of its exponent part (11 to 14); indices from 64 pick from the second register, which
// holds the exponent parts, then a comma and a blank.
struct FieldPicks {
  std::uint8_t index[128];
  constexpr FieldPicks() : index{} {
    for (int j = 0; j < 120; ++j) {
      const int lane = j / 15, at = j % 15;
      index[j] = static_cast<std::uint8_t>(at == 0   ? 64 + 32
                                           : at < 3  ? 64 + 33
                                           : at < 11 ? 8 * lane + at - 3
                                                     : 64 + 4 * lane + at - 11);
    }
  }
};

constexpr FieldPicks kFieldPicks;

[[gnu::target(FLOWSERIES_VECTOR_BASE ",avx512bw,avx512vbmi")]] void write_eight_value_fields_picked(
    char* out, const double* values) {
  const EightFields fields = round_eight(values);
  const __m512i second =
      _mm512_inserti64x4(_mm512_castsi256_si512(fields.exponent),
                         _mm256_setr_epi8(',', ' ', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                          0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0),
                         1);
  const __m512i low_picks = _mm512_loadu_si512(kFieldPicks.index);
  const __m512i high_picks = _mm512_loadu_si512(kFieldPicks.index + 64);
  _mm512_storeu_si512(out, _mm512_permutex2var_epi8(fields.middle, low_picks, second));
  _mm512_mask_storeu_epi8(out + 64, (__mmask64{1} << 56) - 1,
                          _mm512_permutex2var_epi8(fields.middle, high_picks, second));
  write_left_lanes(out, values, fields.ok);
}

#endif

using EightFieldsWriter = void (*)(char*, const double*);

EightFieldsWriter writer_of(FieldsWay way) {
#ifdef FLOWSERIES_VECTOR_FIELDS
  if (way == FieldsWay::kEight) return write_eight_value_fields;
  if (way == FieldsWay::kEightPermuted) return write_eight_value_fields_picked;
#endif
  return nullptr;
}

FieldsWay find_best_way() {
#ifdef FLOWSERIES_VECTOR_FIELDS
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq")) {
    if (__builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi"))
      return FieldsWay::kEightPermuted;
    return FieldsWay::kEight;
  }
#endif
  return FieldsWay::kOneByOne;
}

// Each way needs what the ones before it need.
FieldsWay best_way() {
  static const FieldsWay best = find_best_way();
  return best;
}

}  // namespace

bool processor_has(FieldsWay way) {
  return way <= best_way();
}

void write_value_fields(char* out, const double* values, std::size_t count, FieldsWay way) {
  std::size_t i = 0;
  if (const EightFieldsWriter writer = writer_of(way); writer != nullptr)
    for (; i + 8 <= count; i += 8) writer(out + 15 * i, values + i);
  for (; i < count; ++i) write_comma_field(out + 15 * i, values[i]);
}

void write_value_fields(char* out, const double* values, std::size_t count) {
  write_value_fields(out, values, count, best_way());
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
