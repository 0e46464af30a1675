// Checking and writing point-list files. The check reads the file through flowseries' own
// readers (the same layouts, the same failures) with the channel's transcript on, then looks at
// the text of the lines each statement read to tell where it reads differently than it looks.
#include "points/point_file.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <memory>
#include <sstream>

#include "driver/work_area.h"
#include "inputs/point_list.h"
#include "inputs/result_file.h"
#include "records/channel.h"
#include "records/failure.h"
#include "records/number_text.h"
#include "records/text_lines.h"
#include "series/step_walk.h"

namespace points {
namespace {

constexpr const char* kSeries[] = {"H", "P", "Q", "V"};
constexpr const char* kLimitNames[] = {"steps", "H", "P", "Q", "V"};

// One field of an input statement: the columns it covers (0-based, end exclusive, perhaps past
// the line's end) and whether a comma ended it.
struct Field {
  std::size_t begin;
  std::size_t end;
  bool comma;
};

// The fields that `count` integer fields of `width` columns cover on `line`: a comma within a
// field's columns ends it early, and the next field starts after the comma.
std::vector<Field> fields_of(const std::string& line, std::size_t width, std::size_t count) {
  std::vector<Field> fields;
  std::size_t at = 0;
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t end = at + width;
    const std::size_t comma = at < line.size() ? line.find(',', at) : std::string::npos;
    if (comma != std::string::npos && comma < end) {
      fields.push_back({at, comma, true});
      at = comma + 1;
    } else {
      fields.push_back({at, end, false});
      at = end;
    }
  }
  return fields;
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

bool is_number_byte(char c) {
  return (c >= '0' && c <= '9') || c == '+' || c == '-';
}

std::string text_at(const std::string& line, const Field& f) {
  if (f.begin >= line.size()) return std::string();
  return line.substr(f.begin, std::min(f.end, line.size()) - f.begin);
}

std::string columns(std::size_t begin, std::size_t end) {
  return "columns " + std::to_string(begin + 1) + "-" + std::to_string(end);
}

struct Checker {
  std::ostringstream out;
  int warnings = 0;

  void warn(std::size_t line_number, const std::string& what) {
    out << "warning: line " << line_number << ": " << what << "\n";
    ++warnings;
  }

  // The warnings of one line read by a statement of `count` fields of `width` columns, of which
  // the fields `first_field`... belong to what the caller names `what`.
  void look_at_line(const std::string& line, std::size_t line_number, std::size_t width,
                    std::size_t count) {
    const std::vector<Field> fields = fields_of(line, width, count);
    for (std::size_t i = 0; i < fields.size(); ++i) {
      const Field& f = fields[i];
      const std::string text = text_at(line, f);
      const std::size_t first = text.find_first_not_of(' ');
      if (first == std::string::npos) continue;
      const std::size_t last = text.find_last_not_of(' ');
      const std::string inner = text.substr(first, last - first + 1);
      if (inner.find(' ') != std::string::npos)
        warn(line_number, columns(f.begin, f.end) + ": \"" + inner +
                              "\" has blanks between its characters; they are ignored, so it "
                              "reads as one number");
      const bool sign_inside =
          std::any_of(inner.begin() + 1, inner.end(), [](char c) { return c == '+' || c == '-'; });
      if (sign_inside)
        warn(line_number, columns(f.begin, f.end) + ": \"" + inner +
                              "\" has a sign in the middle; flowseries cannot read it");
      else if (!records::read_integer_field(text).ok)
        warn(line_number, columns(f.begin, f.end) + ": \"" + inner +
                              "\" is not a number flowseries can read (digits, blanks and one "
                              "leading sign, within -2147483648 to 2147483647)");
      // Digits running on into the next field's columns are read as two numbers, unless the
      // run fills whole fields exactly (as full-width numbers written side by side do).
      if (!f.comma && i + 1 < fields.size() && f.end < line.size() && is_digit(line[f.end - 1]) &&
          is_digit(line[f.end])) {
        std::size_t start = f.end - 1;
        while (start > f.begin && is_number_byte(line[start - 1])) --start;
        std::size_t stop = f.end;
        while (stop < line.size() && is_digit(line[stop])) ++stop;
        const bool whole_fields =
            start == f.begin && std::any_of(fields.begin() + static_cast<long>(i) + 1, fields.end(),
                                            [&](const Field& g) { return g.end == stop; });
        if (!whole_fields)
          warn(line_number, "a number spans " + columns(f.begin, fields[i + 1].end) +
                                ", two fields; it is read as two numbers");
      }
    }
    // What stands behind the last field this statement reads is never read.
    const std::size_t rest = fields.empty() ? 0 : fields.back().end;
    if (rest < line.size()) {
      const std::size_t at = line.find_first_not_of(' ', rest);
      if (at != std::string::npos) {
        if (rest > 0 && is_number_byte(line[rest - 1]) && is_number_byte(line[rest]) &&
            !fields.back().comma)
          warn(line_number, "a number runs on past column " + std::to_string(rest) +
                                "; only its part before that column is read");
        else
          warn(line_number, std::string(1, '"').append(line, at).append("\" from column ") +
                                std::to_string(at + 1) + " on is never read");
      }
    }
  }
};

// The step blocks of a result file as the step loop reads them, counted to where the file ends
// or fails: `failure` 0 when it ends cleanly where a step head would start.
struct StepCount {
  std::int64_t complete = 0;
  std::optional<records::Failure> failure;
  bool head_cut = false;  // the file ends inside a step head: the run ends normally before it
  std::uint64_t trailing_mismatches = 0, first_trailing_mismatch = 0;
};

StepCount count_steps(records::Channel& result, const inputs::ResultHeader& header) {
  StepCount count;
  inputs::StepBuffers step;
  inputs::prepare_step_buffers(step, header, {}, {});
  const series::StepSink counted = [&](const inputs::StepBuffers&, std::int32_t s) {
    count.complete = std::max<std::int64_t>(count.complete, s + 1);
  };
  // In file order, every record read whole: the trailing lengths are compared too.
  series::WalkOptions options;
  options.tail.min_bytes = std::numeric_limits<std::uint64_t>::max();
  try {
    const series::WalkEnd end = series::walk_steps(result, header, step, options, counted, counted);
    count.complete = end.steps;
    count.head_cut = end.head_cut;
  } catch (const records::Failure& failure) {
    count.failure = failure;
  }
  return count;
}

// What the step limit makes of the result file's steps: the loop stores `limit` steps at most and
// reads the block after the last one it stores whole, so a file cut inside step k + 1 (k complete)
// fails the run unless the limit is k - 1 or less.
void look_at_steps(Checker& check, const StepCount& steps, std::int32_t limit) {
  const std::int64_t k = steps.complete;
  if (steps.trailing_mismatches > 0)
    check.warn(1, std::to_string(steps.trailing_mismatches) +
                      " record piece(s) of the result file end with a length other than the one "
                      "they start with (the first at byte " +
                      std::to_string(steps.first_trailing_mismatch) +
                      "): flowseries never compares them and reads the file as it is");
  if (steps.head_cut)
    check.warn(1, "the result file is cut inside the step head after step " + std::to_string(k) +
                      ": the run ends normally (exit 0) with the " + std::to_string(k) +
                      " complete steps, and the series files do not show the cut");
  if (!steps.failure) {
    if (k > limit && limit >= 0)
      check.warn(1, "the result file holds " + std::to_string(k) + " steps; the step limit of " +
                        std::to_string(limit) + " (columns 1-5) writes the first " +
                        std::to_string(limit) + " of them" +
                        (k <= 99999 ? "; a step limit of " + std::to_string(k) + " writes all"
                                    : "; a step limit cannot exceed 99999"));
    return;
  }
  if (limit < k || limit < 0) return;  // the run stops before the damage, or never starts
  const int number = steps.failure->number();
  std::string what = number == records::kTooMuchData
                         ? "holds a damaged record in step " + std::to_string(k + 1)
                         : "is cut inside step " + std::to_string(k + 1);
  check.warn(
      1, "the result file " + what + " (" + std::to_string(k) + " complete step" +
             (k == 1 ? "" : "s") + "): the run ends with failure " + std::to_string(number) +
             " and writes no series file" +
             (k >= 2 ? "; a step limit of " + std::to_string(k - 1) + " writes the first " +
                           std::to_string(k - 1) + " steps (the run reads one step past its limit)"
                     : ""));
}

bool exists(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::exists(path, ignored);
}

std::string list_text(const std::vector<std::int32_t>& list) {
  std::string text;
  for (const std::int32_t v : list) text.append(1, ' ').append(std::to_string(v));
  return text;
}

}  // namespace

CheckResult check_point_list(const std::string& path,
                             const std::optional<std::string>& result_path) {
  CheckResult result;
  Checker check;
  std::vector<std::string> lines;
  std::size_t reported_lines = 0;  // lines whose warnings are out
  auto look_at_new_lines = [&](std::size_t width, std::size_t per_line, std::size_t fields_left) {
    for (; reported_lines < lines.size(); ++reported_lines) {
      const std::size_t count = std::min(per_line, fields_left);
      check.look_at_line(lines[reported_lines], reported_lines + 1, width, count);
      fields_left -= std::min(fields_left, count);
    }
  };
  try {
    std::int32_t nodes = -1, links = -1, node_capacity = 50000, link_capacity = 50000;
    std::optional<StepCount> steps;
    if (result_path) {
      records::Channel result_file =
          records::open_channel(records::kResultChannel, *result_path,
                                records::ChannelKind::kBinary, records::OpenMode::kMustExist);
      result_file.check_trailing_lengths = true;
      const inputs::ResultHeader header = inputs::read_result_header(result_file);
      nodes = header.nodes();
      links = header.links();
      node_capacity = header.node_capacity();
      link_capacity = header.link_capacity();
      steps = count_steps(result_file, header);
      steps->trailing_mismatches = result_file.trailing_mismatches;
      steps->first_trailing_mismatch = result_file.first_trailing_mismatch;
      check.out << "result file: " << nodes << " nodes, " << links << " links, " << steps->complete
                << " complete step" << (steps->complete == 1 ? "" : "s")
                << (steps->failure ? " and then failure " + std::to_string(steps->failure->number())
                                   : std::string())
                << "\n";
    }
    // flowseries creates a missing point-list file empty and then meets its end; the check
    // leaves the disk as it is and ends the same way.
    const std::string resolved = records::resolve_name(path);
    if (!resolved.empty() && !exists(resolved)) {
      check.out << "the file does not exist: flowseries would create it empty and find no "
                   "limits line in it\n";
      records::Channel absent;
      absent.number = records::kPointListChannel;
      absent.path = resolved;
      records::raise_channel_failure(records::kEndOfFile, absent);
    }
    records::Channel file =
        records::open_channel(records::kPointListChannel, path, records::ChannelKind::kText,
                              records::OpenMode::kMustExist);
    file.transcript = &lines;

    inputs::Limits limits{};
    try {
      limits = inputs::read_limits_line(file);
    } catch (const records::Failure&) {
      look_at_new_lines(5, 5, 5);
      throw;
    }
    look_at_new_lines(5, 5, 5);
    const std::int32_t read[] = {limits.steps, limits.h, limits.p, limits.q, limits.v};
    driver::apply_default_limits(limits);
    const std::int32_t applied[] = {limits.steps, limits.h, limits.p, limits.q, limits.v};
    check.out << "limits (line 1):";
    for (int i = 0; i < 5; ++i) {
      result.limits[i] = applied[i];
      check.out << " " << kLimitNames[i] << " " << applied[i] << (read[i] == 0 ? " (default)" : "")
                << (i < 4 ? "," : "\n");
    }
    if (steps) look_at_steps(check, *steps, limits.steps);
    // The same checks as the run's before its work area is allocated: 103 and 179.
    if (limits.steps < 0 || limits.h < 0 || limits.p < 0 || limits.q < 0 || limits.v < 0)
      records::raise_channel_failure(records::kNegativeLimit, file);
    (void)driver::pool_sizes(limits);

    const std::int32_t list_limits[] = {limits.h, limits.p, limits.q, limits.v};
    for (int s = 0; s < 4; ++s) {
      const std::size_t count_line = lines.size() + 1;
      const std::int32_t limit = list_limits[s];
      std::unique_ptr<std::int32_t[]> storage =
          std::make_unique<std::int32_t[]>(static_cast<std::size_t>(limit));
      std::span<std::int32_t> list(storage.get(), static_cast<std::size_t>(limit));
      const std::int32_t capacity = s < 3 ? node_capacity : link_capacity;
      std::int32_t count = 0;
      try {
        count = inputs::read_point_list(file, list, capacity);
      } catch (const records::Failure& failure) {
        // The count line is the first new line; the list lines follow.
        if (reported_lines < lines.size()) {
          check.look_at_line(lines[reported_lines], reported_lines + 1, 5, 1);
          ++reported_lines;
        }
        look_at_new_lines(7, 10, SIZE_MAX);
        if (failure.number() == records::kCountTooLarge)
          check.warn(count_line, std::string(kSeries[s]) + " count is above its limit of " +
                                     std::to_string(limit) + " (limits line, field " +
                                     std::to_string(s + 2) + ")");
        if (failure.number() == records::kPointOutsideTables) {
          for (std::size_t i = 0; i < list.size(); ++i)
            if (list[i] > capacity) {
              check.warn(count_line + 1 + i / 10,
                         std::string(kSeries[s]) + " point " + std::to_string(i + 1) + " (" +
                             columns(7 * (i % 10), 7 * (i % 10) + 7) + ") is " +
                             std::to_string(list[i]) + ", above the tables' " +
                             std::to_string(capacity) + " entries: flowseries ends with 102");
              break;
            }
        }
        throw;
      }
      check.look_at_line(lines[reported_lines], reported_lines + 1, 5, 1);
      ++reported_lines;
      look_at_new_lines(7, 10, count > 0 ? static_cast<std::size_t>(count) : 0);
      if (count <= 0) {
        check.out << kSeries[s] << ": no points (count " << count << " on line " << count_line
                  << "): no "
                  << (s == 0   ? "HTIME.CSV"
                      : s == 1 ? "PTIME.CSV"
                      : s == 2 ? "QTIME.csv"
                               : "VTIME.csv")
                  << "\n";
        continue;
      }
      result.lists[s].assign(list.begin(), list.begin() + count);
      check.out << kSeries[s] << ": " << count << " point" << (count == 1 ? "" : "s")
                << " (count on line " << count_line << ", list on lines " << count_line + 1 << "-"
                << count_line + (count + 9) / 10 << "):" << list_text(result.lists[s]) << "\n";
      const std::int32_t top = s < 3 ? nodes : links;
      for (std::int32_t i = 0; i < count; ++i) {
        const std::int32_t v = list[static_cast<std::size_t>(i)];
        const std::size_t line = count_line + 1 + static_cast<std::size_t>(i / 10);
        const std::string where = std::string(kSeries[s]) + " point " + std::to_string(i + 1) +
                                  " (" +
                                  columns(7 * static_cast<std::size_t>(i % 10),
                                          7 * static_cast<std::size_t>(i % 10) + 7) +
                                  ")";
        if (v <= 0)
          check.warn(line, where + " is " + std::to_string(v) +
                               ": its column is never filled and shows 0.0");
        else if (top >= 0 && v > top)
          check.warn(line, where + " is " + std::to_string(v) + ", above the result file's " +
                               std::to_string(top) + (s < 3 ? " nodes" : " links") +
                               ": its column is all zeros (0.0)");
      }
    }
    // Anything after the V list is never read by the program; the check reads on to say so.
    const std::size_t read_by_program = lines.size();
    for (std::string_view line; records::read_line(file, line);) {
    }
    records::close_channel(file);
    for (std::size_t i = read_by_program; i < lines.size(); ++i)
      if (lines[i].find_first_not_of(" \t") != std::string::npos) {
        check.warn(i + 1, "lines from here on stand after the V list and are never read");
        break;
      }
    // The run reads the steps after the point lists: a failure there comes last.
    if (steps && steps->failure && limits.steps >= steps->complete) throw *steps->failure;
    check.out << "accepted: flowseries reads this file as shown";
    if (check.warnings > 0)
      check.out << " (" << check.warnings << " warning" << (check.warnings == 1 ? "" : "s") << ")";
    check.out << "\n";
  } catch (const records::Failure& failure) {
    result.status = failure.number();
    result.report = records::report_line(failure);
  }
  result.output = check.out.str();
  result.warnings = check.warnings;
  return result;
}

std::optional<std::string> make_point_list(const MakeOptions& options, std::string* error,
                                           std::string* note) {
  auto fail = [&](const std::string& what) -> std::optional<std::string> {
    if (error) *error = what;
    return std::nullopt;
  };
  std::optional<std::int64_t> result_steps;
  if (options.result) {
    try {
      records::Channel result =
          records::open_channel(records::kResultChannel, *options.result,
                                records::ChannelKind::kBinary, records::OpenMode::kMustExist);
      const inputs::ResultHeader header = inputs::read_result_header(result);
      const StepCount count = count_steps(result, header);
      result_steps = count.complete;
      for (int s = 0; s < 4; ++s) {
        const std::int32_t top = s < 3 ? header.nodes() : header.links();
        for (const std::int32_t v : options.lists[s])
          if (v > top)
            return fail(std::string("the ") + kSeries[s] + " point " + std::to_string(v) +
                        " is above the result file's " + std::to_string(top) +
                        (s < 3 ? " nodes" : " links") + " (its column would be all zeros)");
      }
      if (count.failure && !options.steps)
        return fail("the result file is cut inside step " + std::to_string(count.complete + 1) +
                    ": give --steps (a limit of " + std::to_string(count.complete - 1) +
                    " writes the complete steps but the last; see flowseries-points check)");
    } catch (const records::Failure& failure) {
      return fail(records::report_line(failure));
    }
  }
  std::int32_t limits[5];
  if (options.limits) {
    if (options.limits->size() != 5) return fail("--limits takes five numbers: S,H,P,Q,V");
    std::copy(options.limits->begin(), options.limits->end(), limits);
  } else {
    const inputs::Limits& d = driver::kDefaultLimits;
    const std::int32_t defaults[] = {d.steps, d.h, d.p, d.q, d.v};
    std::copy(std::begin(defaults), std::end(defaults), limits);
    for (int s = 0; s < 4; ++s)
      limits[s + 1] =
          std::max<std::int32_t>(limits[s + 1], static_cast<std::int32_t>(options.lists[s].size()));
  }
  if (options.steps) {
    limits[0] = *options.steps;
  } else if (result_steps) {
    if (*result_steps > 99999)
      return fail("the result file holds " + std::to_string(*result_steps) +
                  " steps, more than a step limit can take (99999)");
    limits[0] = static_cast<std::int32_t>(std::max<std::int64_t>(*result_steps, 1));
  } else if (note) {
    *note = "the step limit written is " + std::to_string(limits[0]) +
            " (the default): a result file of more steps gives its first " +
            std::to_string(limits[0]) +
            " rows and a normal end; --result RESULT.BIN sets it to the file's steps, --steps S "
            "to S";
  }
  for (int i = 0; i < 5; ++i)
    if (limits[i] < 0 || limits[i] > 99999)
      return fail(std::string("the ") + kLimitNames[i] + " limit " + std::to_string(limits[i]) +
                  " does not fit its 5 columns as a limit (0 to 99999)");
  // The limits as the program will take them: 0 stands for the default.
  inputs::Limits taken{limits[0], limits[1], limits[2], limits[3], limits[4]};
  driver::apply_default_limits(taken);
  const std::int32_t list_limits[] = {taken.h, taken.p, taken.q, taken.v};
  for (int s = 0; s < 4; ++s) {
    const auto size = static_cast<std::int64_t>(options.lists[s].size());
    const std::int32_t limit = list_limits[s];
    if (size > limit)
      return fail(std::string("the ") + kSeries[s] + " list holds " + std::to_string(size) +
                  " points, above its limit of " + std::to_string(limit));
    for (const std::int32_t v : options.lists[s])
      if (v < -999999 || v > 9999999)
        return fail("point number " + std::to_string(v) + " does not fit its 7 columns");
  }
  const std::string end = options.crlf ? "\r\n" : "\n";
  std::string text;
  for (const std::int32_t limit : limits) text += records::integer_field(limit, 5);
  text += end;
  for (const auto& list : options.lists) {
    text += records::integer_field(static_cast<std::int32_t>(list.size()), 5) + end;
    for (std::size_t i = 0; i < list.size(); ++i) {
      text += records::integer_field(list[i], 7);
      if (i % 10 == 9 || i + 1 == list.size()) text += end;
    }
  }
  return text;
}

}  // namespace points
