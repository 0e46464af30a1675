// The point-list file: a limits line, then four counted lists of point numbers (H, P, Q, V).
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "records/channel.h"

namespace inputs {

// Step limit, H, P, Q and V limits, in the order of the limits line.
struct Limits {
  std::int32_t steps = 0;
  std::int32_t h = 0;
  std::int32_t p = 0;
  std::int32_t q = 0;
  std::int32_t v = 0;
};

// Reads the limits line (six 5-column fields, of which the first five are used).
Limits read_limits_line(records::Channel& point_list);

struct PointLists {
  std::span<std::int32_t> h, p, q, v;  // capacity: the limits
};

struct PointCounts {
  std::int32_t h = 0, p = 0, q = 0, v = 0;
};

// Reads one count line and, for a count above 0, its list into `list`; returns the count. A
// count above the list's capacity ends the run with 101 before the list is read, a point number
// above `capacity` with 102 once it has been read.
std::int32_t read_point_list(records::Channel& point_list, std::span<std::int32_t> list,
                             std::int32_t capacity);

// Reads the four count lines and lists into `lists`. A count above its list's capacity ends the
// run with 101 before its list is read; a point number above `node_capacity` (H, P, Q) or
// `link_capacity` (V) ends it with 102 once its list has been read.
PointCounts read_point_lists(records::Channel& point_list, const PointLists& lists,
                             std::int32_t node_capacity, std::int32_t link_capacity);

}  // namespace inputs
