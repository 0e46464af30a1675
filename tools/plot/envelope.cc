// Reading the statistics file for the envelope chart.
#include "plot/envelope.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <map>
#include <numeric>
#include <string_view>
#include <utility>

namespace plot {
namespace {

constexpr std::size_t kLongestLine = 4096;

bool number(std::string_view text, double& value) {
  if (text.empty()) {
    value = std::numeric_limits<double>::quiet_NaN();
    return true;
  }
  if (text == "inf" || text == "-inf" || text == "nan") {
    value = text == "nan"   ? std::numeric_limits<double>::quiet_NaN()
            : text == "inf" ? std::numeric_limits<double>::infinity()
                            : -std::numeric_limits<double>::infinity();
    return true;
  }
  const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value);
  return status == std::errc() && end == text.data() + text.size();
}

}  // namespace

bool read_envelopes(std::istream& in, std::vector<Envelope>& out, std::string* error) {
  std::map<std::pair<std::string, std::string>, std::size_t> at;
  char buffer[kLongestLine + 2];
  for (std::size_t line_number = 2;; ++line_number) {
    in.getline(buffer, sizeof buffer);
    if (in.eof() && in.gcount() == 0) break;
    const auto fail = [&](const std::string& what) {
      if (error) *error = "line " + std::to_string(line_number) + ": " + what;
      return false;
    };
    if (in.fail()) return fail("longer than any line of a statistics file");
    std::string_view line(buffer, static_cast<std::size_t>(std::max<std::streamsize>(
                                      in.gcount() - (in.eof() ? 0 : 1), 0)));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    // The file's name may hold commas: the ten fields after it are counted from the end.
    std::vector<std::string_view> fields;
    std::size_t end = line.size();
    for (int i = 0; i < 10; ++i) {
      const std::size_t comma = line.rfind(',', end - 1);
      if (comma == std::string_view::npos || end == 0) return fail("not 11 fields");
      fields.insert(fields.begin(), line.substr(comma + 1, end - comma - 1));
      end = comma;
    }
    const std::string file(line.substr(0, end));
    if (fields[0].rfind("failed", 0) == 0) continue;
    double point = 0, steps = 0, nan = 0, low = 0, high = 0, mean = 0, time = 0;
    if (!number(fields[2], point) || !number(fields[3], steps) || !number(fields[4], nan) ||
        !number(fields[5], low) || !number(fields[6], time) || !number(fields[7], high) ||
        !number(fields[8], time) || !number(fields[9], mean) || fields[1].empty())
      return fail("a figure that is not a number");
    const auto key = std::make_pair(file, std::string(fields[1]));
    auto [it, added] = at.emplace(key, out.size());
    if (added) out.push_back(Envelope{file, key.second, 0, {}, {}, {}, {}});
    Envelope& e = out[it->second];
    e.steps = std::max(e.steps, static_cast<std::uint64_t>(steps));
    e.points.push_back(point);
    e.min.push_back(low);
    e.max.push_back(high);
    e.mean.push_back(mean);
  }
  // Along the network: in order of the point number.
  for (Envelope& e : out) {
    std::vector<std::size_t> order(e.points.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return e.points[a] < e.points[b]; });
    Envelope sorted{e.file, e.kind, e.steps, {}, {}, {}, {}};
    for (const std::size_t i : order) {
      sorted.points.push_back(e.points[i]);
      sorted.min.push_back(e.min[i]);
      sorted.max.push_back(e.max[i]);
      sorted.mean.push_back(e.mean[i]);
    }
    e = std::move(sorted);
  }
  return true;
}

}  // namespace plot
