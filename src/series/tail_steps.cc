// The tail decoder: the thread that decodes the last steps of a long result file.
#include "series/tail_steps.h"

#include <algorithm>
#include <exception>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/byte_source.h"
#include "records/binary_records.h"
#include "tuning/ways.h"

namespace series {
namespace {

// The tail decoder reads a whole block at a time (the loop may read only the picks of long records;
// the tail decoder copies more, on a core that would otherwise wait). Blocks up to this size take
// it, far beyond the data model's largest (50000 nodes and links: 1.8 MB); longer ones are left to
// the loop, so that the decoder's buffer stays small.
constexpr std::uint64_t kLongestBlock = std::uint64_t{16} << 20;

}  // namespace

TailSteps::TailSteps(const records::Channel& result, const inputs::ResultHeader& header,
                     const inputs::StepBuffers& prototype, std::int32_t limit, Store store,
                     const TailOptions& options)
    : store_(std::move(store)) {
  const std::optional<inputs::PlainBlock> layout =
      inputs::plain_block(header.nodes(), header.links());
  const std::optional<std::uint64_t> size = records::file_size(result);
  if (tuning::plain_ways() || !layout || !size || records::record_continued(result) || limit <= 0)
    return;
  layout_ = *layout;
  const std::uint64_t block = layout_.bytes();
  if (block > kLongestBlock) return;
  first_offset_ = records::next_record_offset(result);
  if (*size <= first_offset_) return;
  const std::uint64_t steps =
      std::min<std::uint64_t>((*size - first_offset_) / block, static_cast<std::uint64_t>(limit));
  if (steps < 2 || steps * block < options.min_bytes) return;
  end_ = static_cast<std::int32_t>(steps);
  batch_ = static_cast<std::int32_t>(
      std::clamp<std::uint64_t>(options.batch_bytes / block, 1, steps / 2));
  reserved_ = boundary_ = batch_;
  claimed_ = checked_ = end_;
  // The picks now; the tables on the decoder's own thread (see decode).
  buffers_.node_picks = prototype.node_picks;
  buffers_.link_picks = prototype.link_picks;
  node_entries_ = prototype.p.size();
  link_entries_ = prototype.va.size();
  source_ = platform::make_cached_source(result.handle);
  try {
    decoder_ = std::thread([this] { decode(); });
    tuning::note_way(tuning::WayTaken::kThread);
  } catch (const std::system_error&) {
    boundary_ = kNever;  // no thread to be had: the loop reads every step
  }
}

TailSteps::~TailSteps() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  if (decoder_.joinable()) decoder_.join();
}

std::int32_t TailSteps::at_boundary(records::Channel& result, std::int32_t s) {
  if (!joined_) {
    std::unique_lock lock(mutex_);
    if (claimed_ > s) {
      // Not there yet: the loop reserves its next batch of steps.
      reserved_ = boundary_ = std::min(s + batch_, claimed_);
      return s;
    }
    stopping_ = true;
    lock.unlock();
    decoder_.join();
    joined_ = true;
  }
  boundary_ = kNever;
  if (s < checked_) {
    // The tail decoder met a block it could not check below checked_: the loop reads up to there.
    if (checked_ < end_) boundary_ = checked_;
    return s;
  }
  const std::uint64_t offset = first_offset_ + static_cast<std::uint64_t>(s) * layout_.bytes();
  if (s == checked_ && s < end_ && records::next_record_offset(result) == offset &&
      records::pass_records(result, layout_.lengths, static_cast<std::uint64_t>(end_ - s)))
    return end_;
  return s;
}

void TailSteps::decode() {
  try {
    buffers_.p = tuning::ZeroedVector<double>(node_entries_);
    buffers_.q = tuning::ZeroedVector<double>(node_entries_);
    buffers_.va = tuning::ZeroedVector<double>(link_entries_);
    buffers_.vb = tuning::ZeroedVector<double>(link_entries_);
    platform::Scratch bytes;
    bytes.reserve_or_throw(static_cast<std::size_t>(batch_) * layout_.bytes());
    std::int32_t low = end_;
    while (true) {
      std::int32_t first = 0;
      {
        const std::lock_guard lock(mutex_);
        first = std::max(low - batch_, reserved_);
        if (stopping_ || first >= low) return;
        claimed_ = first;
      }
      if (!take_batch(first, low, bytes)) return;
      {
        const std::lock_guard lock(mutex_);
        checked_ = first;
      }
      low = first;
    }
  } catch (const std::exception&) {
    // No memory for the batch: the loop reads what the tail decoder did not store.
  }
}

// Reads steps [first, end) and stores them; false, with none stored, where a read comes short (or
// would wait for the disk) or a block is not plain.
bool TailSteps::take_batch(std::int32_t first, std::int32_t end, platform::Scratch& scratch) {
  const std::uint64_t block = layout_.bytes();
  const std::size_t size = static_cast<std::size_t>(end - first) * block;
  const std::uint64_t offset = first_offset_ + static_cast<std::uint64_t>(first) * block;
  // Only what the system holds in memory: reading backwards from the disk while the loop reads
  // forwards would move a disk's heads between two places for every batch.
  const platform::SourceRead got =
      source_->read(offset, size, scratch, platform::Access::kSequential);
  if (got.os_error != 0 || got.bytes.size() < size) return false;
  // Every block of the batch is checked before any is stored: a batch is stored whole or not at
  // all, so that no step reaches the store twice (the loop reads a batch that fails).
  for (std::int32_t s = first; s < end; ++s)
    if (!inputs::plain_block_markers(got.bytes.data() + static_cast<std::size_t>(s - first) * block,
                                     layout_))
      return false;
  for (std::int32_t s = first; s < end; ++s) {
    if (!inputs::decode_plain_block(got.bytes.data() + static_cast<std::size_t>(s - first) * block,
                                    layout_, buffers_))
      return false;
    store_(buffers_, s);
  }
  return true;
}

}  // namespace series
