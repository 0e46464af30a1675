// Work-area sizing: defaults, pool sizes, the partition and the failures for sizes that do not fit.
#include "driver/work_area.h"

#include <gtest/gtest.h>

#include "records/failure.h"
#include "testing/test_files.h"

namespace driver {
namespace {

records::Channel point_list_channel() {
  records::Channel c;
  c.number = records::kPointListChannel;
  c.path = "/tmp/pl.txt";
  return c;
}

TEST(SizeWorkArea, AppliesDefaultsAndSizesThePools) {
  struct Case {
    inputs::Limits limits;
    inputs::Limits after;
    std::int64_t reals, integers;
  };
  const Case cases[] = {
      {{0, 0, 0, 0, 0}, {100, 50, 50, 100, 50}, 30201, 351},
      {{1, 1, 1, 1, 1}, {1, 1, 1, 1, 1}, 107, 105},
      {{2, 0, 3, 0, 7},
       {2, 50, 3, 100, 7},
       2 * (1 + 50 + 3 + 100 + 14) + 101,
       50 + 3 + 100 + 7 + 101},
  };
  const records::Channel pl = point_list_channel();
  for (const Case& c : cases) {
    inputs::Limits limits = c.limits;
    const WorkArea area = size_work_area(limits, pl);
    EXPECT_EQ(area.real_count, c.reals);
    EXPECT_EQ(area.integer_count, c.integers);
    EXPECT_EQ(limits.steps, c.after.steps);
    EXPECT_EQ(limits.v, c.after.v);
    EXPECT_EQ(area.tables.limits.q, c.after.q);
  }
}

TEST(SizeWorkArea, CutsThePoolsInOrder) {
  inputs::Limits limits{3, 2, 4, 5, 6};
  const WorkArea area = size_work_area(limits, point_list_channel());
  const series::SeriesTables& t = area.tables;
  const double* reals = area.reals.get();
  EXPECT_EQ(t.p.data(), reals);
  EXPECT_EQ(t.q.data(), reals + 4 * 3);
  EXPECT_EQ(t.h.data(), reals + (4 + 5) * 3);
  EXPECT_EQ(t.time.data(), reals + (4 + 5 + 2) * 3);
  EXPECT_EQ(t.v.data(), reals + (4 + 5 + 2 + 1) * 3);
  EXPECT_EQ(t.v.size(), 6u * 2 * 3);
  EXPECT_EQ(area.real_count, 3 * (1 + 2 + 4 + 5 + 12) + 101);
  const std::int32_t* integers = area.integers.get();
  EXPECT_EQ(t.h_list.data(), integers);
  EXPECT_EQ(t.p_list.data(), integers + 2);
  EXPECT_EQ(t.q_list.data(), integers + 6);
  EXPECT_EQ(t.v_list.data(), integers + 11);
  EXPECT_EQ(area.integer_count, 2 + 4 + 5 + 6 + 101);
  EXPECT_EQ(t.time[2], 0.0);  // zeroed: cells never filled read as 0.0
}

TEST(SizeWorkArea, FailsOnSizesThatDoNotFit) {
  struct Case {
    inputs::Limits limits;
    int failure;
  };
  const Case cases[] = {
      {{11000, 10000, 10000, 10000, 10000}, records::kSizeOverflow},  // 4.4 GB of reals
      {{2147483647, 2147483647, 1, 1, 1}, records::kSizeOverflow},
      {{1, 1, 1, 1, 2147483647}, records::kSizeOverflow},
      {{-1, 0, 0, 0, 0}, records::kNegativeLimit},
      {{1, 1, 1, 1, -50}, records::kNegativeLimit},
      {{-2147483647, 2147483647, 2147483647, 2147483647, 2147483647}, records::kNegativeLimit},
  };
  const records::Channel pl = point_list_channel();
  for (const Case& c : cases) {
    inputs::Limits limits = c.limits;
    EXPECT_EQ(testing_support::failure_of([&] { size_work_area(limits, pl); }), c.failure)
        << c.limits.steps << " " << c.limits.v;
  }
}

}  // namespace
}  // namespace driver
