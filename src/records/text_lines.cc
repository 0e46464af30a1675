// Line input over a channel's input buffer, and the end of output statements.
#include "records/text_lines.h"

#include <cstring>
#include <new>

#include "records/failure.h"

namespace records {
namespace {

constexpr std::size_t kMinLineBuffer = 1 << 14;
// File output is written in chunks of about this size, one system call each.
constexpr std::size_t kOutputChunk = 1 << 20;

// One read of whatever the source has ready (a terminal delivers a line at a time); false at
// the end. The buffer doubles when a line does not fit.
bool read_more(Channel& channel) {
  InputBuffer& in = channel.in;
  const std::size_t held = in.end - in.begin;
  if (in.end == in.capacity) {
    if (in.begin > 0 && held < in.capacity / 2) {
      std::memmove(in.data.get(), in.data.get() + in.begin, held);
    } else {
      const std::size_t capacity = in.capacity == 0 ? kMinLineBuffer : in.capacity * 2;
      std::unique_ptr<std::byte[]> data(new (std::nothrow) std::byte[capacity]);
      if (!data) raise_channel_failure(kNoBufferMemory, channel);
      if (held > 0) std::memcpy(data.get(), in.data.get() + in.begin, held);
      in.data = std::move(data);
      in.capacity = capacity;
    }
    in.begin = 0;
    in.end = held;
  }
  const platform::Transfer got =
      platform::read_some(channel.handle, in.data.get() + in.end, in.capacity - in.end);
  if (got.count < 0) raise_channel_failure(kReadError, channel, got.os_error);
  if (got.count == 0) return false;
  in.end += static_cast<std::size_t>(got.count);
  in.end_offset += static_cast<std::uint64_t>(got.count);
  return true;
}

}  // namespace

bool read_line(Channel& channel, std::string_view& line) {
  InputBuffer& in = channel.in;
  std::size_t scanned = 0;
  std::uint64_t dropped = 0;
  while (true) {
    const char* start = reinterpret_cast<const char*>(in.data.get()) + in.begin;
    const std::size_t held = in.end - in.begin;
    const void* lf = held > scanned ? std::memchr(start + scanned, '\n', held - scanned) : nullptr;
    if (lf != nullptr) {
      std::size_t length = static_cast<std::size_t>(static_cast<const char*>(lf) - start);
      in.begin += length + 1;
      if (length > kLineKept) {
        length = kLineKept;
      } else if (length > 0 && start[length - 1] == '\r') {
        --length;
      }
      line = std::string_view(start, length);
      if (channel.transcript != nullptr) channel.transcript->emplace_back(line);
      return true;
    }
    scanned = held;
    if (held > kLineKept) {
      // What lies past the kept bytes is dropped as it arrives: the buffer never grows for it.
      dropped += held - kLineKept;
      in.end = in.begin + kLineKept;
      scanned = kLineKept;
      // A line without an end (a device of zeros) is never held whole, as a buffer that could
      // not grow for it.
      if (dropped > kLongestLine) raise_channel_failure(kNoBufferMemory, channel);
    }
    if (in.at_end || !read_more(channel)) {
      in.at_end = true;
      if (in.end == in.begin) return false;
      // read_more may have moved the bytes before it found the end.
      line = std::string_view(reinterpret_cast<const char*>(in.data.get()) + in.begin,
                              in.end - in.begin);
      in.begin = in.end;
      if (channel.transcript != nullptr) channel.transcript->emplace_back(line);
      return true;
    }
  }
}

void finish_output_statement(Channel& channel) {
  if (channel.flush_each_statement || channel.out.size() >= kOutputChunk) flush_output(channel);
}

}  // namespace records
