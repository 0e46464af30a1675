// The tables of number text, shared by its files: powers of ten in three forms, and the texts
// that the series files' fields are put together from. Built once, read by every field.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace records::number_tables {

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

// 10^s for s in [kMinPower, kMaxPower].
const PowerEntry& power_of_ten(int s);

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

// floor(log10(a)) or one less, from the binary exponent alone.
inline int decimal_exponent_estimate(std::uint64_t bits) {
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

extern const std::array<std::uint64_t, kMaxDoublePower - kMinDoublePower + 1> kDoublePowerBits;

// floor(log10(a)) without a branch, from a's bits (a positive and finite): the estimate, raised
// by one where a reaches the next power. Where 10^k is not a double, a within half an ulp of it
// can still come out one off; the caller's range check sends those few values the exact way.
inline int decimal_exponent(std::uint64_t bits) {
  const int estimate = decimal_exponent_estimate(bits);
  const std::uint64_t next =
      kDoublePowerBits[static_cast<std::size_t>(estimate + 1 - kMinDoublePower)];
  return estimate + (bits >= next ? 1 : 0);
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

extern const std::array<FieldPower, kMaxFieldPower - kMinFieldPower + 1> kFieldPowers;

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

}  // namespace records::number_tables
