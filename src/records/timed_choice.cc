#include "records/timed_choice.h"

#include <algorithm>
#include <span>

namespace records {

void TimedChoice::note(Way way, std::chrono::nanoseconds took) {
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
  // One way far quicker than the other: the slow one is not tried further.
  if (2 * std::ranges::max(first) < std::ranges::min(second)) return settle(kFirst);
  if (2 * std::ranges::max(second) < std::ranges::min(first)) return settle(kSecond);
  if (counted_first < kTrials || counted_second < kTrials) return;
  // The median: one job slowed by something else (a preempted core, a page written back) does
  // not decide.
  std::array<std::int64_t, 2> median{};
  for (const Way w : {kFirst, kSecond}) {
    auto& s = samples_[w];
    std::nth_element(s.begin(), s.begin() + kTrials / 2, s.end());
    median[w] = s[kTrials / 2];
  }
  settle(median[kSecond] < median[kFirst] ? kSecond : kFirst);
}

void TimedChoice::settle(Way way) {
  chosen_ = way;
  settled_ = true;
}

void TimedChoice::rule_out(Way way) {
  settle(way == kFirst ? kSecond : kFirst);
}

}  // namespace records
