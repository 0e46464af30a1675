// Taking values into the figures, one at a time.
#include "series/statistics_kernel.h"

#include <cmath>

#include "tuning/ways.h"

namespace series::kernel {
namespace {

bool processor_has_sixteen() {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
  return kTakeRunSixteen != nullptr && __builtin_cpu_supports("avx512f");
#else
  return false;
#endif
}

}  // namespace

void take_run_one_by_one(const double* row, const double* base, std::int32_t s, std::size_t count,
                         const Columns& c) {
  for (std::size_t k = 0; k < count; ++k) {
    const double x = base != nullptr ? row[k] + base[k] : row[k];
    if (std::isnan(x)) {
      ++c.nan[k];
      continue;
    }
    if (x < c.lowest[k] || (x == c.lowest[k] && s < c.step_min[k])) {
      c.lowest[k] = x;
      c.step_min[k] = s;
    }
    if (x > c.highest[k] || (x == c.highest[k] && s < c.step_max[k])) {
      c.highest[k] = x;
      c.step_max[k] = s;
    }
    if (std::isinf(x)) [[unlikely]] {
      ++(x > 0 ? c.pos_inf : c.neg_inf)[k];
      continue;
    }
    double error = 0, carry = 0;
    two_sum(c.hi[k], x, c.hi[k], error);
    two_sum(c.mid[k], error, c.mid[k], carry);
    c.lo[k] += carry;
  }
}

TakeRun best_take_run() {
  static const bool sixteen = processor_has_sixteen();
  return sixteen && !tuning::plain_ways() ? kTakeRunSixteen : take_run_one_by_one;
}

}  // namespace series::kernel
