// Where the bytes of a regular file come from when a channel reads it at offsets. The caller
// asks for n bytes at an offset and gets a span that points either into a mapping of the file or
// into the scratch buffer it lent; it never knows which, and never chooses, times or settles a
// way. The plain source (positioned reads) is the reference; the quick sources behind this seam
// give the same bytes, or report the same failures, faster on some machines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "platform/platform.h"

namespace platform {

// A buffer that grows without writing zeros; its old bytes are not kept when it grows. Callers
// reserve what a read needs before they lend it, so that a source never runs out of memory.
class Scratch {
 public:
  // Room for n bytes; null when there is no memory for them.
  std::byte* reserve(std::size_t n);
  // The same for a source, which has no failure of its own to raise: std::bad_alloc.
  std::byte* reserve_or_throw(std::size_t n);
  std::byte* data() const { return data_.get(); }
  std::size_t capacity() const { return capacity_; }

 private:
  std::unique_ptr<std::byte[]> data_;
  std::size_t capacity_ = 0;
};

// How a caller goes through the file: front to back, most bytes read (the record reader's
// read-ahead), or a few bytes here and there (values picked out of records left on disk). A
// quick source weighs its ways for each apart.
enum class Access { kSequential, kScattered };

struct SourceRead {
  // The n bytes asked for, or fewer where the file ends first (or, for a source that reads only
  // what the system holds in memory, where the rest would wait for the disk).
  std::span<const std::byte> bytes;
  int os_error = 0;  // not 0: the system refused the read (nothing delivered)
  // The file was found cut by another program under bytes that this source handed out before
  // (a mapping reads zeros past the new end, where a read would have failed).
  bool cut = false;
};

class ByteSource {
 public:
  ByteSource() = default;
  ByteSource(const ByteSource&) = delete;
  ByteSource& operator=(const ByteSource&) = delete;
  virtual ~ByteSource() = default;

  // The bytes are valid until the next read on this source, its release or its end.
  virtual SourceRead read(std::uint64_t offset, std::size_t n, Scratch& scratch, Access access) = 0;
  // Whether the file was found cut under bytes handed out so far (see SourceRead::cut).
  virtual bool cut() { return false; }
  // Lets mappings go: their pages stop counting as the process's memory.
  virtual void release() {}
};

// Positioned reads into the scratch buffer.
std::unique_ptr<ByteSource> make_plain_source(Handle handle);
// The file mapped in windows where that is quicker on this machine than reads, timed on the first
// reads of each Access; reads where the system will not map the file. `always_map` leaves out the
// timing (for tests of the mapped way itself).
std::unique_ptr<ByteSource> make_mapped_source(Handle handle, bool always_map = false);
// Only what the system already holds in memory: a read comes short where the rest would wait for
// the disk (where the system cannot tell, it reads as the plain source does).
std::unique_ptr<ByteSource> make_cached_source(Handle handle);

// The source a channel's reads at offsets take: the mapped source, or the plain one when the run
// takes the plain ways.
std::unique_ptr<ByteSource> make_source(Handle handle);

// Reads n bytes at `offset` into `out` (up to the end of the file): the plain source's loop,
// shared by every source that reads.
SourceRead read_into(Handle handle, std::uint64_t offset, std::size_t n, std::byte* out);

}  // namespace platform
