// Choosing between two ways of doing one recurring job by how long each takes on this machine.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>

namespace records {

// Which of two ways to take, each giving the same result: the first jobs alternate between them
// and are timed, then the way whose median time was smaller is kept for the rest of the run.
// When every counted job of one way was more than twice as quick as every one of the other, the
// choice is made after kClearTrials jobs of each.
// What is quicker depends on the machine, not only on the job: on one virtual machine the first
// touch of a mapped page costs a fraction of a microsecond, on another a few microseconds.
class TimedChoice {
 public:
  enum Way : int { kFirst, kSecond };
  static constexpr int kWarmUp = 1;  // first jobs of each way, not counted (buffers, mappings)
  static constexpr int kTrials = 5;  // jobs of each way counted
  static constexpr int kClearTrials = 2;

  Way way() const {
    return settled_ ? chosen_ : (taken_[kFirst] <= taken_[kSecond] ? kFirst : kSecond);
  }
  bool settled() const { return settled_; }
  // Records how long a job took the way it was told to take.
  void note(Way way, std::chrono::nanoseconds took);
  // The way cannot be taken here (the system refuses it): the other is kept.
  void rule_out(Way way);

 private:
  void settle(Way way);

  std::array<std::array<std::int64_t, kTrials>, 2> samples_{};
  std::array<int, 2> taken_{};
  bool settled_ = false;
  Way chosen_ = kFirst;
};

}  // namespace records
