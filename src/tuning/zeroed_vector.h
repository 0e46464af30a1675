// Tables that come zeroed from calloc and are never written with zeros again. A fixed table of
// 50000 entries of which a run uses a few hundred would otherwise be written page by page, and on
// some machines the first write to a page costs several microseconds. Where calloc takes a fresh
// block from the system, only the pages written with values are ever touched; where it takes
// memory the heap already holds (kept for reuse, or grown ahead), it writes the zeros itself.
// Giving every large table pages of its own, never from the heap, was measured and not kept: the
// runs were no quicker, as the pages then fault where the values land instead.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

namespace tuning {

template <typename T>
struct ZeroedAllocator {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_default_constructible_v<T>);
  using value_type = T;

  ZeroedAllocator() = default;
  template <typename U>
  ZeroedAllocator(const ZeroedAllocator<U>& /*other*/) noexcept {}

  T* allocate(std::size_t n) {
    void* p = std::calloc(n, sizeof(T));
    if (p == nullptr) throw std::bad_alloc();
    return static_cast<T*>(p);
  }
  void deallocate(T* p, std::size_t /*n*/) noexcept { std::free(p); }

  // A value-initialised entry is left as the allocation made it: zero. Entries are only ever
  // appended or written, never removed, so memory behind the last entry has not been written.
  template <typename U>
  void construct(U* /*p*/) noexcept {}
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }

  friend bool operator==(const ZeroedAllocator&, const ZeroedAllocator&) { return true; }
};

template <typename T>
using ZeroedVector = std::vector<T, ZeroedAllocator<T>>;

}  // namespace tuning
