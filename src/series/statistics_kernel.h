// The figures of a run of points at one step, taken in: the one place where a value changes the
// lowest, highest, NaN and infinity counts and the three-part sum. One way a value at a time,
// and one sixteen at a time with 512-bit vectors where the processor has them; both give the
// same figures, bit for bit (the same operations on the same doubles).
#pragma once

#include <cstddef>
#include <cstdint>

namespace series::kernel {

// a + b = sum + error exactly (Knuth's two-sum, any order of magnitudes): the step of the
// three-part sums, one at a time and in the merge of two passes alike.
inline void two_sum(double a, double b, double& sum, double& error) {
  sum = a + b;
  const double b_virtual = sum - a;
  error = (a - (sum - b_virtual)) + (b - b_virtual);
}

// The columns of figures of consecutive points, from the first point of the run.
struct Columns {
  double* lowest;
  double* highest;
  double* hi;
  double* mid;
  double* lo;
  std::int32_t* step_min;
  std::int32_t* step_max;
  std::int32_t* nan;
  std::int32_t* pos_inf;
  std::int32_t* neg_inf;
};

// Takes in the values of `count` consecutive points at step s: row[i] (plus base[i] when base is
// not null, as H is p plus the node's base).
using TakeRun = void (*)(const double* row, const double* base, std::int32_t s, std::size_t count,
                         const Columns& c);

void take_run_one_by_one(const double* row, const double* base, std::int32_t s, std::size_t count,
                         const Columns& c);
// Null where the program was built without the 512-bit kernels.
extern const TakeRun kTakeRunSixteen;

// The way this run takes: sixteen at a time where the processor has AVX-512F and the run takes
// every way, else one by one.
TakeRun best_take_run();

}  // namespace series::kernel
