// Work-area sizing and partition.
#include "driver/work_area.h"

#include "records/failure.h"

namespace driver {
namespace {

constexpr std::int64_t kMaxElements = 2147483647;
constexpr std::int64_t kMaxBytes = 4294967295;

std::int64_t checked_count(std::int64_t count, std::int64_t element_size) {
  if (count > kMaxElements || count * element_size > kMaxBytes)
    records::raise_failure(records::kSizeOverflow);
  return count > 0 ? count : 0;
}

// Zeroed memory from calloc: large pools come as untouched pages, so only the rows that the
// run fills take room.
template <typename T>
std::unique_ptr<T[], FreeDeleter> allocate(std::int64_t count) {
  if (count == 0) return nullptr;
  void* p = std::calloc(static_cast<std::size_t>(count), sizeof(T));
  if (p == nullptr) records::raise_failure(records::kNoMemory);
  return std::unique_ptr<T[], FreeDeleter>(static_cast<T*>(p));
}

template <typename T>
std::span<T> cut(T*& next, std::int64_t count) {
  std::span<T> part(next, static_cast<std::size_t>(count));
  next += count;
  return part;
}

}  // namespace

void apply_default_limits(inputs::Limits& limits) {
  if (limits.steps == 0) limits.steps = kDefaultLimits.steps;
  if (limits.h == 0) limits.h = kDefaultLimits.h;
  if (limits.p == 0) limits.p = kDefaultLimits.p;
  if (limits.q == 0) limits.q = kDefaultLimits.q;
  if (limits.v == 0) limits.v = kDefaultLimits.v;
}

PoolSizes pool_sizes(const inputs::Limits& l) {
  // 64-bit arithmetic: the products of five 32-bit limits cannot wrap before they are checked.
  const std::int64_t columns = 1 + std::int64_t{l.h} + l.p + l.q + 2 * std::int64_t{l.v};
  const std::int64_t reals = checked_count(std::int64_t{l.steps} * columns + kSpareElements, 8);
  const std::int64_t integers =
      checked_count(std::int64_t{l.h} + l.p + l.q + l.v + kSpareElements, 4);
  return {reals, integers};
}

WorkArea size_work_area(inputs::Limits& limits, const records::Channel& point_list) {
  apply_default_limits(limits);
  if (limits.steps < 0 || limits.h < 0 || limits.p < 0 || limits.q < 0 || limits.v < 0)
    records::raise_channel_failure(records::kNegativeLimit, point_list);
  const PoolSizes sizes = pool_sizes(limits);

  WorkArea area;
  area.reals = allocate<double>(sizes.reals);
  area.real_count = sizes.reals;
  area.integers = allocate<std::int32_t>(sizes.integers);
  area.integer_count = sizes.integers;

  const std::int64_t s = limits.steps;
  series::SeriesTables& t = area.tables;
  t.limits = limits;
  double* real = area.reals.get();
  t.p = cut(real, std::int64_t{limits.p} * s);
  t.q = cut(real, limits.q * s);
  t.h = cut(real, limits.h * s);
  t.time = cut(real, s);
  t.v = cut(real, std::int64_t{limits.v} * 2 * s);
  std::int32_t* integer = area.integers.get();
  t.h_list = cut(integer, limits.h);
  t.p_list = cut(integer, limits.p);
  t.q_list = cut(integer, limits.q);
  t.v_list = cut(integer, limits.v);
  return area;
}

}  // namespace driver
