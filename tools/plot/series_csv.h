// Reading a series file back: the parts of flowseries-plot that know the file's text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "series/series_reader.h"

namespace plot {

using series::file_source;
using series::parse_field;
using series::SeriesReader;
using series::text_source;

struct SeriesTable {
  std::vector<std::string> labels;           // one per column: "node 5", "link 4 va"
  std::vector<double> times;                 // one per step
  std::vector<std::vector<double>> columns;  // columns[c][s]; NaN where a field is not a number
};

// The labels of a file's columns: "node 5", or "link 4 va" and "link 4 vb" where `links`.
std::vector<std::string> column_labels(const std::vector<std::string>& points, bool links);

// The whole text of a series file as a table (small files and tests). `links` pairs the columns
// as va and vb. Nullopt for text that is not a series file.
std::optional<SeriesTable> parse_series(std::string_view text, bool links, std::string* error);

// Round tick values covering [low, high]: steps of 1, 2 or 5 times a power of ten, about `count`.
std::vector<double> nice_ticks(double low, double high, int count);

// The columns whose point number is listed ("5", "17"), in the order listed: both va and vb of a
// link. A number that no column has is left out.
std::vector<std::size_t> pick_columns(const std::vector<std::string>& labels,
                                      const std::vector<std::string>& points);
SeriesTable select_points(const SeriesTable& table, const std::vector<std::string>& points);

}  // namespace plot
