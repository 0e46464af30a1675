// Waiting for another thread's next step when steps follow each other within a millisecond.
#pragma once

#include <atomic>
#include <chrono>

namespace tuning {

// Spins while `value` equals `from`, for at most `patience`; true when it changed. A sleeping
// core of a virtual machine can take a millisecond or more to wake, so a thread that waits for
// short jobs spins before it sleeps, and sleeps only when the other side has gone quiet.
template <typename T>
bool spin_while_equal(const std::atomic<T>& value, T from, std::chrono::microseconds patience) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point give_up = Clock::now() + patience;
  for (unsigned spins = 1;; ++spins) {
    if (value.load(std::memory_order_acquire) != from) return true;
    if (spins % 1024 == 0 && Clock::now() > give_up) return false;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();  // lets the other hardware thread of the core run meanwhile
#endif
  }
}

}  // namespace tuning
