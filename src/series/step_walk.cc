// The walk over the step blocks.
#include "series/step_walk.h"

#include <optional>

#include "records/binary_records.h"
#include "series/page_filler.h"

namespace series {

WalkEnd walk_steps(records::Channel& result, const inputs::ResultHeader& header,
                   inputs::StepBuffers& step, const WalkOptions& options, const StepSink& loop,
                   const StepSink& tail) {
  const StepRange& range = options.range;
  // Steps outside the range go through buffers that decode nothing.
  std::optional<inputs::StepBuffers> skipping;
  if (range.first > 0 || range.stride > 1) {
    skipping.emplace();
    inputs::prepare_step_buffers(*skipping, header, {}, {});
  }
  TailSteps decoder(
      result, header, step, range.end,
      [&](const inputs::StepBuffers& decoded, std::int32_t s) {
        if (range.contains(s)) tail(decoded, s);
      },
      options.tail);
  WalkEnd end;
  std::int32_t s = 0;
  while (true) {
    const std::int32_t next = decoder.next_step(result, s);
    if (next != s) end.tail_taken = true;
    s = next;
    if (options.filler != nullptr) options.filler->advance(s);
    if (s == range.end && !options.read_past_end) break;
    const std::uint64_t head_at = records::next_record_offset(result);
    inputs::StepBuffers& into = skipping && !range.contains(s) ? *skipping : step;
    if (!inputs::read_step_block(result, header.nodes(), header.links(), into)) {
      const std::optional<std::uint64_t> size = records::file_size(result);
      end.head_cut = size && *size > head_at;
      break;
    }
    // The block after the range's last step is read whole before the walk ends.
    if (s == range.end) break;
    if (&into == &step) loop(step, s);
    ++s;
  }
  end.steps = s;
  inputs::end_step_blocks(result);
  return end;
}

}  // namespace series
