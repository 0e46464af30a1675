// Statistics of every point in one pass.
#include "series/statistics.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <utility>

#include "series/statistics_kernel.h"

namespace series {
namespace {

using kernel::two_sum;

}  // namespace

StepBlock::StepBlock(std::size_t node_entries, std::size_t link_entries)
    : nodes(node_entries), links(link_entries) {
  p.resize(kSteps * nodes);
  q.resize(kSteps * nodes);
  va.resize(kSteps * links);
  vb.resize(kSteps * links);
}

void StepBlock::take(const inputs::StepBuffers& decoded, std::int32_t s) {
  const auto j = static_cast<std::size_t>(count);
  step[j] = s;
  time[j] = decoded.time;
  std::copy_n(decoded.p.begin(), nodes, p.begin() + static_cast<std::ptrdiff_t>(j * nodes));
  std::copy_n(decoded.q.begin(), nodes, q.begin() + static_cast<std::ptrdiff_t>(j * nodes));
  std::copy_n(decoded.va.begin(), links, va.begin() + static_cast<std::ptrdiff_t>(j * links));
  std::copy_n(decoded.vb.begin(), links, vb.begin() + static_cast<std::ptrdiff_t>(j * links));
  ++count;
}

StatisticsPass::StatisticsPass(Quantity quantity, std::vector<std::int32_t> points)
    : quantity_(quantity), points_(std::move(points)) {
  const std::size_t n = points_.size();
  figures_.min.assign(n, HUGE_VAL);
  figures_.max.assign(n, -HUGE_VAL);
  figures_.hi.assign(n, 0);
  figures_.mid.assign(n, 0);
  figures_.lo.assign(n, 0);
  figures_.step_min.assign(n, kNoStep);
  figures_.step_max.assign(n, kNoStep);
  figures_.nan.assign(n, 0);
  figures_.pos_inf.assign(n, 0);
  figures_.neg_inf.assign(n, 0);
  dense_ = true;
  for (std::size_t k = 0; k < points_.size() && dense_; ++k)
    dense_ = points_[k] == static_cast<std::int32_t>(k + 1);
}

void StatisticsPass::note_time(std::int32_t s, double time) {
  const auto at = static_cast<std::size_t>(s);
  if (at >= times_.size())
    times_.resize(std::max(at + 1, 2 * times_.size()), std::numeric_limits<double>::quiet_NaN());
  times_[at] = time;
}

void StatisticsPass::add_values(const StepBlock& block, const double* values, std::size_t entries,
                                const double* base, std::int32_t top) {
  // Points a chunk at a time, through every step of the block: the chunk's figures stay in the
  // cache while the block's steps go through them.
  constexpr std::size_t kChunk = 512;
  const std::size_t n = points_.size();
  // A list of every point from 1 on reads the step's entries in place; any other is gathered.
  const bool dense = dense_ && n <= entries;
  const kernel::TakeRun take = kernel::best_take_run();
  double gathered[kChunk];
  Figures& f = figures_;
  for (std::size_t c0 = 0; c0 < n; c0 += kChunk) {
    const std::size_t c1 = std::min(n, c0 + kChunk);
    const kernel::Columns columns{f.min.data() + c0,      f.max.data() + c0, f.hi.data() + c0,
                                  f.mid.data() + c0,      f.lo.data() + c0,  f.step_min.data() + c0,
                                  f.step_max.data() + c0, f.nan.data() + c0, f.pos_inf.data() + c0,
                                  f.neg_inf.data() + c0};
    for (int j = 0; j < block.count; ++j) {
      const std::int32_t s = block.step[j];
      const double* row = values + static_cast<std::size_t>(j) * entries;
      if (dense) {
        take(row + c0, base != nullptr ? base + c0 : nullptr, s, c1 - c0, columns);
        continue;
      }
      for (std::size_t k = c0; k < c1; ++k) {
        const std::int32_t v = points_[k];
        const auto i = static_cast<std::size_t>(v - 1);
        gathered[k - c0] = v > 0 && v <= top ? (base != nullptr ? row[i] + base[i] : row[i]) : 0.0;
      }
      take(gathered, nullptr, s, c1 - c0, columns);
    }
  }
}

void StatisticsPass::add(const StepBlock& block, const inputs::ResultHeader& header) {
  steps_ += block.count;
  for (int j = 0; j < block.count; ++j) note_time(block.step[j], block.time[j]);
  const bool links = of_links(quantity_);
  const std::int32_t top = links ? header.links() : header.nodes();
  const std::size_t entries = links ? block.links : block.nodes;
  const double* values = quantity_ == Quantity::kQ    ? block.q.data()
                         : quantity_ == Quantity::kVa ? block.va.data()
                         : quantity_ == Quantity::kVb ? block.vb.data()
                                                      : block.p.data();
  const std::int32_t kept =
      static_cast<std::int32_t>(std::min<std::size_t>(static_cast<std::size_t>(top), entries));
  add_values(block, values, entries, quantity_ == Quantity::kH ? header.node_base.data() : nullptr,
             kept);
}

void StatisticsPass::add(const inputs::StepBuffers& step, const inputs::ResultHeader& header,
                         std::int32_t s) {
  StepBlock block(step.p.size(), step.va.size());
  block.take(step, s);
  add(block, header);
}

void StatisticsPass::merge(const StatisticsPass& other) {
  steps_ += other.steps_;
  for (std::size_t s = 0; s < other.times_.size(); ++s)
    if (!std::isnan(other.times_[s])) note_time(static_cast<std::int32_t>(s), other.times_[s]);
  Figures& f = figures_;
  const Figures& o = other.figures_;
  for (std::size_t k = 0; k < points_.size(); ++k) {
    f.nan[k] += o.nan[k];
    f.pos_inf[k] += o.pos_inf[k];
    f.neg_inf[k] += o.neg_inf[k];
    if (o.step_min[k] != kNoStep &&
        (o.min[k] < f.min[k] || (o.min[k] == f.min[k] && o.step_min[k] < f.step_min[k]))) {
      f.min[k] = o.min[k];
      f.step_min[k] = o.step_min[k];
    }
    if (o.step_max[k] != kNoStep &&
        (o.max[k] > f.max[k] || (o.max[k] == f.max[k] && o.step_max[k] < f.step_max[k]))) {
      f.max[k] = o.max[k];
      f.step_max[k] = o.step_max[k];
    }
    for (const double part : {o.hi[k], o.mid[k], o.lo[k]}) {
      double error = 0, carry = 0;
      two_sum(f.hi[k], part, f.hi[k], error);
      two_sum(f.mid[k], error, f.mid[k], carry);
      f.lo[k] += carry;
    }
  }
}

std::vector<PointStatistics> StatisticsPass::figures() const {
  std::vector<PointStatistics> out(points_.size());
  const Figures& f = figures_;
  for (std::size_t k = 0; k < points_.size(); ++k) {
    PointStatistics& o = out[k];
    o.steps = steps_;
    o.nan = f.nan[k];
    o.any = f.step_min[k] != kNoStep;
    if (!o.any) continue;
    o.min = f.min[k];
    o.max = f.max[k];
    o.time_of_min = times_[static_cast<std::size_t>(f.step_min[k])];
    o.time_of_max = times_[static_cast<std::size_t>(f.step_max[k])];
    const std::int64_t count = steps_ - f.nan[k];
    if (f.pos_inf[k] > 0 && f.neg_inf[k] > 0) {
      o.mean = std::numeric_limits<double>::quiet_NaN();
    } else if (f.pos_inf[k] > 0 || f.neg_inf[k] > 0) {
      o.mean = f.pos_inf[k] > 0 ? HUGE_VAL : -HUGE_VAL;
    } else {
      // The three parts, added smallest first, round as their exact sum does.
      double low = 0, error = 0;
      two_sum(f.mid[k], f.lo[k], low, error);
      double total = 0, rest = 0;
      two_sum(f.hi[k], low, total, rest);
      total += rest + error;
      o.mean = total / static_cast<double>(count);
    }
  }
  return out;
}

void gather_statistics(records::Channel& result, const inputs::ResultHeader& header,
                       StepRange range, std::vector<StatisticsPass>& passes, WalkEnd& end) {
  std::vector<std::int32_t> nodes, links;
  for (const StatisticsPass& pass : passes)
    (of_links(pass.quantity()) ? links : nodes)
        .insert((of_links(pass.quantity()) ? links : nodes).end(), pass.points().begin(),
                pass.points().end());
  inputs::StepBuffers step;
  inputs::prepare_step_buffers(step, header, nodes, links);
  // The entries a step's values need: up to the highest point asked for, within N or M.
  const auto highest = [](const std::vector<std::int32_t>& points, std::int32_t top) {
    std::int32_t most = 0;
    for (const std::int32_t v : points)
      if (v <= top) most = std::max(most, v);
    return static_cast<std::size_t>(most);
  };
  const std::size_t node_entries = highest(nodes, header.nodes());
  const std::size_t link_entries = highest(links, header.links());
  // The tail decoder's steps are gathered apart and taken in only where they stand.
  std::vector<StatisticsPass> tail_passes;
  tail_passes.reserve(passes.size());
  for (const StatisticsPass& pass : passes)
    tail_passes.emplace_back(pass.quantity(), pass.points());
  StepBlock loop_block(node_entries, link_entries), tail_block(node_entries, link_entries);
  const auto flush = [&header](StepBlock& block, std::vector<StatisticsPass>& into) {
    for (StatisticsPass& pass : into) pass.add(block, header);
    block.count = 0;
  };
  WalkOptions options;
  options.range = range;
  try {
    end = walk_steps(
        result, header, step, options,
        [&](const inputs::StepBuffers& decoded, std::int32_t s) {
          loop_block.take(decoded, s);
          if (loop_block.full()) flush(loop_block, passes);
        },
        [&](const inputs::StepBuffers& decoded, std::int32_t s) {
          tail_block.take(decoded, s);
          if (tail_block.full()) flush(tail_block, tail_passes);
        });
  } catch (...) {
    // The complete steps before a cut count; the tail decoder's never stand then.
    flush(loop_block, passes);
    throw;
  }
  flush(loop_block, passes);
  flush(tail_block, tail_passes);
  if (end.tail_taken)
    for (std::size_t i = 0; i < passes.size(); ++i) passes[i].merge(tail_passes[i]);
}

bool is_cut(const records::Failure& failure) {
  return failure.number() == records::kEndOfFile || failure.number() == records::kReadError;
}

FileInfo read_info(records::Channel& result, const inputs::ResultHeader& header) {
  FileInfo info;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  info.first_time = info.last_time = info.min_time_step = info.max_time_step = nan;
  inputs::StepBuffers step;
  inputs::prepare_step_buffers(step, header, {}, {});
  std::vector<double> times;
  std::vector<char> continued;
  const auto take = [&](const inputs::StepBuffers& decoded, std::int32_t s) {
    if (static_cast<std::size_t>(s) >= times.size()) {
      times.resize(static_cast<std::size_t>(s) + 1);
      continued.resize(times.size());
    }
    times[static_cast<std::size_t>(s)] = decoded.time;
    continued[static_cast<std::size_t>(s)] = decoded.continued ? 1 : 0;
  };
  WalkEnd end;
  result.check_trailing_lengths = true;
  // The steps in file order, each read whole: the tail decoder passes over the trailing lengths.
  WalkOptions options;
  options.tail.min_bytes = std::numeric_limits<std::uint64_t>::max();
  try {
    end = walk_steps(result, header, step, options, take, take);
    if (end.head_cut)
      info.cut.append("inside the step head after step ")
          .append(std::to_string(times.size()))
          .append(" (the program ends normally with the steps before it)");
  } catch (const records::Failure& failure) {
    if (!is_cut(failure)) throw;
    info.cut.append("inside step ")
        .append(std::to_string(times.size() + 1))
        .append(" (the program ends with ")
        .append(std::to_string(failure.number()))
        .append(")");
  }
  info.trailing_mismatches = result.trailing_mismatches;
  info.first_trailing_mismatch = result.first_trailing_mismatch;
  info.steps = static_cast<std::int64_t>(times.size());
  info.continued_steps = std::count(continued.begin(), continued.end(), 1);
  for (std::size_t s = 0; s < times.size(); ++s) {
    if (s == 0) {
      info.first_time = times[s];
      continue;
    }
    const double dt = times[s] - times[s - 1];
    if (!(times[s] > times[s - 1])) ++info.times_not_increasing;
    info.min_time_step = s == 1 ? dt : std::min(info.min_time_step, dt);
    info.max_time_step = s == 1 ? dt : std::max(info.max_time_step, dt);
  }
  if (!times.empty()) info.last_time = times.back();
  return info;
}

std::string shortest_text(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char digits[64];
  const auto [end, error] =
      std::to_chars(digits, digits + sizeof digits, value, std::chars_format::scientific);
  (void)error;
  // d.ddde±XX: the significant digits and the decimal exponent.
  const std::string_view text(digits, static_cast<std::size_t>(end - digits));
  const bool negative = text.front() == '-';
  const std::size_t e = text.find('e');
  std::string mantissa;
  for (const char c : text.substr(negative ? 1 : 0, e - (negative ? 1 : 0)))
    if (c != '.') mantissa += c;
  const int exponent = std::atoi(std::string(text.substr(e + 1)).c_str());
  std::string out = negative ? "-" : "";
  if (exponent >= -4 && exponent < 16) {
    if (exponent < 0) {
      out.append("0.").append(static_cast<std::size_t>(-exponent - 1), '0').append(mantissa);
    } else if (mantissa.size() > static_cast<std::size_t>(exponent) + 1) {
      const auto point = static_cast<std::size_t>(exponent) + 1;
      out.append(mantissa, 0, point).append(".").append(mantissa, point);
    } else {
      out.append(mantissa)
          .append(static_cast<std::size_t>(exponent) + 1 - mantissa.size(), '0')
          .append(".0");
    }
    return out;
  }
  out += mantissa.substr(0, 1);
  if (mantissa.size() > 1) out.append(".").append(mantissa, 1);
  out += exponent < 0 ? "e-" : "e+";
  const int magnitude = std::abs(exponent);
  if (magnitude < 10) out += '0';
  out += std::to_string(magnitude);
  return out;
}

}  // namespace series
