// Reading length-framed binary records: a 4-byte little-endian length L (negative when a further
// piece of the same record follows), L data bytes, and a 4-byte trailing length that is skipped.
// One read is begin_record, any number of takes, and end_record.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

#include "records/channel.h"

namespace records {

// A piece's data stands between two length markers.
inline constexpr std::size_t kMarkerBytes = 4;
inline constexpr std::size_t kFramingBytes = 2 * kMarkerBytes;

enum class ReadStatus { kReady, kEndOfFile };

// kOnDemand lets a long record of a regular file stay on disk: the caller then reads only the
// values it needs, with read_record_bytes. Framing, end of file and failures are the same.
enum class RecordAccess { kWhole, kOnDemand };

// Fetches the next record (its first piece) whole. Returns kEndOfFile only when the file has
// ended and `end_allowed`; otherwise the end of the file ends the run with failure 24, and a
// record cut short after a refill that delivered bytes with failure 39.
ReadStatus begin_record(Channel& channel, bool end_allowed,
                        RecordAccess access = RecordAccess::kWhole);

// Each take delivers the next value of the record; a value may span pieces of a continued
// record. kEndOfFile only when the file ends inside a continued record of an `end_allowed` read.
ReadStatus take_int32(Channel& channel, bool end_allowed, std::int32_t& value);
ReadStatus take_float64(Channel& channel, bool end_allowed, double& value);
ReadStatus take_text(Channel& channel, bool end_allowed, char* text, std::size_t count);

// Skips what the takes left of the record, including any further pieces.
ReadStatus end_record(Channel& channel, bool end_allowed);

// The current piece's data not yet taken, valid until the next fetch on the channel, when the
// piece is in memory. When the piece is not continued this is the rest of the whole record.
std::span<const std::byte> record_window(const Channel& channel);
bool record_continued(const Channel& channel);
std::uint64_t record_window_size(const Channel& channel);

// True when the current piece's bytes are all in the channel's buffer (not left on disk).
bool record_in_memory(const Channel& channel);
// Copies n bytes at `offset` within the current piece's window, in memory or on disk. A window
// too short is failure 67; a file that shrank under the reader is failure 39.
void read_record_bytes(Channel& channel, std::uint64_t offset, std::byte* out, std::size_t n);
// The n bytes at `offset` within the current piece's window without a copy where that can be: the
// read-ahead's bytes, or for a record left on disk whatever the file's byte source hands out.
// Failures as read_record_bytes. Valid until the next fetch or read on the channel.
const std::byte* view_record_bytes(Channel& channel, std::uint64_t offset, std::size_t n);
// The file offset of the next record's leading marker.
std::uint64_t next_record_offset(const Channel& channel);
// Marks `count` bytes of the window as taken.
void skip_in_window(Channel& channel, std::size_t count);

// Moves the reader over `repeats` repetitions of records with the data lengths `lengths`, each
// record of one piece whose leading marker is its length, exactly as reading them whole would
// (the replayed read-ahead included), but without reading them: for a caller that has read
// their bytes some other way. Only for a regular file, whose size tells where it ends. False,
// with nothing moved, where reading them would have met the end of the file.
bool pass_records(Channel& channel, std::span<const std::uint32_t> lengths, std::uint64_t repeats);

// Ends the run with failure `number`, found in the file's bytes; or, when they came through a
// mapping of a file that another program cut since (the bytes past its new end then read as
// zeros, and zeros are no evidence of a damaged file), with the read failure 39 that a read would
// have met there.
[[noreturn]] void raise_record_failure(Channel& channel, int number);

// Little-endian decoding, whatever machine reads it.
inline std::uint32_t decode_u32(const std::byte* b) {
  return std::to_integer<std::uint32_t>(b[0]) | std::to_integer<std::uint32_t>(b[1]) << 8 |
         std::to_integer<std::uint32_t>(b[2]) << 16 | std::to_integer<std::uint32_t>(b[3]) << 24;
}
inline std::int32_t decode_i32(const std::byte* b) {
  return static_cast<std::int32_t>(decode_u32(b));
}
inline double decode_f64(const std::byte* b) {
  const std::uint64_t bits = static_cast<std::uint64_t>(decode_u32(b)) |
                             static_cast<std::uint64_t>(decode_u32(b + 4)) << 32;
  return std::bit_cast<double>(bits);
}

}  // namespace records
