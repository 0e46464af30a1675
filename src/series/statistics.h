// Statistics of every listed node or link over a run, gathered in the one pass of the step walk:
// the steps, the NaN values among them, the lowest and highest value with the time of the first
// step that holds it, and the mean of the values that are not NaN.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "inputs/result_file.h"
#include "records/channel.h"
#include "records/failure.h"
#include "series/step_walk.h"

namespace series {

struct PointStatistics {
  std::int64_t steps = 0;
  std::int64_t nan = 0;
  bool any = false;  // a value that is not NaN: the four figures and the mean stand
  double min = 0, time_of_min = 0, max = 0, time_of_max = 0, mean = 0;
};

// The figures of one quantity's points as steps arrive, in any order (the tail decoder hands the
// last steps of a long file from its own thread): ties at an extreme go to the earlier step.
class StatisticsPass {
 public:
  // `points` are 1-based node or link numbers; one of 0 or less, or beyond N or M, reads zeros,
  // as the program's columns do.
  StatisticsPass(Quantity quantity, std::vector<std::int32_t> points);

  void add(const inputs::StepBuffers& step, const inputs::ResultHeader& header, std::int32_t s);
  // Takes in what another pass over other steps of the same points gathered.
  void merge(const StatisticsPass& other);
  std::vector<PointStatistics> figures() const;

  Quantity quantity() const { return quantity_; }
  const std::vector<std::int32_t>& points() const { return points_; }

 private:
  Quantity quantity_;
  std::vector<std::int32_t> points_;
  std::int64_t steps_ = 0;
  // One entry per point. The sum is kept in three parts (each addition's rounding error goes on
  // to the next), so that the mean is the correctly rounded one in all but the most cancelling
  // sums; infinities are counted apart.
  std::vector<std::int64_t> nan_, finite_, pos_inf_, neg_inf_;
  std::vector<double> min_, max_, time_min_, time_max_;
  std::vector<std::int32_t> step_min_, step_max_;
  std::vector<double> sum_hi_, sum_mid_, sum_lo_;
};

// One walk over `result` (positioned after its header) that gathers every pass, reading only the
// records and entries they need. `end` says how the walk ended.
void gather_statistics(records::Channel& result, const inputs::ResultHeader& header,
                       StepRange range, std::vector<StatisticsPass>& passes, WalkEnd& end);

// Whether a failure of the step walk is the file ending inside a step (24, or 39 for a record
// cut short): the steps before it are whole.
bool is_cut(const records::Failure& failure);

// What a file's step heads tell, from one walk that decodes no value.
struct FileInfo {
  std::int64_t steps = 0;  // complete steps
  double first_time = 0, last_time = 0;
  double min_time_step = 0, max_time_step = 0;
  std::int64_t times_not_increasing = 0;
  std::string cut;  // empty for a complete file; else where and how it ends
};
// Walks `result` from after its header. A cut file gives the steps before the cut; any other
// failure ends the walk as it ends the program.
FileInfo read_info(records::Channel& result, const inputs::ResultHeader& header);

// A double in its shortest text that reads back to the same value, as Python's repr writes it
// ("0.1", "100.0", "1e-05", "1.5e+16", "inf", "-inf", "nan").
std::string shortest_text(double value);

}  // namespace series
