// Reading a series file back: the parts of flowseries-plot that know the file's text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plot {

// Reads a series file a block at a time: its header of point numbers, then step after step (the
// time and the values, continuation lines joined). Memory is bounded by one row, not by the file.
// Trailing commas, CR LF or LF line ends, three-digit exponents without their letter, NaN,
// Infinity and asterisks are all accepted.
class SeriesReader {
 public:
  // Delivers up to `size` bytes into `into`; 0 at the end.
  using Source = std::function<std::size_t(char* into, std::size_t size)>;

  explicit SeriesReader(Source source);
  // Reads the header; false, with `error` set, for text that is not a series file.
  bool start(std::string* error);
  // The point numbers of the header, as written ("5", "17"); a link's twice.
  const std::vector<std::string>& points() const { return points_; }
  // The next step: its time and, unless `values` is null, its values (one per header column;
  // NaN where a field is not a number). False at the end, or with `error` set where a row does
  // not fit the header's columns.
  bool next(double& time, std::vector<double>* values, std::string* error);

 private:
  bool next_line(std::string_view& line);
  void take_groups(std::string_view line, std::vector<double>* values, std::size_t& count);

  Source source_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0, end_ = 0;
  bool source_done_ = false;
  std::size_t line_number_ = 0;
  std::vector<std::string> points_;
  std::string_view pending_;  // the first line of the next row, read ahead
  bool has_pending_ = false;
};

// A reader's source over a file (closed by the caller) or over text in memory.
SeriesReader::Source file_source(std::FILE* file);
SeriesReader::Source text_source(std::string_view text);

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

// One field's number: "1.25000E+01", "0.1000000+101", "NaN", "-Infinity"; NaN for asterisks or
// anything else.
double parse_field(std::string_view field);

// Round tick values covering [low, high]: steps of 1, 2 or 5 times a power of ten, about `count`.
std::vector<double> nice_ticks(double low, double high, int count);

// The columns whose point number is listed ("5", "17"), in the order listed: both va and vb of a
// link. A number that no column has is left out.
std::vector<std::size_t> pick_columns(const std::vector<std::string>& labels,
                                      const std::vector<std::string>& points);
SeriesTable select_points(const SeriesTable& table, const std::vector<std::string>& points);

}  // namespace plot
