// flowseries-plot: draws flowseries' series files as SVG line charts or interactive pages.
//
//   flowseries-plot [--html] [--points LIST] [--from T1] [--to T2] SERIES.CSV... [OUTPUT]
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "flowseries/flowseries.h"
#include "platform/platform.h"
#include "plot/chart_svg.h"
#include "plot/envelope.h"
#include "plot/page_html.h"
#include "plot/reduce.h"
#include "plot/series_csv.h"
#include "series/statistics.h"

namespace {

constexpr const char* kUsage =
    "usage: flowseries-plot [--html] [--points LIST] [--from T1] [--to T2] SERIES.CSV...\n"
    "                       [OUTPUT]\n"
    "\n"
    "Draws series files of flowseries (HTIME.CSV, PTIME.CSV, QTIME.csv, VTIME.csv), one output\n"
    "each: an SVG line chart (one line per column over time, a legend naming each node or link),\n"
    "or with --html an interactive page for any browser (zoom, range selector, series on and\n"
    "off, values under the mouse, the view saved as PNG; it needs no network). An output goes\n"
    "beside its input with .svg or .html, or to OUTPUT when one file is drawn and OUTPUT ends\n"
    "in .svg or .html; each output's name is printed.\n"
    "\n"
    "A statistics file of flowseries-stats is drawn as envelopes: per kind (H, P, Q, va, vb)\n"
    "one output, NAME_KIND.svg or .html, with the lowest, highest and mean value of each\n"
    "result file against the node or link number.\n"
    "\n"
    "Long series are reduced before drawing: the chart keeps, per column of pixels, the first,\n"
    "lowest, highest and last point of each line, which draws the same picture; the page keeps\n"
    "them per bucket of time (a few thousand buckets) and says so.\n"
    "\n"
    "  --html          write the interactive page instead of the SVG chart\n"
    "  --points LIST   only these point numbers, comma-separated (5,17,120); a link's number\n"
    "                  gives both its va and vb\n"
    "  --from T1       only the steps from time T1 on\n"
    "  --to T2         only the steps up to time T2 (a window small enough is not reduced)\n"
    "  --every-point   draw every point, unreduced (large inputs give large outputs)\n"
    "  -o FILE         the output (.svg, or .html with --html) when one file is drawn\n"
    "  --title TEXT    the chart's title (default: the file's name)\n"
    "  --result FILE   show this result file's title (default: the one WORK.LST beside the\n"
    "                  series file names, if any)\n"
    "  --links         the file holds links (va, vb per link) whatever its name; by default a\n"
    "                  file whose name contains VTIME, in any case, does\n"
    "  --nodes         the file holds nodes whatever its name\n"
    "  -h, --help      this text\n"
    "  -V, --version   the program's version\n"
    "\n"
    "Exit status: 0 when every output was written, 1 when a file could not be read or written\n"
    "or is not a series file, 2 for a wrong command line (an output of another format, --from\n"
    "after --to, a window that holds no step). Manual: man flowseries-plot\n";

struct Options {
  std::optional<std::string> title;   // the chart's title instead of the file's name
  std::optional<std::string> result;  // the result file whose title the chart shows
  std::optional<bool> links;  // the file's columns are links (va, vb) or nodes, as the user says
  bool html = false;
  bool every_point = false;
  bool pick = false;
  std::vector<std::string> points;
  std::optional<double> from, to;
};

// The quantity a file holds, from its name: the value axis's label.
std::string quantity_of(std::string_view base) {
  const char kind = base.empty() ? ' ' : static_cast<char>(base[0] & ~0x20);
  switch (kind) {
    case 'H':
      return "H (base + p)";
    case 'P':
      return "P (p)";
    case 'Q':
      return "Q (q)";
    case 'V':
      return "V (va, vb)";
    default:
      return "value";
  }
}

std::vector<std::string> split_list(std::string_view list) {
  std::vector<std::string> items;
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    const std::string_view item = list.substr(0, comma);
    if (!item.empty()) items.emplace_back(item);
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return items;
}

std::optional<double> parse_time(std::string_view text) {
  double v = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(v))
    return std::nullopt;
  return v;
}

int wrong_usage(const std::string& what) {
  std::cerr << "flowseries-plot: " << what << " (see flowseries-plot --help)\n";
  return 2;
}

bool ends_with(std::string_view text, std::string_view end) {
  if (text.size() < end.size()) return false;
  for (std::size_t i = 0; i < end.size(); ++i)
    if ((text[text.size() - end.size() + i] | 0x20) != end[i]) return false;
  return true;
}

// Set when a window (--from, --to) holds no step of a file: a wrong command line, not a chart.
bool empty_window = false;

// Opens the file and reads its header; null with a message for a file that cannot be read or is
// not a series file.
struct OpenSeries {
  std::FILE* file = nullptr;
  std::optional<plot::SeriesReader> reader;
  ~OpenSeries() {
    if (file != nullptr) std::fclose(file);
  }
};

bool open_series(const std::string& input, OpenSeries& open) {
  if (open.file != nullptr) std::fclose(open.file);
  std::string error;
  open.file = series::open_series_file(input, &error);
  if (open.file == nullptr) {
    std::cerr << input << ": " << error << "\n";
    return false;
  }
  open.reader.emplace(plot::file_source(open.file));
  if (!open.reader->start(&error)) {
    std::cerr << input << ": not a series file: " << error << "\n";
    return false;
  }
  return true;
}

// The file's name without its folders: the chart's title.
std::string base_name(const std::string& path) {
  return path.substr(path.find_last_of("/\\") + 1);
}

// The result file's title, as far as it shows in a chart: its printable ASCII characters, others
// as '?', trailing blanks dropped. From --result, or else from the work list beside the series
// file (its fourth line names the result file, as the program reads it); empty where neither
// names a file the library can open.
std::string result_title(const std::string& input, const Options& o) {
  std::string path;
  if (o.result) {
    path = *o.result;
  } else {
    const std::size_t slash = input.find_last_of("/\\");
    const std::string folder = slash == std::string::npos ? "" : input.substr(0, slash + 1);
    std::ifstream list(folder + "WORK.LST", std::ios::binary);
    char line[256] = {};
    for (int i = 0; i < 4 && list; ++i) list.getline(line, sizeof line);
    if (!list && !list.eof()) return {};
    std::string name(line, std::min<std::size_t>(std::strlen(line), 20));
    while (!name.empty() && (name.back() == ' ' || name.back() == '\r')) name.pop_back();
    while (!name.empty() && name.front() == ' ') name.erase(name.begin());
    if (name.empty()) return {};
    path = folder + name;
  }
  try {
    std::string title = flowseries::ResultFile::open(path).title();
    for (char& c : title)
      if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) c = '?';
    while (!title.empty() && title.back() == ' ') title.pop_back();
    return title;
  } catch (const flowseries::Error& e) {
    if (o.result) std::cerr << "flowseries-plot: " << e.what() << "\n";
    return {};
  }
}

std::string chart_title(const std::string& input, const Options& o) {
  std::string title = o.title ? *o.title : base_name(input);
  if (const std::string of_result = result_title(input, o); !of_result.empty())
    title += " - " + of_result;
  return title;
}

// Reads the file twice: the first time for the range of the times and the number of steps (the
// chart's buckets depend on them), the second to hand each step to `take`.
template <typename Make>
bool read_twice(const std::string& input, const Options& o, std::vector<std::size_t>& columns,
                std::vector<std::string>& labels, double& t0, double& t1, std::uint64_t& steps,
                Make make) {
  OpenSeries open;
  if (!open_series(input, open)) return false;
  const std::vector<std::string> all =
      plot::column_labels(open.reader->points(), o.links.value_or(series::holds_links(input)));
  if (o.pick) {
    columns = plot::pick_columns(all, o.points);
    if (columns.empty()) {
      std::cerr << input << ": holds none of the points asked for\n";
      return false;
    }
  } else {
    for (std::size_t c = 0; c < all.size(); ++c) columns.push_back(c);
  }
  for (const std::size_t c : columns) labels.push_back(all[c]);
  auto inside = [&](double t) { return !(o.from && t < *o.from) && !(o.to && t > *o.to); };
  double time = 0;
  std::string error;
  bool any_time = false;
  steps = 0;
  while (open.reader->next(time, nullptr, &error)) {
    if (!inside(time)) continue;
    ++steps;
    if (!std::isfinite(time)) continue;
    t0 = any_time ? std::min(t0, time) : time;
    t1 = any_time ? std::max(t1, time) : time;
    any_time = true;
  }
  if (!error.empty()) {
    std::cerr << input << ": not a series file: " << error << "\n";
    return false;
  }
  if (steps == 0 && (o.from || o.to)) {
    std::cerr << "flowseries-plot: " << input << ": no step lies in the window asked for (--from "
              << (o.from ? series::shortest_text(*o.from) : "-") << " --to "
              << (o.to ? series::shortest_text(*o.to) : "-") << ")\n";
    empty_window = true;
    return false;
  }
  if (!any_time) t0 = 0, t1 = 1;
  auto* take = make();
  if (!open_series(input, open)) return false;
  std::vector<double> values, picked(columns.size());
  while (open.reader->next(time, &values, &error)) {
    if (!inside(time)) continue;
    for (std::size_t i = 0; i < columns.size(); ++i) picked[i] = values[columns[i]];
    take->add(time, picked);
  }
  if (!error.empty()) {
    std::cerr << input << ": not a series file: " << error << "\n";
    return false;
  }
  return true;
}

// Every point, as a chart draws them unreduced.
struct EveryPoint {
  std::vector<plot::Polyline> lines;
  explicit EveryPoint(std::size_t series) : lines(series) {}
  void add(double t, const std::vector<double>& values) {
    for (std::size_t s = 0; s < values.size(); ++s) lines[s].push_back({t, values[s]});
  }
};

bool write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out.flush()) {
    std::perror(path.c_str());
    return false;
  }
  return true;
}

bool draw_svg(const std::string& input, const std::string& output, const Options& o) {
  std::vector<std::size_t> columns;
  plot::Chart chart;
  std::uint64_t steps = 0;
  std::optional<plot::M4Reducer> reducer;
  std::optional<EveryPoint> every;
  if (o.every_point) {
    if (!read_twice(input, o, columns, chart.labels, chart.t0, chart.t1, steps,
                    [&] { return &every.emplace(columns.size()); }))
      return false;
    chart.lines = std::move(every->lines);
  } else {
    // One bucket per column of pixels of the time axis as the chart draws it.
    if (!read_twice(input, o, columns, chart.labels, chart.t0, chart.t1, steps, [&] {
          const plot::TimeAxis axis = plot::time_axis(chart.t0, chart.t1);
          return &reducer.emplace(columns.size(), plot::kPlotColumns, axis.low, axis.high);
        }))
      return false;
    chart.lines = reducer->finish();
  }
  chart.any_step = steps > 0;
  return write_file(output,
                    plot::render_svg(chart, chart_title(input, o), quantity_of(base_name(input))));
}

bool draw_html(const std::string& input, const std::string& output, const Options& o,
               const plot::ChartLibrary& library) {
  std::vector<std::size_t> columns;
  std::vector<std::string> labels;
  double t0 = 0, t1 = 1;
  std::uint64_t steps = 0;
  std::optional<plot::PageRows> rows;
  if (!read_twice(input, o, columns, labels, t0, t1, steps, [&] {
        const std::size_t buckets = o.every_point ? std::numeric_limits<std::size_t>::max() / 8
                                                  : plot::page_buckets(columns.size());
        return &rows.emplace(labels, steps, buckets, t0, t1);
      }))
    return false;
  plot::PageData data = rows->finish();
  data.file = input;
  return write_file(output, plot::render_html(data, chart_title(input, o),
                                              quantity_of(base_name(input)), library));
}

// Whether the file is a statistics file of flowseries-stats (its first line says so).
bool is_statistics_file(const std::string& input) {
  std::ifstream in(input, std::ios::binary);
  char first[128] = {};
  in.getline(first, sizeof first);
  std::string_view line(first);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line == plot::kStatisticsHeader;
}

// The envelope charts of a statistics file: one output per kind, with the lowest, highest and
// mean value of each result file against the point number. Returns the outputs written, or
// nullopt with a message.
std::optional<std::vector<std::string>> draw_envelopes(const std::string& input,
                                                       const std::optional<std::string>& named,
                                                       const Options& o,
                                                       const plot::ChartLibrary* library) {
  std::ifstream in(input, std::ios::binary);
  std::string header;
  std::getline(in, header);
  std::vector<plot::Envelope> envelopes;
  std::string error;
  if (!plot::read_envelopes(in, envelopes, &error)) {
    std::cerr << input << ": not a statistics file: " << error << "\n";
    return std::nullopt;
  }
  std::vector<std::string> kinds;
  for (const plot::Envelope& e : envelopes)
    if (std::find(kinds.begin(), kinds.end(), e.kind) == kinds.end()) kinds.push_back(e.kind);
  if (kinds.empty()) {
    std::cerr << input << ": holds no figures to draw\n";
    return std::nullopt;
  }
  const std::size_t slash = input.find_last_of("/\\");
  std::size_t dot = input.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = input.size();
  std::vector<std::string> written;
  for (const std::string& kind : kinds) {
    std::vector<const plot::Envelope*> of_kind;
    for (const plot::Envelope& e : envelopes)
      if (e.kind == kind) of_kind.push_back(&e);
    const bool several = of_kind.size() > 1;
    const bool links = kind == "va" || kind == "vb";
    std::vector<std::string> labels;
    std::map<double, std::vector<double>> rows;
    std::uint64_t steps = 0;
    for (std::size_t f = 0; f < of_kind.size(); ++f) {
      const plot::Envelope& e = *of_kind[f];
      steps = std::max(steps, e.steps);
      for (const char* what : {"lowest", "highest", "mean"})
        labels.push_back(several ? e.file + " " + what : std::string(what));
      for (std::size_t i = 0; i < e.points.size(); ++i) {
        std::vector<double>& row = rows[e.points[i]];
        row.resize(3 * of_kind.size(), std::numeric_limits<double>::quiet_NaN());
        row[3 * f] = e.min[i];
        row[3 * f + 1] = e.max[i];
        row[3 * f + 2] = e.mean[i];
      }
    }
    const std::string title = (o.title ? *o.title : base_name(input)) + ": " + kind +
                              (links ? " of every link" : " of every node") +
                              (several ? "" : " (" + of_kind.front()->file + ")");
    const std::string quantity = quantity_of(kind == "va" || kind == "vb" ? "V" : kind);
    const std::string x_label = links ? "link" : "node";
    const double p0 = rows.begin()->first, p1 = rows.rbegin()->first;
    std::string text;
    if (o.html) {
      plot::PageRows page(labels, rows.size(), std::numeric_limits<std::size_t>::max() / 8, p0,
                          p1 > p0 ? p1 : p0 + 1);
      for (const auto& [point, values] : rows) page.add(point, values);
      plot::PageData data = page.finish();
      data.steps = steps;
      data.x_label = x_label;
      text = plot::render_html(data, title, quantity, *library);
    } else {
      plot::Chart chart;
      chart.labels = labels;
      chart.x_label = x_label;
      chart.t0 = p0;
      chart.t1 = p1 > p0 ? p1 : p0 + 1;
      chart.any_step = true;
      const plot::TimeAxis axis = plot::time_axis(chart.t0, chart.t1);
      plot::M4Reducer reducer(labels.size(), plot::kPlotColumns, axis.low, axis.high);
      for (const auto& [point, values] : rows) reducer.add(point, values);
      chart.lines = reducer.finish();
      text = plot::render_svg(chart, title, quantity);
    }
    const std::string output = named && kinds.size() == 1 ? *named
                                                          : input.substr(0, dot) + "_" + kind +
                                                                (o.html ? ".html" : ".svg");
    if (!write_file(output, text)) return std::nullopt;
    written.push_back(output);
  }
  return written;
}

}  // namespace

int main(int argc, char** argv) {
  // Messages carry the same bytes on every system.
  platform::prepare_process();
  std::vector<std::string> files;
  std::optional<std::string> named_output;
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    // An option's value: after its '=', or the next argument.
    const std::string name = arg.substr(0, arg.find('='));
    auto value = [&]() -> std::optional<std::string> {
      if (arg.size() > name.size()) return arg.substr(name.size() + 1);
      if (i + 1 >= argc) return std::nullopt;
      return std::string(argv[++i]);
    };
    if (arg == "-h" || arg == "--help") {
      std::cout << kUsage;
      return 0;
    }
    if (arg == "-V" || arg == "--version") {
      std::cout << "flowseries-plot " FLOWSERIES_VERSION "\n";
      return 0;
    }
    if (arg == "--html") {
      o.html = true;
    } else if (name == "--title" || name == "--result") {
      const auto text = value();
      if (!text) return wrong_usage(name + " needs a value");
      (name == "--title" ? o.title : o.result) = *text;
    } else if (arg == "--links" || arg == "--nodes") {
      o.links = arg == "--links";
    } else if (arg == "--every-point") {
      o.every_point = true;
    } else if (name == "--points") {
      const auto list = value();
      if (!list) return wrong_usage("--points needs a list of point numbers");
      o.points = split_list(*list);
      o.pick = true;
    } else if (name == "-o" || name == "--output") {
      const auto path = value();
      if (!path) return wrong_usage(name + " needs the output file");
      named_output = *path;
    } else if (name == "--from" || name == "--to") {
      const auto text = value();
      const std::optional<double> t = text ? parse_time(*text) : std::nullopt;
      if (!t) return wrong_usage(name + " needs a time, a number as the file's times are");
      (name == "--from" ? o.from : o.to) = t;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return wrong_usage("unknown option '" + arg + "'");
    } else {
      files.push_back(arg);
    }
  }
  if (files.empty()) return wrong_usage("no series file named");
  if (o.from && o.to && *o.from > *o.to)
    return wrong_usage("--from " + series::shortest_text(*o.from) + " lies after --to " +
                       series::shortest_text(*o.to));
  const std::string_view extension = o.html ? ".html" : ".svg";
  if (!named_output && files.size() == 2 && ends_with(files[1], extension)) {
    named_output = files[1];
    files.pop_back();
  }
  // An output named for a format this program does not write is a mistake, not an input.
  for (const char* other : {".png", ".jpg", ".jpeg", ".gif", ".pdf", ".bmp", ".tif", ".tiff",
                            ".webp", ".eps", ".ps", o.html ? ".svg" : ".html"})
    for (const std::string& named : files)
      if (ends_with(named, other))
        return wrong_usage("'" + named + "': flowseries-plot writes " +
                           (o.html ? "HTML pages (.html)" : "SVG charts (.svg)") + ", not " +
                           other + "; name the output with -o FILE" + std::string(extension));
  if (named_output && !ends_with(*named_output, extension))
    return wrong_usage("the output '" + *named_output + "' must end in " + std::string(extension));
  if (named_output && files.size() > 1)
    return wrong_usage("one output file names the chart of one input only");
  std::optional<plot::ChartLibrary> library;
  if (o.html) {
    std::string looked;
    library = plot::find_chart_library(argv[0], &looked);
    if (!library) {
      std::cerr << "flowseries-plot: --html needs the dygraphs library (dygraph.min.js and "
                   "dygraph.min.css; Debian: apt-get install libjs-dygraphs), not found in "
                << looked << "\n";
      return 1;
    }
  }
  int status = 0;
  for (const std::string& input : files) {
    if (is_statistics_file(input)) {
      const auto outputs = draw_envelopes(input, named_output, o, library ? &*library : nullptr);
      if (!outputs) {
        status = 1;
        continue;
      }
      for (const std::string& output : *outputs) std::cout << output << "\n";
      continue;
    }
    // Beside the input, its extension replaced.
    const std::size_t slash = input.find_last_of("/\\");
    std::size_t dot = input.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = input.size();
    const std::string output =
        named_output ? *named_output : input.substr(0, dot) + std::string(extension);
    const bool written =
        o.html ? draw_html(input, output, o, *library) : draw_svg(input, output, o);
    if (!written) {
      status = empty_window && status != 1 ? 2 : 1;
      continue;
    }
    std::cout << output << "\n";
  }
  return status;
}
