// Exponent and integer fields: the documented examples, and a property test of the exponent
// fields against an exact decimal expansion computed with integer arithmetic.
#include "records/number_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace records {
namespace {

TEST(ExponentField, MatchesTheExampleTable) {
  struct Case {
    double x;
    const char* time_field;   // w = 16, d = 7, k = 0
    const char* value_field;  // w = 14, d = 5, k = 1
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const Case cases[] = {
      {0.0, "   0.0000000E+00", "   0.00000E+00"},
      {-0.0, "   0.0000000E+00", "   0.00000E+00"},
      {0.5, "   0.5000000E+00", "   5.00000E-01"},
      {1.0, "   0.1000000E+01", "   1.00000E+00"},
      {12.5, "   0.1250000E+02", "   1.25000E+01"},
      {-12.5, "  -0.1250000E+02", "  -1.25000E+01"},
      {60.0, "   0.6000000E+02", "   6.00000E+01"},
      {0.001, "   0.1000000E-02", "   1.00000E-03"},
      {1234565.0, "   0.1234565E+07", "   1.23456E+06"},
      {1234575.0, "   0.1234575E+07", "   1.23458E+06"},
      {12345665.0, "   0.1234566E+08", "   1.23457E+07"},
      {99999995.0, "   0.1000000E+09", "   1.00000E+08"},
      {1.0e-100, "   0.1000000E-99", "   1.00000-100"},
      {1.0e+100, "   0.1000000+101", "   1.00000+100"},
      {std::numeric_limits<double>::max(), "   0.1797693+309", "   1.79769+308"},
      {std::numeric_limits<double>::denorm_min(), "   0.4940656-323", "   4.94066-324"},
      {nan, " NaN            ", " NaN          "},
      {-nan, " NaN            ", " NaN          "},
      {inf, " Infinity       ", " Infinity     "},
      {-inf, " -Infinity      ", " -Infinity    "},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(exponent_field(c.x, 16, 7, 0), c.time_field) << "x = " << c.x;
    EXPECT_EQ(exponent_field(c.x, 14, 5, 1), c.value_field) << "x = " << c.x;
    // The series files' own entry points, which take zeros and special values their own way.
    char time_field[16], value_field[14];
    write_time_field(time_field, c.x);
    write_value_field(value_field, c.x);
    EXPECT_EQ(std::string_view(time_field, 16), c.time_field) << "x = " << c.x;
    EXPECT_EQ(std::string_view(value_field, 14), c.value_field) << "x = " << c.x;
  }
}

TEST(ExponentField, DropsTheLeadingZeroBeforeOverflowing) {
  EXPECT_EQ(exponent_field(12.5, 13, 7, 0), "0.1250000E+02");
  EXPECT_EQ(exponent_field(12.5, 12, 7, 0), ".1250000E+02");
  EXPECT_EQ(exponent_field(-12.5, 13, 7, 0), "-.1250000E+02");
  EXPECT_EQ(exponent_field(-12.5, 12, 7, 0), "************");
  char field[12];
  EXPECT_EQ(write_exponent_field(field, -12.5, 12, 7, 0), FieldStatus::kOverflow);
}

TEST(IntegerField, RightAlignsWithinWidth) {
  struct Case {
    std::int32_t value;
    int width;
    const char* text;
  };
  const Case cases[] = {
      {15, 8, "      15"},
      {-7, 8, "      -7"},
      {0, 8, "       0"},
      {99999999, 8, "99999999"},
      {-9999999, 8, "-9999999"},
      {100000000, 8, "********"},
      {-10000000, 8, "********"},
      {25, 12, "          25"},
      {INT32_MIN, 12, " -2147483648"},
      {INT32_MAX, 12, "  2147483647"},
      {-5, 12, "          -5"},
  };
  for (const Case& c : cases) EXPECT_EQ(integer_field(c.value, c.width), c.text) << c.value;
}

TEST(ReadIntegerField, AcceptsBlanksSignsAndLeadingZeros) {
  struct Case {
    const char* field;
    std::int32_t value;
  };
  const Case cases[] = {
      {"", 0},
      {"     ", 0},
      {"-", 0},
      {"+", 0},
      {"1 2", 12},
      {"  -  7", -7},
      {"12   ", 12},
      {"0000012", 12},
      {"-2147483648", INT32_MIN},
      {"2147483647", INT32_MAX},
      {"  +5", 5},
      {"00000000000000000000000000042", 42},
  };
  for (const Case& c : cases) {
    const IntegerInput got = read_integer_field(c.field);
    EXPECT_TRUE(got.ok) << "'" << c.field << "'";
    EXPECT_EQ(got.value, c.value) << "'" << c.field << "'";
  }
}

TEST(ReadIntegerField, RejectsEverythingElse) {
  for (const char* field : {"1.0", "1E2", "12-", "+-3", "12A", "2147483648", "-2147483649", "0x10",
                            "1_0", "\t5", "A", "99999999999999999999999", "1,2"}) {
    const IntegerInput got = read_integer_field(field);
    EXPECT_FALSE(got.ok) << "'" << field << "'";
    EXPECT_EQ(got.value, 0) << "'" << field << "'";
  }
}

// ---------------------------------------------------------------------------------------------
// An independent exact oracle: the decimal expansion of |x| = m * 2^e computed with big integers
// (m * 5^-e shifted by -e decimal places, or m * 2^e), rounded to n digits with ties to even.

__extension__ typedef unsigned __int128 Wide;

class BigDecimal {
 public:
  static constexpr std::uint32_t kBase = 1000000000;
  std::vector<std::uint32_t> limbs{1};  // least significant first

  void multiply(std::uint64_t factor) {
    Wide carry = 0;
    for (std::uint32_t& limb : limbs) {
      const Wide v = static_cast<Wide>(limb) * factor + carry;
      limb = static_cast<std::uint32_t>(v % kBase);
      carry = v / kBase;
    }
    while (carry != 0) {
      limbs.push_back(static_cast<std::uint32_t>(carry % kBase));
      carry /= kBase;
    }
  }
  std::string digits() const {
    std::string out = std::to_string(limbs.back());
    for (std::size_t i = limbs.size() - 1; i-- > 0;) {
      std::string part = std::to_string(limbs[i]);
      out += std::string(9 - part.size(), '0') + part;
    }
    return out;
  }
};

struct ExactOracle {
  std::vector<BigDecimal> pow5, pow2;
  ExactOracle() : pow5(1100), pow2(1100) {
    for (std::size_t k = 1; k < pow5.size(); ++k) {
      pow5[k] = pow5[k - 1];
      pow5[k].multiply(5);
      pow2[k] = pow2[k - 1];
      pow2[k].multiply(2);
    }
  }

  DecimalDigits round(double x, int n) const {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(std::fabs(x));
    const int biased = static_cast<int>(bits >> 52);
    std::uint64_t m = bits & ((1ULL << 52) - 1);
    int e;
    if (biased == 0) {
      e = -1074;
    } else {
      m |= 1ULL << 52;
      e = biased - 1075;
    }
    BigDecimal big = e < 0 ? pow5[static_cast<std::size_t>(-e)] : pow2[static_cast<std::size_t>(e)];
    big.multiply(m);
    std::string d = big.digits();
    // |x| = 0.d * 10^(len - shift)
    int q = static_cast<int>(d.size()) - (e < 0 ? -e : 0);
    std::string head = d.substr(0, static_cast<std::size_t>(n));
    head.resize(static_cast<std::size_t>(n), '0');
    bool up = false;
    if (d.size() > static_cast<std::size_t>(n)) {
      const char next = d[static_cast<std::size_t>(n)];
      const bool rest_zero =
          d.find_first_not_of('0', static_cast<std::size_t>(n) + 1) == std::string::npos;
      up = next > '5' || (next == '5' && (!rest_zero || (head.back() - '0') % 2 == 1));
    }
    std::uint64_t value = std::stoull(head);
    if (up) ++value;
    if (value == static_cast<std::uint64_t>(std::pow(10.0, n))) {
      value /= 10;
      ++q;
    }
    return {value, q};
  }
};

// The field text from exact digits, by the rules of the two fields the program writes.
std::string expected_field(const ExactOracle& oracle, double x, bool time_field) {
  if (x == 0) return time_field ? "   0.0000000E+00" : "   0.00000E+00";
  const int n = time_field ? 7 : 6;
  const DecimalDigits d = oracle.round(x, n);
  const std::string digits = std::to_string(d.digits);
  const int e = time_field ? d.exponent : d.exponent - 1;
  std::string exponent;
  const int magnitude = std::abs(e);
  if (magnitude <= 99) {
    exponent = std::string("E") + (e < 0 ? "-" : "+") + (magnitude < 10 ? "0" : "") +
               std::to_string(magnitude);
  } else {
    exponent = std::string(e < 0 ? "-" : "+") + std::to_string(magnitude);
  }
  std::string text = time_field ? "0." + digits : digits.substr(0, 1) + "." + digits.substr(1);
  text = (x < 0 ? "-" : "") + text + exponent;
  return std::string(static_cast<std::size_t>((time_field ? 16 : 14)) - text.size(), ' ') + text;
}

std::vector<double> property_values(std::size_t count) {
  std::mt19937_64 random(20261208);
  std::vector<double> values;
  values.reserve(count);
  while (values.size() < count) {
    const std::size_t kind = values.size() % 8;
    double x;
    if (kind == 7) {  // whole numbers and halves, as times and exact values are
      x = static_cast<double>(random() % 2000000000) * (random() % 2 ? 1.0 : 0.5);
    } else if (kind == 6) {  // beside a power of ten, where the decimal exponent changes
      x = std::strtod(("1e" + std::to_string(static_cast<int>(random() % 632) - 323)).c_str(),
                      nullptr);
      const int step = static_cast<int>(random() % 5) - 2;
      for (int i = 0; i < std::abs(step); ++i)
        x = std::nextafter(x, step < 0 ? 0.0 : std::numeric_limits<double>::infinity());
    } else if (kind == 0) {  // any bit pattern
      x = std::bit_cast<double>(random());
    } else if (kind == 1) {  // subnormal
      x = std::bit_cast<double>(random() & ((1ULL << 52) - 1));
    } else if (kind == 2) {  // everyday magnitudes
      x = std::ldexp(static_cast<double>(random() >> 11), static_cast<int>(random() % 80) - 90);
    } else {  // beside a 6- or 7-digit halfway point, at every distance up to 2 ulps
      const int n = 6 + static_cast<int>(random() % 2);
      const std::uint64_t low = n == 6 ? 100000 : 1000000;
      const double tie = static_cast<double>(random() % (9 * low) + low) + 0.5;
      const double scaled = tie * std::pow(10.0, static_cast<int>(random() % 60) - 30);
      const int step = static_cast<int>(random() % 5) - 2;
      x = scaled;
      for (int i = 0; i < std::abs(step); ++i)
        x = std::nextafter(x, step < 0 ? 0.0 : std::numeric_limits<double>::infinity());
    }
    if (!std::isfinite(x)) continue;
    values.push_back(random() % 2 ? -x : x);
  }
  return values;
}

std::size_t property_count() {
  const char* text = std::getenv("FLOWSERIES_PROPERTY_COUNT");
  return text != nullptr ? std::strtoull(text, nullptr, 10) : 1000000;
}

// Every digit string of the two series fields: integers of seven (time field) and six (value
// field) digits are exact doubles whose digits need no rounding.
TEST(ExponentField, SeriesFieldsWriteEveryDigitString) {
  char time_field[16], value_field[14];
  char digits[8];
  for (std::uint32_t v = 100000; v < 10000000; ++v) {
    std::uint32_t rest = v;
    for (int i = 6; i >= 0; --i, rest /= 10) digits[i] = static_cast<char>('0' + rest % 10);
    const double x = static_cast<double>(v);
    write_time_field(time_field, x);
    const std::string_view seven(digits, 7);
    if (v >= 1000000 && std::string_view(time_field, 16) != "   0." + std::string(seven) + "E+07") {
      ADD_FAILURE() << v << ": '" << std::string_view(time_field, 16) << "'";
      return;
    }
    if (v < 1000000) {
      write_value_field(value_field, x);
      const std::string expected =
          "   " + std::string(1, digits[1]) + "." + std::string(digits + 2, 5) + "E+05";
      if (std::string_view(value_field, 14) != expected) {
        ADD_FAILURE() << v << ": '" << std::string_view(value_field, 14) << "'";
        return;
      }
    }
  }
}

TEST(ExponentField, AgreesWithExactDecimalExpansion) {
  const ExactOracle oracle;
  int mismatches = 0;
  for (const double x : property_values(property_count())) {
    const std::string time_field = exponent_field(x, 16, 7, 0);
    const std::string value_field = exponent_field(x, 14, 5, 1);
    char direct_time[16], direct_value[14];
    write_time_field(direct_time, x);
    write_value_field(direct_value, x);
    if (time_field != expected_field(oracle, x, true) ||
        value_field != expected_field(oracle, x, false) ||
        std::string_view(direct_time, 16) != time_field ||
        std::string_view(direct_value, 14) != value_field) {
      ADD_FAILURE() << "x = " << std::hexfloat << x << ": '" << time_field << "' '" << value_field
                    << "', expected '" << expected_field(oracle, x, true) << "' '"
                    << expected_field(oracle, x, false) << "'";
      if (++mismatches == 10) return;
    }
  }
}

// A row's value fields written together (eight at a time where the processor can) are the bytes
// of the fields written one by one, whatever the values and wherever a run of them ends.
TEST(ValueFields, AreTheFieldsWrittenOneByOne) {
  std::vector<double> values = property_values(property_count() / 4);
  const double inf = std::numeric_limits<double>::infinity();
  for (const double x : {0.0, -0.0, inf, -inf, std::numeric_limits<double>::quiet_NaN(),
                         std::numeric_limits<double>::denorm_min(), 1e-270, 1e270, 1e-271, 1e271,
                         std::numeric_limits<double>::max()}) {
    values.insert(values.begin(), 8, x);
    values.push_back(x);
  }
  // Rounded up into the next power of ten, and just short of it.
  for (int e = -30; e <= 30; ++e) {
    for (const double d : {999999.5, 999999.4999, 999999.5001, 99999.95, 9.999995, 9.9999949}) {
      const double x = d * std::pow(10.0, e);
      for (double y = std::nextafter(std::nextafter(x, 0.0), 0.0); y <= x * (1 + 1e-15);
           y = std::nextafter(y, inf))
        values.push_back(y);
    }
  }
  std::vector<char> one_by_one(15 * values.size());
  write_value_fields(one_by_one.data(), values.data(), values.size(), FieldsWay::kOneByOne);
  for (std::size_t i = 0; i < values.size(); ++i) {
    char one[14];
    write_value_field(one, values[i]);
    ASSERT_EQ(one_by_one[15 * i], ',');
    ASSERT_EQ(std::string_view(one_by_one.data() + 15 * i + 1, 14), std::string_view(one, 14));
  }
  for (const FieldsWay way : {FieldsWay::kEight, FieldsWay::kEightPermuted}) {
    if (!processor_has(way)) {
      std::printf("this processor cannot take way %d\n", static_cast<int>(way));
      continue;
    }
    std::vector<char> together(15 * values.size() + 1, '#');
    std::size_t run = 0;
    for (std::size_t first = 0; first < values.size(); first += run) {
      run = std::min<std::size_t>(run % 29 + 1, values.size() - first);
      write_value_fields(together.data() + 15 * first, values.data() + first, run, way);
    }
    ASSERT_EQ(together.back(), '#');  // nothing written past the last field
    int mismatches = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
      const std::string_view mine(together.data() + 15 * i, 15);
      const std::string_view expected(one_by_one.data() + 15 * i, 15);
      if (mine != expected) {
        ADD_FAILURE() << "way " << static_cast<int>(way) << ", x = " << std::hexfloat << values[i]
                      << ": '" << mine << "', one by one '" << expected << "'";
        if (++mismatches == 10) return;
      }
    }
  }
}

TEST(RoundToDigits, FastPathAgreesWithExactPathAtEveryCount) {
  std::mt19937_64 random(7);
  for (int i = 0; i < 200000; ++i) {
    const double x =
        std::ldexp(static_cast<double>(random() >> 11), static_cast<int>(random() % 200) - 100);
    if (x == 0) continue;
    const int count = 1 + i % 9;
    const DecimalDigits fast = round_to_digits(x, count);
    const DecimalDigits exact = round_to_digits_exact(x, count);
    ASSERT_EQ(fast.digits, exact.digits) << std::hexfloat << x << " count " << count;
    ASSERT_EQ(fast.exponent, exact.exponent) << std::hexfloat << x << " count " << count;
  }
}

}  // namespace
}  // namespace records
