// A channel is one open file or console stream of the run: its number and resolved path (which
// failure reports show), its system handle, and the buffers of whatever reads or writes it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "records/platform.h"
#include "records/timed_choice.h"

namespace records {

enum class ChannelKind { kBinary, kText };
enum class OpenMode { kMustExist, kCreateIfMissing };
// Which way the run moves the file's bytes; only a FIFO is opened differently for each.
enum class Direction { kInput, kOutput };

inline constexpr int kResultChannel = 7;
inline constexpr int kPointListChannel = 9;
inline constexpr int kWorkListChannel = 98;
inline constexpr int kConsoleOutputChannel = -1;
inline constexpr int kConsoleInputChannel = -4;

// Bytes read from the file: bytes()[begin, end) holds the file's bytes up to end_offset. They
// are the buffer's own (`data`), or those of a mapped window of the file when `mapped` is set.
struct InputBuffer {
  std::unique_ptr<std::byte[]> data;
  std::size_t capacity = 0;
  const std::byte* mapped = nullptr;
  std::size_t begin = 0;
  std::size_t end = 0;
  std::uint64_t end_offset = 0;  // file offset of bytes()[end]
  bool at_end = false;           // the last read delivered nothing

  const std::byte* bytes() const { return mapped != nullptr ? mapped : data.get(); }
  std::uint64_t begin_offset() const { return end_offset - (end - begin); }
  const std::byte* at_offset(std::uint64_t offset) const {
    return bytes() + end - static_cast<std::size_t>(end_offset - offset);
  }
};

// How the input buffer of a regular file is refilled: by reads into the buffer, or by pointing
// it into a mapped window of the file, which saves the copy but pays a page fault wherever the
// window is first touched. Which is quicker depends on the machine, so the refills alternate
// and each way is timed over the bytes consumed until the next refill.
struct RefillChoice {
  static constexpr TimedChoice::Way kReads = TimedChoice::kFirst;
  static constexpr TimedChoice::Way kInPlace = TimedChoice::kSecond;
  TimedChoice ways;
  TimedChoice::Way last = kReads;
  std::chrono::steady_clock::time_point since;
  std::uint64_t since_offset = 0;
  bool timing = false;
};

// The read-ahead of the record framing. Which cut records count as the end of the file and which
// as a read error depends on how much a fixed-size read-ahead buffer would hold at each refill;
// these counters replay that buffer exactly (as file offsets), whatever sizes the real reads use.
struct Framing {
  std::int64_t capacity = 8192;
  std::uint64_t filled = 0;    // file offset up to which the read-ahead holds bytes
  std::uint64_t consumed = 0;  // file offset of the next unread record byte
  std::uint64_t known_size = 0;
  // The current piece's data, as file offsets.
  std::uint64_t window_begin = 0;
  std::uint64_t window_end = 0;
  bool continued = false;
  bool in_memory = true;  // false: a long record left on disk, read value by value
};

// Output gathered for a channel: grows without zero-filling, so fields are written in place.
class OutputBuffer {
 public:
  // Makes room for n more bytes at the end and returns where they go.
  char* grow(std::size_t n) {
    if (size_ + n > capacity_) reserve(size_ + n);
    char* at = data_.get() + size_;
    size_ += n;
    return at;
  }
  void append(std::string_view text) {
    if (!text.empty()) std::memcpy(grow(text.size()), text.data(), text.size());
  }
  void push_back(char c) { *grow(1) = c; }
  OutputBuffer() = default;
  OutputBuffer(OutputBuffer&& other) noexcept
      : data_(std::move(other.data_)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  OutputBuffer& operator=(OutputBuffer&&) = delete;

  std::string_view view() const { return {data_.get(), size_}; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  void clear() { size_ = 0; }

 private:
  void reserve(std::size_t needed);
  std::unique_ptr<char[]> data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// Whether a channel closes its file: a move hands it over and clears it, so that exactly one
// channel closes each file and a channel's moves need no list of its members.
class Ownership {
 public:
  Ownership() = default;
  Ownership(bool owned) : owned_(owned) {}
  Ownership(Ownership&& other) noexcept : owned_(std::exchange(other.owned_, false)) {}
  Ownership& operator=(Ownership&& other) noexcept {
    owned_ = std::exchange(other.owned_, false);
    return *this;
  }
  operator bool() const { return owned_; }

 private:
  bool owned_ = false;
};

class SplitReads;

// The part of a file mapped for reading records in place (see view_at and RefillChoice). A move
// hands the view over, so that exactly one channel unmaps it.
struct MappedWindow {
  MappedWindow() = default;
  MappedWindow(const MappedWindow&) = delete;
  MappedWindow& operator=(const MappedWindow&) = delete;
  MappedWindow(MappedWindow&& other) noexcept
      : view(std::exchange(other.view, {})), refused(other.refused) {}
  MappedWindow& operator=(MappedWindow&&) = delete;
  ~MappedWindow() { platform::unmap_view(view); }

  platform::FileView view;
  bool refused = false;  // the system would not map the file: reads from then on
};

struct Channel {
  Channel() = default;
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;
  Channel(Channel&& other) noexcept = default;
  Channel& operator=(Channel&&) = delete;
  ~Channel();

  int number = 0;
  std::string path;
  ChannelKind kind = ChannelKind::kText;
  platform::Handle handle = platform::kNoHandle;
  Ownership owns_handle;
  bool regular_file = false;
  // Set once a long record was left on disk: reads ahead stay small, since most of the file is
  // skipped rather than read.
  bool sparse = false;
  // Console output goes out at the end of every statement; files gather output in `out`.
  bool flush_each_statement = false;
  // Console output written as Unicode text (a console that does not show code page 932).
  bool unicode_console = false;

  InputBuffer in;
  RefillChoice refills;
  Framing framing;
  // When set, every text line read is appended here, as read (the point-list checker shows the
  // user which line each value came from).
  std::vector<std::string>* transcript = nullptr;

  OutputBuffer out;
  std::uint64_t written = 0;
  // Files the run opens and writes from their start are cut behind the first output written
  // through them; the console is a stream that is never cut, whatever stands behind it.
  bool cut_at_first_write = false;
  bool cut_done = false;
  // While set, long reads at an offset are shared with a helper thread.
  SplitReads* split_reads = nullptr;
  MappedWindow window;
};

// Resolves the fixed-width `name` (leading blanks, trailing blanks and NULs removed; made
// absolute against the current directory) and opens it for reading and writing, or for reading
// only when its permissions refuse writing.
Channel open_channel(int number, std::string_view name, ChannelKind kind, OpenMode mode,
                     Direction direction = Direction::kInput);

// Writes out what the channel still holds and closes it.
void close_channel(Channel& channel);

// A channel over an already open file that it does not own (the console streams).
Channel adopt_handle(int number, std::string path, platform::Handle handle, ChannelKind kind);

// The name as opened: trimmed and made absolute ("" for an all-blank name).
std::string resolve_name(std::string_view name);

// Makes the file's bytes up to `target` (a file offset) readable from the input buffer, as far
// as the file holds them; growing or refilling the buffer as needed. Never allocates beyond what
// a regular file holds. A refused read ends the run with the read failure. Pointers into the
// buffer are valid until the next call.
void fill_to(Channel& channel, std::uint64_t target);

// One read of up to `limit` bytes into the input buffer, whatever the source has ready; false at
// its end.
bool read_once(Channel& channel, std::size_t limit);

// Drops the buffered bytes before `offset`; reading goes on from there (regular files only).
void skip_to(Channel& channel, std::uint64_t offset);

// Reads n bytes at a file offset without touching the input buffer; false when the file ends
// first.
bool read_at(Channel& channel, std::uint64_t offset, std::byte* out, std::size_t n);

// The file's n bytes at `offset` in memory, through a window of the file mapped for reading
// (kViewWindow bytes or the n asked, whichever is more), or null where that cannot be: not a
// regular file, bytes past the end of the file, or a system that will not map it; read_at is
// the way then. Valid until the next view_at or the channel's close. Another program may cut the
// file while it is mapped: the bytes past the new end then read as zeros, and the next
// check_viewed ends the run with the read failure that a read would have met.
inline constexpr std::size_t kViewWindow = std::size_t{8} << 20;
// `dense`: the reader will touch most of the pages, front to back (the disk is then read ahead).
const std::byte* view_at(Channel& channel, std::uint64_t offset, std::size_t n, bool dense);
void check_viewed(Channel& channel);
// Lets the window go (its pages no longer count as the process's memory); bytes the input
// buffer held through it are read again if they are asked for.
void release_view(Channel& channel);

// For as long as it lives, reads of at least kSplitReadMin bytes at an offset on `channel` are
// cut in two and the second half is read by a helper thread at the same time: copying from the
// page cache is most of the work of a run that picks values out of long records, and two cores
// copy about twice as fast as one. The helper takes only what is already in memory and leaves
// the rest, so that a file coming from the disk is still read as one stream. The helper starts
// at the first such read. The outcome is that of one read: the first half's failure or end
// comes first.
inline constexpr std::size_t kSplitReadMin = std::size_t{256} << 10;

class SplitReads {
 public:
  explicit SplitReads(Channel& channel);
  SplitReads(const SplitReads&) = delete;
  SplitReads& operator=(const SplitReads&) = delete;
  ~SplitReads();

  // As read_at; only for regular files.
  bool read(std::uint64_t offset, std::byte* out, std::size_t n);

 private:
  struct Shared;
  Channel& channel_;
  std::unique_ptr<Shared> shared_;
};

// Writes `bytes` to the file, all of them, or ends the run with the write failure.
void write_all(Channel& channel, std::string_view bytes);

// Writes out the gathered output; the first write of a file also cuts the file behind it.
void flush_output(Channel& channel);

}  // namespace records
