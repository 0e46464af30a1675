#include "series/series_reader.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <limits>
#include <utility>

namespace series {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The form the writers give every line.
constexpr std::size_t kHeaderWidth = 8;
constexpr std::size_t kTimeWidth = 16;
constexpr std::size_t kValueWidth = 14;
constexpr std::size_t kGroupsPerLine = 200;
constexpr std::size_t kLongestLine = kTimeWidth + kGroupsPerLine * (1 + kValueWidth) + 1;
constexpr std::size_t kBufferBytes = std::size_t{1} << 16;

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// Joins the parts of a message (appends: GCC 12 warns wrongly of overlapping copies in chains of
// string additions).
std::string joined(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (const std::string_view part : parts) out.append(part);
  return out;
}

}  // namespace

bool parse_field(std::string_view field, double& value) {
  field = trim(field);
  if (!field.empty() && field.find_first_not_of('*') == std::string_view::npos) {
    value = kNaN;
    return true;
  }
  if (field.empty()) return false;
  const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
  if (error == std::errc() && end == field.data() + field.size()) return true;
  if (field == "NaN") {
    value = kNaN;
    return true;
  }
  if (field == "Infinity" || field == "-Infinity") {
    value = field.front() == '-' ? -std::numeric_limits<double>::infinity()
                                 : std::numeric_limits<double>::infinity();
    return true;
  }
  // A three-digit exponent stands without its letter: "1.00000-100".
  const std::size_t sign = field.find_last_of("+-");
  if (sign == std::string_view::npos || sign == 0 || field[sign - 1] == 'E' ||
      field[sign - 1] == 'e')
    return false;
  char text[64];
  if (field.size() + 1 >= sizeof text) return false;
  std::memcpy(text, field.data(), sign);
  text[sign] = 'E';
  std::memcpy(text + sign + 1, field.data() + sign, field.size() - sign);
  const char* last = text + field.size() + 1;
  const auto [at, status] = std::from_chars(text, last, value);
  return status == std::errc() && at == last;
}

double parse_field(std::string_view field) {
  double value = kNaN;
  return parse_field(field, value) ? value : kNaN;
}

std::string printable(std::string_view bytes) {
  std::string out;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b < 0x7f) {
      out += c;
    } else {
      constexpr char kHex[] = "0123456789ABCDEF";
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
  }
  return out;
}

SeriesReader::SeriesReader(Source source) : source_(std::move(source)), buffer_(kBufferBytes) {}

bool SeriesReader::damaged(std::size_t column, const std::string& what) {
  error_ = joined({"line ", std::to_string(line_number_)});
  if (column > 0) error_.append(joined({", column ", std::to_string(column)}));
  error_.append(joined({": ", what}));
  return false;
}

SeriesReader::Line SeriesReader::next_line(std::string_view& line) {
  std::size_t scanned = 0;
  while (true) {
    char* data = buffer_.data();
    const std::size_t held = end_ - begin_;
    const void* lf =
        held > scanned ? std::memchr(data + begin_ + scanned, '\n', held - scanned) : nullptr;
    if (lf != nullptr) {
      const auto stop = static_cast<std::size_t>(static_cast<const char*>(lf) - data);
      line = std::string_view(data + begin_, stop - begin_);
      begin_ = stop + 1;
      ++line_number_;
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (line.size() > kLongestLine)
        return damaged(0, "longer than any line of a series file"), Line::kDamaged;
      return Line::kLine;
    }
    scanned = held;
    if (source_done_) {
      if (held == 0) return Line::kEnd;
      ++line_number_;
      damaged(0, "ends without its line end (the file was cut while it was written)");
      return Line::kDamaged;
    }
    if (held > kLongestLine + 2) {
      ++line_number_;
      damaged(0, "longer than any line of a series file");
      return Line::kDamaged;
    }
    // The partial line to the front; the buffer holds any line of the form with room to spare.
    if (begin_ > 0) {
      std::memmove(data, data + begin_, held);
      end_ = held;
      begin_ = 0;
    }
    const std::size_t got = source_(buffer_.data() + end_, buffer_.size() - end_);
    if (got == 0)
      source_done_ = true;
    else
      end_ += got;
  }
}

// The groups of `width` columns after `column` (0-based): each a comma and its field, then a
// comma alone when the line holds fewer than its 200.
bool SeriesReader::take_groups(std::string_view line, std::size_t column, std::size_t width,
                               std::vector<double>* values, std::size_t& count) {
  std::size_t groups = 0;
  while (column < line.size()) {
    if (line[column] != ',')
      return damaged(column + 1, joined({"a comma was expected, not \"",
                                         printable(line.substr(column, 1)), "\""}));
    if (column + 1 == line.size()) {
      if (groups == kGroupsPerLine) return damaged(column + 1, "a comma after the 200th field");
      return true;
    }
    const std::string_view field = line.substr(column + 1, width);
    double value = 0;
    if (field.size() < width || (field.size() == width && !parse_field(field, value)) ||
        field.front() == ',')
      return damaged(column + 2, joined({"\"", printable(field), "\" is not a field of ",
                                         std::to_string(width), " columns"}));
    if (values != nullptr) values->push_back(value);
    ++count;
    ++groups;
    column += 1 + width;
  }
  if (groups < kGroupsPerLine)
    return damaged(line.size() + 1, "the line ends without the comma after its last field");
  return true;
}

bool SeriesReader::start(std::string* error) {
  std::string_view line;
  Line state = next_line(line);
  std::vector<double> numbers;
  std::size_t count = 0;
  bool ok = true;
  for (; ok && state == Line::kLine && !line.empty() && line.front() == ',';
       state = next_line(line)) {
    numbers.clear();
    ok = take_groups(line, 0, kHeaderWidth, &numbers, count);
    for (std::size_t at = 0; ok && at < numbers.size(); ++at) {
      const std::string_view field = trim(line.substr(1 + at * (1 + kHeaderWidth), kHeaderWidth));
      if (!(field.find_first_not_of('*') == std::string_view::npos ||
            field.find_first_not_of("-0123456789") == std::string_view::npos))
        ok = damaged(2 + at * (1 + kHeaderWidth),
                     joined({"\"", printable(field), "\" is not a point number"}));
      else
        points_.emplace_back(field);
    }
  }
  if (ok && state == Line::kDamaged) ok = false;
  if (ok && points_.empty()) {
    line_number_ = std::max<std::size_t>(line_number_, 1);
    ok = damaged(0, "no header line of point numbers");
  }
  if (!ok) {
    if (error) *error = error_;
    return false;
  }
  // The first row's line, unless the file ends after its header.
  while (state == Line::kLine && line.empty()) state = next_line(line);
  pending_ = line;
  pending_state_ = state;
  return true;
}

bool SeriesReader::next(double& time, std::vector<double>* values, std::string* error) {
  if (values != nullptr) values->clear();
  if (pending_state_ == Line::kEnd) return false;
  std::string_view line = pending_;
  Line state = pending_state_;
  pending_state_ = Line::kEnd;
  std::size_t count = 0;
  bool ok = state == Line::kLine;
  const std::size_t first_line = line_number_;
  if (ok) {
    if (line.size() < kTimeWidth || !parse_field(line.substr(0, kTimeWidth), time))
      ok = damaged(1, joined({"\"", printable(line.substr(0, kTimeWidth)),
                              "\" is not a time field of 16 columns"}));
    else
      ok = take_groups(line, kTimeWidth, kValueWidth, values, count);
  }
  // Continuation lines, while the row's last line was full and the header asks for more.
  while (ok && count > 0 && count < points_.size() && count % kGroupsPerLine == 0) {
    state = next_line(line);
    if (state == Line::kDamaged) ok = false;
    if (!ok || state == Line::kEnd || line.empty() || line.front() != ',') break;
    ok = take_groups(line, 0, kValueWidth, values, count);
  }
  if (ok && count != points_.size())
    ok = damaged(
        0, joined({"the row of line ", std::to_string(first_line), " has ", std::to_string(count),
                   " values, the header ", std::to_string(points_.size()), " columns"}));
  if (!ok) {
    if (error) *error = error_;
    return false;
  }
  // The next row's first line, read ahead.
  state = next_line(line);
  while (state == Line::kLine && line.empty()) state = next_line(line);
  pending_ = line;
  pending_state_ = state;
  return true;
}

std::FILE* open_series_file(const std::string& path, std::string* error) {
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) {
    if (error) *error = "is a directory, not a series file";
    return nullptr;
  }
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr && error) *error = std::strerror(errno);
  return file;
}

SeriesReader::Source file_source(std::FILE* file) {
  return [file](char* into, std::size_t size) { return std::fread(into, 1, size, file); };
}

SeriesReader::Source text_source(std::string_view text) {
  return [text](char* into, std::size_t size) mutable {
    const std::size_t n = std::min(size, text.size());
    std::memcpy(into, text.data(), n);
    text.remove_prefix(n);
    return n;
  };
}

bool holds_links(std::string_view path) {
  const std::size_t slash = path.find_last_of("/\\");
  const std::string_view base = path.substr(slash == std::string_view::npos ? 0 : slash + 1);
  constexpr std::string_view kLinks = "vtime";
  for (std::size_t at = 0; at + kLinks.size() <= base.size(); ++at) {
    std::size_t i = 0;
    while (i < kLinks.size() && (base[at + i] | 0x20) == kLinks[i]) ++i;
    if (i == kLinks.size()) return true;
  }
  return false;
}

}  // namespace series
