// Series file writing through the header and step-row layouts.
#include "series/series_file.h"

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

}  // namespace

void write_series_file(std::string_view name, int number, std::span<const std::int32_t> points,
                       std::span<const double> times, const SeriesColumns& columns) {
  records::Channel file = records::open_channel(number, name, records::ChannelKind::kText,
                                                records::OpenMode::kCreateIfMissing);
  std::vector<OutputValue> values;
  values.reserve(points.size() * columns.components);
  for (const std::int32_t point : points)
    for (std::size_t c = 0; c < columns.components; ++c) values.push_back(OutputValue::of(point));
  records::write_formatted(file, records::kHeaderLayout, values);

  for (std::size_t s = 0; s < times.size(); ++s) {
    const RowValues row{times[s], columns.table.data() + s * columns.step_stride, points.size(),
                        columns.components, columns.component_stride};
    records::write_values(file, records::kRowLayout, row);
  }
  records::close_channel(file);
}

}  // namespace series
