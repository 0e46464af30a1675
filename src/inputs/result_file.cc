// Header and step-block readers.
#include "inputs/result_file.h"

#include <algorithm>
#include <cstdint>

#include "inputs/result_format.h"
#include "records/binary_records.h"
#include "records/failure.h"

namespace inputs {
namespace {

using records::Channel;

// Repeated groups are appended entry by entry as they arrive: the tables grow with the data the
// record really holds, so a damaged count fails with 67 before anything is allocated by its size.
std::int32_t read_count(Channel& result) {
  records::begin_record(result, false);
  std::int32_t count = 0;
  records::take_int32(result, false, count);
  records::end_record(result, false);
  return count;
}

// The window of a record that came whole into memory, when it holds `count` entries of
// `entry_bytes`: they can be decoded in one pass. Empty when the record is in pieces or on disk
// (then the takes read it value by value). A record too short for its count is failure 67, as
// the takes would find it.
std::span<const std::byte> whole_entries(Channel& result, std::int32_t count,
                                         std::size_t entry_bytes) {
  if (records::record_continued(result) || !records::record_in_memory(result)) return {};
  const std::span<const std::byte> window = records::record_window(result);
  const auto n = static_cast<std::size_t>(count);
  if (window.size() / entry_bytes < n) records::raise_record_failure(result, records::kTooMuchData);
  return window.first(n * entry_bytes);
}

void read_node_table(Channel& result, ResultHeader& header) {
  records::begin_record(result, false);
  const std::span<const std::byte> entries =
      whole_entries(result, header.nodes(), format::kNodeTableEntry);
  if (!entries.empty()) {
    for (std::size_t at = 0; at < entries.size(); at += format::kNodeTableEntry) {
      header.node_a.push_back(records::decode_f64(entries.data() + at));
      header.node_base.push_back(
          records::decode_f64(entries.data() + at + format::kNodeBaseOffset));
    }
    records::skip_in_window(result, entries.size());
  } else {
    for (std::int32_t i = 0; i < header.nodes(); ++i) {
      double a = 0, base = 0;
      records::take_float64(result, false, a);
      records::take_float64(result, false, base);
      header.node_a.push_back(a);
      header.node_base.push_back(base);
    }
  }
  records::end_record(result, false);
  header.node_a.resize(static_cast<std::size_t>(header.node_capacity()));
  header.node_base.resize(static_cast<std::size_t>(header.node_capacity()));
}

void read_link_table(Channel& result, ResultHeader& header) {
  static_assert(std::tuple_size_v<decltype(header.link_k)> == format::kLinkTableInts);
  constexpr std::size_t kEntryBytes = format::kLinkTableEntry;
  records::begin_record(result, false);
  const std::span<const std::byte> entries = whole_entries(result, header.links(), kEntryBytes);
  if (!entries.empty()) {
    for (std::size_t at = 0; at < entries.size(); at += kEntryBytes) {
      for (std::size_t t = 0; t < header.link_k.size(); ++t)
        header.link_k[t].push_back(records::decode_i32(entries.data() + at + 4 * t));
    }
    records::skip_in_window(result, entries.size());
  } else {
    for (std::int32_t j = 0; j < header.links(); ++j) {
      for (auto& table : header.link_k) {
        std::int32_t k = 0;
        records::take_int32(result, false, k);
        table.push_back(k);
      }
      double r = 0;
      records::take_float64(result, false, r);
      records::take_float64(result, false, r);
    }
  }
  records::end_record(result, false);
  for (auto& table : header.link_k) table.resize(static_cast<std::size_t>(header.link_capacity()));
}

// Picks whose entries lie closer together than this are fetched with one read: below it a
// second system call costs more than copying the bytes between them (on a virtual machine a
// call costs about as much as copying 16 KiB from the page cache).
constexpr std::size_t kCoalesceGap = 16384;

// How far ahead of the entry being decoded the next bytes are asked into the cache. Records read
// in place come straight from the page cache, cold; the prefetch never faults, whatever lies there.
constexpr std::size_t kPrefetchAhead = 8192;

// Where the two values a step record gives each entry lie (side by side, float64 each).
struct EntryLayout {
  std::size_t stride;  // the bytes of one entry
  std::size_t first;   // the offset of its first value
};
constexpr EntryLayout kNodeStep{format::kNodeStepEntry, format::kPOffset};
constexpr EntryLayout kLinkStep{format::kLinkStepEntry, format::kVaOffset};
static_assert(format::kQOffset == format::kPOffset + 8 &&
              format::kVbOffset == format::kVaOffset + 8);
constexpr std::size_t kPairBytes = 16;

// Decodes the two values of each picked entry from `data`, which holds the record's bytes from
// `base` on.
void decode_picks(const std::byte* data, std::size_t base, std::size_t stride, std::size_t offset,
                  std::span<const std::int32_t> picks, std::span<double> first,
                  std::span<double> second) {
  for (const std::int32_t pick : picks) {
    const std::byte* entry = data + stride * static_cast<std::size_t>(pick) + offset - base;
    // Made from an integer, not by pointer arithmetic: the address may lie past the record's
    // bytes, and only the prefetch, which never faults, sees it.
    const std::uintptr_t ahead = reinterpret_cast<std::uintptr_t>(entry) + kPrefetchAhead;
    __builtin_prefetch(reinterpret_cast<const void*>(ahead));  // NOLINT(performance-no-int-to-ptr)
    first[static_cast<std::size_t>(pick)] = records::decode_f64(entry);
    second[static_cast<std::size_t>(pick)] = records::decode_f64(entry + kPairBytes / 2);
  }
}

// Copies the picked pairs of a record left on disk, with one read per cluster of nearby entries.
void read_clusters(Channel& result, std::size_t stride, std::size_t offset,
                   std::span<const std::int32_t> picks, std::span<double> first,
                   std::span<double> second) {
  std::size_t i = 0;
  while (i < picks.size()) {
    const std::size_t begin = stride * static_cast<std::size_t>(picks[i]) + offset;
    std::size_t j = i + 1;
    while (j < picks.size() &&
           stride * static_cast<std::size_t>(picks[j]) + offset <
               stride * static_cast<std::size_t>(picks[j - 1]) + offset + kPairBytes + kCoalesceGap)
      ++j;
    const std::size_t end = stride * static_cast<std::size_t>(picks[j - 1]) + offset + kPairBytes;
    decode_picks(records::view_record_bytes(result, begin, end - begin), begin, stride, offset,
                 picks.subspan(i, j - i), first, second);
    i = j;
  }
}

// Copies the picked pairs of a record that comes whole: in place when its bytes are in memory.
void read_picks(Channel& result, std::size_t stride, std::size_t offset,
                std::span<const std::int32_t> picks, std::span<double> first,
                std::span<double> second) {
  if (picks.empty()) return;
  if (!records::record_in_memory(result)) {
    read_clusters(result, stride, offset, picks, first, second);
    return;
  }
  const std::size_t low = stride * static_cast<std::size_t>(picks.front()) + offset;
  const std::size_t high = stride * static_cast<std::size_t>(picks.back()) + offset + kPairBytes;
  decode_picks(records::view_record_bytes(result, low, high - low), low, stride, offset, picks,
               first, second);
}

// Copies p and q (node records) or va and vb (link records) of the picked entries. `stride` is
// the bytes of one entry and `offset` where its first value starts. A record that comes whole
// is read in place, or left on disk when it is long; one in pieces goes through the takes,
// entry by entry.
bool read_pairs(Channel& result, std::int32_t count, std::size_t stride, std::size_t offset,
                std::span<const std::int32_t> picks, std::span<double> first,
                std::span<double> second) {
  records::begin_record(result, false, records::RecordAccess::kOnDemand);
  const bool continued = records::record_continued(result);
  if (count > 0) {
    const std::size_t needed = stride * static_cast<std::size_t>(count);
    if (!records::record_continued(result)) {
      if (records::record_window_size(result) < needed)
        records::raise_record_failure(result, records::kTooMuchData);
      read_picks(result, stride, offset, picks, first, second);
    } else {
      for (std::int32_t i = 0; i < count; ++i) {
        std::int32_t tag = 0;
        if (offset == format::kPOffset) records::take_int32(result, false, tag);
        records::take_float64(result, false, first[static_cast<std::size_t>(i)]);
        records::take_float64(result, false, second[static_cast<std::size_t>(i)]);
      }
    }
  }
  records::end_record(result, false);
  return continued;
}

std::vector<std::int32_t> picks_of(std::span<const std::int32_t> points, std::int32_t count) {
  std::vector<std::int32_t> picks;
  for (const std::int32_t v : points)
    if (v > 0 && v <= count) picks.push_back(v - 1);
  std::sort(picks.begin(), picks.end());
  picks.erase(std::unique(picks.begin(), picks.end()), picks.end());
  return picks;
}

}  // namespace

ResultHeader read_result_header(Channel& result) {
  ResultHeader header;
  records::begin_record(result, false);
  records::take_text(result, false, header.title.data(), header.title.size());
  records::end_record(result, false);
  header.node_count = read_count(result);
  read_node_table(result, header);
  header.link_count = read_count(result);
  read_link_table(result, header);
  return header;
}

void prepare_step_buffers(StepBuffers& buffers, const ResultHeader& header,
                          std::span<const std::int32_t> node_points,
                          std::span<const std::int32_t> link_points) {
  // Sized by N and M, which the header's tables have already shown the file to hold.
  buffers.p = tuning::ZeroedVector<double>(static_cast<std::size_t>(header.node_capacity()));
  buffers.q = tuning::ZeroedVector<double>(buffers.p.size());
  buffers.va = tuning::ZeroedVector<double>(static_cast<std::size_t>(header.link_capacity()));
  buffers.vb = tuning::ZeroedVector<double>(buffers.va.size());
  buffers.node_picks = picks_of(node_points, header.nodes());
  buffers.link_picks = picks_of(link_points, header.links());
}

bool read_step_block(Channel& result, std::int32_t nodes, std::int32_t links,
                     StepBuffers& buffers) {
  using records::ReadStatus;
  // Only the step head may meet the end of the file; a head cut inside its pieces is void.
  if (records::begin_record(result, true) == ReadStatus::kEndOfFile) return false;
  const bool head_continued = records::record_continued(result);
  std::int32_t tag = 0;
  double time = 0;
  if (records::take_int32(result, true, tag) == ReadStatus::kEndOfFile ||
      records::take_float64(result, true, time) == ReadStatus::kEndOfFile ||
      records::end_record(result, true) == ReadStatus::kEndOfFile)
    return false;
  buffers.time = time;
  const bool nodes_continued = read_pairs(result, nodes, kNodeStep.stride, kNodeStep.first,
                                          buffers.node_picks, buffers.p, buffers.q);
  const bool links_continued = read_pairs(result, links, kLinkStep.stride, kLinkStep.first,
                                          buffers.link_picks, buffers.va, buffers.vb);
  buffers.continued = head_continued || nodes_continued || links_continued;
  return true;
}

void end_step_blocks(Channel& result) {
  records::check_not_cut(result);
  records::release_mappings(result);
}

std::optional<PlainBlock> plain_block(std::int32_t nodes, std::int32_t links) {
  const std::uint64_t node_bytes =
      format::kNodeStepEntry * static_cast<std::uint64_t>(std::max(nodes, 0));
  const std::uint64_t link_bytes =
      format::kLinkStepEntry * static_cast<std::uint64_t>(std::max(links, 0));
  if (node_bytes > format::kLongestRecord || link_bytes > format::kLongestRecord)
    return std::nullopt;
  return PlainBlock{{format::kStepHeadBytes, static_cast<std::uint32_t>(node_bytes),
                     static_cast<std::uint32_t>(link_bytes)}};
}

bool plain_block_markers(const std::byte* block, const PlainBlock& layout) {
  const std::byte* record = block;
  for (const std::uint32_t length : layout.lengths) {
    if (records::decode_u32(record) != length) return false;
    record += records::kFramingBytes + std::size_t{length};
  }
  return true;
}

bool decode_plain_block(const std::byte* block, const PlainBlock& layout, StepBuffers& buffers) {
  if (!plain_block_markers(block, layout)) return false;
  const std::byte* head = block + records::kMarkerBytes;
  buffers.time = records::decode_f64(head + format::kStepTimeOffset);
  buffers.continued = false;
  const std::byte* nodes = head + layout.lengths[0] + records::kFramingBytes;
  const std::byte* links = nodes + layout.lengths[1] + records::kFramingBytes;
  decode_picks(nodes, 0, kNodeStep.stride, kNodeStep.first, buffers.node_picks, buffers.p,
               buffers.q);
  decode_picks(links, 0, kLinkStep.stride, kLinkStep.first, buffers.link_picks, buffers.va,
               buffers.vb);
  return true;
}

}  // namespace inputs
