// Drawing series as an SVG line chart of fixed size: the part of flowseries-plot that draws.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "plot/reduce.h"
#include "plot/series_csv.h"

namespace plot {

// The chart's plot area: 680 pixel columns from x = 80, so that a bucket of the time axis divided
// in 680 is one column of pixels.
inline constexpr double kPlotLeft = 80;
inline constexpr std::size_t kPlotColumns = 680;

struct Chart {
  std::vector<std::string> labels;
  std::vector<Polyline> lines;  // one per label
  double t0 = 0, t1 = 1;        // the range of the steps' times
  bool any_step = false;
  std::string x_label = "time";  // what the horizontal axis holds
};

// The time axis over [t0, t1]: round ticks, and the range they stretch it to.
struct TimeAxis {
  std::vector<double> ticks;
  double low, high;
};
TimeAxis time_axis(double t0, double t1);

// The chart as an SVG document; `quantity` labels the value axis ("" for none).
std::string render_svg(const Chart& chart, std::string_view title, std::string_view quantity = {});

// A chart of every point of the table, and that chart drawn.
Chart chart_of(const SeriesTable& table);
std::string render_svg(const SeriesTable& table, std::string_view title,
                       std::string_view quantity = {});

}  // namespace plot
