// The chunk ring: the rows of a long series file are formatted by two threads and written by one.
// This thread and a second formatter thread each take the next chunk of rows and format it into
// a ring of buffers; this thread writes the chunks in row order as they are done, so that writing
// one chunk overlaps formatting the next ones. Formatting touches no channel, so the output is
// the same bytes in the same order as formatting the rows one after the other.
#pragma once

#include <cstddef>
#include <functional>

#include "records/channel.h"

namespace series {

// Appends the text of rows [first, end) to `out`; called from either thread, for disjoint rows.
using FormatRows =
    std::function<void(records::OutputBuffer& out, std::size_t first, std::size_t end)>;

// Writes the text of rows [0, rows) to `file` in chunks of `rows_per_chunk` rows. A failed write
// ends the run as it would on one thread, once the second formatter has stopped.
void write_chunk_ring(records::Channel& file, std::size_t rows, std::size_t rows_per_chunk,
                      const FormatRows& format);

}  // namespace series
