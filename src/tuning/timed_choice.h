// Choosing between two ways of doing one recurring job by how long each takes on this machine.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>

namespace tuning {

// Which of two ways to take, each giving the same result: the first jobs alternate between them
// and are timed, then the way whose median time was smaller is kept for the rest of the run.
// When every counted job of one way was more than twice as quick as every one of the other, the
// choice is made after kClearTrials jobs of each.
// What is quicker depends on the machine, not only on the job: on one virtual machine the first
// touch of a mapped page costs a fraction of a microsecond, on another a few microseconds.
//
// TimedChoice<Way> below gives each use its own names for the two ways; this is its untyped core.
class TwoWayTimer {
 public:
  enum Way : int { kFirst, kSecond };
  static constexpr int kWarmUp = 1;  // first jobs of each way, not counted (buffers, mappings)
  static constexpr int kTrials = 5;  // jobs of each way counted
  static constexpr int kClearTrials = 2;

  Way way() const {
    return settled_ ? chosen_ : (taken_[kFirst] <= taken_[kSecond] ? kFirst : kSecond);
  }
  bool settled() const { return settled_; }
  // Records how long a job took the way it was told to take; no longer weighed once settled.
  void note(Way way, std::chrono::nanoseconds took);
  // After the choice, for jobs whose cost can change in the middle of a run (memory the system
  // hands out stops being at hand): three jobs in a row of the kept way, each more than twice as
  // slow as the other way's median, give the kept way up for the other, for good.
  void note_kept(std::chrono::nanoseconds took);
  // The way cannot be taken here (the system refuses it): the other is kept.
  void rule_out(Way way);

 private:
  void settle(Way way, std::int64_t other_median = 0);

  std::array<std::array<std::int64_t, kTrials>, 2> samples_{};
  std::array<int, 2> taken_{};
  bool settled_ = false;
  Way chosen_ = kFirst;
  std::int64_t other_median_ = 0;  // 0: nothing to compare with (ruled out, or given up once)
  int slow_in_a_row_ = 0;
};

// The choice between the two ways of `W`, an enum whose ways are 0 and 1.
template <typename W>
class TimedChoice {
 public:
  using Way = W;
  static constexpr int kWarmUp = TwoWayTimer::kWarmUp;
  static constexpr int kTrials = TwoWayTimer::kTrials;
  static constexpr int kClearTrials = TwoWayTimer::kClearTrials;

  Way way() const { return static_cast<Way>(core_.way()); }
  bool settled() const { return core_.settled(); }
  void note(Way way, std::chrono::nanoseconds took) { core_.note(untyped(way), took); }
  void note_kept(std::chrono::nanoseconds took) { core_.note_kept(took); }
  void rule_out(Way way) { core_.rule_out(untyped(way)); }

 private:
  static TwoWayTimer::Way untyped(Way way) { return static_cast<TwoWayTimer::Way>(way); }
  TwoWayTimer core_;
};

}  // namespace tuning
