// Reading a series file back, and drawing it as an SVG line chart: the parts of flowseries-plot.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plot {

struct SeriesTable {
  std::vector<std::string> labels;           // one per column: "node 5", "link 4 va"
  std::vector<double> times;                 // one per step
  std::vector<std::vector<double>> columns;  // columns[c][s]; NaN where a field is not a number
};

// Parses the text of a series file: header lines (starting with a comma), then one row per step
// (the time, then comma-and-value groups, continued on lines that start with a comma). Trailing
// commas, CR LF or LF line ends, three-digit exponents without their letter, NaN, Infinity and
// asterisks are all accepted. `links` pairs the columns as va and vb. Nullopt for text that is
// not a series file.
std::optional<SeriesTable> parse_series(std::string_view text, bool links, std::string* error);

// One field's number: "1.25000E+01", "0.1000000+101", "NaN", "-Infinity"; NaN for asterisks or
// anything else.
double parse_field(std::string_view field);

// Round tick values covering [low, high]: steps of 1, 2 or 5 times a power of ten, about `count`.
std::vector<double> nice_ticks(double low, double high, int count);

// The chart as an SVG document; `quantity` labels the value axis ("" for none).
std::string render_svg(const SeriesTable& table, std::string_view title,
                       std::string_view quantity = {});

// The columns of the listed point numbers ("5", "17"), in the order listed: both va and vb of a
// link. A number that no column has is left out.
SeriesTable select_points(const SeriesTable& table, const std::vector<std::string>& points);

}  // namespace plot
