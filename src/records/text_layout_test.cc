// The layout interpreters: continuation lines, trailing commas, the scale factor across a
// reversion, and the input field rules (commas, short lines, blanks).
#include "records/text_layout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "records/failure.h"
#include "records/number_text.h"
#include "records/text_lines.h"
#include "testing/test_files.h"

namespace records {
namespace {

using testing_support::failure_of;

std::string written(const TextLayout& layout, const std::vector<OutputValue>& values) {
  Channel sink;  // no descriptor: the statement's lines stay in the channel's output
  write_formatted(sink, layout, values);
  return std::string(sink.out.view());
}

std::vector<OutputValue> integers(int count, int first = 1) {
  std::vector<OutputValue> values;
  values.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) values.push_back(OutputValue::of(first + i));
  return values;
}

TEST(WriteFormatted, HeaderLinesHold200GroupsAndEndShortLinesWithAComma) {
  EXPECT_EQ(written(kHeaderLayout, integers(2, 5)), ",       5,       6,\r\n");
  const std::string full = written(kHeaderLayout, integers(200));
  EXPECT_EQ(full.size(), 1800u + 2);
  EXPECT_EQ(full.substr(1791), ",     200\r\n");
  const std::string more = written(kHeaderLayout, integers(201));
  EXPECT_EQ(more.substr(0, 1802), full);
  EXPECT_EQ(more.substr(1802), ",     201,\r\n");
  EXPECT_EQ(written(kHeaderLayout, {OutputValue::of(100000000)}), ",********,\r\n");
  // Reals in integer fields count by their integer part; beyond int32 (or NaN) they overflow.
  EXPECT_EQ(
      written(kHeaderLayout, {OutputValue::of(-7.9), OutputValue::of(1e12), OutputValue::of(NAN)}),
      ",      -7,********,********,\r\n");
}

TEST(WriteFormatted, StepRowsKeepTheScaleFactorOnContinuationLines) {
  std::vector<OutputValue> row = {OutputValue::of(60.0), OutputValue::of(12.5),
                                  OutputValue::of(13.0)};
  EXPECT_EQ(written(kRowLayout, row), "   0.6000000E+02,   1.25000E+01,   1.30000E+01,\r\n");
  row = {OutputValue::of(0.0)};
  for (int i = 0; i < 200; ++i) row.push_back(OutputValue::of(1.5));
  const std::string full = written(kRowLayout, row);
  EXPECT_EQ(full.size(), 3016u + 2);
  EXPECT_EQ(full.substr(3001), ",   1.50000E+00\r\n");
  row.push_back(OutputValue::of(-2.5));
  const std::string more = written(kRowLayout, row);
  EXPECT_EQ(more.substr(0, 3018), full);
  EXPECT_EQ(more.substr(3018), ",  -2.50000E+00,\r\n");
  // A time-only row: the group opens, writes its comma and stops at the field.
  EXPECT_EQ(written(kRowLayout, {OutputValue::of(1.0)}), "   0.1000000E+01,\r\n");
}

TEST(WriteFormatted, TitleIsOneLineOf80Columns) {
  const std::string title =
      "0123456789abcdefghijABCDEFGHIJ0123456789abcdefghijABCDEFGHIJ0123456789abcdefghij";
  std::vector<OutputValue> pieces;
  pieces.reserve(20);
  for (int i = 0; i < 20; ++i)
    pieces.push_back(OutputValue::of(std::string_view(title).substr(4 * i, 4)));
  EXPECT_EQ(written(kTitleLayout, pieces), title + "\r\n");
}

struct ReadCase {
  const char* name;
  std::string text;
  std::vector<std::int32_t> expected;
};

std::vector<std::int32_t> read_integers(const TextLayout& layout, const std::string& text,
                                        std::size_t count) {
  Channel c =
      testing_support::channel_over(text, ChannelKind::kText, kPointListChannel, "list.txt");
  std::vector<std::int32_t> values(count, -1);
  std::vector<InputTarget> targets;
  targets.reserve(count);
  for (auto& v : values) targets.push_back(InputTarget::of(v));
  read_formatted(c, layout, targets);
  return values;
}

TEST(ReadFormatted, IntegerFieldsFollowTheColumnRules) {
  testing_support::TempDir dir;
  const ReadCase limits[] = {
      {"five fields", "  100   50   50  100   50\n", {100, 50, 50, 100, 50}},
      {"commas end fields", "100,50,50,100,50\n", {100, 50, 50, 100, 50}},
      {"short line", "  100   50\n", {100, 50, 0, 0, 0}},
      {"empty line", "\n", {0, 0, 0, 0, 0}},
      {"sixth field never read", "    1    2    3    4    5  abc\n", {1, 2, 3, 4, 5}},
      {"CR LF", "    1    2    3    4    5\r\n", {1, 2, 3, 4, 5}},
      {"no line end", "    7", {7, 0, 0, 0, 0}},
      {"field starting with a comma is empty", ",,3\n", {0, 0, 3, 0, 0}},
  };
  for (const ReadCase& c : limits)
    EXPECT_EQ(read_integers(kLimitsLayout, c.text, 5), c.expected) << c.name;
  EXPECT_EQ(read_integers(kCountLayout, " 1 2\n", 1), std::vector<std::int32_t>{12});
  EXPECT_EQ(read_integers(kCountLayout, "     \n", 1), std::vector<std::int32_t>{0});
}

TEST(ReadFormatted, ListsTakeTenNumbersPerLine) {
  testing_support::TempDir dir;
  std::string ten, eleven_second = "     11\n";
  std::vector<std::int32_t> expected;
  for (int i = 1; i <= 10; ++i) {
    ten += integer_field(i, 7);
    expected.push_back(i);
  }
  EXPECT_EQ(read_integers(kListLayout, ten + "\n" + "999\n", 10), expected);
  expected.push_back(11);
  EXPECT_EQ(read_integers(kListLayout, ten + "\n" + eleven_second, 11), expected);
  EXPECT_EQ(read_integers(kListLayout, "      1      2      3\n     11     12\n", 12),
            (std::vector<std::int32_t>{1, 2, 3, 0, 0, 0, 0, 0, 0, 0, 11, 12}));
  EXPECT_EQ(read_integers(kListLayout, "5,17\n", 2), (std::vector<std::int32_t>{5, 17}));
  EXPECT_EQ(read_integers(kListLayout, "   5   \n", 1), std::vector<std::int32_t>{5});
}

TEST(ReadFormatted, FailsOnBadFieldsAndTheEndOfTheFile) {
  testing_support::TempDir dir;
  const std::pair<std::string, int> cases[] = {
      {"  1.0\n", kConversionError},    {"  12A\n", kConversionError},
      {"\t   5\n", kConversionError},   {"", kEndOfFile},
      {"    1    2    3    4    5", 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(failure_of([&] { read_integers(kLimitsLayout, c.first, 5); }), c.second) << c.first;
  // A list whose second line is missing.
  EXPECT_EQ(failure_of([&] { read_integers(kListLayout, "1,2,3,4,5,6,7,8,9,10\n", 11); }),
            kEndOfFile);
}

TEST(ReadFormatted, NamesTakeTwentyColumnsPaddedWithBlanks) {
  testing_support::TempDir dir;
  const std::pair<std::string, std::string> cases[] = {
      {"short\n", "short               "},
      {"\n", std::string(20, ' ')},
      {"exactly-twenty-chars and more\n", "exactly-twenty-chars"},
      {"a,b\tc\r\n", "a,b\tc               "},
  };
  for (const auto& [text, name] : cases) {
    Channel c = testing_support::channel_over(text, ChannelKind::kText, kWorkListChannel, "w.lst");
    char got[20];
    const InputTarget target[] = {InputTarget::of(got, 20)};
    read_formatted(c, kNameLayout, target);
    EXPECT_EQ(std::string(got, 20), name);
  }
}

TEST(ReadLine, ReadsLinesOfAnyLengthAcrossTheBuffer) {
  testing_support::TempDir dir;
  // Lines from empty to 100 kB, so that the line buffer both grows and moves its rest forward.
  std::vector<std::string> lines;
  std::string text;
  for (int i = 0; i < 300; ++i) {
    lines.push_back(
        std::string(static_cast<std::size_t>(i * i % 5003), static_cast<char>('a' + i % 26)));
    text += lines.back() + (i % 3 == 0 ? "\r\n" : "\n");
  }
  // Lines past the kept length, with their CR LF, followed by a line that must come whole.
  for (const std::size_t length : {kLineKept, kLineKept + 1, std::size_t{10} << 20}) {
    lines.push_back(std::string(length, 'y') + "\r");
    text += lines.back() + "\nafter\r\n";
    lines.push_back("after");
  }
  lines.push_back(std::string(100000, 'z'));
  text += lines.back();  // the last line has no line end
  Channel c =
      testing_support::channel_over(text, ChannelKind::kText, kPointListChannel, "lines.txt");
  std::string_view line;
  for (const std::string& expected : lines) {
    ASSERT_TRUE(read_line(c, line));
    ASSERT_EQ(line, std::string_view(expected).substr(0, kLineKept)) << expected.size();
  }
  EXPECT_FALSE(read_line(c, line));
  // An endless line costs no more than a few kept lengths of buffer.
  EXPECT_LE(c.in.capacity, 8 * kLineKept);
}

}  // namespace
}  // namespace records
