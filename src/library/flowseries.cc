// The library's face over the program's own readers and writers.
#include "flowseries/flowseries.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <limits>
#include <new>
#include <optional>
#include <utility>

#include "driver/run.h"
#include "driver/work_area.h"
#include "inputs/point_list.h"
#include "inputs/result_file.h"
#include "records/binary_records.h"
#include "records/channel.h"
#include "records/failure.h"
#include "series/extraction.h"
#include "series/series_reader.h"
#include "series/statistics.h"
#include "series/step_walk.h"

namespace flowseries {
namespace {

// Runs `work`, turning the program's failures into Error.
template <typename Work>
auto guarded(Work work) -> decltype(work()) {
  try {
    return work();
  } catch (const records::Failure& failure) {
    throw Error(failure.number(), failure.file(), records::report_line(failure));
  } catch (const std::bad_alloc&) {
    try {
      records::raise_failure(records::kNoMemory);
    } catch (const records::Failure& failure) {
      throw Error(failure.number(), failure.file(), records::report_line(failure));
    }
    throw;  // not reached: raise_failure throws
  }
}

records::Channel open_result(const std::string& path) {
  return records::open_channel(records::kResultChannel, path, records::ChannelKind::kBinary,
                               records::OpenMode::kMustExist);
}

series::Quantity quantity_of(Quantity quantity) {
  return static_cast<series::Quantity>(static_cast<int>(quantity));
}

series::StepRange range_of(std::int64_t first, std::int64_t last, std::int64_t stride) {
  constexpr std::int64_t kTop = std::numeric_limits<std::int32_t>::max();
  series::StepRange range;
  range.first = static_cast<std::int32_t>(std::clamp<std::int64_t>(first - 1, 0, kTop));
  range.end = last < 0 ? static_cast<std::int32_t>(kTop)
                       : static_cast<std::int32_t>(std::clamp<std::int64_t>(last, 0, kTop));
  range.stride = static_cast<std::int32_t>(std::clamp<std::int64_t>(stride, 1, kTop));
  return range;
}

// A point above the tables' capacity ends the program's run with 102 on the point-list file; the
// library names the result file.
void check_capacity(const std::vector<std::int32_t>& points, std::int32_t capacity,
                    records::Channel& result) {
  for (const std::int32_t point : points)
    if (point > capacity) records::raise_channel_failure(records::kPointOutsideTables, result);
}

}  // namespace

static_assert(static_cast<int>(Quantity::kVb) == static_cast<int>(series::Quantity::kVb));

Error::Error(int number, std::string path, std::string report)
    : number_(number), path_(std::move(path)), report_(std::move(report)) {}

struct ResultFile::State {
  std::string path;
  std::string title;
  inputs::ResultHeader header;
  std::optional<std::vector<double>> times;
  bool times_cut = false;
  // The file opened, held for every later read: a file renamed over the path since is another
  // file, and the header read belongs to this one.
  std::optional<records::Channel> file;

  // A channel of its own over the held file, at its start: reads of one file from several
  // threads share no buffer and no position.
  records::Channel reading() const {
    return records::adopt_handle(records::kResultChannel, path, file->handle,
                                 records::ChannelKind::kBinary);
  }
};

ResultFile::ResultFile(std::unique_ptr<State> state) : state_(std::move(state)) {}
ResultFile::ResultFile(ResultFile&&) noexcept = default;
ResultFile& ResultFile::operator=(ResultFile&&) noexcept = default;
ResultFile::~ResultFile() = default;

ResultFile ResultFile::open(const std::string& path) {
  return guarded([&] {
    auto state = std::make_unique<State>();
    records::Channel& file = state->file.emplace(open_result(path));
    state->path = file.path;
    state->header = inputs::read_result_header(file);
    records::release_mappings(file);
    state->title.assign(state->header.title.data(), state->header.title.size());
    return ResultFile(std::move(state));
  });
}

const std::string& ResultFile::path() const {
  return state_->path;
}
const std::string& ResultFile::title() const {
  return state_->title;
}
std::int32_t ResultFile::node_count() const {
  return state_->header.node_count;
}
std::int32_t ResultFile::link_count() const {
  return state_->header.link_count;
}

std::vector<double> ResultFile::node_a() const {
  const auto& t = state_->header.node_a;
  return {t.begin(), t.begin() + state_->header.nodes()};
}

std::vector<double> ResultFile::node_base() const {
  const auto& t = state_->header.node_base;
  return {t.begin(), t.begin() + state_->header.nodes()};
}

std::vector<std::int32_t> ResultFile::link_k(int t) const {
  if (t < 0 || t >= static_cast<int>(state_->header.link_k.size())) return {};
  const auto& table = state_->header.link_k[static_cast<std::size_t>(t)];
  return {table.begin(), table.begin() + state_->header.links()};
}

const std::vector<double>& ResultFile::times() {
  if (!state_->times) {
    guarded([&] {
      records::Channel result = state_->reading();
      const inputs::ResultHeader header = inputs::read_result_header(result);
      inputs::StepBuffers step;
      inputs::prepare_step_buffers(step, header, {}, {});
      std::vector<double> times;
      const auto take = [&](const inputs::StepBuffers& decoded, std::int32_t) {
        times.push_back(decoded.time);
      };
      series::WalkOptions options;
      options.tail.min_bytes = std::numeric_limits<std::uint64_t>::max();  // in step order
      try {
        state_->times_cut = series::walk_steps(result, header, step, options, take, take).head_cut;
      } catch (const records::Failure& failure) {
        if (!series::is_cut(failure)) throw;
        state_->times_cut = true;
      }
      state_->times = std::move(times);
    });
  }
  return *state_->times;
}

bool ResultFile::times_cut() {
  times();
  return state_->times_cut;
}

Series ResultFile::series(Quantity quantity, const std::vector<std::int32_t>& points,
                          std::int64_t max_steps) {
  return series(quantity, points, 1, max_steps < 0 ? -1 : max_steps, 1);
}

Series ResultFile::series(Quantity quantity, const std::vector<std::int32_t>& points,
                          std::int64_t first_step, std::int64_t last_step, std::int64_t stride) {
  return guarded([&] {
    if (last_step == 0) return Series{{}, points, {}, series::of_links(quantity_of(quantity)), {}};
    records::Channel result = state_->reading();
    const inputs::ResultHeader header = inputs::read_result_header(result);
    const series::Quantity q = quantity_of(quantity);
    const bool links = series::of_links(q);
    check_capacity(points, links ? header.link_capacity() : header.node_capacity(), result);
    const std::vector<std::int32_t> none;
    inputs::StepBuffers step;
    inputs::prepare_step_buffers(step, header, links ? none : points, links ? points : none);
    const std::int32_t top = links ? header.links() : header.nodes();
    Series out;
    out.points = points;
    out.links = links;
    series::WalkOptions options;
    options.range = range_of(first_step, last_step, stride);
    const series::StepRange& range = options.range;
    // The rows of the range's steps, each written in its place: by the loop in order and, in a
    // long file, by the tail decoder from the end, so that two threads read it. The table is
    // sized by the most steps the file's bytes can hold (a step block is never shorter than a
    // plain one) and cut to the steps read; where that is not known the rows are appended in
    // the loop's order alone.
    std::int64_t most = -1;
    const std::optional<inputs::PlainBlock> block =
        inputs::plain_block(header.nodes(), header.links());
    if (const std::optional<std::uint64_t> size = records::file_size(result); size && block) {
      const std::uint64_t at = records::next_record_offset(result);
      most = *size > at ? static_cast<std::int64_t>((*size - at) / block->bytes()) : 0;
    }
    const auto rows_below = [&range](std::int64_t end) {
      end = std::min<std::int64_t>(end, range.end);
      return end > range.first ? (end - range.first + range.stride - 1) / range.stride : 0;
    };
    const std::size_t columns = points.size();
    const auto fill = [&](const inputs::StepBuffers& decoded, double* row) {
      for (std::size_t c = 0; c < columns; ++c) {
        const std::int32_t point = points[c];
        row[c] = point > 0 && point <= top
                     ? series::column_value(q, decoded, header, static_cast<std::size_t>(point - 1))
                     : 0.0;
      }
    };
    if (most >= 0) {
      const auto rows = static_cast<std::size_t>(rows_below(most));
      out.times.resize(rows);
      out.values.resize(rows * columns);
      const auto place = [&](const inputs::StepBuffers& decoded, std::int32_t s) {
        const auto row = static_cast<std::size_t>((s - range.first) / range.stride);
        if (row >= rows) return;
        out.times[row] = decoded.time;
        fill(decoded, out.values.data() + row * columns);
      };
      const series::WalkEnd end = series::walk_steps(result, header, step, options, place, place);
      const auto read = static_cast<std::size_t>(rows_below(end.steps));
      out.times.resize(std::min(read, rows));
      out.values.resize(out.times.size() * columns);
    } else {
      const auto append = [&](const inputs::StepBuffers& decoded, std::int32_t) {
        out.times.push_back(decoded.time);
        out.values.resize(out.values.size() + columns);
        fill(decoded, out.values.data() + out.values.size() - columns);
      };
      options.tail.min_bytes = std::numeric_limits<std::uint64_t>::max();
      series::walk_steps(result, header, step, options, append, append);
    }
    return out;
  });
}

Statistics ResultFile::statistics(Quantity quantity, const std::vector<std::int32_t>& points,
                                  std::int64_t first_step, std::int64_t last_step) {
  return guarded([&] {
    records::Channel result = state_->reading();
    const inputs::ResultHeader header = inputs::read_result_header(result);
    const series::Quantity q = quantity_of(quantity);
    const bool links = series::of_links(q);
    std::vector<std::int32_t> asked = points;
    if (asked.empty())
      for (std::int32_t i = 1; i <= (links ? header.links() : header.nodes()); ++i)
        asked.push_back(i);
    check_capacity(asked, links ? header.link_capacity() : header.node_capacity(), result);
    std::vector<series::StatisticsPass> passes;
    passes.emplace_back(q, asked);
    Statistics out;
    out.status = "complete";
    series::WalkEnd end;
    if (last_step != 0) {
      try {
        series::gather_statistics(result, header, range_of(first_step, last_step, 1), passes, end);
        if (end.head_cut) out.status = "cut";
      } catch (const records::Failure& failure) {
        if (!series::is_cut(failure)) throw;
        out.status = "cut";
      }
    }
    out.points = asked;
    for (const series::PointStatistics& f : passes.front().figures()) {
      const double nan = std::numeric_limits<double>::quiet_NaN();
      out.steps.push_back(f.steps);
      out.nan.push_back(f.nan);
      out.min.push_back(f.any ? f.min : nan);
      out.time_of_min.push_back(f.any ? f.time_of_min : nan);
      out.max.push_back(f.any ? f.max : nan);
      out.time_of_max.push_back(f.any ? f.time_of_max : nan);
      out.mean.push_back(f.any ? f.mean : nan);
    }
    return out;
  });
}

Info ResultFile::info() {
  return guarded([&] {
    records::Channel result = state_->reading();
    result.check_trailing_lengths = true;
    const inputs::ResultHeader header = inputs::read_result_header(result);
    const series::FileInfo facts = series::read_info(result, header);
    Info out;
    out.title = state_->title;
    out.nodes = header.node_count;
    out.links = header.link_count;
    out.steps = facts.steps;
    out.first_time = facts.first_time;
    out.last_time = facts.last_time;
    out.min_time_step = facts.min_time_step;
    out.max_time_step = facts.max_time_step;
    out.times_not_increasing = facts.times_not_increasing;
    out.continued_steps = facts.continued_steps;
    out.complete = facts.cut.empty();
    out.cut = facts.cut;
    return out;
  });
}

Series read_series_file(const std::string& path, bool partial) {
  std::string error;
  std::FILE* file = series::open_series_file(path, &error);
  if (file == nullptr) throw Error(29, path, "flowseries: " + path + ": " + error);
  struct Close {
    std::FILE* file;
    ~Close() { std::fclose(file); }
  } close{file};
  series::SeriesReader reader(series::file_source(file));
  Series out;
  out.links = series::holds_links(path);
  if (!reader.start(&error))
    throw Error(0, path, "flowseries: " + path + ": not a series file: " + error);
  for (const std::string& point : reader.points()) {
    // Asterisks stand for a number too wide for its field: a placeholder column.
    std::int32_t v = 0;
    std::from_chars(point.data(), point.data() + point.size(), v);
    out.points.push_back(v);
  }
  double time = 0;
  std::vector<double> values;
  while (reader.next(time, &values, &error)) {
    out.times.push_back(time);
    out.values.insert(out.values.end(), values.begin(), values.end());
  }
  if (!error.empty()) {
    const std::string report = "flowseries: " + path + ": damaged series file: " + error;
    if (!partial) throw Error(0, path, report);
    out.damage = report;
  }
  return out;
}

void extract(const std::string& result_path, const std::string& points_path,
             const std::string& folder) {
  guarded([&] {
    records::Channel result = open_result(result_path);
    const inputs::ResultHeader header = inputs::read_result_header(result);
    records::Channel point_list =
        records::open_channel(records::kPointListChannel, points_path, records::ChannelKind::kText,
                              records::OpenMode::kMustExist);
    driver::finish_run(result, header, point_list, folder);
    records::close_channel(result);
  });
}

}  // namespace flowseries
