// The one walk over a result file's step blocks, for the program's extraction, the library's
// series and the statistics of every node and link: the blocks read in file order on this
// thread, the last ones of a long file decoded ahead by the tail decoder, and one rule for what a
// column holds.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>

#include "inputs/result_file.h"
#include "records/channel.h"
#include "series/tail_steps.h"

namespace series {

class PageFiller;

// What a series column holds per node (H = base + p, P = p, Q = q) or per link (va, vb).
enum class Quantity { kH, kP, kQ, kVa, kVb };

inline bool of_links(Quantity quantity) {
  return quantity == Quantity::kVa || quantity == Quantity::kVb;
}

// Entry i (0-based) of `quantity` in a decoded step. H is the step's p plus the node's base from
// the header, added in double precision.
inline double column_value(Quantity quantity, const inputs::StepBuffers& step,
                           const inputs::ResultHeader& header, std::size_t i) {
  switch (quantity) {
    case Quantity::kH:
      return step.p[i] + header.node_base[i];
    case Quantity::kP:
      return step.p[i];
    case Quantity::kQ:
      return step.q[i];
    case Quantity::kVa:
      return step.va[i];
    case Quantity::kVb:
      return step.vb[i];
  }
  return 0;
}

// Which steps (0-based) a reader wants: first, first + stride, ... below end.
struct StepRange {
  std::int32_t first = 0;
  std::int32_t end = std::numeric_limits<std::int32_t>::max();
  std::int32_t stride = 1;
  bool contains(std::int32_t s) const { return s >= first && s < end && (s - first) % stride == 0; }
};

// Receives step s (0-based), decoded into the buffers' picks.
using StepSink = std::function<void(const inputs::StepBuffers&, std::int32_t s)>;

struct WalkEnd {
  std::int32_t steps = 0;   // step blocks read whole, up to the range's end
  bool head_cut = false;    // after them the file ends inside a step head (read as its end)
  bool tail_taken = false;  // the tail decoder's steps stand (else `tail` saw none that count)
};

struct WalkOptions {
  StepRange range;
  // The program reads the block after the last step it keeps, whole, before it stops.
  bool read_past_end = false;
  TailOptions tail;
  PageFiller* filler = nullptr;  // told of the loop's progress
};

// Walks the step blocks of `result`, positioned after its header. Each step of the range is
// handed once: to `loop`, in file order on this thread, or to `tail`, on the tail decoder's
// thread and in no set order, for the last steps of a long file held in memory. The steps given
// to `tail` count only where the result says tail_taken (the loop then passed over them); a
// caller that keeps them apart drops them otherwise. Steps outside the range are read without
// decoding a value. Failures end the walk as the program's failures.
WalkEnd walk_steps(records::Channel& result, const inputs::ResultHeader& header,
                   inputs::StepBuffers& step, const WalkOptions& options, const StepSink& loop,
                   const StepSink& tail);

}  // namespace series
