// The source that takes only what the system holds in memory: for a thread reading the file from
// its end while the step loop reads it from the start, since reading backwards from a disk would
// move its heads between two places for every batch.
#include "platform/byte_source.h"

namespace platform {
namespace {

class CachedSource final : public ByteSource {
 public:
  explicit CachedSource(Handle handle) : handle_(handle) {}
  SourceRead read(std::uint64_t offset, std::size_t n, Scratch& scratch,
                  Access /*access*/) override {
    std::byte* out = scratch.reserve_or_throw(n);
    std::size_t done = 0;
    while (done < n) {
      const Transfer got = read_cached_at(handle_, out + done, n - done, offset + done);
      if (got.count <= 0) break;  // the rest is left to an ordinary read
      done += static_cast<std::size_t>(got.count);
    }
    return {{out, done}};
  }

 private:
  Handle handle_;
};

}  // namespace

std::unique_ptr<ByteSource> make_cached_source(Handle handle) {
  return std::make_unique<CachedSource>(handle);
}

}  // namespace platform
