#include "series/page_filler.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <system_error>
#include <utility>

#include "platform/platform.h"
#include "tuning/ways.h"

namespace series {
namespace {

// Tables smaller than this are left to the loop's own page faults.
constexpr std::size_t kMinBytes = std::size_t{16} << 20;
// Batches of about this much, which hold whole large pages of the widest table.
constexpr std::size_t kBatchBytes = std::size_t{4} << 20;
// At most this far ahead of the loop, whatever the width of a step.
constexpr std::size_t kAheadBytes = std::size_t{8} << 20;
constexpr std::int32_t kDone = INT32_MAX;

}  // namespace

PageFiller::PageFiller(std::int32_t steps, std::vector<Table> tables)
    : steps_(steps), tables_(std::move(tables)) {
  std::size_t step_bytes = 0;
  for (const Table& t : tables_) step_bytes += t.per_step * sizeof(double);
  if (tuning::plain_ways() || !platform::can_populate_pages() || steps <= 0 || step_bytes == 0 ||
      step_bytes * static_cast<std::size_t>(steps) < kMinBytes)
    return;
  batch_ = static_cast<std::int32_t>(std::clamp<std::size_t>(kBatchBytes / step_bytes, 1, 1 << 20));
  ahead_ =
      std::max(2 * batch_,
               static_cast<std::int32_t>(std::min<std::size_t>(kAheadBytes / step_bytes, 1 << 20)));
  // Until the choice is made, large pages wherever a batch does not say otherwise: the tail
  // decoder writes its rows from the end of the tables meanwhile, where no batch goes.
  for_each_range(0, steps_, [](double* block, std::size_t bytes) {
    platform::prefer_large_pages(block, bytes, true);
  });
  try {
    thread_ = std::thread([this] { fill(); });
    tuning::note_way(tuning::WayTaken::kThread);
  } catch (const std::system_error&) {
    // No thread to be had: the loop takes its own page faults.
  }
}

PageFiller::~PageFiller() {
  progress_.store(kDone);
  progress_.notify_one();
  if (thread_.joinable()) thread_.join();
}

void PageFiller::fill() {
  // How the pages of steps not filled yet were advised, once the choice is made.
  std::optional<PageSize> rest_advised;
  for (std::int32_t first = 0; first < steps_; first += batch_) {
    std::int32_t seen = progress_.load();
    while (seen != kDone && first >= seen + ahead_) {
      progress_.wait(seen);
      seen = progress_.load();
    }
    if (seen == kDone) return;
    const std::int32_t end = first + std::min(batch_, steps_ - first);
    if (end <= seen) continue;  // the loop is past these steps
    const PageSize size = page_sizes_.way();
    if (!page_sizes_.settled() || rest_advised != size) {
      for_each_range(first, page_sizes_.settled() ? steps_ : end,
                     [&](double* block, std::size_t bytes) {
                       platform::prefer_large_pages(block, bytes, size == PageSize::kLarge);
                     });
      if (page_sizes_.settled()) rest_advised = size;
    }
    const auto start = std::chrono::steady_clock::now();
    for_each_range(first, end, platform::populate_pages);
    note(size, std::chrono::steady_clock::now() - start);
  }
}

// Large pages can turn dear in the middle of a run, once the free memory the system had at hand
// is used up: then small pages are taken for the rest.
void PageFiller::note(PageSize size, std::chrono::steady_clock::duration took) {
  if (page_sizes_.settled())
    page_sizes_.note_kept(took);
  else
    page_sizes_.note(size, took);
}

// Calls `job` with each table's part that holds steps [first, end).
template <typename Job>
void PageFiller::for_each_range(std::int32_t first, std::int32_t end, Job job) {
  const auto at = [](std::int32_t i) { return static_cast<std::size_t>(i); };
  for (const Table& t : tables_)
    if (t.per_step > 0)
      job(t.values.data() + t.per_step * at(first), t.per_step * at(end - first) * sizeof(double));
}

}  // namespace series
