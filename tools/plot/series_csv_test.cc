// The plot companion reads back every shape of series file and picks round ticks.
#include "plot/series_csv.h"
#include "plot/chart_svg.h"
#include "plot/envelope.h"
#include "plot/reduce.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

namespace plot {
namespace {

std::string row_line(int groups, const char* first, const char* value, bool trailing) {
  std::string line = first;
  for (int i = 0; i < groups; ++i) line += std::string(",") + value;
  return line + (trailing ? "," : "") + "\r\n";
}

TEST(ParseSeries, ReadsEveryShapeTheProgramWrites) {
  struct Case {
    const char* name;
    std::string text;
    std::size_t columns, steps;
    double last;
  };
  std::string header200 = row_line(200, "", "       7", false);
  std::string wide = header200 + ",     201,\r\n" +
                     row_line(200, "   0.1000000E+01", "   1.00000E+00", false) +
                     ",  -2.50000E+00,\r\n";
  const Case cases[] = {
      {"example",
       ",       5,      17,\r\n   0.0000000E+00,   1.25000E+01,   1.32500E+01,\r\n"
       "   0.6000000E+02,   1.27500E+01,   1.30000E+01,\r\n",
       2, 2, 13.0},
      {"zero steps", ",       5,\r\n", 1, 0, NAN},
      {"201 columns on continuation lines", wide, 201, 1, -2.5},
      {"exactly 200 columns, no trailing comma",
       header200 + row_line(200, "   0.1000000E+01", "   3.00000E+00", false), 200, 1, 3.0},
      {"LF line ends", ",       1,\n   0.1000000E+01,   1.00000-100,\n", 1, 1, 1e-100},
      {"a row of 90000 values on continuation lines",
       [] {
         std::string header, row = "   0.1000000E+01";
         for (int line = 0; line < 450; ++line) {
           header += row_line(200, "", "  999999", false);
           row += row_line(200, "", "   7.00000E+00", false);
         }
         return header + row;
       }(),
       90000, 1, 7.0},
      {"special fields",
       ",********,       2,\r\n   0.1000000E+01, NaN          , Infinity     ,\r\n", 2, 1,
       INFINITY},
  };
  for (const Case& c : cases) {
    std::string error;
    const auto table = parse_series(c.text, false, &error);
    ASSERT_TRUE(table.has_value()) << c.name << ": " << error;
    EXPECT_EQ(table->columns.size(), c.columns) << c.name;
    EXPECT_EQ(table->times.size(), c.steps) << c.name;
    if (c.steps > 0) {
      const double last = table->columns.back().back();
      EXPECT_TRUE(last == c.last) << c.name << ": " << last;
    }
  }
}

TEST(ParseSeries, LabelsLinkColumnsAndRejectsOtherFiles) {
  const auto links = parse_series(
      ",       4,       4,\r\n   0.1000000E+01,   1.00000E+00,  -1.00000E+00,\r\n", true, nullptr);
  ASSERT_TRUE(links.has_value());
  EXPECT_EQ(links->labels, (std::vector<std::string>{"link 4 va", "link 4 vb"}));
  std::string error;
  EXPECT_FALSE(parse_series("time,value\n1,2\n", false, &error).has_value());
  EXPECT_FALSE(parse_series(",       1,\r\n   0.1000000E+01,   1.00000E+00,   2.00000E+00,\r\n",
                            false, &error));
  EXPECT_FALSE(parse_series("", false, &error).has_value());
}

// Text that is not of the form the program writes is damage, named by its line and column, and
// the rows before it stand.
TEST(ParseSeries, NamesTheLineAndColumnWhereAFileStopsBeingWhole) {
  const std::string header = ",       5,      17,\r\n";
  const std::string row = "   0.0000000E+00,   1.25000E+01,   1.32500E+01,\r\n";
  struct Case {
    const char* name;
    std::string text;
    const char* where;
    std::size_t rows_before;
  };
  const Case cases[] = {
      {"a value cut at the end of a row", header + row + "   0.6000000E+02,   1.27500E+01,   1.06",
       "line 3: ends without its line end", 1},
      {"a last line without its line end", header + row + row.substr(0, row.size() - 2),
       "line 3: ends without its line end", 1},
      {"a garbage byte inside a value",
       header + "   0.0000000E+00,   1.2x000E+01,   1.32500E+01,\r\n",
       "line 2, column 18: \"   1.2x000E+01\"", 0},
      {"a NUL inside a value",
       header + row +
           std::string("   0.0000000E+00,   1.25\0"
                       "00E+01,   1.32500E+01,\r\n",
                       49),
       "\"   1.25\\x0000E+01\"", 1},
      {"CR-only line ends", ",       5,\r   0.0000000E+00,   1.25000E+01,\r", "line 1", 0},
      {"a header point that is no number", ",       5,     abc,\r\n" + row, "line 1, column 11", 0},
      {"a field one column short", header + "   0.0000000E+00,  1.25000E+01,   1.32500E+01,\r\n",
       "line 2, column 18", 0},
      {"a row without its trailing comma", header + row.substr(0, row.size() - 3) + "\r\n",
       "line 2, column 47: the line ends without the comma", 0},
      {"a row with a value too many",
       header + "   0.0000000E+00,   1.25000E+01,   1.32500E+01,   1.0E+00,\r\n",
       "line 2, column 48", 0},
      {"an endless line", header + std::string(1 << 20, ' '), "line 2: longer than any line", 0},
  };
  for (const Case& c : cases) {
    SeriesReader reader(text_source(c.text));
    std::string error;
    if (!reader.start(&error)) {
      EXPECT_EQ(c.rows_before, 0u) << c.name << ": " << error;
      EXPECT_NE(error.find(c.where), std::string::npos) << c.name << ": " << error;
      continue;
    }
    double time = 0;
    std::vector<double> values;
    std::size_t rows = 0;
    while (reader.next(time, &values, &error)) ++rows;
    EXPECT_EQ(rows, c.rows_before) << c.name;
    EXPECT_NE(error.find(c.where), std::string::npos) << c.name << ": " << error;
    EXPECT_FALSE(parse_series(c.text, false, nullptr).has_value()) << c.name;
  }
}

// A statistics file's figures by result file and kind, in order of the point number; lines of
// files that failed are left out, empty figures are NaN, and text of another form is refused.
TEST(ReadEnvelopes, GroupsByFileAndKindInOrderOfThePoint) {
  std::istringstream text(
      "a,b.bin,complete,H,3,5,0,1.5,0.0,2.5,60.0,2.0\n"
      "a,b.bin,complete,H,1,5,5,,,,,\n"
      "run2.bin,cut,H,1,4,0,-inf,30.0,inf,0.0,nan\r\n"
      "gone.bin,failed 29,,,,,,,,,\n"
      "a,b.bin,complete,va,2,5,0,1e-05,0.0,1e+16,0.0,7.0\n");
  std::vector<Envelope> got;
  std::string error;
  ASSERT_TRUE(read_envelopes(text, got, &error)) << error;
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].file, "a,b.bin");
  EXPECT_EQ(got[0].points, (std::vector<double>{1, 3}));
  EXPECT_TRUE(std::isnan(got[0].min[0]));
  EXPECT_EQ(got[0].max[1], 2.5);
  EXPECT_EQ(got[1].file, "run2.bin");
  EXPECT_EQ(got[1].min[0], -INFINITY);
  EXPECT_EQ(got[2].kind, "va");
  EXPECT_EQ(got[2].max[0], 1e16);
  const std::string bads[] = {"x.bin,complete,H,one,5,0,1,0,2,0,1\n", "too,few\n",
                              std::string(5000, '1') + "\n"};
  for (const std::string& bad : bads) {
    std::istringstream in(bad);
    got.clear();
    EXPECT_FALSE(read_envelopes(in, got, &error)) << bad.substr(0, 40);
  }
}

TEST(SelectPoints, PicksColumnsByPointNumberInTheOrderAsked) {
  const auto nodes = parse_series(
      ",       5,      17,     120,\r\n   0.1000000E+01,   1.00000E+00,   2.00000E+00,   "
      "3.00000E+00,\r\n",
      false, nullptr);
  ASSERT_TRUE(nodes.has_value());
  const SeriesTable picked = select_points(*nodes, {"120", "5", "99"});
  EXPECT_EQ(picked.labels, (std::vector<std::string>{"node 120", "node 5"}));
  EXPECT_EQ(picked.columns, (std::vector<std::vector<double>>{{3.0}, {1.0}}));
  const auto links = parse_series(
      ",       4,       4,       9,       9,\r\n   0.1000000E+01,   1.00000E+00,  -1.00000E+00,"
      "   2.00000E+00,  -2.00000E+00,\r\n",
      true, nullptr);
  ASSERT_TRUE(links.has_value());
  EXPECT_EQ(select_points(*links, {"9"}).labels,
            (std::vector<std::string>{"link 9 va", "link 9 vb"}));
}

TEST(RenderSvg, NamesTheQuantityAndDashesLinesPastTenColours) {
  SeriesTable table;
  table.times = {0.0, 1.0};
  for (int c = 0; c < 12; ++c) {
    table.labels.push_back("node " + std::to_string(c + 1));
    table.columns.push_back({1.0 * c, 2.0 * c});
  }
  const std::string svg = render_svg(table, "HTIME.CSV", "H (base + p)");
  EXPECT_NE(svg.find(">H (base + p)</text>"), std::string::npos);
  EXPECT_NE(svg.find(">node 12</text>"), std::string::npos);
  // Lines 1 to 10 are solid, 11 and 12 repeat the first colours with a dash.
  std::size_t dashed = 0;
  for (std::size_t at = svg.find("<polyline"); at != std::string::npos;
       at = svg.find("<polyline", at + 1))
    dashed += svg.substr(at, svg.find('>', at) - at).find("stroke-dasharray") != std::string::npos;
  EXPECT_EQ(dashed, 2u);
}

// Values and times at the extremes of the doubles give finite coordinates and ticks: a NaN is a
// gap, never a coordinate.
TEST(RenderSvg, ExtremeValuesAndTimesGiveFiniteCoordinates) {
  const double big = 1.79e308;
  const struct {
    std::vector<double> times, a, b;
  } cases[] = {{{0.0, 60.0, 120.0}, {big, 1.0, 2.0}, {-big, NAN, 3.0}},
               {{-big, 0.0, big}, {1.0, 2.0, 3.0}, {-1.0, 0.0, 1.0}},
               {{0.0, 1.0}, {-big, -big}, {big, big}}};
  for (const auto& c : cases) {
    SeriesTable table;
    table.times = c.times;
    table.labels = {"node 1", "node 2"};
    table.columns = {c.a, c.b};
    const std::string svg = render_svg(table, "HTIME.CSV");
    EXPECT_EQ(svg.find("nan"), std::string::npos) << svg;
    EXPECT_EQ(svg.find("inf"), std::string::npos) << svg;
    M4Reducer reducer(2, 10, -big, big);
    reducer.add(-big, {1.0, 2.0});
    reducer.add(big, {3.0, 4.0});
    EXPECT_EQ(reducer.finish()[0].size(), 2u);
  }
}

// Per bucket the reducer keeps the first, lowest, highest and last point of each line in the
// order they came, each once, and every break of the line where it stands.
TEST(M4Reducer, KeepsTheExtremesAndTheBreaksOfEachBucket) {
  constexpr double kGap = NAN;
  struct Case {
    const char* name;
    std::vector<double>
        values;                // one per step; steps at t = 0, 1, 2, ... in 2 buckets over [0, 20)
    std::vector<double> kept;  // the values kept (NaN for a break), in order
  };
  const Case cases[] = {
      {"one bucket's extremes in order", {5, 9, 1, 4, 3}, {5, 9, 1, 3}},
      {"the low before the high", {5, 1, 9, 4, 3}, {5, 1, 9, 3}},
      {"first and last are the extremes", {1, 2, 3, 4, 9}, {1, 9}},
      {"one point", {7}, {7}},
      {"a spike in a long bucket", {0, 0, 0, 100, 0, 0, 0, 0, 0, 0, 0, 0}, {0, 100, 0, 0, 0}},
      {"each bucket its own", {5, 9, 1, 4, 3, 2, 2, 2, 2, 2, 6, 0, 8, 1}, {5, 9, 1, 2, 6, 0, 8, 1}},
      {"a break inside a bucket", {5, 9, kGap, 1, 3}, {5, 9, kGap, 1, 3}},
      {"runs wholly inside a bucket become their extent",
       {5, kGap, 2, 8, 4, kGap, 9, kGap, 1, 3},
       {5, kGap, 2, 8, kGap, 1, 3}},
      {"a break at a bucket's start",
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, kGap, 4, 4},
       {1, 10, kGap, 4, 4}},
  };
  for (const Case& c : cases) {
    M4Reducer reducer(1, 2, 0, 20);
    for (std::size_t s = 0; s < c.values.size(); ++s)
      reducer.add(static_cast<double>(s), {c.values[s]});
    const std::vector<Polyline> lines = reducer.finish();
    ASSERT_EQ(lines.size(), 1u);
    std::vector<double> kept;
    for (const Point& p : lines[0]) kept.push_back(p.v);
    ASSERT_EQ(kept.size(), c.kept.size()) << c.name;
    for (std::size_t i = 0; i < kept.size(); ++i)
      EXPECT_TRUE(kept[i] == c.kept[i] || (std::isnan(kept[i]) && std::isnan(c.kept[i])))
          << c.name << ", point " << i << ": " << kept[i];
  }
}

TEST(ParseField, ReadsExponentFormsAndMarksTheRest) {
  EXPECT_EQ(parse_field("   0.6000000E+02"), 60.0);
  EXPECT_EQ(parse_field("  -1.25000E+01"), -12.5);
  EXPECT_EQ(parse_field("   0.1000000+101"), 1e100);
  EXPECT_EQ(parse_field("   4.94066-324"), 4.94066e-324);
  EXPECT_EQ(parse_field(" -Infinity    "), -INFINITY);
  EXPECT_TRUE(std::isnan(parse_field("********")));
  EXPECT_TRUE(std::isnan(parse_field("abc")));
  double v = 0;
  for (const char* bad : {"abc", "   1.2x000E+01", "", "  1.0E+0 1", "1.00000--100"})
    EXPECT_FALSE(parse_field(bad, v)) << bad;
}

TEST(NiceTicks, UsesStepsOfOneTwoOrFive) {
  EXPECT_EQ(nice_ticks(0, 10, 5), (std::vector<double>{0, 2, 4, 6, 8, 10}));
  EXPECT_EQ(nice_ticks(0, 21600, 8), (std::vector<double>{0, 5000, 10000, 15000, 20000}));
  const std::vector<double> small = nice_ticks(-0.3, 0.3, 6);
  ASSERT_EQ(small.size(), 7u);
  EXPECT_DOUBLE_EQ(small.front(), -0.3);
  EXPECT_EQ(small[3], 0.0);
  EXPECT_FALSE(nice_ticks(5, 5, 6).empty());  // a flat series still gets an axis
}

}  // namespace
}  // namespace plot
