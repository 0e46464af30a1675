// The result file's content: a header of five records (title, node count, node table, link
// count, link table), then blocks of three records per step (head, node step, link step).
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "inputs/result_format.h"
#include "records/binary_records.h"
#include "records/channel.h"
#include "tuning/zeroed_vector.h"

namespace inputs {

// Node and link tables hold at least this many entries, and more when the file has more.
inline constexpr std::int32_t kMinTableEntries = 50000;

struct ResultHeader {
  std::array<char, format::kTitleBytes> title{};
  std::int32_t node_count = 0;  // N as read; a negative N holds no entries
  std::int32_t link_count = 0;  // M as read
  // Node tables a and base, link tables k1 to k5: max(50000, N or M) entries, zero beyond N or M.
  tuning::ZeroedVector<double> node_a, node_base;
  std::array<tuning::ZeroedVector<std::int32_t>, 5> link_k;

  std::int32_t nodes() const { return node_count > 0 ? node_count : 0; }
  std::int32_t links() const { return link_count > 0 ? link_count : 0; }
  std::int32_t node_capacity() const { return std::max(kMinTableEntries, node_count); }
  std::int32_t link_capacity() const { return std::max(kMinTableEntries, link_count); }
};

// Reads the five header records.
ResultHeader read_result_header(records::Channel& result);

// The step buffers p, q (nodes) and va, vb (links). Only the entries named in the picks are
// copied from a step's records (all of them when the records come in pieces); the rest keep
// zero. Entries beyond N or M are never written.
struct StepBuffers {
  double time = 0;
  tuning::ZeroedVector<double> p, q, va, vb;
  std::vector<std::int32_t> node_picks;  // 0-based, ascending, below N
  std::vector<std::int32_t> link_picks;  // 0-based, ascending, below M
  bool continued = false;                // a record of the step came in pieces
};

// Sizes the buffers for the header and sets which entries the step loop needs (1-based point
// numbers; those of 0 or less or beyond N or M are left out).
void prepare_step_buffers(StepBuffers& buffers, const ResultHeader& header,
                          std::span<const std::int32_t> node_points,
                          std::span<const std::int32_t> link_points);

// Reads one step block; false when the file ends where a step head would start.
bool read_step_block(records::Channel& result, std::int32_t nodes, std::int32_t links,
                     StepBuffers& buffers);

// After the last step block read: values read through a mapping of a file that another program
// cut since are not kept as if they were read (the read failure), and the file's mappings are
// let go while the series files are written.
void end_step_blocks(records::Channel& result);

// A step block as a simulation writes it: each record of one piece, exactly as long as its
// values.
struct PlainBlock {
  std::array<std::uint32_t, 3> lengths{};  // step head, node step, link step
  std::uint64_t bytes() const {
    return 3 * records::kFramingBytes + std::uint64_t{lengths[0]} + lengths[1] + lengths[2];
  }
};
// None when a record of N nodes or M links is too long for a marker.
std::optional<PlainBlock> plain_block(std::int32_t nodes, std::int32_t links);

// Whether the block's three leading markers are those of `layout`.
bool plain_block_markers(const std::byte* block, const PlainBlock& layout);

// Decodes a step block from its bytes (markers included) into `buffers` as read_step_block would
// when its records' leading markers are those of `layout`; false, with `buffers` untouched, when
// they are not.
bool decode_plain_block(const std::byte* block, const PlainBlock& layout, StepBuffers& buffers);

}  // namespace inputs
