// Reading a series file back: its header of point numbers, then step after step, a block at a
// time. The counterpart of the writers, for the tools and the library that read the files.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace series {

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

// Whether the file's name says it holds links (VTIME.csv, in any case): its header names each
// link twice, va then vb.
bool holds_links(std::string_view path);

// One field's number: "1.25000E+01", "0.1000000+101", "NaN", "-Infinity"; NaN for asterisks or
// anything else.
double parse_field(std::string_view field);

}  // namespace series
