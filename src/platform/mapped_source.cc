// Reading the file through windows mapped into memory: no copy, but a page fault wherever a
// window is first touched. Which is quicker, that or reads into the caller's scratch, depends on
// the machine (on some virtual machines the first touch of a page costs a few microseconds, on
// others a fraction of one), so the first reads of each kind of access alternate between the two
// and are timed, and the quicker is kept.
#include <algorithm>
#include <chrono>

#include "platform/byte_source.h"
#include "tuning/timed_choice.h"
#include "tuning/ways.h"

namespace platform {
namespace {

// Windows hold at least this much of the file.
constexpr std::size_t kWindowBytes = std::size_t{8} << 20;
// Front-to-back reads smaller than this are reads: a reader that skips most of the file (long
// records left on disk) reads ahead in small pieces, where a window's faults cost more.
constexpr std::size_t kSmallSequential = std::size_t{64} << 10;

enum class Fetch { kReads, kMapped };

// The choice for one kind of access. Each read is timed from its start to the start of the next
// one, so that the time spent on the bytes it gave (the faults of a window are taken where its
// pages are first touched) counts, per MiB asked for: reads of one kind differ in size.
class FetchTiming {
 public:
  using Clock = std::chrono::steady_clock;

  Fetch next(std::size_t n) {
    if (choice_.settled()) return choice_.way();
    const Clock::time_point now = Clock::now();
    if (timing_ && bytes_ > 0) {
      const auto took = std::chrono::duration_cast<std::chrono::nanoseconds>(now - since_);
      choice_.note(last_, std::chrono::nanoseconds(took.count() * (std::int64_t{1} << 20) /
                                                   static_cast<std::int64_t>(bytes_)));
    }
    timing_ = true;
    since_ = now;
    bytes_ = n;
    last_ = choice_.way();
    return last_;
  }
  // The mapped way could not be taken for this read (past the end of the file), or never can.
  void took_reads() { last_ = Fetch::kReads; }
  void rule_out_mapping() { choice_.rule_out(Fetch::kMapped); }

 private:
  tuning::TimedChoice<Fetch> choice_;
  Fetch last_ = Fetch::kReads;
  Clock::time_point since_;
  std::size_t bytes_ = 0;
  bool timing_ = false;
};

class MappedSource final : public ByteSource {
 public:
  MappedSource(Handle handle, bool always_map) : handle_(handle), always_map_(always_map) {
    const FileFacts facts = file_facts(handle);
    known_size_ = facts.regular ? facts.size : 0;
  }
  ~MappedSource() override { unmap_view(view_); }

  SourceRead read(std::uint64_t offset, std::size_t n, Scratch& scratch, Access access) override {
    FetchTiming& timing = timings_[access == Access::kSequential ? 0 : 1];
    const bool small = access == Access::kSequential && n < kSmallSequential && !always_map_;
    if (!small && !refused_ && n > 0 && (always_map_ || timing.next(n) == Fetch::kMapped)) {
      if (const std::byte* bytes = mapped(offset, n, access == Access::kSequential))
        return {{bytes, n}, 0, take_cut()};
      if (refused_) {
        timing.rule_out_mapping();
      } else {
        timing.took_reads();
      }
    }
    SourceRead got = read_into(handle_, offset, n, scratch.reserve_or_throw(n));
    got.cut = take_cut();
    return got;
  }

  bool cut() override {
    if (found_cut_) return true;
    if (view_.data != nullptr && view_cut()) found_cut_ = true;
    // The bytes of a cut file's last page past its new end read as zeros without a fault: the
    // size tells. Asked once per window that handed out bytes, and at the end.
    if (!found_cut_ && handed_end_ > 0) {
      const FileFacts facts = file_facts(handle_);
      if (facts.regular && facts.size < handed_end_) found_cut_ = true;
    }
    return found_cut_;
  }

  void release() override {
    unmap_view(view_);
    handed_end_ = 0;
  }

 private:
  // The n bytes at `offset` in a window, mapping a new one if need be; null past the end of the
  // file or where the system will not map it (then refused_).
  const std::byte* mapped(std::uint64_t offset, std::size_t n, bool sequential) {
    if (view_.data == nullptr || offset < view_.offset || offset - view_.offset > view_.size ||
        n > view_.size - (offset - view_.offset)) {
      std::uint64_t size = known_size_;
      if (offset > size || n > size - offset) {
        const FileFacts facts = file_facts(handle_);
        if (facts.regular) size = known_size_ = facts.size;
        if (offset > size || n > size - offset) return nullptr;
      }
      // What was read through the window being let go is settled first.
      cut();
      release();
      const std::uint64_t start = offset - offset % kViewAlignment;
      const std::uint64_t end = std::min(size, std::max(offset + n, start + kWindowBytes));
      view_ = map_view(handle_, start, static_cast<std::size_t>(end - start));
      if (view_.data != nullptr) tuning::note_way(tuning::WayTaken::kMappedView);
      if (view_.data == nullptr) {
        refused_ = true;
        return nullptr;
      }
      // Read ahead from the disk in large pieces where the reader goes through the window.
      if (sequential) expect_sequential(view_);
    }
    handed_end_ = view_.offset + view_.size;
    return view_.data + (offset - view_.offset);
  }

  bool take_cut() const { return found_cut_; }

  Handle handle_;
  bool always_map_;
  std::uint64_t known_size_ = 0;
  FileView view_;
  std::uint64_t handed_end_ = 0;  // the end of the window that handed out bytes (0: none)
  bool refused_ = false;
  bool found_cut_ = false;
  FetchTiming timings_[2];
};

}  // namespace

std::unique_ptr<ByteSource> make_mapped_source(Handle handle, bool always_map) {
  return std::make_unique<MappedSource>(handle, always_map);
}

}  // namespace platform
