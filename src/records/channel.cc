// Opening, closing and the raw reads and writes of channels.
#include "records/channel.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>

#include "records/failure.h"
#include "records/platform.h"
#include "records/spin_wait.h"

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
  if (channel.regular_file && capacity < kLargeInputCapacity) capacity = kLargeInputCapacity;
  std::unique_ptr<std::byte[]> data(new (std::nothrow) std::byte[capacity]);
  if (!data) {
    capacity = needed;
    data.reset(new (std::nothrow) std::byte[capacity]);
  }
  if (!data) raise_failure(kNoBufferMemory, &channel);
  if (held > 0) std::memcpy(data.get(), in.data.get() + in.begin, held);
  in.data = std::move(data);
  in.capacity = capacity;
  in.begin = 0;
  in.end = held;
}

// The input buffer stops pointing into the mapped window: the bytes it held through it are
// dropped, and read again from where they start if they are asked for.
void leave_window(InputBuffer& in) {
  if (in.mapped == nullptr) return;
  in.end_offset = in.begin_offset();
  in.mapped = nullptr;
  in.begin = in.end = 0;
}

// The way of the refill about to be made; the refill before it is timed over the bytes
// consumed since. A file whose long records are mostly skipped is read in small pieces.
TimedChoice::Way next_refill_way(Channel& channel) {
  RefillChoice& r = channel.refills;
  if (channel.sparse) return RefillChoice::kReads;
  if (channel.window.refused) r.ways.rule_out(RefillChoice::kInPlace);
  if (!r.ways.settled()) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point now = Clock::now();
    const std::uint64_t at = channel.in.begin_offset();
    if (r.timing && at > r.since_offset) {
      // Per MiB consumed: the ways refill different amounts at a time.
      const auto took = std::chrono::duration_cast<std::chrono::nanoseconds>(now - r.since);
      r.ways.note(r.last, std::chrono::nanoseconds(took.count() * (std::int64_t{1} << 20) /
                                                   static_cast<std::int64_t>(at - r.since_offset)));
    }
    r.timing = true;
    r.since = now;
    r.since_offset = at;
  }
  r.last = r.ways.way();
  return r.last;
}

// Points the input buffer into a window mapped from its first held byte, up to `target` at
// least (within the file's size); false where the file cannot be mapped.
bool fill_in_place(Channel& channel, std::uint64_t target) {
  InputBuffer& in = channel.in;
  leave_window(in);
  const std::uint64_t from = in.begin_offset();
  if (view_at(channel, from, static_cast<std::size_t>(target - from), true) == nullptr)
    return false;
  const platform::FileView& view = channel.window.view;
  in.mapped = view.data;
  in.begin = static_cast<std::size_t>(from - view.offset);
  in.end = view.size;
  in.end_offset = view.offset + view.size;
  return true;
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
  if (channel.path.empty()) raise_failure(kFileNotFound, &channel);
  if (channel.path.find('\0') != std::string::npos) raise_failure(kBadFileName, &channel);

  const platform::Opened opened = platform::open_file(
      channel.path, mode == OpenMode::kCreateIfMissing, direction == Direction::kInput);
  if (opened.handle == platform::kNoHandle)
    raise_failure(opened.failure, &channel, opened.failure == kOpenFailure ? opened.os_error : 0);
  channel.handle = opened.handle;
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
  release_view(channel);
  if (channel.owns_handle) platform::close_file(channel.handle);
  channel.handle = platform::kNoHandle;
  channel.owns_handle = false;
}

void fill_to(Channel& channel, std::uint64_t target) {
  InputBuffer& in = channel.in;
  if (in.end_offset >= target) return;
  // Within the size last seen, the reads themselves find a file that has shrunk since.
  if (channel.regular_file && target > channel.framing.known_size) {
    const platform::FileFacts facts = platform::file_facts(channel.handle);
    if (facts.regular) {
      const std::uint64_t size = facts.size;
      channel.framing.known_size = size;
      target = std::min(target, std::max(size, in.end_offset));
      if (in.end_offset >= target) return;
    }
  }
  if (channel.regular_file && next_refill_way(channel) == RefillChoice::kInPlace &&
      fill_in_place(channel, target))
    return;
  leave_window(in);
  const std::uint64_t needed = target - in.begin_offset();
  if (needed > SIZE_MAX / 2) raise_failure(kNoBufferMemory, &channel);
  grow_input(channel, static_cast<std::size_t>(needed));
  while (in.end_offset < target) {
    std::size_t ask = in.capacity - in.end;
    if (channel.sparse)
      ask =
          std::min<std::size_t>(ask, std::max<std::uint64_t>(target - in.end_offset, kSparseChunk));
    // Regular files are read at explicit offsets, so that skipped records are never read.
    const platform::Transfer got =
        channel.regular_file
            ? platform::read_at(channel.handle, in.data.get() + in.end, ask, in.end_offset)
            : platform::read_some(channel.handle, in.data.get() + in.end, ask);
    if (got.count < 0) raise_failure(kReadError, &channel, got.os_error);
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
  if (got.count < 0) raise_failure(kReadError, &channel, got.os_error);
  in.end += static_cast<std::size_t>(got.count);
  in.end_offset += static_cast<std::uint64_t>(got.count);
  return got.count > 0;
}

void skip_to(Channel& channel, std::uint64_t offset) {
  InputBuffer& in = channel.in;
  if (offset >= in.end_offset) {
    in.mapped = nullptr;
    in.begin = in.end = 0;
    in.end_offset = offset;
  } else if (offset > in.begin_offset()) {
    in.begin = in.end - static_cast<std::size_t>(in.end_offset - offset);
  }
}

namespace {

// The outcome of reading a whole range: all of it, the end of the file first, or a system error.
struct RangeRead {
  enum class Outcome : std::uint8_t { kAll, kEnd, kError };
  Outcome outcome = Outcome::kAll;
  int os_error = 0;
};

RangeRead read_range(platform::Handle handle, std::uint64_t offset, std::byte* out, std::size_t n) {
  while (n > 0) {
    const platform::Transfer got = platform::read_at(handle, out, n, offset);
    if (got.count < 0) return {RangeRead::Outcome::kError, got.os_error};
    if (got.count == 0) return {RangeRead::Outcome::kEnd, 0};
    out += got.count;
    n -= static_cast<std::size_t>(got.count);
    offset += static_cast<std::uint64_t>(got.count);
  }
  return {};
}

bool settle(Channel& channel, const RangeRead& read) {
  if (read.outcome == RangeRead::Outcome::kError)
    raise_failure(kReadError, &channel, read.os_error);
  return read.outcome == RangeRead::Outcome::kAll;
}

}  // namespace

bool read_at(Channel& channel, std::uint64_t offset, std::byte* out, std::size_t n) {
  if (channel.split_reads != nullptr && n >= kSplitReadMin)
    return channel.split_reads->read(offset, out, n);
  return settle(channel, read_range(channel.handle, offset, out, n));
}

const std::byte* view_at(Channel& channel, std::uint64_t offset, std::size_t n, bool dense) {
  platform::FileView& view = channel.window.view;
  if (view.data != nullptr && offset >= view.offset && offset - view.offset <= view.size &&
      n <= view.size - (offset - view.offset))
    return view.data + (offset - view.offset);
  if (!channel.regular_file || channel.window.refused || n == 0) return nullptr;
  // What was read through the window being let go is settled first.
  check_viewed(channel);
  std::uint64_t size = channel.framing.known_size;
  if (offset > size || n > size - offset) {
    const platform::FileFacts facts = platform::file_facts(channel.handle);
    if (facts.regular) size = channel.framing.known_size = facts.size;
    if (offset > size || n > size - offset) return nullptr;
  }
  leave_window(channel.in);
  platform::unmap_view(view);
  const std::uint64_t start = offset - offset % platform::kViewAlignment;
  const std::uint64_t end = std::min(size, std::max(offset + n, start + kViewWindow));
  view = platform::map_view(channel.handle, start, static_cast<std::size_t>(end - start));
  if (view.data == nullptr) {
    channel.window.refused = true;
    return nullptr;
  }
  if (dense) platform::expect_sequential(view);
  return view.data + (offset - start);
}

void release_view(Channel& channel) {
  leave_window(channel.in);
  platform::unmap_view(channel.window.view);
}

void check_viewed(Channel& channel) {
  if (channel.window.view.data != nullptr && platform::view_cut())
    raise_failure(kReadError, &channel);
  // The bytes of a cut file's last page past its new end read as zeros without a fault. The size
  // is asked only while the read-ahead is in a window: once per window, and at the end.
  if (channel.in.mapped != nullptr) {
    const platform::FileFacts facts = platform::file_facts(channel.handle);
    if (facts.regular && facts.size < channel.in.end_offset) raise_failure(kReadError, &channel);
  }
}

namespace {

// Waits until `state` leaves `from`; returns the new state. Jobs follow each other within
// microseconds: both sides spin, for as long as a gap between jobs of one run may last, before
// they sleep. The spinning ends with the run's reads: the helper is stopped when its reader is
// done.
int wait_while(std::atomic<int>& state, int from) {
  while (!spin_while_equal(state, from, std::chrono::milliseconds(20)))
    state.wait(from, std::memory_order_acquire);
  return state.load(std::memory_order_acquire);
}

}  // namespace

// The hand-over between the reading thread and the helper: one job at a time, its state an
// atomic that both wait on.
struct SplitReads::Shared {
  enum State : int { kIdle, kPosted, kDone, kStop };
  std::atomic<int> state{kIdle};
  platform::Handle handle = platform::kNoHandle;
  std::uint64_t offset = 0;
  std::byte* out = nullptr;
  std::size_t n = 0;
  std::size_t done = 0;  // how much of the job the helper could read from memory
  std::thread helper;
  bool tried = false;

  void serve() {
    while (true) {
      int seen = state.load(std::memory_order_acquire);
      while (seen != kPosted && seen != kStop) seen = wait_while(state, seen);
      if (seen == kStop) return;
      done = 0;
      while (done < n) {
        const platform::Transfer got =
            platform::read_cached_at(handle, out + done, n - done, offset + done);
        if (got.count <= 0) break;
        done += static_cast<std::size_t>(got.count);
      }
      state.store(kDone, std::memory_order_release);
      state.notify_one();
    }
  }
};

SplitReads::SplitReads(Channel& channel) : channel_(channel), shared_(std::make_unique<Shared>()) {
  shared_->handle = channel.handle;
  channel.split_reads = this;
}

SplitReads::~SplitReads() {
  channel_.split_reads = nullptr;
  if (shared_->helper.joinable()) {
    shared_->state.store(Shared::kStop, std::memory_order_release);
    shared_->state.notify_one();
    shared_->helper.join();
  }
}

bool SplitReads::read(std::uint64_t offset, std::byte* out, std::size_t n) {
  Shared& s = *shared_;
  if (!s.tried) {
    s.tried = true;
    try {
      s.helper = std::thread([&s] { s.serve(); });
    } catch (const std::system_error&) {
      // No thread to be had: every read stays whole.
    }
  }
  if (!s.helper.joinable()) return settle(channel_, read_range(channel_.handle, offset, out, n));
  // The halves meet on a page boundary of the file.
  const std::size_t half = (n / 2) & ~std::size_t{4095};
  s.offset = offset + half;
  s.out = out + half;
  s.n = n - half;
  s.state.store(Shared::kPosted, std::memory_order_release);
  s.state.notify_one();
  const RangeRead mine = read_range(channel_.handle, offset, out, half);
  int seen = s.state.load(std::memory_order_acquire);
  while (seen != Shared::kDone) seen = wait_while(s.state, seen);
  s.state.store(Shared::kIdle, std::memory_order_relaxed);
  // The first half's failure or end is the one a single read would have met first. What the
  // helper left (bytes not in memory: the disk is better read by one stream) is read here.
  if (mine.outcome != RangeRead::Outcome::kAll) return settle(channel_, mine);
  if (s.done == s.n) return true;
  return settle(channel_,
                read_range(channel_.handle, s.offset + s.done, s.out + s.done, s.n - s.done));
}

void write_all(Channel& channel, std::string_view bytes) {
  while (!bytes.empty()) {
    const platform::Transfer done =
        channel.unicode_console ? platform::write_console_text(channel.handle, bytes)
                                : platform::write_some(channel.handle, bytes.data(), bytes.size());
    if (done.count < 0) raise_failure(kWriteError, &channel, done.os_error);
    if (done.count == 0) raise_failure(kWriteError, &channel, platform::disk_full_error());
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
      raise_failure(kWriteError, &channel, error);
  }
  channel.cut_done = true;
}

}  // namespace records
