// The record reader. Its read-ahead decides which cut records are the end of the file and which
// are read errors, so Framing replays a buffer of 8192 bytes that grows to exactly L + 12 for a
// longer record and is refilled with one read of everything it has room for. The real reads are
// independent of that and as large as suits the machine.
#include "records/binary_records.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "records/failure.h"

namespace records {
namespace {

void refresh_size(Channel& channel) {
  const platform::FileFacts facts = platform::file_facts(channel.handle);
  if (facts.regular) channel.framing.known_size = facts.size;
}

// One refill of the replayed read-ahead: it asks for as many bytes as the buffer has room for
// and receives what the file holds beyond what is already buffered.
std::uint64_t refill(Channel& channel) {
  Framing& f = channel.framing;
  const std::uint64_t unconsumed = f.filled - f.consumed;
  if (static_cast<std::uint64_t>(f.capacity) <= unconsumed) return 0;
  const std::uint64_t want = static_cast<std::uint64_t>(f.capacity) - unconsumed;
  std::uint64_t held;  // file offset up to which the file has bytes
  if (channel.regular_file) {
    // A regular file holds what its size says: no need to read ahead to know that, and a
    // damaged length never makes the reader fetch or allocate more than the file holds.
    if (f.filled + want > f.known_size) refresh_size(channel);
    held = std::max(f.known_size, channel.in.end_offset);
  } else {
    // A pipe or device: one read, which delivers what the source has ready.
    if (channel.in.end_offset <= f.filled) read_once(channel, want);
    held = channel.in.end_offset;
  }
  const std::uint64_t available = held > f.filled ? held - f.filled : 0;
  const std::uint64_t delivered = std::min(want, available);
  f.filled += delivered;
  return delivered;
}

// Makes the bytes [consumed, consumed + count) present in the input buffer; a file that shrank
// under the reader is a read error.
void need_bytes(Channel& channel, std::uint64_t count) {
  const std::uint64_t target = channel.framing.consumed + count;
  fill_to(channel, target);
  if (channel.in.end_offset < target) raise_channel_failure(kReadError, channel);
}

// Long records below this size are always read whole.
constexpr std::uint64_t kOnDemandMin = 64 * 1024;

// Fetches the next piece; false when the file has ended.
bool fetch_piece(Channel& channel, RecordAccess access) {
  Framing& f = channel.framing;
  if (f.filled - f.consumed < 4) {
    if (refill(channel) == 0 || f.filled - f.consumed < 4) return false;
  }
  need_bytes(channel, 4);
  const std::int32_t marker = decode_i32(channel.in.at_offset(f.consumed));
  f.continued = marker < 0;
  const std::int64_t length = marker < 0 ? -static_cast<std::int64_t>(marker) : marker;
  const std::uint64_t span = kFramingBytes + static_cast<std::uint64_t>(length);
  if (f.filled - f.consumed < span) {
    if (static_cast<std::int64_t>(span) > f.capacity) f.capacity = length + 12;
    if (refill(channel) == 0) return false;
    if (f.filled - f.consumed < span) raise_channel_failure(kReadError, channel);
  }
  f.window_begin = f.consumed + 4;
  f.window_end = f.window_begin + static_cast<std::uint64_t>(length);
  if (channel.check_trailing_lengths) access = RecordAccess::kWhole;
  if (access == RecordAccess::kOnDemand && channel.regular_file && !f.continued &&
      span >= kOnDemandMin && channel.in.end_offset < f.consumed + span) {
    f.consumed += span;
    f.in_memory = false;
    skip_to(channel, f.consumed);
    channel.sparse = true;
    return true;
  }
  need_bytes(channel, span);
  if (channel.check_trailing_lengths) {
    // A piece's trailing length holds its data length, signed as the format signs pieces.
    const std::int32_t trailing = decode_i32(channel.in.at_offset(f.window_end));
    const std::int64_t magnitude = trailing < 0 ? -static_cast<std::int64_t>(trailing) : trailing;
    if (magnitude != length && channel.trailing_mismatches++ == 0)
      channel.first_trailing_mismatch = f.consumed;
  }
  f.in_memory = true;
  f.consumed += span;
  // The buffer's unread part starts behind this piece; the window stays readable until the next
  // fetch moves the buffer.
  InputBuffer& in = channel.in;
  in.begin = in.end - static_cast<std::size_t>(in.end_offset - f.consumed);
  return true;
}

ReadStatus fetch_or_fail(Channel& channel, bool end_allowed,
                         RecordAccess access = RecordAccess::kWhole) {
  if (fetch_piece(channel, access)) return ReadStatus::kReady;
  if (end_allowed) return ReadStatus::kEndOfFile;
  raise_record_failure(channel, kEndOfFile);
}

ReadStatus take_bytes(Channel& channel, bool end_allowed, std::byte* out, std::size_t count) {
  Framing& f = channel.framing;
  while (true) {
    const std::size_t here =
        static_cast<std::size_t>(std::min<std::uint64_t>(count, f.window_end - f.window_begin));
    read_record_bytes(channel, 0, out, here);
    f.window_begin += here;
    out += here;
    count -= here;
    if (count == 0) return ReadStatus::kReady;
    if (!f.continued) raise_record_failure(channel, kTooMuchData);
    if (fetch_or_fail(channel, end_allowed) == ReadStatus::kEndOfFile)
      return ReadStatus::kEndOfFile;
  }
}

}  // namespace

ReadStatus begin_record(Channel& channel, bool end_allowed, RecordAccess access) {
  return fetch_or_fail(channel, end_allowed, access);
}

ReadStatus take_int32(Channel& channel, bool end_allowed, std::int32_t& value) {
  std::byte bytes[4];
  if (take_bytes(channel, end_allowed, bytes, 4) == ReadStatus::kEndOfFile)
    return ReadStatus::kEndOfFile;
  value = decode_i32(bytes);
  return ReadStatus::kReady;
}

ReadStatus take_float64(Channel& channel, bool end_allowed, double& value) {
  std::byte bytes[8];
  if (take_bytes(channel, end_allowed, bytes, 8) == ReadStatus::kEndOfFile)
    return ReadStatus::kEndOfFile;
  value = decode_f64(bytes);
  return ReadStatus::kReady;
}

ReadStatus take_text(Channel& channel, bool end_allowed, char* text, std::size_t count) {
  return take_bytes(channel, end_allowed, reinterpret_cast<std::byte*>(text), count);
}

ReadStatus end_record(Channel& channel, bool end_allowed) {
  Framing& f = channel.framing;
  f.window_begin = f.window_end;
  while (f.continued)
    if (fetch_or_fail(channel, end_allowed) == ReadStatus::kEndOfFile)
      return ReadStatus::kEndOfFile;
  f.window_begin = f.window_end;
  return ReadStatus::kReady;
}

std::span<const std::byte> record_window(const Channel& channel) {
  const Framing& f = channel.framing;
  return {channel.in.at_offset(f.window_begin),
          static_cast<std::size_t>(f.window_end - f.window_begin)};
}

bool record_continued(const Channel& channel) {
  return channel.framing.continued;
}

std::uint64_t record_window_size(const Channel& channel) {
  return channel.framing.window_end - channel.framing.window_begin;
}

namespace {

// Failure 67 unless the window holds n bytes at `offset`.
void require_in_window(Channel& channel, std::uint64_t offset, std::size_t n) {
  const Framing& f = channel.framing;
  if (offset > f.window_end - f.window_begin || n > f.window_end - f.window_begin - offset)
    raise_record_failure(channel, kTooMuchData);
}

}  // namespace

void read_record_bytes(Channel& channel, std::uint64_t offset, std::byte* out, std::size_t n) {
  require_in_window(channel, offset, n);
  const Framing& f = channel.framing;
  if (n == 0) return;
  if (f.in_memory) {
    std::memcpy(out, channel.in.at_offset(f.window_begin + offset), n);
    return;
  }
  const std::span<const std::byte> got = read_scattered(channel, f.window_begin + offset, n);
  if (got.size() < n) raise_channel_failure(kReadError, channel);
  std::memcpy(out, got.data(), n);
}

bool record_in_memory(const Channel& channel) {
  return channel.framing.in_memory;
}

const std::byte* view_record_bytes(Channel& channel, std::uint64_t offset, std::size_t n) {
  require_in_window(channel, offset, n);
  const Framing& f = channel.framing;
  if (f.in_memory) return channel.in.at_offset(f.window_begin + offset);
  const std::span<const std::byte> got = read_scattered(channel, f.window_begin + offset, n);
  if (got.size() < n) raise_channel_failure(kReadError, channel);
  return got.data();
}

std::uint64_t next_record_offset(const Channel& channel) {
  return channel.framing.consumed;
}

namespace {

// The steps of fetch_piece for a piece of `length` bytes whose marker says so, on the counters
// alone; false where the piece would not have been fetched whole.
bool pass_piece(Channel& channel, std::uint32_t length) {
  Framing& f = channel.framing;
  if (f.filled - f.consumed < 4) {
    if (refill(channel) == 0 || f.filled - f.consumed < 4) return false;
  }
  const std::uint64_t span = kFramingBytes + std::uint64_t{length};
  if (f.filled - f.consumed < span) {
    if (static_cast<std::int64_t>(span) > f.capacity) f.capacity = std::int64_t{length} + 12;
    if (refill(channel) == 0 || f.filled - f.consumed < span) return false;
  }
  f.consumed += span;
  return true;
}

}  // namespace

bool pass_records(Channel& channel, std::span<const std::uint32_t> lengths, std::uint64_t repeats) {
  if (!channel.regular_file) return false;
  const Framing saved = channel.framing;
  for (std::uint64_t r = 0; r < repeats; ++r) {
    for (const std::uint32_t length : lengths) {
      if (!pass_piece(channel, length)) {
        channel.framing = saved;
        return false;
      }
    }
  }
  Framing& f = channel.framing;
  f.continued = false;
  f.in_memory = true;
  f.window_begin = f.window_end = f.consumed;
  skip_to(channel, f.consumed);
  return true;
}

void raise_record_failure(Channel& channel, int number) {
  check_not_cut(channel);
  raise_channel_failure(number, channel);
}

void skip_in_window(Channel& channel, std::size_t count) {
  Framing& f = channel.framing;
  f.window_begin += std::min<std::uint64_t>(count, f.window_end - f.window_begin);
}

}  // namespace records
