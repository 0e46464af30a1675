// The series files: V pairs, continuation rows, and a file that is replaced.
#include "series/series_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "records/text_layout.h"

#include "testing/test_files.h"

namespace series {
namespace {

TEST(WriteSeriesFile, WritesTheHeaderAndOneRowPerStep) {
  testing_support::TempDir dir;
  testing_support::write_file("HTIME.CSV", std::string(5000, 'X'));
  const std::int32_t points[] = {5, 17};
  const double times[] = {0.0, 60.0};
  // Two steps of an H table of limit 3 (one column unused).
  const double table[] = {12.5, 13.25, -1, 12.75, 13.0, -1};
  write_series_file("HTIME.CSV", 10, points, times, {table, 3, 1, 0});
  EXPECT_EQ(testing_support::read_file("HTIME.CSV"),
            ",       5,      17,\r\n"
            "   0.0000000E+00,   1.25000E+01,   1.32500E+01,\r\n"
            "   0.6000000E+02,   1.27500E+01,   1.30000E+01,\r\n");
}

TEST(WriteSeriesFile, PairsVaAndVbForLinks) {
  testing_support::TempDir dir;
  const std::int32_t points[] = {4, 0};
  const double times[] = {1.0};
  // V limit 2: step 0 holds va of points 1..2, then vb of points 1..2.
  const double table[] = {1.5, 0.0, -2.5, 0.0};
  write_series_file("VTIME.csv", 12, points, times, {table, 4, 2, 2});
  EXPECT_EQ(testing_support::read_file("VTIME.csv"),
            ",       4,       4,       0,       0,\r\n"
            "   0.1000000E+01,   1.50000E+00,  -2.50000E+00,   0.00000E+00,   0.00000E+00,\r\n");
}

TEST(WriteSeriesFile, ZeroStepsGiveTheHeaderOnly) {
  testing_support::TempDir dir;
  std::vector<std::int32_t> points(201, 7);
  write_series_file("PTIME.CSV", 11, points, {}, {{}, 201, 1, 0});
  const std::string text = testing_support::read_file("PTIME.CSV");
  EXPECT_EQ(text.size(), 1802u + 12u);
  EXPECT_EQ(text.substr(1802), ",       7,\r\n");
}

// Long files are formatted in chunks on two threads: the same bytes as one thread gives, rows in
// order, header first, nothing dropped, whatever the row count's remainder in chunks.
TEST(WriteSeriesFile, TwoThreadsWriteTheBytesOfOne) {
  testing_support::TempDir dir;
  for (const std::size_t steps : {1u, 5000u, 13579u}) {
    const std::size_t points = 40, limit = 41;
    std::vector<std::int32_t> list(points);
    for (std::size_t k = 0; k < points; ++k) list[k] = static_cast<std::int32_t>(3 * k + 1);
    std::vector<double> times(steps), table(steps * limit);
    for (std::size_t s = 0; s < steps; ++s) {
      times[s] = 30.0 * static_cast<double>(s);
      for (std::size_t k = 0; k < limit; ++k)
        table[s * limit + k] = static_cast<double>(s) - 0.001 * static_cast<double>(k * k);
    }
    write_series_file("ONE.CSV", 10, list, times, {table, limit, 1, 0}, SIZE_MAX);
    write_series_file("TWO.CSV", 10, list, times, {table, limit, 1, 0}, 0);
    const std::string one = testing_support::read_file("ONE.CSV");
    const std::string two = testing_support::read_file("TWO.CSV");
    EXPECT_EQ(std::count(one.begin(), one.end(), '\n'), static_cast<long>(steps + 1));
    EXPECT_TRUE(one == two) << steps << " steps: " << one.size() << " and " << two.size()
                            << " bytes";
  }
}

// The row layout through the general interpreter, value by value, as the reference for the
// direct row formatter.
struct LayoutRow {
  const StepRow& row;
  std::size_t size() const { return 1 + row.points * row.components; }
  void write(std::size_t i, const records::LayoutItem& field, int scale, char* at) const {
    const std::size_t j = i - 1;
    const double value =
        i == 0 ? row.time
               : row.step[(j % row.components) * row.component_stride + j / row.components];
    records::write_real_field(value, field, scale, at);
  }
};

// Around the line's 200 value fields (the trailing comma goes when they are used up, a second
// line begins past them), for H-like and V-like tables, with values of every kind.
TEST(FormatStepRow, GivesTheBytesOfTheRowLayout) {
  std::mt19937_64 random(12);
  const double specials[] = {0.0,
                             -0.0,
                             std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN(),
                             5e-324,
                             -1.7976931348623157e308,
                             0.5,
                             99999.95,
                             9.999995,
                             1e100};
  struct Case {
    std::size_t points, components;
  };
  const Case cases[] = {{0, 1},   {1, 1},   {2, 2},   {99, 2},  {100, 2}, {101, 2},
                        {199, 1}, {200, 1}, {201, 1}, {400, 1}, {450, 1}, {250, 2}};
  for (const Case& c : cases) {
    const std::size_t stride = c.points + 3;
    std::vector<double> step(stride * c.components);
    for (std::size_t i = 0; i < step.size(); ++i)
      step[i] = i % 7 == 3 ? specials[random() % std::size(specials)]
                           : std::ldexp(static_cast<double>(random() >> 11) - 0x1p52,
                                        static_cast<int>(random() % 400) - 200);
    const StepRow row{12345.678, step.data(), c.points, c.components, stride};
    records::OutputBuffer direct, general;
    format_step_row(direct, row);
    records::format_values(general, records::kRowLayout, LayoutRow{row});
    EXPECT_EQ(direct.view(), general.view()) << c.points << " points, " << c.components;
  }
}

}  // namespace
}  // namespace series
