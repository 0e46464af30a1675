// The statistics' merge of steps that arrive in any order, and the shortest number text.
#include "series/statistics.h"

#include <gtest/gtest.h>

#include <cmath>
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
