// A channel is one open file or console stream of the run: its number and resolved path (which
// failure reports show), its system handle, and the buffers of whatever reads or writes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/byte_source.h"
#include "platform/platform.h"
#include "records/failure.h"

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
// are the buffer's own (`data`: pipes, consoles), or, for a regular file, a span that its byte
// source handed out (into `scratch` or into a mapping of the file).
struct InputBuffer {
  std::unique_ptr<std::byte[]> data;
  std::size_t capacity = 0;
  platform::Scratch scratch;
  const std::byte* from_source = nullptr;
  std::size_t begin = 0;
  std::size_t end = 0;
  std::uint64_t end_offset = 0;  // file offset of bytes()[end]
  bool at_end = false;           // the last read delivered nothing

  const std::byte* bytes() const { return from_source != nullptr ? from_source : data.get(); }
  std::uint64_t begin_offset() const { return end_offset - (end - begin); }
  const std::byte* at_offset(std::uint64_t offset) const {
    return bytes() + end - static_cast<std::size_t>(end_offset - offset);
  }
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
  // For the checkers, never for the program (which does not compare them): every record is read
  // whole and each piece's trailing length is compared with its leading one; the first piece
  // whose lengths differ is counted and its offset kept.
  bool check_trailing_lengths = false;
  std::uint64_t trailing_mismatches = 0;
  std::uint64_t first_trailing_mismatch = 0;  // the file offset of that piece's leading length
  // Console output goes out at the end of every statement; files gather output in `out`.
  bool flush_each_statement = false;
  // Console output written as Unicode text (a console that does not show code page 932).
  bool unicode_console = false;

  InputBuffer in;
  // The record reader's own: the other units ask through its functions.
  Framing framing;
  // Where a regular file's bytes come from (made at the first read), and the scratch of reads
  // outside the read-ahead.
  std::unique_ptr<platform::ByteSource> source;
  platform::Scratch scattered;
  // When set, every text line read is appended here, as read (the point-list checker shows the
  // user which line each value came from).
  std::vector<std::string>* transcript = nullptr;

  OutputBuffer out;
  std::uint64_t written = 0;
  // The system's code for the write access refused at the open (the file was opened for reading).
  int write_refusal = 0;
  // Files the run opens and writes from their start are cut behind the first output written
  // through them; the console is a stream that is never cut, whatever stands behind it.
  bool cut_at_first_write = false;
  bool cut_done = false;
};

// Ends the run with failure `number` on the channel: its number and resolved path.
[[noreturn]] inline void raise_channel_failure(int number, const Channel& channel,
                                               int os_error = 0) {
  raise_failure(number, channel.number, channel.path, os_error);
}

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

// The n bytes at a file offset, outside the read-ahead (fewer where the file ends first): a span
// into the channel's scratch or a mapping, valid until the next read on the channel. Regular
// files only. A refused read, or a file found cut under bytes read before, ends the run with the
// read failure.
std::span<const std::byte> read_scattered(Channel& channel, std::uint64_t offset, std::size_t n);

// Ends the run with the read failure when bytes read so far came through a mapping of a file
// that another program has cut since (they read as zeros there, where a read would have failed).
void check_not_cut(Channel& channel);
// Lets the mappings of the file go (their pages no longer count as the process's memory); bytes
// the read-ahead held through them are read again if they are asked for.
void release_mappings(Channel& channel);

// The size of a regular file as the system sees it now; nothing for other channels.
std::optional<std::uint64_t> file_size(const Channel& channel);

// Writes `bytes` to the file, all of them, or ends the run with the write failure.
void write_all(Channel& channel, std::string_view bytes);

// Writes out the gathered output; the first write of a file also cuts the file behind it.
void flush_output(Channel& channel);

}  // namespace records
