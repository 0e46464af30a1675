// The helpers' spelling of kinds, points and steps.
#include "options/selection.h"

#include <algorithm>
#include <charconv>
#include <iterator>

namespace options {

bool parse_whole(std::string_view text, std::int64_t& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

bool parse_points(std::string_view text, std::vector<std::int32_t>& points) {
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    const std::string_view item = text.substr(0, comma);
    const std::size_t dash = item.find('-', 1);
    std::int64_t first = 0, last = 0;
    if (!parse_whole(item.substr(0, dash), first)) return false;
    last = first;
    if (dash != std::string_view::npos && !parse_whole(item.substr(dash + 1), last)) return false;
    if (first < 1 || last < first || last > 0x7fffffff || last - first > 100000000) return false;
    for (std::int64_t v = first; v <= last; ++v) points.push_back(static_cast<std::int32_t>(v));
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
    if (text.empty()) return false;
  }
  return true;
}

std::optional<std::string> parse_kinds(std::string_view text, bool (&kinds)[5]) {
  std::fill(std::begin(kinds), std::end(kinds), false);
  while (true) {
    const std::string_view kind = text.substr(0, text.find(','));
    const auto* at = std::find(std::begin(kKindNames), std::end(kKindNames), kind);
    if (at == std::end(kKindNames)) return std::string(kind);
    kinds[at - std::begin(kKindNames)] = true;
    if (text.find(',') == std::string_view::npos) return std::nullopt;
    text.remove_prefix(text.find(',') + 1);
  }
}

bool parse_steps(std::string_view text, series::StepRange& range) {
  std::int64_t first = 1, last = 0x7fffffff;
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos ||
      (colon > 0 && !parse_whole(text.substr(0, colon), first)) ||
      (colon + 1 < text.size() && !parse_whole(text.substr(colon + 1), last)) || first < 1 ||
      last < first || last > 0x7fffffff)
    return false;
  range.first = static_cast<std::int32_t>(first - 1);
  range.end = static_cast<std::int32_t>(last);
  return true;
}

}  // namespace options
