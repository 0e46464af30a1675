// The statistics' merge of steps that arrive in any order, and the shortest number text.
#include "series/statistics.h"
#include "series/statistics_kernel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

namespace series {
namespace {

TEST(ShortestText, WritesWhatPythonsReprWrites) {
  const struct {
    double value;
    const char* text;
  } cases[] = {{0.0, "0.0"},
               {-0.0, "-0.0"},
               {100.0, "100.0"},
               {0.1, "0.1"},
               {1e-4, "0.0001"},
               {1e-5, "1e-05"},
               {1e16, "1e+16"},
               {1e15, "1000000000000000.0"},
               {123456789.125, "123456789.125"},
               {-2.5e-300, "-2.5e-300"},
               {1.7976931348623157e308, "1.7976931348623157e+308"},
               {5e-324, "5e-324"},
               {HUGE_VAL, "inf"},
               {-HUGE_VAL, "-inf"},
               {std::numeric_limits<double>::quiet_NaN(), "nan"}};
  for (const auto& c : cases) EXPECT_EQ(shortest_text(c.value), c.text) << c.text;
}

// Steps handed to two passes in any split and order give the figures of one pass in file order:
// ties at an extreme keep the earlier step, the sum keeps what a single sum would.
TEST(StatisticsPass, StepsSplitBetweenTwoPassesGiveTheFiguresOfOne) {
  inputs::ResultHeader header;
  header.node_count = 1;
  header.node_base.resize(inputs::kMinTableEntries);
  header.node_base[0] = 0.5;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<double> values = {3.0, 1.0, nan, 9.0, 1e-30, 9.0, 0.5, 7.0, 1e-30};
  inputs::StepBuffers step;
  inputs::prepare_step_buffers(step, header, std::vector<std::int32_t>{1}, {});
  const auto add = [&](StatisticsPass& pass, std::int32_t s) {
    step.time = 10.0 * s;
    step.p[0] = values[static_cast<std::size_t>(s)];
    pass.add(step, header, s);
  };
  StatisticsPass whole(Quantity::kP, {1});
  for (std::int32_t s = 0; s < 9; ++s) add(whole, s);
  const PointStatistics expected = whole.figures()[0];
  EXPECT_EQ(expected.nan, 1);
  EXPECT_EQ(expected.time_of_min, 40.0);
  EXPECT_EQ(expected.time_of_max, 30.0);  // the first of the two 9.0
  EXPECT_EQ(expected.mean, 29.5 / 8);
  for (std::int32_t split = 0; split <= 9; ++split) {
    StatisticsPass loop(Quantity::kP, {1}), tail(Quantity::kP, {1});
    for (std::int32_t s = 0; s < split; ++s) add(loop, s);
    for (std::int32_t s = 8; s >= split; --s) add(tail, s);  // from the end, as the decoder goes
    loop.merge(tail);
    const PointStatistics got = loop.figures()[0];
    EXPECT_EQ(got.steps, 9) << split;
    EXPECT_EQ(got.nan, expected.nan) << split;
    EXPECT_EQ(got.min, expected.min) << split;
    EXPECT_EQ(got.time_of_min, expected.time_of_min) << split;
    EXPECT_EQ(got.max, expected.max) << split;
    EXPECT_EQ(got.time_of_max, expected.time_of_max) << split;
    EXPECT_EQ(got.mean, expected.mean) << split;
  }
}

}  // namespace
}  // namespace series

namespace series::kernel {
namespace {

// Both ways of taking values in leave the same figures, bit for bit, on runs of every length
// (the vector way's lanes and the rest after the last sixteen), with NaN, infinities, signed
// zeros, ties at both extremes, steps out of order and sums that cancel.
TEST(TakeRun, EveryWayLeavesTheSameFigures) {
  if (kTakeRunSixteen == nullptr || !__builtin_cpu_supports("avx512f"))
    GTEST_SKIP() << "no 512-bit vectors here";
  const double specials[] = {std::numeric_limits<double>::quiet_NaN(),
                             HUGE_VAL,
                             -HUGE_VAL,
                             0.0,
                             -0.0,
                             1e308,
                             -1e308,
                             5e-324,
                             1.0,
                             1.0,
                             -3.5,
                             1e16,
                             -1e16};
  std::uint64_t seed = 7;
  const auto next = [&seed] {
    seed = seed * 6364136223846793005u + 1442695040888963407u;
    return seed >> 11;
  };
  for (const std::size_t count : {1u, 15u, 16u, 17u, 33u, 64u, 101u}) {
    struct Figures {
      std::vector<double> lowest, highest, hi, mid, lo;
      std::vector<std::int32_t> step_min, step_max, nan, pos_inf, neg_inf;
      explicit Figures(std::size_t n)
          : lowest(n, HUGE_VAL),
            highest(n, -HUGE_VAL),
            hi(n),
            mid(n),
            lo(n),
            step_min(n, 0x7fffffff),
            step_max(n, 0x7fffffff),
            nan(n),
            pos_inf(n),
            neg_inf(n) {}
      Columns columns() {
        return {lowest.data(),   highest.data(),  hi.data(),  mid.data(),     lo.data(),
                step_min.data(), step_max.data(), nan.data(), pos_inf.data(), neg_inf.data()};
      }
    } one(count), sixteen(count);
    std::vector<double> row(count), base(count);
    for (std::size_t k = 0; k < count; ++k) base[k] = static_cast<double>(next() % 1000) / 8;
    // Steps out of order, as the tail decoder hands them, with repeated values for ties.
    for (const std::int32_t s : {3, 1, 2, 9, 0, 7, 8, 4, 6, 5}) {
      for (std::size_t k = 0; k < count; ++k) {
        const std::uint64_t r = next();
        row[k] = r % 3 == 0 ? specials[r % std::size(specials)]
                            : static_cast<double>(static_cast<std::int64_t>(r % 2001) - 1000) / 7;
      }
      const double* bases[] = {nullptr, base.data()};
      for (const double* b : bases) {
        take_run_one_by_one(row.data(), b, s, count, one.columns());
        kTakeRunSixteen(row.data(), b, s, count, sixteen.columns());
      }
    }
    const auto same_bits = [](const std::vector<double>& a, const std::vector<double>& b) {
      return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * 8) == 0;
    };
    EXPECT_TRUE(same_bits(one.lowest, sixteen.lowest)) << count;
    EXPECT_TRUE(same_bits(one.highest, sixteen.highest)) << count;
    EXPECT_TRUE(same_bits(one.hi, sixteen.hi)) << count;
    EXPECT_TRUE(same_bits(one.mid, sixteen.mid)) << count;
    EXPECT_TRUE(same_bits(one.lo, sixteen.lo)) << count;
    EXPECT_EQ(one.step_min, sixteen.step_min) << count;
    EXPECT_EQ(one.step_max, sixteen.step_max) << count;
    EXPECT_EQ(one.nan, sixteen.nan) << count;
    EXPECT_EQ(one.pos_inf, sixteen.pos_inf) << count;
    EXPECT_EQ(one.neg_inf, sixteen.neg_inf) << count;
  }
}

}  // namespace
}  // namespace series::kernel
