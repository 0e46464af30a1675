// Free-form console lines: the prompts and counts written, and the one integer answer read.
#include "records/console.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "records/failure.h"
#include "testing/test_files.h"

namespace records {
namespace {

std::string free_line(std::initializer_list<FreeItem> items) {
  Channel sink;
  write_free(sink, items);
  return std::string(sink.out.view());
}

TEST(WriteFree, TextsGetOneBlankAndIntegersTwelveColumns) {
  EXPECT_EQ(free_line({std::string_view("--- prompt ")}), " --- prompt \r\n");
  EXPECT_EQ(free_line({std::int32_t{1234}, std::int32_t{56}}), "        1234          56\r\n");
  EXPECT_EQ(free_line({std::int32_t{0}, std::int32_t{0}}), "           0           0\r\n");
  EXPECT_EQ(free_line({std::int32_t{-5}, std::int32_t{INT32_MIN}}), "          -5 -2147483648\r\n");
  // Seven integers fill 84 columns: the seventh starts a new line.
  EXPECT_EQ(free_line({1, 2, 3, 4, 5, 6, 7}),
            std::string(11, ' ') + "1" + std::string(11, ' ') + "2" + std::string(11, ' ') + "3" +
                std::string(11, ' ') + "4" + std::string(11, ' ') + "5" + std::string(11, ' ') +
                "6\r\n" + std::string(11, ' ') + "7\r\n");
}

struct AnswerCase {
  const char* input;
  std::int32_t expected;  // the target starts at -99: unchanged answers keep it
  int failure;
};

TEST(ReadFreeInteger, FollowsTheItemRules) {
  testing_support::TempDir dir;
  const AnswerCase cases[] = {
      {"  1  \n", 1, 0},
      {"1 2\n", 1, 0},
      {"\n\n1\n", 1, 0},
      {"\n  \t\n 7", 7, 0},
      {",\n", -99, 0},
      {"/\n", -99, 0},
      {"3*1\n", 1, 0},
      {"2*\n", -99, 0},
      {"2*,5\n", -99, 0},
      {"1.9\n", 1, 0},
      {"-2.7\n", -2, 0},
      {"0.5\n", 0, 0},
      {"1E0\n", 1, 0},
      {"1d0\n", 1, 0},
      {"1q1\n", 10, 0},
      {".5e1\n", 5, 0},
      {"+1\n", 1, 0},
      {"\t1\t\n", 1, 0},
      {"1,5\n", 1, 0},
      {"1/\n", 1, 0},
      {"1e10\n", INT32_MIN, 0},
      {"-2147483648\n", INT32_MIN, 0},
      {"1\r\n", 1, 0},
      {"\r1\n", 1, 0},
      {"1 \r\n", 1, 0},
      {"-2147483648\r\n", INT32_MIN, 0},
      // A CR that does not stand right before the LF is part of the value.
      {"1\r2\n", 0, kSyntaxError},
      {"1\r\r\n", 0, kSyntaxError},
      {"1\r", 0, kSyntaxError},
      // No digit before the exponent letter or the end, or none after the exponent letter.
      {"+\n", 0, kSyntaxError},
      {".\n", 0, kSyntaxError},
      {"+.\n", 0, kSyntaxError},
      {".e1\n", 0, kSyntaxError},
      {"2*+\n", 0, kSyntaxError},
      {"1.5D+\n", 0, kSyntaxError},
      {"1E-\n", 0, kSyntaxError},
      // A repeat form needs its count.
      {"*1\n", 0, kSyntaxError},
      {"abc\n", 0, kSyntaxError},
      {"12x\n", 0, kSyntaxError},
      {"1..2\n", 0, kSyntaxError},
      {"\x82\x50\n", 0, kSyntaxError},
      {"-\n", 0, kSyntaxError},
      {"1e\n", 0, kSyntaxError},
      {"99999999999\n", 0, kConversionError},
      {"2147483648\n", 0, kConversionError},
      {"2147483648\r\n", 0, kConversionError},
      {"-2147483649\n", 0, kConversionError},
      {"", 0, kEndOfFile},
      {"\n  \n\t\n", 0, kEndOfFile},
  };
  for (const AnswerCase& c : cases) {
    Channel input = testing_support::channel_over(c.input, ChannelKind::kText, kConsoleInputChannel,
                                                  "answer.txt");
    std::int32_t answer = -99;
    const int failure = testing_support::failure_of([&] { read_free_integer(input, answer); });
    EXPECT_EQ(failure, c.failure) << "'" << c.input << "'";
    if (c.failure == 0) {
      EXPECT_EQ(answer, c.expected) << "'" << c.input << "'";
    }
  }
}

TEST(ReadFreeInteger, DiscardsTheRestOfTheAnswerLine) {
  testing_support::TempDir dir;
  Channel input = testing_support::channel_over("5 6 7\n8\n", ChannelKind::kText,
                                                kConsoleInputChannel, "answer.txt");
  std::int32_t answer = 0;
  read_free_integer(input, answer);
  EXPECT_EQ(answer, 5);
  read_free_integer(input, answer);
  EXPECT_EQ(answer, 8);
}

}  // namespace
}  // namespace records
