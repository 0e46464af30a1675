// The point-list file: limits, counts and lists, and the failures for counts and numbers that
// do not fit their tables.
#include "inputs/point_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "records/failure.h"
#include "testing/test_files.h"

namespace inputs {
namespace {

struct ListsRun {
  int failure = 0;
  PointCounts counts;
  std::vector<std::int32_t> h, p, q, v;
};

ListsRun read_lists(const std::string& text, std::size_t limit = 3) {
  records::Channel c = testing_support::channel_over(text, records::ChannelKind::kText,
                                                     records::kPointListChannel, "pl.txt");
  ListsRun run;
  run.h.assign(limit, -1);
  run.p.assign(limit, -1);
  run.q.assign(limit, -1);
  run.v.assign(limit, -1);
  run.failure = testing_support::failure_of([&] {
    run.counts = read_point_lists(c, {run.h, run.p, run.q, run.v}, 50000, 60000);
  });
  return run;
}

TEST(ReadLimitsLine, ReadsFiveFields) {
  testing_support::TempDir dir;
  records::Channel c = testing_support::channel_over("  100   50    7  100   -3   99\n",
                                                     records::ChannelKind::kText, 9, "pl.txt");
  const Limits l = read_limits_line(c);
  EXPECT_EQ(l.steps, 100);
  EXPECT_EQ(l.h, 50);
  EXPECT_EQ(l.p, 7);
  EXPECT_EQ(l.q, 100);
  EXPECT_EQ(l.v, -3);
}

TEST(ReadPointLists, ReadsCountsAndLists) {
  testing_support::TempDir dir;
  ListsRun run = read_lists("    2\n      5     17\n     \n   -4\n    3\n      1      0     -2\n");
  EXPECT_EQ(run.failure, 0);
  EXPECT_EQ(run.counts.h, 2);
  EXPECT_EQ(run.counts.p, 0);
  EXPECT_EQ(run.counts.q, -4);
  EXPECT_EQ(run.counts.v, 3);
  EXPECT_EQ(run.h[0], 5);
  EXPECT_EQ(run.h[1], 17);
  EXPECT_EQ(run.v, (std::vector<std::int32_t>{1, 0, -2}));
}

TEST(ReadPointLists, FailsWhereListsDoNotFit) {
  testing_support::TempDir dir;
  struct Case {
    const char* name;
    std::string text;
    int failure;
  };
  const Case cases[] = {
      {"count above its limit, before its list", "    4\n", records::kCountTooLarge},
      {"count above its limit in the V list", "    0\n    0\n    0\n    9\n      1\n",
       records::kCountTooLarge},
      {"node number above the tables", "    1\n  50001\n    0\n", records::kPointOutsideTables},
      {"link number within max(50000, M)", "    0\n    0\n    0\n    1\n  60000\n", 0},
      {"link number above the tables", "    0\n    0\n    0\n    1\n  60001\n",
       records::kPointOutsideTables},
      {"end of file before a count", "    0\n    0\n", records::kEndOfFile},
      {"short list line reads blanks as 0", "    2\n      1\n    0\n    0\n    0\n", 0},
      {"end of file inside a list", "    2\n", records::kEndOfFile},
      {"bad count field", "   1x\n", records::kConversionError},
  };
  for (const Case& c : cases) EXPECT_EQ(read_lists(c.text).failure, c.failure) << c.name;
  // A whole list is read before its numbers are checked.
  EXPECT_EQ(read_lists("   11\n  99999\n", 20).failure, records::kEndOfFile);
}

}  // namespace
}  // namespace inputs
