// The page filler: a thread that makes the pages of the series tables present a little ahead of
// the step loop, so that the loop does not take a page fault wherever it first stores.
//
// A fresh work area costs the step loop a page fault (and the zeroing of a page) wherever it
// first stores: in long runs, most of the loop's time. The filler thread, on the second core,
// makes the pages of the next steps' columns present, never more than 8 MiB ahead of the loop, so
// that the pages it fills are the ones the loop is about to use. Whether small or large pages
// fill quicker depends on the machine and on where its free memory comes from, so the first
// batches alternate between the two, timed, and the quicker is kept, unless it turns slow (the
// figures are in bench/README.md). Until then the pages that no batch has reached are large.
// Nothing of the tables' values changes: a run with the filler stores what a run without it does.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <thread>
#include <vector>

#include "tuning/timed_choice.h"

namespace series {

class PageFiller {
 public:
  // A table of `per_step` doubles per step, step after step.
  struct Table {
    std::span<double> values;
    std::size_t per_step;
  };

  // Starts the filler thread when the tables of `steps` steps are large enough for it to pay,
  // the system can make pages present, and the run takes the quick ways.
  PageFiller(std::int32_t steps, std::vector<Table> tables);
  PageFiller(const PageFiller&) = delete;
  PageFiller& operator=(const PageFiller&) = delete;
  // Wakes the filler thread, wherever it waits, and joins it.
  ~PageFiller();

  // The loop has stored `stored` steps (or passed over steps stored by another thread).
  void advance(std::int32_t stored) {
    if (thread_.joinable() && stored >= published_ + batch_) {
      published_ = stored;
      progress_.store(stored);
      progress_.notify_one();
    }
  }

  bool filling() const { return thread_.joinable(); }

 private:
  enum class PageSize { kSmall, kLarge };

  void fill();
  void note(PageSize size, std::chrono::steady_clock::duration took);
  template <typename Job>
  void for_each_range(std::int32_t first, std::int32_t end, Job job);

  std::int32_t steps_;
  std::vector<Table> tables_;
  std::int32_t batch_ = 1;
  std::int32_t ahead_ = 2;
  std::int32_t published_ = 0;  // the loop's side
  std::atomic<std::int32_t> progress_{0};
  tuning::TimedChoice<PageSize> page_sizes_;
  std::thread thread_;
};

}  // namespace series
