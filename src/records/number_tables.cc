#include "records/number_tables.h"

#include <cmath>

namespace records::number_tables {
namespace {

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

}  // namespace

const PowerEntry& power_of_ten(int s) {
  return kPowers(s);
}

namespace {

std::array<std::uint64_t, kMaxDoublePower - kMinDoublePower + 1> double_powers() {
  std::array<std::uint64_t, kMaxDoublePower - kMinDoublePower + 1> bits{};
  for (int k = kMinDoublePower; k <= kMaxDoublePower; ++k) {
    const PowerEntry& p = kPowers(k);
    bits[static_cast<std::size_t>(k - kMinDoublePower)] =
        std::bit_cast<std::uint64_t>(std::ldexp(static_cast<double>(p.mantissa), p.exponent));
  }
  return bits;
}

std::array<FieldPower, kMaxFieldPower - kMinFieldPower + 1> field_powers() {
  std::array<FieldPower, kMaxFieldPower - kMinFieldPower + 1> value{};
  for (int k = kMinFieldPower; k <= kMaxFieldPower; ++k) {
    const PowerEntry& p = kPowers(k);
    const int lift = k > 5 ? 200 : -200;
    value[static_cast<std::size_t>(k - kMinFieldPower)] = {
        std::ldexp(1.0, lift), std::ldexp(static_cast<double>(p.mantissa), p.exponent - lift)};
  }
  return value;
}

}  // namespace

// Defined after kPowers, in this one file: built in that order.
const std::array<std::uint64_t, kMaxDoublePower - kMinDoublePower + 1> kDoublePowerBits =
    double_powers();
const std::array<FieldPower, kMaxFieldPower - kMinFieldPower + 1> kFieldPowers = field_powers();

}  // namespace records::number_tables
