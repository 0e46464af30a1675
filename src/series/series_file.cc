// Series file writing through the header and step-row layouts.
#include "series/series_file.h"

#include <vector>

#include "records/channel.h"
#include "records/text_layout.h"

namespace series {

using records::OutputValue;

void write_series_file(std::string_view name, int number, std::span<const std::int32_t> points,
                       std::span<const double> times, const SeriesColumns& columns) {
  records::Channel file = records::open_channel(number, name, records::ChannelKind::kText,
                                                records::OpenMode::kCreateIfMissing);
  std::vector<OutputValue> values;
  values.reserve(points.size() * columns.components + 1);
  for (const std::int32_t point : points)
    for (std::size_t c = 0; c < columns.components; ++c) values.push_back(OutputValue::of(point));
  records::write_formatted(file, records::kHeaderLayout, values);

  for (std::size_t s = 0; s < times.size(); ++s) {
    values.clear();
    values.push_back(OutputValue::of(times[s]));
    const double* step = columns.table.data() + s * columns.step_stride;
    for (std::size_t k = 0; k < points.size(); ++k)
      for (std::size_t c = 0; c < columns.components; ++c)
        values.push_back(OutputValue::of(step[c * columns.component_stride + k]));
    records::write_formatted(file, records::kRowLayout, values);
  }
  records::close_channel(file);
}

}  // namespace series
