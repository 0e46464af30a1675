// The SVG line chart of flowseries-plot.
#include "plot/chart_svg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace plot {
namespace {

std::string escape(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        if (static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7f)
          out += c;
        else
          out += '?';
    }
  }
  return out;
}

std::string number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", v);
  return text;
}

// A coordinate to a hundredth of a pixel, without the zeros that say nothing ("80", "80.5").
std::string coordinate(double v) {
  char text[32];
  int n = std::snprintf(text, sizeof text, "%.2f", v);
  while (n > 0 && text[n - 1] == '0') --n;
  if (n > 0 && text[n - 1] == '.') --n;
  if (n == 2 && text[0] == '-' && text[1] == '0') return "0";
  return std::string(text, static_cast<std::size_t>(n));
}

constexpr const char* kPalette[] = {"#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd",
                                    "#8c564b", "#e377c2", "#7f7f7f", "#bcbd22", "#17becf"};
// Past the palette's ten colours the lines differ by their dash as well.
constexpr const char* kDashes[] = {"", "6 3", "2 2", "8 3 2 3", "1 4"};

}  // namespace

TimeAxis time_axis(double t0, double t1) {
  TimeAxis axis{nice_ticks(t0, t1, 8), t0, t1};
  axis.low = std::min(t0, axis.ticks.front());
  axis.high = std::max(t1, axis.ticks.back());
  return axis;
}

std::string render_svg(const Chart& chart, std::string_view title, std::string_view quantity) {
  constexpr double kWidth = 960, kHeight = 540, kLeft = kPlotLeft, kRight = 200, kTop = 40,
                   kBottom = 60;
  static_assert(kWidth - kLeft - kRight == static_cast<double>(kPlotColumns));
  constexpr std::size_t kLegendMax = 24;
  double v0 = 0, v1 = 1;
  bool any_value = false;
  for (const Polyline& line : chart.lines)
    for (const Point& p : line) {
      if (!std::isfinite(p.v)) continue;
      v0 = any_value ? std::min(v0, p.v) : p.v;
      v1 = any_value ? std::max(v1, p.v) : p.v;
      any_value = true;
    }
  const TimeAxis axis = time_axis(chart.t0, chart.t1);
  const std::vector<double>& xt = axis.ticks;
  const double t0 = axis.low, t1 = axis.high;
  std::vector<double> yt = nice_ticks(v0, v1, 6);
  if (yt.size() >= 2) {  // the value axis runs from tick to tick
    const double step = yt[1] / 2 - yt[0] / 2;
    if (yt.front() > v0 && std::isfinite(yt.front() - 2 * step))
      yt.insert(yt.begin(), yt.front() - 2 * step);
    if (yt.back() < v1 && std::isfinite(yt.back() + 2 * step)) yt.push_back(yt.back() + 2 * step);
  }
  v0 = std::min(v0, yt.front());
  v1 = std::max(v1, yt.back());
  const double plot_w = kWidth - kLeft - kRight, plot_h = kHeight - kTop - kBottom;
  // Fractions of the axes in halves: values at the extremes of the doubles stay finite.
  auto x = [&](double t) {
    return kLeft + (t1 > t0 ? (t / 2 - t0 / 2) / (t1 / 2 - t0 / 2) : 0.5) * plot_w;
  };
  auto y = [&](double v) {
    return kTop + plot_h - (v1 > v0 ? (v / 2 - v0 / 2) / (v1 / 2 - v0 / 2) : 0.5) * plot_h;
  };

  std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  svg +=
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"960\" height=\"540\" viewBox=\"0 0 960 "
      "540\" "
      "font-family=\"sans-serif\" font-size=\"12\">\n";
  svg += "<rect width=\"960\" height=\"540\" fill=\"white\"/>\n";
  svg += "<text x=\"" + coordinate(kLeft) + "\" y=\"24\" font-size=\"15\">" + escape(title) +
         "</text>\n";
  for (const double t : xt) {
    svg += "<line x1=\"" + coordinate(x(t)) + "\" y1=\"" + coordinate(kTop) + "\" x2=\"" +
           coordinate(x(t)) + "\" y2=\"" + coordinate(kTop + plot_h) + "\" stroke=\"#e0e0e0\"/>\n";
    svg += "<text x=\"" + coordinate(x(t)) + "\" y=\"" + coordinate(kTop + plot_h + 18) +
           "\" text-anchor=\"middle\">" + number(t) + "</text>\n";
  }
  for (const double v : yt) {
    svg += "<line x1=\"" + coordinate(kLeft) + "\" y1=\"" + coordinate(y(v)) + "\" x2=\"" +
           coordinate(kLeft + plot_w) + "\" y2=\"" + coordinate(y(v)) + "\" stroke=\"#e0e0e0\"/>\n";
    svg += "<text x=\"" + coordinate(kLeft - 6) + "\" y=\"" + coordinate(y(v) + 4) +
           "\" text-anchor=\"end\">" + number(v) + "</text>\n";
  }
  svg += "<rect x=\"" + coordinate(kLeft) + "\" y=\"" + coordinate(kTop) + "\" width=\"" +
         coordinate(plot_w) + "\" height=\"" + coordinate(plot_h) +
         "\" fill=\"none\" stroke=\"black\"/>\n";
  svg += "<text x=\"" + coordinate(kLeft + plot_w / 2) + "\" y=\"" + coordinate(kHeight - 16) +
         "\" text-anchor=\"middle\">" + escape(chart.x_label) + "</text>\n";
  if (!quantity.empty())
    svg += "<text transform=\"translate(16 " + coordinate(kTop + plot_h / 2) +
           ") rotate(-90)\" text-anchor=\"middle\">" + escape(quantity) + "</text>\n";
  if (!chart.any_step)
    svg += "<text x=\"" + coordinate(kLeft + plot_w / 2) + "\" y=\"" +
           coordinate(kTop + plot_h / 2) + "\" text-anchor=\"middle\">no steps stored</text>\n";
  for (std::size_t c = 0; c < chart.lines.size(); ++c) {
    constexpr std::size_t kColours = sizeof kPalette / sizeof kPalette[0];
    const char* color = kPalette[c % kColours];
    const std::string_view dash = kDashes[(c / kColours) % (sizeof kDashes / sizeof kDashes[0])];
    const std::string dashing =
        dash.empty() ? std::string() : " stroke-dasharray=\"" + std::string(dash) + "\"";
    std::string points;
    auto flush = [&] {
      if (!points.empty())
        svg.append("<polyline fill=\"none\" stroke=\"")
            .append(color)
            .append("\"")
            .append(dashing)
            .append(" stroke-width=\"1.5\" stroke-linejoin=\"round\" points=\"")
            .append(points)
            .append("\"/>\n");
      points.clear();
    };
    for (const Point& p : chart.lines[c]) {
      if (!std::isfinite(p.t) || !std::isfinite(p.v)) {
        flush();
        continue;
      }
      if (!points.empty()) points += ' ';
      points += coordinate(x(p.t)) + "," + coordinate(y(p.v));
    }
    flush();
    if (c < kLegendMax) {
      const double ly = kTop + 8 + 18.0 * static_cast<double>(c);
      svg += "<line x1=\"" + coordinate(kWidth - kRight + 16) + "\" y1=\"" + coordinate(ly) +
             "\" x2=\"" + coordinate(kWidth - kRight + 40) + "\" y2=\"" + coordinate(ly) +
             "\" stroke=\"" + color + "\"" + dashing + " stroke-width=\"3\"/>\n";
      svg += "<text x=\"" + coordinate(kWidth - kRight + 46) + "\" y=\"" + coordinate(ly + 4) +
             "\">" + escape(chart.labels[c]) + "</text>\n";
    }
  }
  if (chart.lines.size() > kLegendMax)
    svg += "<text x=\"" + coordinate(kWidth - kRight + 16) + "\" y=\"" +
           coordinate(kTop + 8 + 18.0 * kLegendMax + 4) + "\">and " +
           std::to_string(chart.lines.size() - kLegendMax) + " more</text>\n" + "<text x=\"" +
           coordinate(kWidth - kRight + 16) + "\" y=\"" +
           coordinate(kTop + 8 + 18.0 * kLegendMax + 22) + "\">(pick with --points)</text>\n";
  svg += "</svg>\n";
  return svg;
}

Chart chart_of(const SeriesTable& table) {
  Chart chart;
  chart.labels = table.labels;
  bool any_time = false;
  for (const double t : table.times) {
    if (!std::isfinite(t)) continue;
    chart.t0 = any_time ? std::min(chart.t0, t) : t;
    chart.t1 = any_time ? std::max(chart.t1, t) : t;
    any_time = true;
  }
  chart.any_step = !table.times.empty();
  for (const auto& column : table.columns) {
    Polyline line;
    for (std::size_t s = 0; s < table.times.size(); ++s)
      line.push_back({table.times[s], column[s]});
    chart.lines.push_back(std::move(line));
  }
  return chart;
}

std::string render_svg(const SeriesTable& table, std::string_view title,
                       std::string_view quantity) {
  return render_svg(chart_of(table), title, quantity);
}

}  // namespace plot
