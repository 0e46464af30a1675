// Statistics of every point in one pass.
#include "series/statistics.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <utility>

namespace series {
namespace {

// a + b = sum + error exactly (Knuth's two-sum, any order of magnitudes).
inline void two_sum(double a, double b, double& sum, double& error) {
  sum = a + b;
  const double b_virtual = sum - a;
  error = (a - (sum - b_virtual)) + (b - b_virtual);
}

}  // namespace

StatisticsPass::StatisticsPass(Quantity quantity, std::vector<std::int32_t> points)
    : quantity_(quantity), points_(std::move(points)) {
  const std::size_t n = points_.size();
  nan_.assign(n, 0);
  finite_.assign(n, 0);
  pos_inf_.assign(n, 0);
  neg_inf_.assign(n, 0);
  min_.assign(n, std::numeric_limits<double>::quiet_NaN());
  max_.assign(n, std::numeric_limits<double>::quiet_NaN());
  time_min_.assign(n, 0);
  time_max_.assign(n, 0);
  step_min_.assign(n, -1);
  step_max_.assign(n, -1);
  sum_hi_.assign(n, 0);
  sum_mid_.assign(n, 0);
  sum_lo_.assign(n, 0);
}

void StatisticsPass::add(const inputs::StepBuffers& step, const inputs::ResultHeader& header,
                         std::int32_t s) {
  ++steps_;
  const std::int32_t top = of_links(quantity_) ? header.links() : header.nodes();
  const double time = step.time;
  for (std::size_t k = 0; k < points_.size(); ++k) {
    const std::int32_t v = points_[k];
    const double x = v > 0 && v <= top
                         ? column_value(quantity_, step, header, static_cast<std::size_t>(v - 1))
                         : 0.0;
    if (std::isnan(x)) {
      ++nan_[k];
      continue;
    }
    if (step_min_[k] < 0 || x < min_[k] || (x == min_[k] && s < step_min_[k])) {
      min_[k] = x;
      step_min_[k] = s;
      time_min_[k] = time;
    }
    if (step_max_[k] < 0 || x > max_[k] || (x == max_[k] && s < step_max_[k])) {
      max_[k] = x;
      step_max_[k] = s;
      time_max_[k] = time;
    }
    if (std::isinf(x)) {
      ++(x > 0 ? pos_inf_ : neg_inf_)[k];
      continue;
    }
    ++finite_[k];
    double error = 0, carry = 0;
    two_sum(sum_hi_[k], x, sum_hi_[k], error);
    two_sum(sum_mid_[k], error, sum_mid_[k], carry);
    sum_lo_[k] += carry;
  }
}

void StatisticsPass::merge(const StatisticsPass& other) {
  steps_ += other.steps_;
  for (std::size_t k = 0; k < points_.size(); ++k) {
    nan_[k] += other.nan_[k];
    finite_[k] += other.finite_[k];
    pos_inf_[k] += other.pos_inf_[k];
    neg_inf_[k] += other.neg_inf_[k];
    const std::int32_t so = other.step_min_[k];
    if (so >= 0 && (step_min_[k] < 0 || other.min_[k] < min_[k] ||
                    (other.min_[k] == min_[k] && so < step_min_[k]))) {
      min_[k] = other.min_[k];
      step_min_[k] = so;
      time_min_[k] = other.time_min_[k];
    }
    const std::int32_t sx = other.step_max_[k];
    if (sx >= 0 && (step_max_[k] < 0 || other.max_[k] > max_[k] ||
                    (other.max_[k] == max_[k] && sx < step_max_[k]))) {
      max_[k] = other.max_[k];
      step_max_[k] = sx;
      time_max_[k] = other.time_max_[k];
    }
    for (const double part : {other.sum_hi_[k], other.sum_mid_[k], other.sum_lo_[k]}) {
      double error = 0, carry = 0;
      two_sum(sum_hi_[k], part, sum_hi_[k], error);
      two_sum(sum_mid_[k], error, sum_mid_[k], carry);
      sum_lo_[k] += carry;
    }
  }
}

std::vector<PointStatistics> StatisticsPass::figures() const {
  std::vector<PointStatistics> out(points_.size());
  for (std::size_t k = 0; k < points_.size(); ++k) {
    PointStatistics& f = out[k];
    f.steps = steps_;
    f.nan = nan_[k];
    f.any = step_min_[k] >= 0;
    if (!f.any) continue;
    f.min = min_[k];
    f.max = max_[k];
    f.time_of_min = time_min_[k];
    f.time_of_max = time_max_[k];
    const std::int64_t count = finite_[k] + pos_inf_[k] + neg_inf_[k];
    if (pos_inf_[k] > 0 && neg_inf_[k] > 0) {
      f.mean = std::numeric_limits<double>::quiet_NaN();
    } else if (pos_inf_[k] > 0 || neg_inf_[k] > 0) {
      f.mean = pos_inf_[k] > 0 ? HUGE_VAL : -HUGE_VAL;
    } else {
      // The three parts, added smallest first, round as their exact sum does.
      double low = 0, error = 0;
      two_sum(sum_mid_[k], sum_lo_[k], low, error);
      double total = 0, rest = 0;
      two_sum(sum_hi_[k], low, total, rest);
      total += rest + error;
      f.mean = total / static_cast<double>(count);
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
  // The tail decoder's steps are gathered apart and taken in only where they stand.
  std::vector<StatisticsPass> tail_passes;
  for (const StatisticsPass& pass : passes)
    tail_passes.emplace_back(pass.quantity(), pass.points());
  WalkOptions options;
  options.range = range;
  end = walk_steps(
      result, header, step, options,
      [&](const inputs::StepBuffers& decoded, std::int32_t s) {
        for (StatisticsPass& pass : passes) pass.add(decoded, header, s);
      },
      [&](const inputs::StepBuffers& decoded, std::int32_t s) {
        for (StatisticsPass& pass : tail_passes) pass.add(decoded, header, s);
      });
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
  const auto take = [&](const inputs::StepBuffers& decoded, std::int32_t s) {
    if (static_cast<std::size_t>(s) >= times.size()) times.resize(static_cast<std::size_t>(s) + 1);
    times[static_cast<std::size_t>(s)] = decoded.time;
  };
  WalkEnd end;
  try {
    end = walk_steps(result, header, step, {}, take, take);
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
  info.steps = static_cast<std::int64_t>(times.size());
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
