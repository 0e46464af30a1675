// Series file writing through the header and step-row layouts.
#include "series/series_file.h"

#include <algorithm>
#include <vector>

#include "records/channel.h"
#include "records/number_text.h"
#include "records/text_layout.h"
#include "series/chunk_ring.h"
#include "tuning/ways.h"

namespace series {

using records::OutputValue;

namespace {

// A row's values for the layout interpreter, read straight from the series table.
struct RowValues {
  const StepRow& row;

  std::size_t size() const { return 1 + row.points * row.components; }
  void write(std::size_t i, const records::LayoutItem& field, int scale, char* at) const {
    double value = row.time;
    if (i > 0) {
      // One component per point, or two (va, vb): no division on the way to each value.
      const std::size_t j = i - 1;
      value =
          row.components == 1 ? row.step[j] : row.step[(j & 1) * row.component_stride + (j >> 1)];
    }
    records::write_real_field(value, field, scale, at);
  }
};

// The row layout's group of value fields repeats this often on one line.
constexpr std::size_t kValuesPerLine =
    static_cast<std::size_t>(records::layouts::kRowItems[1].repeat);

// The step rows of one file, formatted by ranges.
struct RowRange {
  std::span<const double> times;
  const SeriesColumns& columns;
  std::size_t points;

  std::size_t values_per_row() const { return 1 + points * columns.components; }
  void format(records::OutputBuffer& out, std::size_t first, std::size_t end) const {
    for (std::size_t s = first; s < end; ++s) {
      format_step_row(out, {times[s], columns.table.data() + s * columns.step_stride, points,
                            columns.components, columns.component_stride});
    }
  }
};

// Rows are formatted in chunks of about this much text.
constexpr std::size_t kChunkBytes = 1 << 20;

std::size_t rows_per_chunk(const RowRange& rows) {
  const std::size_t row_bytes = 18 + 15 * rows.values_per_row();
  return std::max<std::size_t>(1, kChunkBytes / row_bytes);
}

void write_rows_in_parallel(records::Channel& file, const RowRange& rows) {
  records::flush_output(file);  // the header; the file is cut behind it
  write_chunk_ring(file, rows.times.size(), rows_per_chunk(rows),
                   [&rows](records::OutputBuffer& out, std::size_t first, std::size_t end) {
                     rows.format(out, first, end);
                   });
}

// On this thread alone, a chunk at a time: a long file never stands whole in memory. A file of
// one chunk goes out in one write, at its close.
void write_rows_in_turn(records::Channel& file, const RowRange& rows) {
  const std::size_t per_chunk = rows_per_chunk(rows);
  for (std::size_t first = 0; first < rows.times.size(); first += per_chunk) {
    if (first > 0) records::flush_output(file);
    rows.format(file.out, first, std::min(first + per_chunk, rows.times.size()));
  }
}

}  // namespace

// Rows that fit on one line (all but lists of more than 200 values) are laid out here directly,
// as the interpreter would: the time, a comma and a value field per value, and a comma more
// when the group of value fields was not used up, since its literal comes before its field.
void format_step_row(records::OutputBuffer& out, const StepRow& row) {
  const std::size_t count = row.points * row.components;
  if (count > kValuesPerLine) {
    records::format_values(out, records::kRowLayout, RowValues{row});
    return;
  }
  const std::size_t trailing_comma = count < kValuesPerLine ? 1 : 0;
  char* at = out.grow(16 + 15 * count + trailing_comma + 2);
  records::write_time_field(at, row.time);
  at += 16;
  if (row.components == 1) {
    records::write_value_fields(at, row.step, row.points);
  } else {
    // va and vb of each point side by side, as the row shows them.
    double pairs[kValuesPerLine];
    const double* vb = row.step + row.component_stride;
    for (std::size_t k = 0; k < row.points; ++k) {
      pairs[2 * k] = row.step[k];
      pairs[2 * k + 1] = vb[k];
    }
    records::write_value_fields(at, pairs, count);
  }
  at += 15 * count;
  if (trailing_comma != 0) *at++ = ',';
  at[0] = '\r';
  at[1] = '\n';
}

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
  if (tuning::plain_ways() || times.size() * rows.values_per_row() < parallel_min_values) {
    write_rows_in_turn(file, rows);
  } else {
    write_rows_in_parallel(file, rows);
  }
  records::close_channel(file);
}

}  // namespace series
