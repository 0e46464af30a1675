// The plain source, and the choice of source for a run.
#include "platform/byte_source.h"

#include <cstring>
#include <new>

#include "tuning/ways.h"

namespace platform {

std::byte* Scratch::reserve(std::size_t n) {
  if (n > capacity_) {
    data_.reset();
    capacity_ = 0;
    data_.reset(new (std::nothrow) std::byte[n]);
    if (!data_) return nullptr;
    capacity_ = n;
  }
  return data_.get();
}

std::byte* Scratch::reserve_or_throw(std::size_t n) {
  std::byte* out = reserve(n);
  if (out == nullptr) throw std::bad_alloc();
  return out;
}

SourceRead read_into(Handle handle, std::uint64_t offset, std::size_t n, std::byte* out) {
  std::size_t done = 0;
  while (done < n) {
    const Transfer got = read_at(handle, out + done, n - done, offset + done);
    if (got.count < 0) return {{}, got.os_error};
    if (got.count == 0) break;
    done += static_cast<std::size_t>(got.count);
  }
  return {{out, done}};
}

namespace {

class PlainSource final : public ByteSource {
 public:
  explicit PlainSource(Handle handle) : handle_(handle) {}
  SourceRead read(std::uint64_t offset, std::size_t n, Scratch& scratch,
                  Access /*access*/) override {
    return read_into(handle_, offset, n, scratch.reserve_or_throw(n));
  }

 private:
  Handle handle_;
};

}  // namespace

std::unique_ptr<ByteSource> make_plain_source(Handle handle) {
  return std::make_unique<PlainSource>(handle);
}

std::unique_ptr<ByteSource> make_source(Handle handle) {
  return tuning::plain_ways() ? make_plain_source(handle) : make_mapped_source(handle);
}

}  // namespace platform
