// Series-file reading for flowseries-plot.
#include "plot/series_csv.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace plot {

std::vector<std::string> column_labels(const std::vector<std::string>& points, bool links) {
  std::vector<std::string> labels;
  for (std::size_t c = 0; c < points.size(); ++c) {
    std::string label = (links ? "link " : "node ") + points[c];
    if (links) label += c % 2 == 0 ? " va" : " vb";
    labels.push_back(label);
  }
  return labels;
}

std::optional<SeriesTable> parse_series(std::string_view text, bool links, std::string* error) {
  SeriesReader reader(text_source(text));
  if (!reader.start(error)) return std::nullopt;
  SeriesTable table;
  table.labels = column_labels(reader.points(), links);
  table.columns.assign(table.labels.size(), {});
  double time = 0;
  std::vector<double> values;
  std::string row_error;
  while (reader.next(time, &values, &row_error)) {
    table.times.push_back(time);
    for (std::size_t c = 0; c < values.size(); ++c) table.columns[c].push_back(values[c]);
  }
  if (!row_error.empty()) {
    if (error) *error = row_error;
    return std::nullopt;
  }
  return table;
}

std::vector<double> nice_ticks(double low, double high, int count) {
  if (!(high > low)) {
    const double pad = low == 0 ? 1 : std::fabs(low) * 0.1;
    low -= pad;
    high += pad;
  }
  // In halves: the span of the extremes of the doubles is no double.
  const double raw = (high / 2 - low / 2) / std::max(count, 1) * 2;
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  double step = magnitude;
  for (const double m : {1.0, 2.0, 5.0, 10.0}) {
    step = m * magnitude;
    if (step >= raw) break;
  }
  // Tick k is k * step, so that rounding errors do not pile up along the axis.
  std::vector<double> ticks;
  const auto first = static_cast<long long>(std::ceil(low / step - 1e-9));
  const auto last = static_cast<long long>(std::floor(high / step + 1e-9));
  for (long long k = first; k <= last; ++k) ticks.push_back(static_cast<double>(k) * step);
  return ticks;
}

std::vector<std::size_t> pick_columns(const std::vector<std::string>& labels,
                                      const std::vector<std::string>& points) {
  std::vector<std::size_t> picked;
  for (const std::string& point : points) {
    for (std::size_t c = 0; c < labels.size(); ++c) {
      const std::string& label = labels[c];
      // "node 5", "link 4 va": the number is the label's second word.
      const std::size_t start = label.find(' ') + 1;
      const std::size_t end = label.find(' ', start);
      if (label.compare(start, end == std::string::npos ? std::string::npos : end - start, point) ==
          0)
        picked.push_back(c);
    }
  }
  return picked;
}

SeriesTable select_points(const SeriesTable& table, const std::vector<std::string>& points) {
  SeriesTable picked;
  picked.times = table.times;
  for (const std::size_t c : pick_columns(table.labels, points)) {
    picked.labels.push_back(table.labels[c]);
    picked.columns.push_back(table.columns[c]);
  }
  return picked;
}

}  // namespace plot
