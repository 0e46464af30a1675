// Statistics of every listed node or link over a run, gathered in the one pass of the step walk:
// the steps, the NaN values among them, the lowest and highest value with the time of the first
// step that holds it, and the mean of the values that are not NaN.
#pragma once

#include <cmath>
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

// Decoded steps gathered for the passes: a few at a time, so that each point's figures are taken
// through all of them while they stay in the cache (the figures of every node and link are
// megabytes; a step's values go through them once per block rather than once per step).
struct StepBlock {
  static constexpr int kSteps = 8;
  int count = 0;
  std::int32_t step[kSteps] = {};
  double time[kSteps] = {};
  std::size_t nodes = 0, links = 0;  // entries kept per step
  std::vector<double> p, q, va, vb;  // step-major: p[j * nodes + i]

  StepBlock(std::size_t node_entries, std::size_t link_entries);
  bool full() const { return count == kSteps; }
  // Copies the first entries of a decoded step.
  void take(const inputs::StepBuffers& decoded, std::int32_t s);
};

// The figures of one quantity's points as steps arrive, in any order (the tail decoder hands the
// last steps of a long file from its own thread): ties at an extreme go to the earlier step.
class StatisticsPass {
 public:
  // `points` are 1-based node or link numbers; one of 0 or less, or beyond N or M, reads zeros,
  // as the program's columns do.
  StatisticsPass(Quantity quantity, std::vector<std::int32_t> points);

  void add(const inputs::StepBuffers& step, const inputs::ResultHeader& header, std::int32_t s);
  void add(const StepBlock& block, const inputs::ResultHeader& header);
  // Takes in what another pass over other steps of the same points gathered.
  void merge(const StatisticsPass& other);
  std::vector<PointStatistics> figures() const;

  Quantity quantity() const { return quantity_; }
  const std::vector<std::int32_t>& points() const { return points_; }

 private:
  // The points' figures, a column each (so that a step's values go through them as vectors).
  // The sum is kept in three parts (each addition's rounding error goes on to the next), so that
  // the mean is the correctly rounded one in all but the most cancelling sums; infinities are
  // counted apart. Steps, not times, mark the extremes (ties go to the earlier step); times_
  // holds each step's time.
  struct Figures {
    std::vector<double> min, max, hi, mid, lo;
    std::vector<std::int32_t> step_min, step_max, nan, pos_inf, neg_inf;
  };
  static constexpr std::int32_t kNoStep = 0x7fffffff;

  void add_values(const StepBlock& block, const double* values, std::size_t entries,
                  const double* base, std::int32_t top);
  void note_time(std::int32_t s, double time);

  Quantity quantity_;
  std::vector<std::int32_t> points_;
  bool dense_ = false;  // points_ are 1, 2, ... n
  std::int64_t steps_ = 0;
  Figures figures_;
  std::vector<double> times_;  // by step, for the steps seen
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
  std::int64_t continued_steps = 0;  // steps with a record in pieces
  // Pieces whose trailing length differs from the leading one (the program never compares
  // them), and the file offset of the first.
  std::uint64_t trailing_mismatches = 0, first_trailing_mismatch = 0;
  std::string cut;  // empty for a complete file; else where and how it ends
};
// Walks `result` from after its header, checking every piece's trailing length (the header's too
// when the channel was set to before it was read). A cut file gives the steps before the cut;
// any other failure ends the walk as it ends the program.
FileInfo read_info(records::Channel& result, const inputs::ResultHeader& header);

// A double in its shortest text that reads back to the same value, as Python's repr writes it
// ("0.1", "100.0", "1e-05", "1.5e+16", "inf", "-inf", "nan").
std::string shortest_text(double value);

}  // namespace series
