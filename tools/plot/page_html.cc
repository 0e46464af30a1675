#include "plot/page_html.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>

namespace plot {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A number as JSON: the shortest text that reads back as the same double; null for NaN and the
// infinities, which a line chart cannot place.
void append_number(std::string& out, double v) {
  if (!std::isfinite(v)) {
    out += "null";
    return;
  }
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, v);
  out.append(text, result.ptr);
}

// Text inside a JSON string in a script: quotes, backslashes and "</" escaped, and anything
// outside printable ASCII as \u escapes of its byte (the files' labels are ASCII).
void append_string(std::string& out, std::string_view text) {
  out += '"';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '<') {
      out += "\\u003c";
    } else if (byte < 0x20 || byte >= 0x7f) {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  out += '"';
}

std::string html_text(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else if (c == '&')
      out += "&amp;";
    else if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f)
      out += '?';
    else
      out += c;
  }
  return out;
}

std::string number_text(double v) {
  std::string out;
  append_number(out, v);
  return out;
}

std::optional<std::string> read_whole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The page's own script: the chart, the series switches, the PNG of the view, and what a test
// reads back (#check) once the chart is drawn.
constexpr std::string_view kPageScript = R"JS(
(function () {
  var chartDiv = document.getElementById('chart');
  var colors = ['#1f77b4', '#ff7f0e', '#2ca02c', '#d62728', '#9467bd',
                '#8c564b', '#e377c2', '#7f7f7f', '#bcbd22', '#17becf'];
  var checked = false;
  function report(g) {
    var check = {errors: window.flowseriesErrors, labels: g.getLabels().slice(1),
                 rows: g.numRows(), series: g.numColumns() - 1, reduced: page.buckets > 0,
                 first: g.numRows() > 0 ? [g.getValue(0, 0), g.getValue(0, 1)] : null,
                 last: g.numRows() > 0 ? [g.getValue(g.numRows() - 1, 0),
                                          g.getValue(g.numRows() - 1, 1)] : null};
    check.zoomNote = document.getElementById('zoomnote').textContent;
    document.getElementById('check').textContent = JSON.stringify(check);
  }
  // Numbers of any size in the axis's width: exponent form beyond what six digits show.
  function axisNumber(v) {
    var a = Math.abs(v);
    return a !== 0 && (a >= 1e6 || a < 1e-3) ? v.toExponential(2) : String(+v.toPrecision(6));
  }
  // A reduced page zoomed in past its buckets draws shapes the data may not have: say so, with
  // the command that draws the window at full resolution.
  function noteZoom(graph) {
    var note = document.getElementById('zoomnote');
    if (!(page.buckets > 0) || !(page.t1 > page.t0)) { note.textContent = ''; return; }
    var range = graph.xAxisRange();
    var shown = (range[1] - range[0]) / (page.t1 - page.t0) * page.buckets;
    if (shown * 4 > graph.getArea().w) { note.textContent = ''; return; }
    var perPoint = Math.max(1, Math.round(page.steps / page.buckets));
    note.textContent = 'Zoomed in past what this page holds: each bucket here stands for about ' +
        perPoint + ' steps, drawn as its first, lowest, highest and last value, so the shape ' +
        'between them is not the data\'s. For every step of this window: flowseries-plot --html ' +
        '--from ' + axisNumber(range[0]) + ' --to ' + axisNumber(range[1]) + ' ' +
        (page.file || page.title);
  }
  var start = {};
  location.hash.replace(/^#/, '').split('&').forEach(function (part) {
    var kv = part.split('=');
    if (kv.length === 2 && isFinite(parseFloat(kv[1]))) start[kv[0]] = parseFloat(kv[1]);
  });
  var g = new Dygraph(chartDiv, page.rows.length ? page.rows : [[0].concat(page.labels.map(
      function () { return null; }))], {
    labels: [page.xlabel].concat(page.labels),
    colors: page.labels.map(function (_, i) { return colors[i % colors.length]; }),
    xlabel: page.xlabel, ylabel: page.quantity,
    showRangeSelector: true, rangeSelectorHeight: 36,
    legend: 'always', labelsDiv: document.getElementById('legend'),
    labelsSeparateLines: true, labelsKMB: false,
    strokeWidth: 1.2, highlightCircleSize: 3,
    axes: {x: {valueFormatter: function (t) { return page.xlabel + ' ' + t; }},
           y: {axisLabelWidth: 72, axisLabelFormatter: axisNumber}},
    dateWindow: 'from' in start && 'to' in start ? [start.from, start.to] : null,
    // The range selector's small chart shows the first series alone (an average of several
    // unlike series says nothing).
    series: page.labels.length ? (function () { var s = {}; s[page.labels[0]] = {showInRangeSelector: true}; return s; })() : {},
    drawCallback: function (graph, initial) {
      noteZoom(graph);
      if (initial && !checked) { checked = true; report(graph); }
    }
  });
  var switches = document.getElementById('series');
  page.labels.forEach(function (label, i) {
    var box = document.createElement('label');
    var input = document.createElement('input');
    input.type = 'checkbox';
    input.checked = true;
    input.addEventListener('change', function () { g.setVisibility(i, input.checked); });
    box.appendChild(input);
    var swatch = document.createElement('span');
    swatch.className = 'swatch';
    swatch.style.background = colors[i % colors.length];
    box.appendChild(swatch);
    box.appendChild(document.createTextNode(label));
    switches.appendChild(box);
  });
  document.getElementById('all').addEventListener('click', function () {
    var boxes = switches.querySelectorAll('input');
    var on = Array.prototype.some.call(boxes, function (b) { return !b.checked; });
    boxes.forEach(function (b, i) { b.checked = on; g.setVisibility(i, on); });
  });
  document.getElementById('reset').addEventListener('click', function () { g.resetZoom(); });
  document.getElementById('png').addEventListener('click', function () {
    // The chart's canvas, white behind it, and the texts the library keeps outside the canvas
    // (ticks, axis names) drawn where they stand; the visible series named above.
    var source = g.hidden_;
    var ratio = source.width / chartDiv.clientWidth;
    var head = 22 * ratio;
    var out = document.createElement('canvas');
    out.width = source.width;
    out.height = source.height + head;
    var ctx = out.getContext('2d');
    ctx.fillStyle = '#fff';
    ctx.fillRect(0, 0, out.width, out.height);
    ctx.drawImage(source, 0, head);
    ctx.scale(ratio, ratio);
    var box = chartDiv.getBoundingClientRect();
    ctx.fillStyle = '#000';
    ctx.font = '12px sans-serif';
    chartDiv.querySelectorAll('.dygraph-axis-label, .dygraph-xlabel').forEach(function (el) {
      var r = el.getBoundingClientRect();
      if (r.width > 0) ctx.fillText(el.textContent, r.left - box.left, r.top - box.top + 22 + 11);
    });
    var x = 4;
    ctx.font = '13px sans-serif';
    ctx.fillText(page.title, x, 15);
    x += ctx.measureText(page.title).width + 16;
    g.visibility().forEach(function (on, i) {
      if (!on || x > out.width / ratio - 40) return;
      ctx.fillStyle = colors[i % colors.length];
      ctx.fillRect(x, 8, 14, 3);
      ctx.fillStyle = '#000';
      ctx.fillText(page.labels[i], x + 18, 15);
      x += 18 + ctx.measureText(page.labels[i]).width + 12;
    });
    var link = document.createElement('a');
    link.download = page.title.replace(/\.[^.]*$/, '') + '.png';
    link.href = out.toDataURL('image/png');
    document.body.appendChild(link);
    link.click();
    link.remove();
  });
  window.flowseriesChart = g;
})();
)JS";

constexpr std::string_view kPageStyle = R"CSS(
body { font-family: sans-serif; margin: 16px 20px; color: #222; }
h1 { font-size: 18px; margin: 0 0 4px; }
p.note { margin: 2px 0 10px; color: #555; font-size: 13px; max-width: 70em; }
#controls button { margin-right: 6px; }
#series { margin: 8px 0; font-size: 13px; max-height: 7.5em; overflow-y: auto; }
#series label { display: inline-block; margin: 0 14px 2px 0; white-space: nowrap; }
.swatch { display: inline-block; width: 14px; height: 3px; margin: 0 4px 3px 2px; }
#wrap { display: flex; align-items: flex-start; }
#chart { flex: 1; height: 520px; min-width: 300px; }
#legend { width: 220px; margin-left: 12px; font-size: 13px; }
p.zoom { color: #a33; font-size: 13px; margin: 2px 0; min-height: 1em; max-width: 70em; }
)CSS";

}  // namespace

std::size_t page_buckets(std::size_t series) {
  return std::clamp<std::size_t>(400000 / (4 * std::max<std::size_t>(series, 1)), 100, 2000);
}

PageRows::PageRows(std::vector<std::string> labels, std::uint64_t steps, std::size_t buckets,
                   double t0, double t1)
    : reduce_(steps > 4 * static_cast<std::uint64_t>(buckets)), t0_(t0), t1_(t1) {
  data_.labels = std::move(labels);
  data_.steps = steps;
  if (reduce_) {
    data_.buckets = buckets;
    buckets_.resize(buckets);
  }
}

void PageRows::add(double t, const std::vector<double>& values) {
  const std::uint64_t step = step_++;
  if (!std::isfinite(t)) return;  // a row the chart cannot place
  if (!reduce_) {
    data_.times.push_back(t);
    data_.rows.push_back(values);
    return;
  }
  const double at = t1_ > t0_ ? (t - t0_) / (t1_ - t0_) * static_cast<double>(buckets_.size()) : 0;
  Bucket& b = buckets_[static_cast<std::size_t>(
      std::clamp(std::floor(at), 0.0, static_cast<double>(buckets_.size() - 1)))];
  if (b.rows++ == 0) {
    b.first_t = t;
    b.cells.assign(values.size(), Cell{});
  }
  b.last_t = t;
  for (std::size_t s = 0; s < values.size() && s < b.cells.size(); ++s) {
    const double v = values[s];
    if (!std::isfinite(v)) continue;
    Cell& c = b.cells[s];
    const Value value{step, v};
    if (!c.any) c.first = c.low = c.high = value;
    if (v < c.low.v) c.low = value;
    if (v > c.high.v) c.high = value;
    c.last = value;
    c.any = true;
  }
}

PageData PageRows::finish() {
  if (!reduce_) {
    // Steps in order of time, as the chart needs them.
    std::vector<std::size_t> order(data_.times.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return data_.times[a] < data_.times[b]; });
    PageData sorted;
    sorted.labels = std::move(data_.labels);
    sorted.steps = data_.steps;
    for (const std::size_t i : order) {
      sorted.times.push_back(data_.times[i]);
      sorted.rows.push_back(std::move(data_.rows[i]));
    }
    return sorted;
  }
  const std::size_t series = data_.labels.size();
  for (const Bucket& b : buckets_) {
    if (b.rows == 0) continue;
    // One row for one step, two for two, else four: the first, the lowest and the highest in
    // the order they came (between the first's and the last's time), and the last.
    const std::size_t count = b.rows >= 3 ? 4 : static_cast<std::size_t>(b.rows);
    for (std::size_t r = 0; r < count; ++r) {
      const double t = count == 1 ? b.first_t
                                  : b.first_t + (b.last_t - b.first_t) * static_cast<double>(r) /
                                                    static_cast<double>(count - 1);
      std::vector<double> row(series, kNaN);
      for (std::size_t s = 0; s < series && s < b.cells.size(); ++s) {
        const Cell& c = b.cells[s];
        if (!c.any) continue;
        const bool low_first = c.low.step <= c.high.step;
        const Value& middle_a = low_first ? c.low : c.high;
        const Value& middle_b = low_first ? c.high : c.low;
        const Value& pick = r == 0           ? c.first
                            : r + 1 == count ? c.last
                            : r == 1         ? middle_a
                                             : middle_b;
        row[s] = pick.v;
      }
      data_.times.push_back(t);
      data_.rows.push_back(std::move(row));
    }
  }
  buckets_.clear();
  return std::move(data_);
}

std::optional<ChartLibrary> find_chart_library(std::string_view program_path, std::string* looked) {
  std::vector<std::string> folders;
  if (const char* folder = std::getenv("FLOWSERIES_DYGRAPHS"); folder != nullptr && *folder)
    folders.emplace_back(folder);
  const std::size_t slash = program_path.find_last_of("/\\");
  const std::string beside = slash == std::string_view::npos
                                 ? std::string(".")
                                 : std::string(program_path.substr(0, slash));
  folders.push_back(beside);
  folders.push_back(beside + "/../share/javascript/dygraphs");
  folders.emplace_back("/usr/share/javascript/dygraphs");
  for (const std::string& folder : folders) {
    const auto script = read_whole(folder + "/dygraph.min.js");
    const auto style = read_whole(folder + "/dygraph.min.css");
    if (script && style) return ChartLibrary{*script, *style};
    if (looked) *looked += (looked->empty() ? "" : ", ") + folder;
  }
  return std::nullopt;
}

std::string render_html(const PageData& data, std::string_view title, std::string_view quantity,
                        const ChartLibrary& library) {
  std::string out;
  out.reserve(library.script.size() + 64 * data.rows.size() * (data.labels.size() + 1) + 8192);
  out += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>";
  out += html_text(title);
  out += " - flowseries-plot</title>\n<style>\n";
  out += library.style;
  out += kPageStyle;
  out +=
      "</style>\n<script>window.flowseriesErrors = [];\n"
      "window.addEventListener('error', function (e) {\n"
      "  window.flowseriesErrors.push(String(e.message));\n"
      "  var check = document.getElementById('check');\n"
      "  if (check) check.textContent = JSON.stringify({errors: window.flowseriesErrors});\n"
      "});</script>\n<script>\n";
  out += library.script;
  out += "\n</script>\n</head>\n<body>\n<h1>";
  out += html_text(title);
  out += "</h1>\n<p class=\"note\">";
  const std::string steps = std::to_string(data.steps) + (data.steps == 1 ? " step" : " steps");
  if (data.buckets > 0) {
    out += "Reduced for drawing: the " + steps + " are shown in " + std::to_string(data.buckets) +
           " buckets of time, each with the first, lowest, highest and last value of every "
           "series (the lowest and highest placed between the first and the last), so every "
           "peak is there but the times inside a bucket are not exact. Every step of a "
           "stretch: <code>flowseries-plot --html --from T1 --to T2 " +
           html_text(title) + "</code>.";
  } else if (data.x_label == "time") {
    out += "Every one of the " + steps + ".";
  } else {
    out += "Every " + html_text(data.x_label) + " of the file, " + steps + " each.";
  }
  out +=
      " Drag to zoom, double-click or <i>Full range</i> to zoom out, shift-drag to pan; the "
      "range selector below the chart moves the window.";
  if (data.x_label == "time") out += " Time in the unit of the file.";
  out +=
      "</p>\n"
      "<div id=\"controls\"><button id=\"reset\">Full range</button>"
      "<button id=\"all\">All series on/off</button>"
      "<button id=\"png\">Save view as PNG</button></div>\n"
      "<div id=\"series\"></div>\n<p id=\"zoomnote\" class=\"zoom\"></p>\n"
      "<div id=\"wrap\"><div id=\"chart\"></div>"
      "<div id=\"legend\"></div></div>\n<pre id=\"check\" hidden></pre>\n<script>\nvar page = "
      "{title: ";
  append_string(out, title);
  out += ", file: ";
  append_string(out, data.file);
  out += ", quantity: ";
  append_string(out, quantity);
  out += ", xlabel: ";
  append_string(out, data.x_label);
  out += ", buckets: " + std::to_string(data.buckets) + ", steps: " + std::to_string(data.steps) +
         ", t0: " + number_text(data.times.empty() ? 0.0 : data.times.front()) +
         ", t1: " + number_text(data.times.empty() ? 0.0 : data.times.back()) + ", labels: [";
  for (std::size_t i = 0; i < data.labels.size(); ++i) {
    if (i > 0) out += ',';
    append_string(out, data.labels[i]);
  }
  out += "],\nrows: [\n";
  for (std::size_t r = 0; r < data.rows.size(); ++r) {
    out += '[';
    out += number_text(data.times[r]);
    for (const double v : data.rows[r]) {
      out += ',';
      append_number(out, v);
    }
    out += r + 1 < data.rows.size() ? "],\n" : "]\n";
  }
  out += "]};\n";
  out += kPageScript;
  out += "</script>\n</body>\n</html>\n";
  return out;
}

}  // namespace plot
