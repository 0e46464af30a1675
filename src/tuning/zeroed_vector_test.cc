// Tables that come zeroed: every way a table grows leaves the new entries zero, and the values
// written stay, whatever the table's size (small tables come from the heap, large ones from the
// system).
#include "tuning/zeroed_vector.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace tuning {
namespace {

TEST(ZeroedVector, NewEntriesAreZeroHoweverTheTableGrows) {
  for (const std::size_t size :
       {std::size_t{1}, std::size_t{100}, std::size_t{50000}, std::size_t{1} << 20}) {
    ZeroedVector<double> made(size);
    ZeroedVector<std::int32_t> appended;
    for (std::size_t i = 0; i < 300; ++i) appended.push_back(static_cast<std::int32_t>(i) - 7);
    appended.resize(300 + size);
    ZeroedVector<double> regrown(size);
    regrown[0] = 2.5;
    regrown.resize(3 * size);
    for (std::size_t i = 0; i < size; ++i) ASSERT_EQ(made[i], 0.0) << size << " at " << i;
    for (std::size_t i = 0; i < 300 + size; ++i)
      ASSERT_EQ(appended[i], i < 300 ? static_cast<std::int32_t>(i) - 7 : 0) << size << " at " << i;
    for (std::size_t i = 0; i < 3 * size; ++i)
      ASSERT_EQ(regrown[i], i == 0 ? 2.5 : 0.0) << size << " at " << i;
  }
}

}  // namespace
}  // namespace tuning
