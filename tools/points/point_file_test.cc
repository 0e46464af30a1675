// flowseries-points: what check says of a file, the failures it predicts, and make/check round
// trips.
#include "points/point_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "testing/test_files.h"

namespace points {
namespace {

CheckResult check_text(const std::string& text) {
  testing_support::write_file("POINTS.LST", text);
  return check_point_list("POINTS.LST", std::nullopt);
}

TEST(CheckPointList, ReadsTheExampleFile) {
  testing_support::TempDir dir;
  const CheckResult r = check_text(
      "  100   50   50  100   50\n    2\n      5     17\n    0\n    1\n    120\n    3\n"
      "      4      9     11\n");
  EXPECT_EQ(r.status, 0) << r.report;
  EXPECT_EQ(r.warnings, 0) << r.output;
  EXPECT_EQ(r.lists[0], (std::vector<std::int32_t>{5, 17}));
  EXPECT_EQ(r.lists[2], (std::vector<std::int32_t>{120}));
  EXPECT_EQ(r.lists[3], (std::vector<std::int32_t>{4, 9, 11}));
  EXPECT_NE(r.output.find("limits (line 1): steps 100, H 50, P 50, Q 100, V 50\n"),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("H: 2 points (count on line 2, list on lines 3-3): 5 17"),
            std::string::npos)
      << r.output;
}

// Each kind of text that reads differently than it looks gives its warning, and the file is still
// accepted with the numbers flowseries takes.
TEST(CheckPointList, WarnsWhereTheTextReadsDifferentlyThanItLooks) {
  testing_support::TempDir dir;
  struct Case {
    const char* name;
    std::string text;
    const char* warning;  // a part of the warning
    std::vector<std::int32_t> h;
  };
  const std::string tail = "    0\n    0\n    0\n";
  const Case cases[] = {
      {"number spanning two fields",
       "\n    2\n     123456\n" + tail,
       "spans columns 1-14",
       {12, 3456}},
      {"digits split by a blank", "\n    1\n    1 2\n" + tail, "blanks between", {12}},
      {"sign apart from its digits", "\n    1\n   -  7\n" + tail, "blanks between", {-7}},
      {"text beyond column 70",
       "\n    1\n" + std::string(70, ' ') + "  99\n" + tail,
       "from column 73 on is never read",
       {0}},
      {"fields after the count",
       "\n    1\n      5      6\n" + tail,
       "\"6\" from column 14 on is never read",
       {5}},
      {"text after the count field",
       "\n    1  H nodes\n      5\n" + tail,
       "\"H nodes\" from column 8",
       {5}},
      {"a number running past the count field",
       "\n    1234\n      5\n" + tail,
       "runs on past column 5",
       {5}},
      {"a count in the wrong columns",
       "\n     12\n" + tail + "    0\n",
       "\"12\" from column 6",
       {}},
      {"point number 0",
       "\n    2\n      0      4\n" + tail,
       "is 0: its column is never filled",
       {0, 4}},
      {"negative point number", "\n    1\n     -3\n" + tail, "is -3", {-3}},
      {"lines after the V list",
       "\n    0\n    0\n    0\n    0\n  more\n",
       "after the V list and are never read",
       {}},
  };
  for (const Case& c : cases) {
    const CheckResult r = check_text(c.text);
    EXPECT_EQ(r.status, 0) << c.name << ": " << r.report;
    EXPECT_NE(r.output.find(c.warning), std::string::npos) << c.name << ":\n" << r.output;
    EXPECT_EQ(r.lists[0], c.h) << c.name;
  }
}

// The check ends with the failure that flowseries ends with, and its report line.
TEST(CheckPointList, PredictsTheRunsFailures) {
  testing_support::TempDir dir;
  struct Case {
    const char* name;
    std::string text;
    int status;
    const char* says = "";  // where a number cannot be read: its line and columns
  };
  const Case cases[] = {
      {"empty file", "", 24},
      {"ends inside a list", "\n    3\n      1\n", 24},
      {"a sign in the middle", "\n    1\n    12-5\n    0\n    0\n    0\n", 64,
       "line 3: columns 1-7: \"12-\" has a sign in the middle"},
      {"a letter", "\n    1\n     1a\n    0\n    0\n    0\n", 64,
       "line 3: columns 1-7: \"1a\" is not a number"},
      {"a letter in the second field", "\n    2\n      1  x  2\n    0\n    0\n    0\n", 64,
       "line 3: columns 8-14: \"x  2\" is not a number"},
      {"a letter in a limit", "  100   5x\n    0\n    0\n    0\n    0\n", 64,
       "line 1: columns 6-10: \"5x\" is not a number"},
      {"a tab", "\n    1\n\t     1\n    0\n    0\n    0\n", 64, "line 3: columns 1-7"},
      {"count above its limit", "    0    1\n    2\n      1      2\n    0\n    0\n    0\n", 101},
      {"point above the tables", "\n    1\n  50001\n    0\n    0\n    0\n", 102},
      {"negative limit", "   -1\n    0\n    0\n    0\n    0\n", 103},
      {"work area beyond 32 bits", "99999999999999999999\n    0\n    0\n    0\n    0\n", 179},
  };
  for (const Case& c : cases) {
    const CheckResult r = check_text(c.text);
    EXPECT_EQ(r.status, c.status) << c.name << ":\n" << r.output;
    EXPECT_EQ(r.report.rfind("flowseries: severe (" + std::to_string(c.status) + "): ", 0), 0u)
        << c.name << ": " << r.report;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << c.name << ":\n" << r.output;
  }
  const CheckResult missing = check_point_list("NOTHERE.LST", std::nullopt);
  EXPECT_EQ(missing.status, 24);
  EXPECT_NE(missing.report.find("unit 9, file " + dir.file("NOTHERE.LST")), std::string::npos)
      << missing.report;
  EXPECT_FALSE(std::filesystem::exists("NOTHERE.LST"));
}

TEST(CheckPointList, PointsAboveTheResultFilesCountsReadZero) {
  testing_support::TempDir dir;
  using testing_support::frame;
  using testing_support::le32;
  testing_support::write_file("R.BIN", frame(std::string(80, 'T')) + frame(le32(3)) +
                                           frame(std::string(48, '\0')) + frame(le32(1)) +
                                           frame(std::string(36, '\0')));
  testing_support::write_file("P.LST", "\n    2\n      3      4\n    0\n    0\n    1\n      2\n");
  const CheckResult r = check_point_list("P.LST", std::string("R.BIN"));
  EXPECT_EQ(r.status, 0) << r.report;
  EXPECT_EQ(r.warnings, 2) << r.output;
  EXPECT_NE(r.output.find("H point 2 (columns 8-14) is 4, above the result file's 3 nodes"),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("V point 1 (columns 1-7) is 2, above the result file's 1 links"),
            std::string::npos)
      << r.output;
}

TEST(MakePointList, WritesTenNumbersALineAndRefusesWhatDoesNotFit) {
  MakeOptions options;
  options.lists[0] = {5, 17};
  options.lists[3] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  options.steps = 500;
  EXPECT_EQ(*make_point_list(options, nullptr),
            "  500   50   50  100   50\n    2\n      5     17\n    0\n    0\n   11\n"
            "      1      2      3      4      5      6      7      8      9     10\n"
            "     11\n");
  options.crlf = true;
  EXPECT_EQ(make_point_list(options, nullptr)->substr(0, 27), "  500   50   50  100   50\r\n");
  std::string error;
  MakeOptions wide;
  wide.lists[1] = {10000000};
  EXPECT_FALSE(make_point_list(wide, &error));
  EXPECT_NE(error.find("7 columns"), std::string::npos);
  MakeOptions tight;
  tight.lists[0] = {1, 2, 3};
  tight.limits = std::vector<std::int32_t>{10, 2, 1, 1, 1};
  EXPECT_FALSE(make_point_list(tight, &error));
  EXPECT_NE(error.find("above its limit of 2"), std::string::npos);
}

// Whatever make writes, check reads back: the same lists, limits that hold them, no warning but
// those for point numbers of 0 or less.
TEST(MakePointList, RoundTripsThroughCheck) {
  testing_support::TempDir dir;
  std::mt19937 random(20261209);
  for (int round = 0; round < 300; ++round) {
    MakeOptions options;
    int nonpositive = 0;
    for (auto& list : options.lists) {
      const int size = std::uniform_int_distribution<int>(0, round % 7 == 0 ? 130 : 25)(random);
      for (int i = 0; i < size; ++i) {
        const int kind = std::uniform_int_distribution<int>(0, 9)(random);
        const std::int32_t v = kind == 0   ? std::uniform_int_distribution<int>(-999999, 0)(random)
                               : kind == 1 ? 9999999
                                           : std::uniform_int_distribution<int>(1, 50000)(random);
        if (v <= 0) ++nonpositive;
        list.push_back(v > 50000 ? 50000 : v);
      }
    }
    options.crlf = round % 2 == 1;
    if (round % 3 == 0) options.steps = std::uniform_int_distribution<int>(1, 99999)(random);
    const auto text = make_point_list(options, nullptr);
    ASSERT_TRUE(text);
    const CheckResult r = check_text(*text);
    ASSERT_EQ(r.status, 0) << r.report << "\n" << *text;
    for (int s = 0; s < 4; ++s) ASSERT_EQ(r.lists[s], options.lists[s]) << *text;
    EXPECT_EQ(r.warnings, nonpositive) << r.output;
    EXPECT_EQ(r.limits[0], options.steps.value_or(100));
  }
}

}  // namespace
}  // namespace points
