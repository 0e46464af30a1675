// Series file writing through the header and step-row layouts.
#include "series/series_file.h"

#include <algorithm>
#include <future>
#include <system_error>
#include <vector>

#include "records/channel.h"
#include "records/text_layout.h"

namespace series {

using records::OutputValue;

namespace {

// One step row: the time, then the row's values read straight from the series table.
struct RowValues {
  double time;
  const double* step;
  std::size_t points;
  std::size_t components;  // 1 or 2
  std::size_t component_stride;

  std::size_t size() const { return 1 + points * components; }
  void write(std::size_t i, const records::LayoutItem& field, int scale, char* at) const {
    double value = time;
    if (i > 0) {
      // One component per point, or two (va, vb): no division on the way to each value.
      const std::size_t j = i - 1;
      value = components == 1 ? step[j] : step[(j & 1) * component_stride + (j >> 1)];
    }
    records::write_real_field(value, field, scale, at);
  }
};

// The step rows of one file, formatted by ranges.
struct RowRange {
  std::span<const double> times;
  const SeriesColumns& columns;
  std::size_t points;

  std::size_t values_per_row() const { return 1 + points * columns.components; }
  void format(records::OutputBuffer& out, std::size_t first, std::size_t end) const {
    for (std::size_t s = first; s < end; ++s) {
      const RowValues row{times[s], columns.table.data() + s * columns.step_stride, points,
                          columns.components, columns.component_stride};
      records::format_values(out, records::kRowLayout, row);
    }
  }
};

// Rows are formatted in chunks of about this much text.
constexpr std::size_t kChunkBytes = 1 << 20;

// Long files: a helper thread formats every other chunk of rows into memory while this thread
// formats the chunk before it; this thread alone writes, in row order. Formatting touches no
// channel, so the output is the same bytes in the same order as sequential formatting.
void write_rows_in_parallel(records::Channel& file, const RowRange& rows) {
  records::flush_output(file);  // the header; the file is cut behind it
  const std::size_t row_bytes = 18 + 15 * rows.values_per_row();
  const std::size_t chunk = std::max<std::size_t>(1, kChunkBytes / row_bytes);
  const std::size_t count = rows.times.size();
  // Each buffer on a cache line of its own: the two threads bump their sizes constantly.
  struct alignas(64) Buffer {
    records::OutputBuffer out;
  };
  Buffer mine_line, theirs_line;
  records::OutputBuffer& mine = mine_line.out;
  records::OutputBuffer& theirs = theirs_line.out;
  for (std::size_t first = 0; first < count; first += 2 * chunk) {
    const std::size_t middle = std::min(first + chunk, count);
    const std::size_t end = std::min(first + 2 * chunk, count);
    std::future<void> helper;
    if (middle < end) {
      try {
        helper = std::async(std::launch::async, [&] { rows.format(theirs, middle, end); });
      } catch (const std::system_error&) {
        // No thread to be had (a tight address-space or process limit): format here instead.
      }
    }
    rows.format(mine, first, middle);
    if (helper.valid()) {
      helper.get();
    } else if (middle < end) {
      rows.format(theirs, middle, end);
    }
    records::write_all(file, mine.view());
    records::write_all(file, theirs.view());
    mine.clear();
    theirs.clear();
  }
}

}  // namespace

void write_series_file(std::string_view name, int number, std::span<const std::int32_t> points,
                       std::span<const double> times, const SeriesColumns& columns,
                       std::size_t parallel_min_values) {
  records::Channel file =
      records::open_channel(number, name, records::ChannelKind::kText,
                            records::OpenMode::kCreateIfMissing, records::Direction::kOutput);
  std::vector<OutputValue> values;
  values.reserve(points.size() * columns.components);
  for (const std::int32_t point : points)
    for (std::size_t c = 0; c < columns.components; ++c) values.push_back(OutputValue::of(point));
  records::write_formatted(file, records::kHeaderLayout, values);

  const RowRange rows{times, columns, points.size()};
  if (times.size() * rows.values_per_row() < parallel_min_values) {
    rows.format(file.out, 0, times.size());
  } else {
    write_rows_in_parallel(file, rows);
  }
  records::close_channel(file);
}

}  // namespace series
