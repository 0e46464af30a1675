// The last steps of a long result file, decoded by a thread of its own (the tail decoder) while the
// step loop reads the first ones: one core cannot bring the file's bytes from memory as fast as
// two.
//
// The tail decoder assumes that every step block is written as a simulation writes it (PlainBlock),
// so that step s starts at a known offset, and takes batches of steps from the end of the file
// towards the loop, checking each block's markers and storing its values. The loop reads its
// steps as always; where it comes to the first step the tail decoder has checked, it passes over
// the rest of them (pass_records) and goes on reading behind them. Whatever the tail decoder did
// not check (a block of another shape, a file that ended early, the end of the file itself) the
// loop reads, so that every failure is found and reported as reading the file from the start would.
// The tail decoder reads only what the system holds in memory: a file on the disk is read front to
// back.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "inputs/result_file.h"
#include "platform/byte_source.h"
#include "records/channel.h"

namespace series {

struct TailOptions {
  // Files with fewer bytes of plain steps than this are all read by the loop.
  std::uint64_t min_bytes = std::uint64_t{64} << 20;
  // The tail decoder reads and stores about this much of the file at a time.
  std::uint64_t batch_bytes = std::uint64_t{1} << 20;
};

class TailSteps {
 public:
  // Stores the values of step s (0-based), decoded into the buffers.
  using Store = std::function<void(const inputs::StepBuffers&, std::int32_t s)>;

  // `result` is positioned at the first step block; at most `limit` steps are stored. The tail
  // decoder decodes into tables of its own, with the picks and table sizes of `prototype`.
  TailSteps(const records::Channel& result, const inputs::ResultHeader& header,
            const inputs::StepBuffers& prototype, std::int32_t limit, Store store,
            const TailOptions& options);
  TailSteps(const TailSteps&) = delete;
  TailSteps& operator=(const TailSteps&) = delete;
  ~TailSteps();

  // The loop is about to read step `s` from `result`; returns the step it reads next: `s`, or,
  // where the tail decoder stored the steps from `s` on, the step behind them, with `result` moved
  // there.
  std::int32_t next_step(records::Channel& result, std::int32_t s) {
    return s == boundary_ ? at_boundary(result, s) : s;
  }

  // Whether the tail decoder runs.
  bool decoding() const { return decoder_.joinable(); }

 private:
  static constexpr std::int32_t kNever = -1;

  std::int32_t at_boundary(records::Channel& result, std::int32_t s);
  void decode();
  bool take_batch(std::int32_t first, std::int32_t end, platform::Scratch& scratch);

  std::unique_ptr<platform::ByteSource> source_;  // only what the system holds in memory
  inputs::PlainBlock layout_;
  inputs::StepBuffers buffers_;
  std::size_t node_entries_ = 0, link_entries_ = 0;  // of the tables in buffers_
  Store store_;
  std::uint64_t first_offset_ = 0;  // the offset of step 0's block
  std::int32_t end_ = 0;            // the decoder's steps end here
  std::int32_t batch_ = 1;

  // The loop's side: at step boundary_ it extends its reservation or meets the tail decoder.
  std::int32_t boundary_ = kNever;
  bool joined_ = false;

  std::mutex mutex_;
  std::int32_t reserved_ = 0;  // the loop's steps end here; the tail decoder takes none below
  std::int32_t claimed_ = 0;   // the tail decoder has taken the steps from here on
  std::int32_t checked_ = 0;   // ... and stored those from here on
  bool stopping_ = false;
  std::thread decoder_;
};

}  // namespace series
