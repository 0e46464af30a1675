#include "series/series_reader.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <utility>

namespace series {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

}  // namespace

double parse_field(std::string_view field) {
  field = trim(field);
  if (field.empty() || field.front() == '*') return kNaN;
  double v = 0;
  const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), v);
  if (error == std::errc() && end == field.data() + field.size()) return v;
  if (field == "NaN") return kNaN;
  if (field == "Infinity") return std::numeric_limits<double>::infinity();
  if (field == "-Infinity") return -std::numeric_limits<double>::infinity();
  // A three-digit exponent stands without its letter: "1.00000-100".
  const std::size_t sign = field.find_last_of("+-");
  if (sign == std::string_view::npos || sign == 0 || field[sign - 1] == 'E' ||
      field[sign - 1] == 'e')
    return kNaN;
  const std::string text =
      std::string(field.substr(0, sign)) + "E" + std::string(field.substr(sign));
  const auto [at, status] = std::from_chars(text.data(), text.data() + text.size(), v);
  return status == std::errc() && at == text.data() + text.size() ? v : kNaN;
}

SeriesReader::SeriesReader(Source source) : source_(std::move(source)), buffer_(1 << 20) {}

bool SeriesReader::next_line(std::string_view& line) {
  while (true) {
    char* data = buffer_.data();
    const void* lf = begin_ < end_ ? std::memchr(data + begin_, '\n', end_ - begin_) : nullptr;
    if (lf != nullptr || (source_done_ && begin_ < end_)) {
      const std::size_t stop =
          lf != nullptr ? static_cast<std::size_t>(static_cast<const char*>(lf) - data) : end_;
      line = std::string_view(data + begin_, stop - begin_);
      begin_ = lf != nullptr ? stop + 1 : end_;
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      ++line_number_;
      return true;
    }
    if (source_done_) return false;
    // The partial line to the front; a line longer than the buffer grows it.
    if (begin_ > 0) {
      std::memmove(data, data + begin_, end_ - begin_);
      end_ -= begin_;
      begin_ = 0;
    }
    if (end_ == buffer_.size()) buffer_.resize(buffer_.size() * 2);
    const std::size_t got = source_(buffer_.data() + end_, buffer_.size() - end_);
    if (got == 0)
      source_done_ = true;
    else
      end_ += got;
  }
}

// The comma-separated groups after the line's first comma; an empty last group (the trailing
// comma) is left out.
void SeriesReader::take_groups(std::string_view line, std::vector<double>* values,
                               std::size_t& count) {
  std::size_t at = line.find(',');
  while (at != std::string_view::npos) {
    const std::size_t next = line.find(',', at + 1);
    const std::string_view group = line.substr(
        at + 1, next == std::string_view::npos ? std::string_view::npos : next - at - 1);
    if (next == std::string_view::npos && trim(group).empty()) break;
    ++count;
    if (values != nullptr) values->push_back(parse_field(group));
    at = next;
  }
}

bool SeriesReader::start(std::string* error) {
  std::string_view line;
  bool have = next_line(line);
  for (; have && !line.empty() && line.front() == ','; have = next_line(line)) {
    std::size_t at = 0;
    while (at != std::string_view::npos) {
      const std::size_t next = line.find(',', at + 1);
      const std::string_view group = trim(line.substr(
          at + 1, next == std::string_view::npos ? std::string_view::npos : next - at - 1));
      if (next != std::string_view::npos || !group.empty()) points_.emplace_back(group);
      at = next;
    }
  }
  if (points_.empty()) {
    if (error) *error = "no header line of point numbers";
    return false;
  }
  // The first row's line, unless the file ends after its header.
  while (have && line.empty()) have = next_line(line);
  pending_ = line;
  has_pending_ = have;
  return true;
}

bool SeriesReader::next(double& time, std::vector<double>* values, std::string* error) {
  if (!has_pending_) return false;
  std::string_view line = pending_;
  has_pending_ = false;
  const std::size_t first_line = line_number_;
  std::size_t count = 0;
  if (values != nullptr) values->clear();
  bool fits = line.front() != ',';
  time = parse_field(line.substr(0, line.find(',')));
  take_groups(line, values, count);
  while (fits && next_line(line)) {
    if (line.empty()) continue;
    if (line.front() != ',') {
      pending_ = line;
      has_pending_ = true;
      break;
    }
    take_groups(line, values, count);
  }
  if (!fits || count != points_.size()) {
    if (error)
      *error = "the row of line " + std::to_string(first_line) + " does not fit the header's " +
               std::to_string(points_.size()) + " columns";
    return false;
  }
  return true;
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
  if (base.size() < kLinks.size()) return false;
  for (std::size_t i = 0; i < kLinks.size(); ++i)
    if ((base[i] | 0x20) != kLinks[i]) return false;
  return true;
}

}  // namespace series
