// Comparing two runs.
#include "diff/result_diff.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

#include "inputs/result_file.h"
#include "records/channel.h"
#include "records/failure.h"
#include "series/series_reader.h"
#include "series/statistics.h"

namespace diff {
namespace {

// Structure differences of one sort listed one by one up to this many, then counted.
constexpr std::size_t kListed = 5;

// Gathers the values that differ: counts, the first, the largest, and the `top` largest.
class Collector {
 public:
  explicit Collector(const Options& o) : o_(o) {}

  // Values compared and found the same, byte for byte.
  void equal_values(std::size_t n) { out_.compared += static_cast<std::int64_t>(n); }

  void value(int kind, std::int32_t point, std::int32_t step, double time, double a, double b) {
    ++out_.compared;
    if (same_value(a, b, o_.rtol, o_.atol)) return;
    ++out_.counts[kind];
    Difference d{kind, point, step, time, a, b, 0, 0};
    d.abs = std::isnan(a) || std::isnan(b) ? HUGE_VAL : std::fabs(a - b);
    if (std::isnan(d.abs)) d.abs = HUGE_VAL;  // infinities of opposite signs
    d.rel = b != 0 ? d.abs / std::fabs(b) : HUGE_VAL;
    if (!out_.first) out_.first = d;
    if (!out_.largest_abs || d.abs > out_.largest_abs->abs) out_.largest_abs = d;
    if (!out_.largest_rel || d.rel > out_.largest_rel->rel) out_.largest_rel = d;
    if (o_.top == 0) return;
    // A min-heap of the largest: its front is the smallest of them.
    const auto smaller = [](const Difference& x, const Difference& y) { return x.abs > y.abs; };
    if (out_.worst.size() < o_.top) {
      out_.worst.push_back(d);
      std::push_heap(out_.worst.begin(), out_.worst.end(), smaller);
    } else if (d.abs > out_.worst.front().abs) {
      std::pop_heap(out_.worst.begin(), out_.worst.end(), smaller);
      out_.worst.back() = d;
      std::push_heap(out_.worst.begin(), out_.worst.end(), smaller);
    }
  }

  // A difference of the structure; those of one sort past the first few are counted.
  void structure(const std::string& sort, const std::string& what) {
    if (++sorts_[sort] <= kListed) out_.structure.push_back(what);
  }

  Outcome finish() {
    for (const auto& [sort, seen] : sorts_)
      if (seen > kListed)
        out_.structure.push_back(std::to_string(seen - kListed) + " more " + sort + " differ");
    std::sort(out_.worst.begin(), out_.worst.end(),
              [](const Difference& x, const Difference& y) { return x.abs > y.abs; });
    return out_;
  }

 private:
  const Options& o_;
  Outcome out_;
  std::map<std::string, std::size_t> sorts_;
};

std::string text(double v) {
  return series::shortest_text(v);
}

std::vector<std::int32_t> all_up_to(std::int32_t n) {
  std::vector<std::int32_t> points;
  for (std::int32_t i = 1; i <= n; ++i) points.push_back(i);
  return points;
}

// The steps of the second file, handed one at a time to the walk of the first: each waits for
// the other, so that both files are read at once and no more than a step of each is held.
class Handoff {
 public:
  struct Stop {};

  // On the second file's thread: offers its step and waits until it was compared.
  void offer(const inputs::StepBuffers& step) {
    std::unique_lock lock(mutex_);
    if (first_done_) {
      ++second_extra_;
      return;
    }
    offered_ = &step;
    changed_.notify_all();
    changed_.wait(lock, [&] { return offered_ == nullptr || first_done_ || stop_; });
    if (stop_) throw Stop{};
    if (offered_ != nullptr) {  // the first file ended before taking it
      offered_ = nullptr;
      ++second_extra_;
    }
  }

  // On the first file's thread: the second file's step of the same number, or null when the
  // second file has no more.
  const inputs::StepBuffers* take() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return offered_ != nullptr || second_done_; });
    if (second_failure_) throw Stop{};
    return offered_;
  }
  void taken() {
    const std::lock_guard lock(mutex_);
    offered_ = nullptr;
    changed_.notify_all();
  }

  void first_done() {
    const std::lock_guard lock(mutex_);
    first_done_ = true;
    changed_.notify_all();
  }
  void second_done(std::exception_ptr failure) {
    const std::lock_guard lock(mutex_);
    second_done_ = true;
    second_failure_ = std::move(failure);
    changed_.notify_all();
  }
  void stop() {
    const std::lock_guard lock(mutex_);
    stop_ = true;
    changed_.notify_all();
  }
  std::exception_ptr second_failure() const { return second_failure_; }
  std::int64_t second_extra() const { return second_extra_; }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  const inputs::StepBuffers* offered_ = nullptr;
  bool first_done_ = false, second_done_ = false, stop_ = false;
  std::exception_ptr second_failure_;
  std::int64_t second_extra_ = 0;
};

template <typename T>
void compare_tables(Collector& c, const char* name, const T& a, const T& b, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i)
    if (!(a[i] == b[i]) &&
        !(std::isnan(static_cast<double>(a[i])) && std::isnan(static_cast<double>(b[i]))))
      c.structure(std::string(name) + " entries",
                  std::string(name) + " entry " + std::to_string(i + 1) + ": " +
                      text(static_cast<double>(a[i])) + " and " + text(static_cast<double>(b[i])));
}

}  // namespace

bool same_value(double a, double b, double rtol, double atol) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  if (a == b) return true;
  if (std::isinf(a) || std::isinf(b)) return false;
  return std::fabs(a - b) <= atol + rtol * std::fabs(b);
}

bool Outcome::equal() const {
  if (!structure.empty()) return false;
  for (const std::int64_t n : counts)
    if (n > 0) return false;
  return true;
}

Outcome compare_results(const std::string& a_path, const std::string& b_path, const Options& o) {
  Collector c(o);
  const auto open = [](const std::string& path) {
    return records::open_channel(records::kResultChannel, path, records::ChannelKind::kBinary,
                                 records::OpenMode::kMustExist);
  };
  records::Channel a = open(a_path);
  records::Channel b = open(b_path);
  const inputs::ResultHeader ha = inputs::read_result_header(a);
  const inputs::ResultHeader hb = inputs::read_result_header(b);
  if (ha.title != hb.title) c.structure("titles", "the titles differ");
  if (ha.node_count != hb.node_count)
    c.structure("counts", "N: " + std::to_string(ha.node_count) + " and " +
                              std::to_string(hb.node_count) + " nodes");
  if (ha.link_count != hb.link_count)
    c.structure("counts", "M: " + std::to_string(ha.link_count) + " and " +
                              std::to_string(hb.link_count) + " links");
  const std::int32_t nodes = std::min(ha.nodes(), hb.nodes());
  const std::int32_t links = std::min(ha.links(), hb.links());
  compare_tables(c, "node table a", ha.node_a, hb.node_a, static_cast<std::size_t>(nodes));
  compare_tables(c, "node table base", ha.node_base, hb.node_base, static_cast<std::size_t>(nodes));
  for (std::size_t t = 0; t < 5; ++t)
    compare_tables(c, ("link table k" + std::to_string(t + 1)).c_str(), ha.link_k[t], hb.link_k[t],
                   static_cast<std::size_t>(links));

  // The points compared: those asked for that both files hold.
  const auto within = [](std::vector<std::int32_t> points, std::int32_t top) {
    points.erase(std::remove_if(points.begin(), points.end(),
                                [top](std::int32_t v) { return v < 1 || v > top; }),
                 points.end());
    return points;
  };
  const std::vector<std::int32_t> node_points =
      within(o.nodes ? *o.nodes : all_up_to(nodes), nodes);
  const std::vector<std::int32_t> link_points =
      within(o.links ? *o.links : all_up_to(links), links);
  const bool want_nodes = o.kinds[0] || o.kinds[1] || o.kinds[2];
  const bool want_links = o.kinds[3] || o.kinds[4];
  const std::vector<std::int32_t> none;
  inputs::StepBuffers sa, sb;
  inputs::prepare_step_buffers(sa, ha, want_nodes ? node_points : none,
                               want_links ? link_points : none);
  inputs::prepare_step_buffers(sb, hb, want_nodes ? node_points : none,
                               want_links ? link_points : none);
  series::WalkOptions walk;
  walk.range = o.range;
  walk.tail.min_bytes = std::numeric_limits<std::uint64_t>::max();  // steps in file order

  // Lists of every point from 1 on, whose values stand in the step buffers in the same order.
  const auto is_dense = [](const std::vector<std::int32_t>& points) {
    for (std::size_t j = 0; j < points.size(); ++j)
      if (points[j] != static_cast<std::int32_t>(j + 1)) return false;
    return true;
  };
  const bool nodes_dense = is_dense(node_points), links_dense = is_dense(link_points);
  const auto stored = [](series::Quantity q, const inputs::StepBuffers& step) -> const double* {
    switch (q) {
      case series::Quantity::kQ:
        return step.q.data();
      case series::Quantity::kVa:
        return step.va.data();
      case series::Quantity::kVb:
        return step.vb.data();
      default:
        return step.p.data();
    }
  };
  Handoff handoff;
  std::thread second([&] {
    try {
      const auto offer = [&](const inputs::StepBuffers& step, std::int32_t) {
        handoff.offer(step);
      };
      series::walk_steps(b, hb, sb, walk, offer, offer);
      handoff.second_done(nullptr);
    } catch (const Handoff::Stop&) {
      handoff.second_done(nullptr);
    } catch (...) {
      handoff.second_done(std::current_exception());
    }
  });
  std::int64_t first_extra = 0;
  std::int32_t first_steps = 0;
  const auto compare = [&](const inputs::StepBuffers& step, std::int32_t s) {
    ++first_steps;
    const inputs::StepBuffers* other = handoff.take();
    if (other == nullptr) {
      ++first_extra;
      return;
    }
    if (!(step.time == other->time))
      c.structure("step times", "step " + std::to_string(s + 1) + "'s time: " + text(step.time) +
                                    " and " + text(other->time));
    for (int k = 0; k < 5; ++k) {
      if (!o.kinds[k]) continue;
      const auto q = static_cast<series::Quantity>(k);
      const std::vector<std::int32_t>& points = k < 3 ? node_points : link_points;
      // The stored values of every point, side by side in both steps: stretches whose bytes are
      // the same are equal whatever the tolerances, and only the others are looked at value by
      // value (files that agree cost a byte comparison).
      const double* stored_a = stored(q, step);
      const double* stored_b = stored(q, *other);
      const bool dense = k > 0 && (k < 3 ? nodes_dense : links_dense);
      constexpr std::size_t kStretch = 64;
      for (std::size_t at = 0; at < points.size(); at += kStretch) {
        const std::size_t end = std::min(points.size(), at + kStretch);
        if (dense && std::memcmp(stored_a + at, stored_b + at, (end - at) * sizeof(double)) == 0) {
          c.equal_values(end - at);
          continue;
        }
        for (std::size_t j = at; j < end; ++j) {
          const auto i = static_cast<std::size_t>(points[j] - 1);
          c.value(k, points[j], s + 1, step.time, series::column_value(q, step, ha, i),
                  series::column_value(q, *other, hb, i));
        }
      }
    }
    handoff.taken();
  };
  try {
    series::walk_steps(a, ha, sa, walk, compare, compare);
  } catch (const Handoff::Stop&) {
    // The second file failed: its failure is the outcome.
  } catch (...) {
    handoff.stop();
    second.join();
    throw;
  }
  handoff.first_done();
  second.join();
  if (handoff.second_failure()) std::rethrow_exception(handoff.second_failure());
  const std::int64_t second_steps = first_steps - first_extra + handoff.second_extra();
  if (first_extra > 0 || handoff.second_extra() > 0)
    c.structure("step counts",
                "steps: " + std::to_string(first_steps) + " and " + std::to_string(second_steps));
  return c.finish();
}

bool looks_like_series_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char first = 0;
  return in.get(first) && first == ',';
}

Outcome compare_series(const std::string& a_path, const std::string& b_path, const Options& o) {
  Collector c(o);
  std::string error;
  const auto refused = [&](const std::string& path) {
    std::error_code ignored;
    return SeriesFailure(std::filesystem::exists(path, ignored) ? 39 : 29, path + ": " + error);
  };
  std::FILE* fa = series::open_series_file(a_path, &error);
  if (fa == nullptr) throw refused(a_path);
  std::FILE* fb = series::open_series_file(b_path, &error);
  if (fb == nullptr) {
    std::fclose(fa);
    throw refused(b_path);
  }
  struct Close {
    std::FILE* a;
    std::FILE* b;
    ~Close() {
      std::fclose(a);
      std::fclose(b);
    }
  } close{fa, fb};
  series::SeriesReader ra(series::file_source(fa)), rb(series::file_source(fb));
  if (!ra.start(&error)) throw SeriesFailure(39, a_path + ": not a series file: " + error);
  if (!rb.start(&error)) throw SeriesFailure(39, b_path + ": not a series file: " + error);
  if (ra.points() != rb.points()) c.structure("headers", "the header's point numbers differ");
  const bool links = series::holds_links(a_path);
  const std::string name = a_path.substr(a_path.find_last_of("/\\") + 1);
  const char letter = name.empty() ? 'H' : static_cast<char>(name[0] & ~0x20);
  const int node_kind = letter == 'P' ? 1 : letter == 'Q' ? 2 : 0;
  const std::size_t columns = std::min(ra.points().size(), rb.points().size());
  std::vector<std::int32_t> points(columns);
  for (std::size_t i = 0; i < columns; ++i)
    points[i] = static_cast<std::int32_t>(std::atol(ra.points()[i].c_str()));
  const auto asked = [&](int kind, std::int32_t point) {
    if (!o.kinds[kind]) return false;
    const auto& list = kind < 3 ? o.nodes : o.links;
    return !list || std::find(list->begin(), list->end(), point) != list->end();
  };
  double ta = 0, tb = 0;
  std::vector<double> va, vb;
  std::int32_t rows = 0;
  std::int64_t rows_a = 0, rows_b = 0;
  while (true) {
    std::string ea, eb;
    const bool has_a = ra.next(ta, &va, &ea);
    const bool has_b = rb.next(tb, &vb, &eb);
    if (!ea.empty())
      throw SeriesFailure(39, std::string(a_path).append(": damaged series file: ").append(ea));
    if (!eb.empty())
      throw SeriesFailure(39, std::string(b_path).append(": damaged series file: ").append(eb));
    rows_a += has_a;
    rows_b += has_b;
    if (!has_a || !has_b) {
      if (!has_a && !has_b) break;
      continue;  // counted on to the end of the longer file
    }
    const std::int32_t s = rows++;
    if (!o.range.contains(s)) continue;
    if (!(ta == tb))
      c.structure("step times",
                  "row " + std::to_string(s + 1) + "'s time: " + text(ta) + " and " + text(tb));
    for (std::size_t i = 0; i < columns; ++i) {
      const int kind = links ? 3 + static_cast<int>(i % 2) : node_kind;
      if (asked(kind, points[i])) c.value(kind, points[i], s + 1, ta, va[i], vb[i]);
    }
  }
  if (rows_a != rows_b)
    c.structure("step counts",
                "rows: " + std::to_string(rows_a) + " and " + std::to_string(rows_b));
  return c.finish();
}

}  // namespace diff
