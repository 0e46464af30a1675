// The interactive page of flowseries-plot: one self-contained HTML file, the charting library
// (dygraphs) inlined, that any browser opens without a network: zoom by dragging, a range
// selector, series switched on and off, the values under the mouse, the view saved as PNG.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plot {

// The rows the page carries: every step, or per bucket of time the first, lowest, highest and
// last value of each series (at most four rows a bucket, the lowest and highest in their order).
struct PageData {
  std::vector<std::string> labels;
  std::vector<double> times;
  std::vector<std::vector<double>> rows;  // rows[r][series]; NaN where there is no value
  std::uint64_t steps = 0;                // the steps the rows stand for
  std::size_t buckets = 0;                // 0: every step, not reduced
  std::string x_label = "time";           // what the horizontal axis holds
  std::string file;                       // the series file, for the commands the page names
};

// Gathers the rows of a page: every step while there are at most 4 x `buckets` of them
// (`steps`, counted beforehand), else the reduced rows of `buckets` buckets over [t0, t1].
class PageRows {
 public:
  PageRows(std::vector<std::string> labels, std::uint64_t steps, std::size_t buckets, double t0,
           double t1);
  void add(double t, const std::vector<double>& values);
  PageData finish();

 private:
  struct Value {
    std::uint64_t step = 0;
    double v = 0;
  };
  struct Cell {
    bool any = false;
    Value first, low, high, last;
  };
  struct Bucket {
    std::uint64_t rows = 0;
    double first_t = 0, last_t = 0;
    std::vector<Cell> cells;  // one per series
  };

  PageData data_;
  bool reduce_;
  double t0_, t1_;
  std::uint64_t step_ = 0;
  std::vector<Bucket> buckets_;
};

// How many buckets a page of `series` series gets: a few thousand values at most per series, and
// a few hundred thousand in all.
std::size_t page_buckets(std::size_t series);

// The dygraphs library that the page inlines: its script and its style sheet.
struct ChartLibrary {
  std::string script;
  std::string style;
};
// Looks for dygraph.min.js and dygraph.min.css: in $FLOWSERIES_DYGRAPHS (a folder), beside the
// program, in ../share/javascript/dygraphs from it, in /usr/share/javascript/dygraphs. Nullopt,
// with the places looked at in `looked`, when none holds them.
std::optional<ChartLibrary> find_chart_library(std::string_view program_path, std::string* looked);

// The page. `title` names the file, `quantity` the values.
std::string render_html(const PageData& data, std::string_view title, std::string_view quantity,
                        const ChartLibrary& library);

}  // namespace plot
