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

// Reads a series file a line at a time: its header of point numbers, then step after step (the
// time and the values, continuation lines joined). Memory is bounded by one row, not by the file.
//
// The file must have the form the program writes, since anything else is damage (a run killed
// while writing, a file cut or overwritten): every line ends with LF (CR LF as written), header
// fields are 8 columns, the time 16 and values 14, each a comma apart, a line holds at most 200
// of them and ends with a comma when it holds fewer. Fields hold a number (three-digit exponents
// without their letter), NaN, Infinity or asterisks. The first field that breaks the form stops
// the reader with an error that names its line and column; the rows before it stand.
class SeriesReader {
 public:
  // Delivers up to `size` bytes into `into`; 0 at the end.
  using Source = std::function<std::size_t(char* into, std::size_t size)>;

  explicit SeriesReader(Source source);
  // Reads the header; false, with `error` set, for text that is not a series file.
  bool start(std::string* error);
  // The point numbers of the header, as written ("5", "17", "********"); a link's twice.
  const std::vector<std::string>& points() const { return points_; }
  // The next step: its time and, unless `values` is null, its values (one per header column).
  // False at the end, or with `error` set where the file is damaged from this row on.
  bool next(double& time, std::vector<double>* values, std::string* error);

 private:
  enum class Line { kLine, kEnd, kDamaged };
  Line next_line(std::string_view& line);
  bool take_groups(std::string_view line, std::size_t column, std::size_t width,
                   std::vector<double>* values, std::size_t& count);
  bool damaged(std::size_t column, const std::string& what);

  Source source_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0, end_ = 0;
  bool source_done_ = false;
  std::size_t line_number_ = 0;
  std::vector<std::string> points_;
  std::string_view pending_;  // the first line of the next row, read ahead
  Line pending_state_ = Line::kEnd;
  std::string error_;
};

// Opens a series file for reading: null, with `error` saying why (the system's words, or that the
// name is a folder), where it cannot be read.
std::FILE* open_series_file(const std::string& path, std::string* error);

// A reader's source over a file (closed by the caller) or over text in memory.
SeriesReader::Source file_source(std::FILE* file);
SeriesReader::Source text_source(std::string_view text);

// Whether the file's name says it holds links: it contains VTIME, in any case (VTIME.csv,
// run1_VTIME.csv, case1-vtime.csv). Its header names each link twice, va then vb.
bool holds_links(std::string_view path);

// One field's number: "1.25000E+01", "0.1000000+101", "NaN", "-Infinity"; NaN for asterisks.
// False for anything else.
bool parse_field(std::string_view field, double& value);
// As above, NaN for anything that is not a number (for callers that only draw).
double parse_field(std::string_view field);

// The bytes of a text that may hold anything, fit for a message: printable ASCII as it stands,
// every other byte as \xNN.
std::string printable(std::string_view bytes);

}  // namespace series
