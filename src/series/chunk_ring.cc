#include "series/chunk_ring.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#include "tuning/spin_wait.h"
#include "tuning/ways.h"

namespace series {
namespace {

// The ring holds this many chunks at once.
constexpr std::size_t kChunkSlots = 4;

class ChunkPipeline {
 public:
  ChunkPipeline(std::size_t rows, std::size_t rows_per_chunk, const FormatRows& format)
      : rows_(rows),
        format_(format),
        rows_per_chunk_(rows_per_chunk),
        chunks_((rows + rows_per_chunk - 1) / rows_per_chunk) {}

  void run(records::Channel& file) {
    std::thread second;
    try {
      second = std::thread([this] { format_chunks(); });
      tuning::note_way(tuning::WayTaken::kThread);
    } catch (const std::system_error&) {
      // No thread to be had (a tight address-space or process limit): this thread does it all.
    }
    // Whatever ends the loop (a failed write throws), the second formatter stops and is joined
    // first.
    struct Join {
      ChunkPipeline& pipeline;
      std::thread& second;
      ~Join() {
        {
          const std::lock_guard lock(pipeline.mutex_);
          pipeline.stopping_ = true;
          pipeline.note_change();
        }
        if (second.joinable()) second.join();
      }
    } join{*this, second};

    std::unique_lock lock(mutex_);
    while (next_write_ < chunks_) {
      if (formatter_failure_) std::rethrow_exception(formatter_failure_);
      Slot& slot = slots_[next_write_ % kChunkSlots];
      if (slot.done) {
        lock.unlock();
        records::write_all(file, slot.out.view());
        slot.out.clear();
        lock.lock();
        slot.done = false;
        ++next_write_;
        note_change();
      } else if (can_claim()) {
        format_next(lock);
      } else {
        wait_for_change(lock);
      }
    }
  }

 private:
  struct alignas(64) Slot {
    records::OutputBuffer out;
    bool done = false;
  };

  bool can_claim() const {
    return next_claim_ < chunks_ && next_claim_ < next_write_ + kChunkSlots;
  }

  // Claims the next chunk, formats it with the lock released, and marks it done.
  void format_next(std::unique_lock<std::mutex>& lock) {
    const std::size_t chunk = next_claim_++;
    Slot& slot = slots_[chunk % kChunkSlots];
    lock.unlock();
    const std::size_t first = chunk * rows_per_chunk_;
    format_(slot.out, first, std::min(first + rows_per_chunk_, rows_));
    lock.lock();
    slot.done = true;
    note_change();
  }

  // Called with the lock held.
  void note_change() {
    changes_.fetch_add(1, std::memory_order_release);
    changed_.notify_all();
  }

  // Chunks are done and written a millisecond or less apart, and on a virtual machine a sleeping
  // thread can take as long to wake: the waiter spins a while before it sleeps.
  void wait_for_change(std::unique_lock<std::mutex>& lock) {
    const unsigned seen = changes_.load(std::memory_order_relaxed);
    lock.unlock();
    const bool changed = tuning::spin_while_equal(changes_, seen, std::chrono::milliseconds(20));
    lock.lock();
    if (!changed && changes_.load(std::memory_order_relaxed) == seen) changed_.wait(lock);
  }

  // The second formatter thread: chunks only, never a write.
  void format_chunks() {
    std::unique_lock lock(mutex_);
    try {
      while (!stopping_ && next_claim_ < chunks_) {
        if (can_claim())
          format_next(lock);
        else
          wait_for_change(lock);
      }
    } catch (...) {
      if (!lock.owns_lock()) lock.lock();
      formatter_failure_ = std::current_exception();
      note_change();
    }
  }

  const std::size_t rows_;
  const FormatRows& format_;
  const std::size_t rows_per_chunk_;
  const std::size_t chunks_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::atomic<unsigned> changes_{0};
  std::size_t next_claim_ = 0;
  std::size_t next_write_ = 0;
  bool stopping_ = false;
  std::exception_ptr formatter_failure_;
  Slot slots_[kChunkSlots];
};

}  // namespace

void write_chunk_ring(records::Channel& file, std::size_t rows, std::size_t rows_per_chunk,
                      const FormatRows& format) {
  ChunkPipeline(rows, rows_per_chunk, format).run(file);
}

}  // namespace series
