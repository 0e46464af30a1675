#include "records/timed_choice.h"

#include <algorithm>

namespace records {

void TimedChoice::note(Way way, std::chrono::nanoseconds took) {
  if (settled_) return;
  const int counted = taken_[way] - kWarmUp;
  if (counted >= 0 && counted < kTrials)
    samples_[way][static_cast<std::size_t>(counted)] = took.count();
  ++taken_[way];
  if (taken_[kFirst] < kWarmUp + kTrials || taken_[kSecond] < kWarmUp + kTrials) return;
  // The median: one job slowed by something else (a preempted core, a page written back) does
  // not decide.
  std::array<std::int64_t, 2> median{};
  for (const Way w : {kFirst, kSecond}) {
    auto& s = samples_[w];
    std::nth_element(s.begin(), s.begin() + kTrials / 2, s.end());
    median[w] = s[kTrials / 2];
  }
  chosen_ = median[kSecond] < median[kFirst] ? kSecond : kFirst;
  settled_ = true;
}

void TimedChoice::rule_out(Way way) {
  chosen_ = way == kFirst ? kSecond : kFirst;
  settled_ = true;
}

}  // namespace records
