// Point-list reading through the (6I5), (I5) and (10I7) layouts.
#include "inputs/point_list.h"

#include <vector>

#include "records/failure.h"
#include "records/text_layout.h"

namespace inputs {

using records::InputTarget;

std::int32_t read_point_list(records::Channel& point_list, std::span<std::int32_t> list,
                             std::int32_t capacity) {
  std::int32_t count = 0;
  const InputTarget count_target[] = {InputTarget::of(count)};
  records::read_formatted(point_list, records::kCountLayout, count_target);
  if (count <= 0) return count;
  if (static_cast<std::size_t>(count) > list.size())
    records::raise_channel_failure(records::kCountTooLarge, point_list);
  std::vector<InputTarget> targets;
  targets.reserve(static_cast<std::size_t>(count));
  for (std::int32_t i = 0; i < count; ++i)
    targets.push_back(InputTarget::of(list[static_cast<std::size_t>(i)]));
  records::read_formatted(point_list, records::kListLayout, targets);
  for (std::int32_t i = 0; i < count; ++i)
    if (list[static_cast<std::size_t>(i)] > capacity)
      records::raise_channel_failure(records::kPointOutsideTables, point_list);
  return count;
}

Limits read_limits_line(records::Channel& point_list) {
  Limits limits;
  const InputTarget targets[] = {InputTarget::of(limits.steps), InputTarget::of(limits.h),
                                 InputTarget::of(limits.p), InputTarget::of(limits.q),
                                 InputTarget::of(limits.v)};
  records::read_formatted(point_list, records::kLimitsLayout, targets);
  return limits;
}

PointCounts read_point_lists(records::Channel& point_list, const PointLists& lists,
                             std::int32_t node_capacity, std::int32_t link_capacity) {
  PointCounts counts;
  counts.h = read_point_list(point_list, lists.h, node_capacity);
  counts.p = read_point_list(point_list, lists.p, node_capacity);
  counts.q = read_point_list(point_list, lists.q, node_capacity);
  counts.v = read_point_list(point_list, lists.v, link_capacity);
  return counts;
}

}  // namespace inputs
