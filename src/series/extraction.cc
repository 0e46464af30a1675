// Extraction of the listed points' values, step by step.
#include "series/extraction.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "records/channel.h"
#include "records/platform.h"
#include "records/timed_choice.h"
#include "series/series_file.h"
#include "series/tail_steps.h"

namespace series {
namespace {

std::size_t at(std::int32_t i) {
  return static_cast<std::size_t>(i);
}

void store_step(const inputs::StepBuffers& step, const inputs::ResultHeader& header,
                const inputs::PointCounts& counts, SeriesTables& t, std::int32_t s) {
  const inputs::Limits& l = t.limits;
  t.time[at(s)] = step.time;
  for (std::int32_t k = 0; k < counts.p; ++k)
    if (const std::int32_t v = t.p_list[at(k)]; v > 0)
      t.p[at(k) + at(l.p) * at(s)] = step.p[at(v - 1)];
  for (std::int32_t k = 0; k < counts.h; ++k)
    if (const std::int32_t v = t.h_list[at(k)]; v > 0)
      t.h[at(k) + at(l.h) * at(s)] = step.p[at(v - 1)] + header.node_base[at(v - 1)];
  for (std::int32_t k = 0; k < counts.q; ++k)
    if (const std::int32_t v = t.q_list[at(k)]; v > 0)
      t.q[at(k) + at(l.q) * at(s)] = step.q[at(v - 1)];
  for (std::int32_t k = 0; k < counts.v; ++k) {
    if (const std::int32_t v = t.v_list[at(k)]; v > 0) {
      t.v[at(k) + at(l.v) * (2 * at(s))] = step.va[at(v - 1)];
      t.v[at(k) + at(l.v) * (2 * at(s) + 1)] = step.vb[at(v - 1)];
    }
  }
}

std::span<const std::int32_t> first(std::span<const std::int32_t> list, std::int32_t count) {
  return list.first(count > 0 ? at(count) : 0);
}

// A fresh work area costs the step loop a page fault (and the zeroing of a page) wherever it
// first stores: in long runs, most of the loop's time. A helper on the second core makes the
// pages of the next steps' columns present a little ahead of the loop, never more than 8 MiB
// ahead, so that the pages it fills are the ones the loop is about to use.
// Whether small or large pages fill quicker depends on the machine and on where its free memory
// comes from: on one virtual machine a large page cost 5 ms when the host had just taken it
// back and 0.25 ms otherwise, against 0.6 ms for its 512 small pages; on another, whose
// hypervisor maps each page at its first use, 0.1 to 1.5 ms against 5. So the first batches
// alternate between the two, timed, and the quicker is kept, unless it turns slow. Until then the
// pages that no batch has reached are large, the quicker on both machines but in that while.
class PageFiller {
 public:
  explicit PageFiller(SeriesTables& tables) : tables_(tables) {
    const inputs::Limits& l = tables.limits;
    const std::size_t step_bytes = (at(l.h) + at(l.p) + at(l.q) + 2 * at(l.v) + 1) * sizeof(double);
    if (!records::platform::can_populate_pages() || l.steps <= 0 ||
        step_bytes * at(l.steps) < kMinBytes)
      return;
    // Batches of about 4 MiB, which hold whole large pages of the widest table, at most 8 MiB
    // ahead of the loop, whatever the width of a step.
    batch_ =
        static_cast<std::int32_t>(std::clamp<std::size_t>(kBatchBytes / step_bytes, 1, 1 << 20));
    ahead_ = std::max(2 * batch_, static_cast<std::int32_t>(std::min<std::size_t>(
                                      (std::size_t{8} << 20) / step_bytes, 1 << 20)));
    // Until the choice is made, large pages wherever a batch does not say otherwise: the helper
    // that decodes the last steps writes its rows from the end of the tables meanwhile, where no
    // batch goes.
    for_each_range(0, l.steps, [](double* block, std::size_t bytes) {
      records::platform::prefer_large_pages(block, bytes, true);
    });
    try {
      helper_ = std::thread([this] { fill(); });
    } catch (const std::system_error&) {
      // No thread to be had: the loop takes its own page faults.
    }
  }
  PageFiller(const PageFiller&) = delete;
  PageFiller& operator=(const PageFiller&) = delete;
  ~PageFiller() {
    progress_.store(kDone);
    progress_.notify_one();
    if (helper_.joinable()) helper_.join();
  }

  // The loop has stored `stored` steps (or passed over steps stored by another thread).
  void advance(std::int32_t stored) {
    if (helper_.joinable() && stored >= published_ + batch_) {
      published_ = stored;
      progress_.store(stored);
      progress_.notify_one();
    }
  }

 private:
  static constexpr std::size_t kMinBytes = std::size_t{16} << 20;
  static constexpr std::size_t kBatchBytes = std::size_t{4} << 20;
  static constexpr std::int32_t kDone = INT32_MAX;
  static constexpr records::TimedChoice::Way kLargePages = records::TimedChoice::kSecond;

  void fill() {
    const inputs::Limits& l = tables_.limits;
    // How the pages of steps not filled yet were advised, once the choice is made.
    std::optional<records::TimedChoice::Way> rest_advised;
    for (std::int32_t first = 0; first < l.steps; first += batch_) {
      std::int32_t seen = progress_.load();
      while (seen != kDone && first >= seen + ahead_) {
        progress_.wait(seen);
        seen = progress_.load();
      }
      if (seen == kDone) return;
      const std::int32_t end = first + std::min(batch_, l.steps - first);
      if (end <= seen) continue;  // the loop is past these steps
      const records::TimedChoice::Way way = page_sizes_.way();
      if (!page_sizes_.settled() || rest_advised != way) {
        for_each_range(first, page_sizes_.settled() ? l.steps : end,
                       [&](double* block, std::size_t bytes) {
                         records::platform::prefer_large_pages(block, bytes, way == kLargePages);
                       });
        if (page_sizes_.settled()) rest_advised = way;
      }
      const auto start = std::chrono::steady_clock::now();
      for_each_range(first, end, records::platform::populate_pages);
      note(way, std::chrono::steady_clock::now() - start);
    }
  }

  // Large pages can turn dear in the middle of a run, once the free memory the system had at hand
  // is used up: then small pages are taken for the rest.
  void note(records::TimedChoice::Way way, std::chrono::steady_clock::duration took) {
    if (page_sizes_.settled())
      page_sizes_.note_kept(took);
    else
      page_sizes_.note(way, took);
  }

  // Calls `job` with each table's part that holds steps [first, end).
  template <typename Job>
  void for_each_range(std::int32_t first, std::int32_t end, Job job) {
    const inputs::Limits& l = tables_.limits;
    const std::pair<std::span<double>, std::size_t> tables[] = {{tables_.time, 1},
                                                                {tables_.p, at(l.p)},
                                                                {tables_.h, at(l.h)},
                                                                {tables_.q, at(l.q)},
                                                                {tables_.v, 2 * at(l.v)}};
    for (const auto& [table, per_step] : tables)
      if (per_step > 0)
        job(table.data() + per_step * at(first), per_step * at(end - first) * sizeof(double));
  }

  SeriesTables& tables_;
  std::int32_t batch_ = 1;
  std::int32_t ahead_ = 2;
  std::int32_t published_ = 0;  // the loop's side
  std::atomic<std::int32_t> progress_{0};
  records::TimedChoice page_sizes_;
  std::thread helper_;
};

}  // namespace

std::int32_t store_steps(records::Channel& result, const inputs::ResultHeader& header,
                         const inputs::PointCounts& counts, SeriesTables& tables,
                         const TailOptions& tail_options) {
  std::vector<std::int32_t> node_points;
  for (auto list : {first(tables.h_list, counts.h), first(tables.p_list, counts.p),
                    first(tables.q_list, counts.q)})
    node_points.insert(node_points.end(), list.begin(), list.end());
  inputs::StepBuffers step;
  inputs::prepare_step_buffers(step, header, node_points, first(tables.v_list, counts.v));

  PageFiller filler(tables);
  TailSteps tail(
      result, header, step, tables.limits.steps,
      [&](const inputs::StepBuffers& decoded, std::int32_t s) {
        store_step(decoded, header, counts, tables, s);
      },
      tail_options);
  // The second core goes to one helper: the one that decodes the last steps, or else the one
  // that reads the second part of each long read.
  std::optional<records::SplitReads> split_reads;
  if (!tail.helping()) split_reads.emplace(result);
  std::int32_t stored = 0;
  while (true) {
    stored = tail.next_step(result, stored);
    if (!inputs::read_step_block(result, header.nodes(), header.links(), step)) break;
    // The block after the last stored step is read whole before the loop ends.
    if (stored == tables.limits.steps) break;
    store_step(step, header, counts, tables, stored);
    ++stored;
    filler.advance(stored);
  }
  // Values read through a window of a file cut since then are not stored as if they were read.
  records::check_viewed(result);
  // The file's pages are not needed while the series files are written.
  records::release_view(result);
  return stored;
}

void extract_series(records::Channel& point_list, records::Channel& result,
                    const inputs::ResultHeader& header, SeriesTables& tables) {
  const inputs::PointCounts counts = inputs::read_point_lists(
      point_list, {tables.h_list, tables.p_list, tables.q_list, tables.v_list},
      header.node_capacity(), header.link_capacity());
  records::close_channel(point_list);

  const std::int32_t stored = store_steps(result, header, counts, tables);
  const std::span<const double> times = std::span<const double>(tables.time).first(at(stored));
  const inputs::Limits& l = tables.limits;
  if (counts.h > 0)
    write_series_file("HTIME.CSV", 10, first(tables.h_list, counts.h), times,
                      {tables.h, at(l.h), 1, 0});
  if (counts.p > 0)
    write_series_file("PTIME.CSV", 11, first(tables.p_list, counts.p), times,
                      {tables.p, at(l.p), 1, 0});
  if (counts.q > 0)
    write_series_file("QTIME.csv", 12, first(tables.q_list, counts.q), times,
                      {tables.q, at(l.q), 1, 0});
  if (counts.v > 0)
    write_series_file("VTIME.csv", 12, first(tables.v_list, counts.v), times,
                      {tables.v, 2 * at(l.v), 2, at(l.v)});
}

}  // namespace series
