#include "plot/reduce.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace plot {

M4Reducer::M4Reducer(std::size_t series, std::size_t buckets, double t0, double t1)
    : buckets_(std::max<std::size_t>(buckets, 1)),
      t0_(t0),
      t1_(t1),
      open_(series),
      lines_(series) {}

void M4Reducer::Run::add(std::uint64_t step, Point p) {
  const Extreme e{step, p};
  if (points++ == 0) first = low = high = e;
  if (p.v < low.point.v) low = e;
  if (p.v > high.point.v) high = e;
  last = e;
}

std::int64_t M4Reducer::bucket_of(double t) const {
  if (!(t1_ > t0_) || !std::isfinite(t)) return 0;
  // In halves, so that the extremes of the doubles give no infinite span.
  double at = (t / 2 - t0_ / 2) / (t1_ / 2 - t0_ / 2) * static_cast<double>(buckets_);
  if (!(at >= 0)) at = 0;
  return static_cast<std::int64_t>(
      std::clamp(std::floor(at), 0.0, static_cast<double>(buckets_ - 1)));
}

// The run's first, lowest, highest and last points in the order of their steps, each once.
void M4Reducer::emit_run(const Run& run, Polyline& line) {
  if (run.points == 0) return;
  Extreme e[] = {run.first, run.low, run.high, run.last};
  std::sort(std::begin(e), std::end(e),
            [](const Extreme& a, const Extreme& b) { return a.step < b.step; });
  for (std::size_t i = 0; i < 4; ++i)
    if (i == 0 || e[i].step != e[i - 1].step) line.push_back(e[i].point);
}

void M4Reducer::close(Bucket& b, Polyline& line) {
  constexpr double kBreak = std::numeric_limits<double>::quiet_NaN();
  if (!b.broken) {
    emit_run(b.run, line);
  } else {
    emit_run(b.before, line);
    line.push_back({b.before.last.point.t, kBreak});
    // Runs wholly inside the column: a line of their extent, then the break after them.
    if (b.between.points > 0) {
      Run extent;
      extent.add(b.between.low.step, b.between.low.point);
      extent.add(b.between.high.step, b.between.high.point);
      emit_run(extent, line);
      line.push_back({b.between.last.point.t, kBreak});
    }
    emit_run(b.run, line);
  }
  b = Bucket{};
}

void M4Reducer::add(double t, const std::vector<double>& values) {
  const std::int64_t index = bucket_of(t);
  for (std::size_t s = 0; s < open_.size(); ++s) {
    Bucket& b = open_[s];
    if (b.index != index) {
      if (b.index >= 0) close(b, lines_[s]);
      b.index = index;
    }
    const double v = s < values.size() ? values[s] : std::numeric_limits<double>::quiet_NaN();
    if (std::isfinite(v) && std::isfinite(t)) {
      b.run.add(step_, {t, v});
      continue;
    }
    // A break. The run it ends is the column's first, or one wholly inside the column (kept as
    // one extent; a run of one point draws nothing and is dropped).
    if (!b.broken) {
      b.before = b.run;
      b.broken = true;
    } else if (b.run.points >= 2) {
      b.between.add(b.run.low.step, b.run.low.point);
      b.between.add(b.run.high.step, b.run.high.point);
    }
    b.run = Run{};
  }
  ++step_;
}

std::vector<Polyline> M4Reducer::finish() {
  for (std::size_t s = 0; s < open_.size(); ++s)
    if (open_[s].index >= 0) close(open_[s], lines_[s]);
  return std::move(lines_);
}

}  // namespace plot
