// Series file writing through the header and step-row layouts.
#include "series/series_file.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "records/channel.h"
#include "records/number_text.h"
#include "records/spin_wait.h"
#include "records/text_layout.h"

namespace series {

using records::OutputValue;

namespace {

// A row's values for the layout interpreter, read straight from the series table.
struct RowValues {
  const StepRow& row;

  std::size_t size() const { return 1 + row.points * row.components; }
  void write(std::size_t i, const records::LayoutItem& field, int scale, char* at) const {
    double value = row.time;
    if (i > 0) {
      // One component per point, or two (va, vb): no division on the way to each value.
      const std::size_t j = i - 1;
      value =
          row.components == 1 ? row.step[j] : row.step[(j & 1) * row.component_stride + (j >> 1)];
    }
    records::write_real_field(value, field, scale, at);
  }
};

// The row layout's group of value fields repeats this often on one line.
constexpr std::size_t kValuesPerLine =
    static_cast<std::size_t>(records::layouts::kRowItems[1].repeat);

// The step rows of one file, formatted by ranges.
struct RowRange {
  std::span<const double> times;
  const SeriesColumns& columns;
  std::size_t points;

  std::size_t values_per_row() const { return 1 + points * columns.components; }
  void format(records::OutputBuffer& out, std::size_t first, std::size_t end) const {
    for (std::size_t s = first; s < end; ++s) {
      format_step_row(out, {times[s], columns.table.data() + s * columns.step_stride, points,
                            columns.components, columns.component_stride});
    }
  }
};

// Rows are formatted in chunks of about this much text, into a ring of this many buffers.
constexpr std::size_t kChunkBytes = 1 << 20;
constexpr std::size_t kChunkSlots = 4;

// Long files: this thread and a helper each take the next chunk of rows and format it into the
// ring; this thread writes the chunks in row order as they are done, so that writing one chunk
// overlaps formatting the next ones. Formatting touches no channel, so the output is the same
// bytes in the same order as sequential formatting. At most kChunkSlots chunks are held at once.
class ChunkPipeline {
 public:
  ChunkPipeline(const RowRange& rows, std::size_t rows_per_chunk)
      : rows_(rows),
        rows_per_chunk_(rows_per_chunk),
        chunks_((rows.times.size() + rows_per_chunk - 1) / rows_per_chunk) {}

  void run(records::Channel& file) {
    std::thread helper;
    try {
      helper = std::thread([this] { help(); });
    } catch (const std::system_error&) {
      // No thread to be had (a tight address-space or process limit): this thread does it all.
    }
    // Whatever ends the loop (a failed write throws), the helper stops and is joined first.
    struct Join {
      ChunkPipeline& pipeline;
      std::thread& helper;
      ~Join() {
        {
          const std::lock_guard lock(pipeline.mutex_);
          pipeline.stopping_ = true;
          pipeline.note_change();
        }
        if (helper.joinable()) helper.join();
      }
    } join{*this, helper};

    std::unique_lock lock(mutex_);
    while (next_write_ < chunks_) {
      if (helper_failure_) std::rethrow_exception(helper_failure_);
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
    rows_.format(slot.out, first, std::min(first + rows_per_chunk_, rows_.times.size()));
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
    const bool changed = records::spin_while_equal(changes_, seen, std::chrono::milliseconds(20));
    lock.lock();
    if (!changed && changes_.load(std::memory_order_relaxed) == seen) changed_.wait(lock);
  }

  void help() {
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
      helper_failure_ = std::current_exception();
      note_change();
    }
  }

  const RowRange& rows_;
  const std::size_t rows_per_chunk_;
  const std::size_t chunks_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::atomic<unsigned> changes_{0};
  std::size_t next_claim_ = 0;
  std::size_t next_write_ = 0;
  bool stopping_ = false;
  std::exception_ptr helper_failure_;
  Slot slots_[kChunkSlots];
};

void write_rows_in_parallel(records::Channel& file, const RowRange& rows) {
  records::flush_output(file);  // the header; the file is cut behind it
  const std::size_t row_bytes = 18 + 15 * rows.values_per_row();
  ChunkPipeline(rows, std::max<std::size_t>(1, kChunkBytes / row_bytes)).run(file);
}

}  // namespace

// Rows that fit on one line (all but lists of more than 200 values) are laid out here directly,
// as the interpreter would: the time, a comma and a value field per value, and a comma more
// when the group of value fields was not used up, since its literal comes before its field.
void format_step_row(records::OutputBuffer& out, const StepRow& row) {
  const std::size_t count = row.points * row.components;
  if (count > kValuesPerLine) {
    records::format_values(out, records::kRowLayout, RowValues{row});
    return;
  }
  const std::size_t trailing_comma = count < kValuesPerLine ? 1 : 0;
  char* at = out.grow(16 + 15 * count + trailing_comma + 2);
  records::write_time_field(at, row.time);
  at += 16;
  if (row.components == 1) {
    records::write_value_fields(at, row.step, row.points);
  } else {
    // va and vb of each point side by side, as the row shows them.
    double pairs[kValuesPerLine];
    const double* vb = row.step + row.component_stride;
    for (std::size_t k = 0; k < row.points; ++k) {
      pairs[2 * k] = row.step[k];
      pairs[2 * k + 1] = vb[k];
    }
    records::write_value_fields(at, pairs, count);
  }
  at += 15 * count;
  if (trailing_comma != 0) *at++ = ',';
  at[0] = '\r';
  at[1] = '\n';
}

void write_series_file(std::string_view name, int number, std::span<const std::int32_t> points,
                       std::span<const double> times, const SeriesColumns& columns,
                       std::size_t parallel_min_values) {
  records::Channel file =
      records::open_channel(number, name, records::ChannelKind::kText,
                            records::OpenMode::kCreateIfMissing, records::Direction::kOutput);
  std::vector<OutputValue> values;
  values.reserve(points.size() * columns.components);
  for (const std::int32_t point : points)
    for (std::size_t c = 0; c < columns.components; ++c) values.push_back(OutputValue::of(point));
  records::write_formatted(file, records::kHeaderLayout, values);

  const RowRange rows{times, columns, points.size()};
  if (times.size() * rows.values_per_row() < parallel_min_values) {
    rows.format(file.out, 0, times.size());
  } else {
    write_rows_in_parallel(file, rows);
  }
  records::close_channel(file);
}

}  // namespace series
