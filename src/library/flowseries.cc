// The library's face over the program's own readers and writers.
#include "flowseries/flowseries.h"

#include <charconv>
#include <cstdio>
#include <new>
#include <optional>
#include <utility>

#include "driver/work_area.h"
#include "inputs/point_list.h"
#include "inputs/result_file.h"
#include "records/channel.h"
#include "records/failure.h"
#include "series/extraction.h"
#include "series/series_reader.h"

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

double value_of(Quantity quantity, const inputs::StepBuffers& step,
                const inputs::ResultHeader& header, std::size_t i) {
  switch (quantity) {
    case Quantity::kH:
      return step.p[i] + header.node_base[i];
    case Quantity::kP:
      return step.p[i];
    case Quantity::kQ:
      return step.q[i];
    case Quantity::kVa:
      return step.va[i];
    case Quantity::kVb:
      return step.vb[i];
  }
  return 0;
}

}  // namespace

Error::Error(int number, std::string path, std::string report)
    : number_(number), path_(std::move(path)), report_(std::move(report)) {}

struct ResultFile::State {
  std::string path;
  std::string title;
  inputs::ResultHeader header;
  std::optional<std::vector<double>> times;
};

ResultFile::ResultFile(std::unique_ptr<State> state) : state_(std::move(state)) {}
ResultFile::ResultFile(ResultFile&&) noexcept = default;
ResultFile& ResultFile::operator=(ResultFile&&) noexcept = default;
ResultFile::~ResultFile() = default;

ResultFile ResultFile::open(const std::string& path) {
  return guarded([&] {
    auto state = std::make_unique<State>();
    records::Channel result = open_result(path);
    state->path = result.path;
    state->header = inputs::read_result_header(result);
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
  if (!state_->times) state_->times = series(Quantity::kP, {}).times;
  return *state_->times;
}

Series ResultFile::series(Quantity quantity, const std::vector<std::int32_t>& points,
                          std::int64_t max_steps) {
  return guarded([&] {
    records::Channel result = open_result(state_->path);
    const inputs::ResultHeader header = inputs::read_result_header(result);
    const bool links = quantity == Quantity::kVa || quantity == Quantity::kVb;
    const std::vector<std::int32_t> none;
    inputs::StepBuffers step;
    inputs::prepare_step_buffers(step, header, links ? none : points, links ? points : none);
    const std::int32_t top = links ? header.links() : header.nodes();
    Series out;
    out.points = points;
    out.links = links;
    while (max_steps < 0 || static_cast<std::int64_t>(out.times.size()) < max_steps) {
      if (!inputs::read_step_block(result, header.nodes(), header.links(), step)) break;
      out.times.push_back(step.time);
      for (const std::int32_t point : points)
        out.values.push_back(
            point > 0 && point <= top
                ? value_of(quantity, step, header, static_cast<std::size_t>(point - 1))
                : 0.0);
    }
    inputs::end_step_blocks(result);
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
    inputs::Limits limits = inputs::read_limits_line(point_list);
    driver::WorkArea area = driver::size_work_area(limits, point_list);
    series::extract_series(point_list, result, header, area.tables, folder);
    records::close_channel(result);
  });
}

}  // namespace flowseries
