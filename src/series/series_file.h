// The series CSV files: a header line of point numbers, then one row per stored step holding
// the step's time and the values of the listed points.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "records/channel.h"

namespace series {

// Where a row's values stand in a series table: step s, point k, component c is at
// table[s * step_stride + c * component_stride + k].
struct SeriesColumns {
  std::span<const double> table;
  std::size_t step_stride;
  std::size_t components;  // 1, or 2 for va and vb
  std::size_t component_stride;
};

// One step row: the time, then the values of `points` points, each with `components` values,
// component c of point k at step[c * component_stride + k].
struct StepRow {
  double time;
  const double* step;
  std::size_t points;
  std::size_t components;  // 1 or 2
  std::size_t component_stride;
};

// Appends the row's line(s) to `out`, as the row layout lays them out.
void format_step_row(records::OutputBuffer& out, const StepRow& row);

// Files of fewer values than this are formatted on the calling thread alone.
inline constexpr std::size_t kParallelMinValues = std::size_t{1} << 18;

// Writes the file `name` on channel `number`: the header (each point number `components` times)
// and one row per time. An existing file is replaced. Rows of files of at least
// `parallel_min_values` values are formatted on two threads; the bytes are the same either way.
void write_series_file(std::string_view name, int number, std::span<const std::int32_t> points,
                       std::span<const double> times, const SeriesColumns& columns,
                       std::size_t parallel_min_values = kParallelMinValues);

}  // namespace series
