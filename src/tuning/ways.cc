#include "tuning/ways.h"

#include <atomic>
#include <cstdlib>
#include <string_view>

namespace tuning {
namespace {

// -1 until read; then 0 (every way) or 1 (plain).
std::atomic<int> plain{-1};

}  // namespace

std::string read_ways_setting() {
  const char* value = std::getenv("FLOWSERIES_WAYS");
  const std::string_view text = value == nullptr ? std::string_view() : std::string_view(value);
  plain.store(text == "plain" ? 1 : 0);
  if (text.empty() || text == "plain" || text == "all") return {};
  return "flowseries: FLOWSERIES_WAYS=" + std::string(text) +
         " is not known (plain, all) and is ignored";
}

bool plain_ways() {
  int p = plain.load(std::memory_order_relaxed);
  if (p < 0) {
    read_ways_setting();
    p = plain.load(std::memory_order_relaxed);
  }
  return p == 1;
}

void force_plain_ways(bool plain_only) {
  plain.store(plain_only ? 1 : 0);
}

}  // namespace tuning
