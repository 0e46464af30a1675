// The result file's format: what its header records and each step block's records hold, and
// where each value lies in an entry. The reader, the sample-file generator and the tests take
// their sizes from here. (How records are framed is the record reader's: records/binary_records.h.)
#pragma once

#include <cstddef>
#include <cstdint>

namespace inputs::format {

// Header records, in order: title, N, node table, M, link table.
inline constexpr std::size_t kTitleBytes = 80;
// A node table entry: a, then base (float64 each).
inline constexpr std::size_t kNodeTableEntry = 16;
inline constexpr std::size_t kNodeBaseOffset = 8;
// A link table entry: k1 to k5 (int32 each), then two float64 that the run does not use.
inline constexpr std::size_t kLinkTableInts = 5;
inline constexpr std::size_t kLinkTableEntry = 4 * kLinkTableInts + 16;

// A step block's records, in order: head, node step, link step.
// The step head: the step's number (int32), then its time (float64).
inline constexpr std::size_t kStepHeadBytes = 12;
inline constexpr std::size_t kStepTimeOffset = 4;
// A node step entry: the node's number (int32), p, q.
inline constexpr std::size_t kNodeStepEntry = 20;
inline constexpr std::size_t kPOffset = 4;
inline constexpr std::size_t kQOffset = 12;
// A link step entry: va, vb.
inline constexpr std::size_t kLinkStepEntry = 16;
inline constexpr std::size_t kVaOffset = 0;
inline constexpr std::size_t kVbOffset = 8;

// The longest record data that a length marker (int32) can frame.
inline constexpr std::uint64_t kLongestRecord = INT32_MAX;

}  // namespace inputs::format
