#include "tuning/timed_choice.h"

#include <algorithm>
#include <span>

namespace tuning {

void TwoWayTimer::note(Way way, std::chrono::nanoseconds took) {
  if (settled_) return;
  const int counted = taken_[way] - kWarmUp;
  if (counted >= 0 && counted < kTrials)
    samples_[way][static_cast<std::size_t>(counted)] = took.count();
  ++taken_[way];
  const int counted_first = std::min(taken_[kFirst] - kWarmUp, kTrials);
  const int counted_second = std::min(taken_[kSecond] - kWarmUp, kTrials);
  if (counted_first < kClearTrials || counted_second < kClearTrials) return;
  const auto first = std::span(samples_[kFirst]).first(static_cast<std::size_t>(counted_first));
  const auto second = std::span(samples_[kSecond]).first(static_cast<std::size_t>(counted_second));
  // The median: one job slowed by something else (a preempted core, a page written back) does
  // not decide.
  const auto median = [](std::span<std::int64_t> s) {
    std::nth_element(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(s.size() / 2), s.end());
    return s[s.size() / 2];
  };
  // One way far quicker than the other: the slow one is not tried further.
  if (2 * std::ranges::max(first) < std::ranges::min(second)) return settle(kFirst, median(second));
  if (2 * std::ranges::max(second) < std::ranges::min(first)) return settle(kSecond, median(first));
  if (counted_first < kTrials || counted_second < kTrials) return;
  const std::int64_t first_median = median(first);
  const std::int64_t second_median = median(second);
  if (second_median < first_median)
    settle(kSecond, first_median);
  else
    settle(kFirst, second_median);
}

void TwoWayTimer::note_kept(std::chrono::nanoseconds took) {
  if (!settled_ || other_median_ == 0) return;
  slow_in_a_row_ = took.count() > 2 * other_median_ ? slow_in_a_row_ + 1 : 0;
  if (slow_in_a_row_ == 3) settle(chosen_ == kFirst ? kSecond : kFirst);
}

void TwoWayTimer::settle(Way way, std::int64_t other_median) {
  chosen_ = way;
  settled_ = true;
  other_median_ = other_median;
  slow_in_a_row_ = 0;
}

void TwoWayTimer::rule_out(Way way) {
  settle(way == kFirst ? kSecond : kFirst);
}

}  // namespace tuning
