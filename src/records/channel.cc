// Opening, closing and the raw reads and writes of channels.
#include "records/channel.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#include "platform/platform.h"
#include "records/failure.h"

namespace records {
namespace {

constexpr std::size_t kMinInputCapacity = 1 << 16;
// Large files are read in chunks of this size: few system calls, and the bytes that move when
// the buffer is compacted are a small share of each chunk.
constexpr std::size_t kLargeInputCapacity = 2 << 20;
constexpr std::size_t kMaxSingleRead = 1 << 20;
// Reads ahead of a file whose long records are mostly skipped.
constexpr std::size_t kSparseChunk = 4096;

std::string_view trim(std::string_view name) {
  while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
  while (!name.empty() && (name.back() == ' ' || name.back() == '\0')) name.remove_suffix(1);
  return name;
}

void grow_input(Channel& channel, std::size_t needed) {
  InputBuffer& in = channel.in;
  std::size_t held = in.end - in.begin;
  if (in.capacity >= needed && in.begin + needed <= in.capacity) return;
  if (in.capacity >= needed) {  // room enough once the held bytes move to the front
    std::memmove(in.data.get(), in.data.get() + in.begin, held);
    in.begin = 0;
    in.end = held;
    return;
  }
  std::size_t capacity = std::max({needed + needed / 2, in.capacity * 2, kMinInputCapacity});
  std::unique_ptr<std::byte[]> data(new (std::nothrow) std::byte[capacity]);
  if (!data) {
    capacity = needed;
    data.reset(new (std::nothrow) std::byte[capacity]);
  }
  if (!data) raise_channel_failure(kNoBufferMemory, channel);
  if (held > 0) std::memcpy(data.get(), in.data.get() + in.begin, held);
  in.data = std::move(data);
  in.capacity = capacity;
  in.begin = 0;
  in.end = held;
}

// The read-ahead stops pointing into its source's span: the bytes it held there are dropped, and
// read again from where they start if they are asked for.
void leave_source_span(InputBuffer& in) {
  if (in.from_source == nullptr) return;
  in.end_offset = in.begin_offset();
  in.from_source = nullptr;
  in.begin = in.end = 0;
}

platform::ByteSource& source_of(Channel& channel) {
  if (!channel.source) channel.source = platform::make_source(channel.handle);
  return *channel.source;
}

// The bytes of a regular file from the read-ahead's first held byte up to `target` at least, as
// one span of its source. Reads ahead in large pieces, or in small ones where the reader skips
// most of the file.
void fill_from_source(Channel& channel, std::uint64_t target) {
  InputBuffer& in = channel.in;
  const std::uint64_t from = in.begin_offset();
  const std::uint64_t needed = target - from;
  if (needed > SIZE_MAX / 2) raise_channel_failure(kNoBufferMemory, channel);
  std::uint64_t ask = std::max<std::uint64_t>(
      needed, channel.sparse ? in.end_offset - from + kSparseChunk : kLargeInputCapacity);
  // Never beyond what the file holds: a damaged length must not size the buffer.
  const std::uint64_t size = channel.framing.known_size;
  ask = std::min(ask, std::max(needed, size > from ? size - from : 0));
  // The scratch is made ready here, so that no source needs memory of its own for it.
  if (in.scratch.reserve(static_cast<std::size_t>(ask)) == nullptr) {
    ask = needed;
    if (in.scratch.reserve(static_cast<std::size_t>(ask)) == nullptr)
      raise_channel_failure(kNoBufferMemory, channel);
  }
  const platform::SourceRead got = source_of(channel).read(
      from, static_cast<std::size_t>(ask), in.scratch, platform::Access::kSequential);
  if (got.os_error != 0) raise_channel_failure(kReadError, channel, got.os_error);
  if (got.cut) raise_channel_failure(kReadError, channel);
  in.from_source = got.bytes.data();
  in.begin = 0;
  in.end = got.bytes.size();
  in.end_offset = from + got.bytes.size();
  if (in.end_offset < target) in.at_end = true;
}

}  // namespace

void OutputBuffer::reserve(std::size_t needed) {
  // Lines start at 132 columns and grow by at least 512 bytes; large outputs double.
  const std::size_t capacity = std::max({needed, capacity_ + 512, capacity_ * 2, std::size_t{132}});
  std::unique_ptr<char[]> data(new char[capacity]);
  if (size_ > 0) std::memcpy(data.get(), data_.get(), size_);
  data_ = std::move(data);
  capacity_ = capacity;
}

Channel::~Channel() {
  if (owns_handle) platform::close_file(handle);
}

std::string resolve_name(std::string_view name) {
  std::string_view trimmed = trim(name);
  if (trimmed.empty()) return std::string();
  return platform::absolute_path(trimmed);
}

Channel open_channel(int number, std::string_view name, ChannelKind kind, OpenMode mode,
                     Direction direction) {
  Channel channel;
  channel.number = number;
  channel.kind = kind;
  channel.path = resolve_name(name);
  if (channel.path.empty()) raise_channel_failure(kFileNotFound, channel);
  if (channel.path.find('\0') != std::string::npos) raise_channel_failure(kBadFileName, channel);

  const platform::Opened opened = platform::open_file(
      channel.path, mode == OpenMode::kCreateIfMissing, direction == Direction::kInput);
  if (opened.handle == platform::kNoHandle) {
    switch (opened.refusal) {
      case platform::OpenRefusal::kNotFound:
        raise_channel_failure(kFileNotFound, channel);
      case platform::OpenRefusal::kPermission:
        raise_channel_failure(kPermissionDenied, channel);
      case platform::OpenRefusal::kBadName:
        raise_channel_failure(kBadFileName, channel);
      case platform::OpenRefusal::kNoDevice:
        raise_channel_failure(kNoSuchDevice, channel);
      case platform::OpenRefusal::kDevice:
        // A terminal or serial line named as an input: refused rather than waited on.
        raise_channel_failure(kOpenFailure, channel);
      default:
        // Only this one's report shows the system's own words.
        raise_channel_failure(kOpenFailure, channel, opened.os_error);
    }
  }
  channel.handle = opened.handle;
  channel.write_refusal = opened.write_refusal;
  channel.owns_handle = true;
  channel.cut_at_first_write = true;
  const platform::FileFacts facts = platform::file_facts(channel.handle);
  channel.regular_file = facts.regular;
  if (channel.regular_file) channel.framing.known_size = facts.size;
  return channel;
}

Channel adopt_handle(int number, std::string path, platform::Handle handle, ChannelKind kind) {
  Channel channel;
  channel.number = number;
  channel.path = std::move(path);
  channel.handle = handle;
  channel.kind = kind;
  channel.regular_file = platform::file_facts(handle).regular;
  return channel;
}

void close_channel(Channel& channel) {
  if (!channel.out.empty()) flush_output(channel);
  release_mappings(channel);
  channel.source.reset();
  if (channel.owns_handle) platform::close_file(channel.handle);
  channel.handle = platform::kNoHandle;
  channel.owns_handle = false;
}

void fill_to(Channel& channel, std::uint64_t target) {
  InputBuffer& in = channel.in;
  if (in.end_offset >= target) return;
  if (channel.regular_file) {
    // Within the size last seen, the reads themselves find a file that has shrunk since.
    if (target > channel.framing.known_size) {
      const platform::FileFacts facts = platform::file_facts(channel.handle);
      if (facts.regular) {
        channel.framing.known_size = facts.size;
        target = std::min(target, std::max(facts.size, in.end_offset));
        if (in.end_offset >= target) return;
      }
    }
    fill_from_source(channel, target);
    return;
  }
  const std::uint64_t needed = target - in.begin_offset();
  if (needed > SIZE_MAX / 2) raise_channel_failure(kNoBufferMemory, channel);
  grow_input(channel, static_cast<std::size_t>(needed));
  while (in.end_offset < target) {
    const platform::Transfer got =
        platform::read_some(channel.handle, in.data.get() + in.end, in.capacity - in.end);
    if (got.count < 0) raise_channel_failure(kReadError, channel, got.os_error);
    if (got.count == 0) {
      in.at_end = true;
      return;
    }
    in.end += static_cast<std::size_t>(got.count);
    in.end_offset += static_cast<std::uint64_t>(got.count);
  }
}

bool read_once(Channel& channel, std::size_t limit) {
  // A pipe holds at most this much at a time; a damaged length must not size the buffer.
  limit = std::min(limit, kMaxSingleRead);
  InputBuffer& in = channel.in;
  grow_input(channel, in.end - in.begin + limit);
  const platform::Transfer got = platform::read_some(channel.handle, in.data.get() + in.end,
                                                     std::min(limit, in.capacity - in.end));
  if (got.count < 0) raise_channel_failure(kReadError, channel, got.os_error);
  in.end += static_cast<std::size_t>(got.count);
  in.end_offset += static_cast<std::uint64_t>(got.count);
  return got.count > 0;
}

void skip_to(Channel& channel, std::uint64_t offset) {
  InputBuffer& in = channel.in;
  if (offset >= in.end_offset) {
    in.from_source = nullptr;
    in.begin = in.end = 0;
    in.end_offset = offset;
  } else if (offset > in.begin_offset()) {
    in.begin = in.end - static_cast<std::size_t>(in.end_offset - offset);
  }
}

std::span<const std::byte> read_scattered(Channel& channel, std::uint64_t offset, std::size_t n) {
  // The read may move the source's mapping from under the read-ahead.
  leave_source_span(channel.in);
  if (channel.scattered.reserve(n) == nullptr) raise_channel_failure(kNoBufferMemory, channel);
  const platform::SourceRead got =
      source_of(channel).read(offset, n, channel.scattered, platform::Access::kScattered);
  if (got.os_error != 0) raise_channel_failure(kReadError, channel, got.os_error);
  if (got.cut) raise_channel_failure(kReadError, channel);
  return got.bytes;
}

void check_not_cut(Channel& channel) {
  if (channel.source && channel.source->cut()) raise_channel_failure(kReadError, channel);
}

void release_mappings(Channel& channel) {
  leave_source_span(channel.in);
  if (channel.source) channel.source->release();
}

std::optional<std::uint64_t> file_size(const Channel& channel) {
  if (!channel.regular_file) return std::nullopt;
  const platform::FileFacts facts = platform::file_facts(channel.handle);
  if (!facts.regular) return std::nullopt;
  return facts.size;
}

namespace {

[[noreturn]] void raise_write_failure(Channel& channel, int os_error) {
  // A file rewritten in place would otherwise keep an older run's longer text behind the new
  // one's start: a failed file ends where this run's bytes end, a plain prefix of the new run.
  if (!channel.cut_done && channel.cut_at_first_write && channel.regular_file)
    platform::set_end_of_file(channel.handle, channel.written);
  // A file that could be opened for reading only fails on its first write: the reason is the
  // refused permission, not the handle the system names.
  raise_channel_failure(kWriteError, channel,
                        channel.write_refusal != 0 ? channel.write_refusal : os_error);
}

}  // namespace

void write_all(Channel& channel, std::string_view bytes) {
  while (!bytes.empty()) {
    const platform::Transfer done =
        channel.unicode_console ? platform::write_console_text(channel.handle, bytes)
                                : platform::write_some(channel.handle, bytes.data(), bytes.size());
    if (done.count < 0) raise_write_failure(channel, done.os_error);
    if (done.count == 0) raise_write_failure(channel, platform::disk_full_error());
    bytes.remove_prefix(static_cast<std::size_t>(done.count));
    channel.written += static_cast<std::uint64_t>(done.count);
  }
}

void flush_output(Channel& channel) {
  if (channel.out.empty()) return;
  write_all(channel, channel.out.view());
  channel.out.clear();
  if (!channel.cut_done && channel.cut_at_first_write && channel.regular_file) {
    // An existing longer file must end up holding only what this run wrote.
    if (const int error = platform::set_end_of_file(channel.handle, channel.written); error != 0)
      raise_channel_failure(kWriteError, channel, error);
  }
  channel.cut_done = true;
}

}  // namespace records
