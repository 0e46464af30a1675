// Series-file parsing and SVG rendering for flowseries-plot.
#include "plot/series_csv.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace plot {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t lf = text.find('\n');
    std::string_view line = text.substr(0, lf);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (lf == std::string_view::npos) break;
    text.remove_prefix(lf + 1);
  }
  return lines;
}

// The comma-separated fields after a line's first comma; an empty last field (the trailing
// comma) is dropped.
std::vector<std::string_view> groups(std::string_view line) {
  std::vector<std::string_view> out;
  std::size_t at = line.find(',');
  while (at != std::string_view::npos) {
    const std::size_t next = line.find(',', at + 1);
    out.push_back(line.substr(
        at + 1, next == std::string_view::npos ? std::string_view::npos : next - at - 1));
    at = next;
  }
  if (!out.empty() && trim(out.back()).empty()) out.pop_back();
  return out;
}

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

std::string coordinate(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", v);
  return text;
}

constexpr const char* kPalette[] = {"#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd",
                                    "#8c564b", "#e377c2", "#7f7f7f", "#bcbd22", "#17becf"};
// Past the palette's ten colours the lines differ by their dash as well.
constexpr const char* kDashes[] = {"", "6 3", "2 2", "8 3 2 3", "1 4"};

}  // namespace

double parse_field(std::string_view field) {
  field = trim(field);
  if (field.empty() || field.front() == '*') return kNaN;
  if (field == "NaN") return kNaN;
  if (field == "Infinity") return std::numeric_limits<double>::infinity();
  if (field == "-Infinity") return -std::numeric_limits<double>::infinity();
  // A three-digit exponent stands without its letter: "1.00000-100".
  const std::size_t sign = field.find_last_of("+-");
  std::string text(field);
  if (sign != std::string_view::npos && sign > 0 && field[sign - 1] != 'E' &&
      field[sign - 1] != 'e')
    text = std::string(field.substr(0, sign)) + "E" + std::string(field.substr(sign));
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  return end != nullptr && *end == '\0' ? v : kNaN;
}

std::optional<SeriesTable> parse_series(std::string_view text, bool links, std::string* error) {
  SeriesTable table;
  std::vector<std::string_view> header;
  std::size_t i = 0;
  const std::vector<std::string_view> lines = split_lines(text);
  for (; i < lines.size() && !lines[i].empty() && lines[i].front() == ','; ++i)
    for (const std::string_view g : groups(lines[i])) header.push_back(trim(g));
  if (header.empty()) {
    if (error) *error = "no header line of point numbers";
    return std::nullopt;
  }
  for (std::size_t c = 0; c < header.size(); ++c) {
    std::string label = (links ? "link " : "node ") + std::string(header[c]);
    if (links) label += c % 2 == 0 ? " va" : " vb";
    table.labels.push_back(label);
  }
  table.columns.assign(header.size(), {});
  std::vector<double> row;
  auto finish_row = [&] {
    if (row.size() != header.size() + 1) return false;
    table.times.push_back(row[0]);
    for (std::size_t c = 0; c < header.size(); ++c) table.columns[c].push_back(row[c + 1]);
    row.clear();
    return true;
  };
  for (; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    if (line.empty()) continue;
    if (line.front() != ',') {
      if (!row.empty() && !finish_row()) break;
      row.push_back(parse_field(line.substr(0, line.find(','))));
    } else if (row.empty()) {
      break;
    }
    for (const std::string_view g : groups(line)) row.push_back(parse_field(g));
  }
  if ((i < lines.size() && !lines[i].empty()) || (!row.empty() && !finish_row())) {
    if (error) *error = "line " + std::to_string(i + 1) + " does not fit the header's columns";
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
  const double raw = (high - low) / std::max(count, 1);
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

std::string render_svg(const SeriesTable& table, std::string_view title,
                       std::string_view quantity) {
  constexpr double kWidth = 960, kHeight = 540, kLeft = 80, kRight = 200, kTop = 40, kBottom = 60;
  constexpr std::size_t kLegendMax = 24;
  double t0 = 0, t1 = 1, v0 = 0, v1 = 1;
  bool any_time = false, any_value = false;
  for (const double t : table.times) {
    if (!std::isfinite(t)) continue;
    t0 = any_time ? std::min(t0, t) : t;
    t1 = any_time ? std::max(t1, t) : t;
    any_time = true;
  }
  for (const auto& column : table.columns)
    for (const double v : column) {
      if (!std::isfinite(v)) continue;
      v0 = any_value ? std::min(v0, v) : v;
      v1 = any_value ? std::max(v1, v) : v;
      any_value = true;
    }
  const std::vector<double> xt = nice_ticks(t0, t1, 8);
  std::vector<double> yt = nice_ticks(v0, v1, 6);
  if (yt.size() >= 2) {  // the value axis runs from tick to tick
    const double step = yt[1] - yt[0];
    if (yt.front() > v0) yt.insert(yt.begin(), yt.front() - step);
    if (yt.back() < v1) yt.push_back(yt.back() + step);
  }
  t0 = std::min(t0, xt.front());
  t1 = std::max(t1, xt.back());
  v0 = std::min(v0, yt.front());
  v1 = std::max(v1, yt.back());
  const double plot_w = kWidth - kLeft - kRight, plot_h = kHeight - kTop - kBottom;
  auto x = [&](double t) { return kLeft + (t1 > t0 ? (t - t0) / (t1 - t0) : 0.5) * plot_w; };
  auto y = [&](double v) {
    return kTop + plot_h - (v1 > v0 ? (v - v0) / (v1 - v0) : 0.5) * plot_h;
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
         "\" text-anchor=\"middle\">time</text>\n";
  if (!quantity.empty())
    svg += "<text transform=\"translate(16 " + coordinate(kTop + plot_h / 2) +
           ") rotate(-90)\" text-anchor=\"middle\">" + escape(quantity) + "</text>\n";
  if (table.times.empty())
    svg += "<text x=\"" + coordinate(kLeft + plot_w / 2) + "\" y=\"" +
           coordinate(kTop + plot_h / 2) + "\" text-anchor=\"middle\">no steps stored</text>\n";
  for (std::size_t c = 0; c < table.columns.size(); ++c) {
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
            .append(" stroke-width=\"1.5\" points=\"")
            .append(points)
            .append("\"/>\n");
      points.clear();
    };
    for (std::size_t s = 0; s < table.times.size(); ++s) {
      const double t = table.times[s], v = table.columns[c][s];
      if (!std::isfinite(t) || !std::isfinite(v)) {
        flush();
        continue;
      }
      if (!points.empty()) points += ' ';
      points += coordinate(x(t)) + "," + coordinate(y(v));
    }
    flush();
    if (c < kLegendMax) {
      const double ly = kTop + 8 + 18.0 * static_cast<double>(c);
      svg += "<line x1=\"" + coordinate(kWidth - kRight + 16) + "\" y1=\"" + coordinate(ly) +
             "\" x2=\"" + coordinate(kWidth - kRight + 40) + "\" y2=\"" + coordinate(ly) +
             "\" stroke=\"" + color + "\"" + dashing + " stroke-width=\"3\"/>\n";
      svg += "<text x=\"" + coordinate(kWidth - kRight + 46) + "\" y=\"" + coordinate(ly + 4) +
             "\">" + escape(table.labels[c]) + "</text>\n";
    }
  }
  if (table.columns.size() > kLegendMax)
    svg += "<text x=\"" + coordinate(kWidth - kRight + 16) + "\" y=\"" +
           coordinate(kTop + 8 + 18.0 * kLegendMax + 4) + "\">and " +
           std::to_string(table.columns.size() - kLegendMax) + " more</text>\n" + "<text x=\"" +
           coordinate(kWidth - kRight + 16) + "\" y=\"" +
           coordinate(kTop + 8 + 18.0 * kLegendMax + 22) + "\">(pick with --points)</text>\n";
  svg += "</svg>\n";
  return svg;
}

SeriesTable select_points(const SeriesTable& table, const std::vector<std::string>& points) {
  SeriesTable picked;
  picked.times = table.times;
  for (const std::string& point : points) {
    for (std::size_t c = 0; c < table.labels.size(); ++c) {
      const std::string& label = table.labels[c];
      // "node 5", "link 4 va": the number is the label's second word.
      const std::size_t start = label.find(' ') + 1;
      const std::size_t end = label.find(' ', start);
      if (label.compare(start, end == std::string::npos ? std::string::npos : end - start, point) ==
          0) {
        picked.labels.push_back(label);
        picked.columns.push_back(table.columns[c]);
      }
    }
  }
  return picked;
}

}  // namespace plot
