// The series files' two fields, and a row's run of value fields with the one choice of way the
// processor allows. The two fields are rounded by double multiplications and put together from
// texts with every size known at compile time; the bytes are those of the exact fields
// (number_text.cc), which take every value this path leaves.
#include <bit>
#include <cmath>
#include <cstring>
#include <string>

#include "records/number_parts.h"
#include "records/number_tables.h"
#include "records/number_text.h"
#include "tuning/ways.h"

namespace records {
namespace {

using namespace number_tables;

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
  const FieldPower& power = kFieldPowers[static_cast<std::size_t>(k - kMinFieldPower)];
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

// A finite non-zero value in one of the series files' two fields, E16.7 ("  -0.DDDDDDDE+dd")
// or 1PE14.5 ("  -D.DDDDDE+dd"). False when the value needs the exact path (zero, NaN and the
// infinities included). The field is wide enough for a sign and a leading zero whatever the
// value, so every character has a fixed place.
template <int kWidth, int kDigits, int kScale>
[[gnu::always_inline]] inline bool write_series_field(char* field, double x) {
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

// The rest of the series files' fields; zeros, frequent in real series, skip the general path.
template <int kWidth, int kDigits, int kScale>
[[gnu::noinline]] void write_uncommon_field(char* field, double x) {
  static const std::string zero = exponent_field(0.0, kWidth, kDigits, kScale);
  if (x == 0)
    std::memcpy(field, zero.data(), kWidth);
  else
    number_parts::write_any_exponent_field(field, x, kWidth, kDigits, kScale);
}

}  // namespace

namespace number_parts {

// The two fields of the series files take a path with every size known at compile time.
bool write_common_field(char* field, double x, int width, int digits, int scale) {
  if (width == 16 && digits == 7 && scale == 0) return write_series_field<16, 7, 0>(field, x);
  if (width == 14 && digits == 5 && scale == 1) return write_series_field<14, 5, 1>(field, x);
  return false;
}

void write_comma_field(char* out, double x) {
  out[0] = ',';
  write_value_field(out + 1, x);
}

}  // namespace number_parts

void write_time_field(char* field, double x) {
  if (!write_series_field<16, 7, 0>(field, x)) write_uncommon_field<16, 7, 0>(field, x);
}

void write_value_field(char* field, double x) {
  if (!write_series_field<14, 5, 1>(field, x)) write_uncommon_field<14, 5, 1>(field, x);
}

namespace {

number_parts::EightFieldsWriter writer_of(FieldsWay way) {
  if (way == FieldsWay::kEight) return number_parts::kWriteEightFields;
  if (way == FieldsWay::kEightPermuted) return number_parts::kWriteEightFieldsPermuted;
  return nullptr;
}

FieldsWay find_best_way() {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
  if (number_parts::kWriteEightFields != nullptr && __builtin_cpu_supports("avx512f") &&
      __builtin_cpu_supports("avx512dq")) {
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

const char* way_name(FieldsWay way) {
  switch (way) {
    case FieldsWay::kEight:
      return "eight at a time";
    case FieldsWay::kEightPermuted:
      return "eight at a time, permuted";
    default:
      return "one by one";
  }
}

}  // namespace

bool processor_has(FieldsWay way) {
  return way <= best_way();
}

void write_value_fields(char* out, const double* values, std::size_t count, FieldsWay way) {
  std::size_t i = 0;
  if (const number_parts::EightFieldsWriter writer = writer_of(way); writer != nullptr)
    for (; i + 8 <= count; i += 8) writer(out + 15 * i, values + i);
  for (; i < count; ++i) number_parts::write_comma_field(out + 15 * i, values[i]);
}

void write_value_fields(char* out, const double* values, std::size_t count) {
  // The one place that picks the way: the best the processor has, or one at a time for a run
  // that takes the plain ways.
  const FieldsWay way = tuning::plain_ways() ? FieldsWay::kOneByOne : best_way();
  tuning::note_fields_way(way_name(way));
  write_value_fields(out, values, count, way);
}

}  // namespace records
