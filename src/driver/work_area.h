// The work area: two pools, of reals and of integers, sized from the five limits and cut into
// the time table, the H, P, Q and V tables and the four point lists.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "inputs/point_list.h"
#include "records/channel.h"
#include "series/extraction.h"

namespace driver {

inline constexpr inputs::Limits kDefaultLimits{100, 50, 50, 100, 50};
inline constexpr std::int64_t kSpareElements = 101;

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

struct WorkArea {
  std::unique_ptr<double[], FreeDeleter> reals;
  std::int64_t real_count = 0;
  std::unique_ptr<std::int32_t[], FreeDeleter> integers;
  std::int64_t integer_count = 0;
  series::SeriesTables tables;
};

// Replaces each limit that reads exactly 0 by its default.
void apply_default_limits(inputs::Limits& limits);

struct PoolSizes {
  std::int64_t reals;
  std::int64_t integers;
};

// The element counts of the two pools; ends the run with 179 when a count or its byte size
// would not fit the 32-bit sizes of the pools.
PoolSizes pool_sizes(const inputs::Limits& limits);

// Applies the defaults (writing them back into `limits`), checks them (103 on `point_list` for
// a negative limit, before anything is allocated), allocates both pools zeroed (41 when memory
// cannot be had) and cuts them into the tables.
WorkArea size_work_area(inputs::Limits& limits, const records::Channel& point_list);

}  // namespace driver
