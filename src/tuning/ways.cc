#include "tuning/ways.h"

#include <atomic>
#include <cstdlib>
#include <string_view>

namespace tuning {
namespace {

// -1 until read; then 0 (every way) or 1 (plain).
std::atomic<int> plain{-1};
std::atomic<int> threads{0}, mapped_views{0};
std::atomic<const char*> fields_way{"none"};

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

void note_way(WayTaken way) {
  (way == WayTaken::kThread ? threads : mapped_views).fetch_add(1, std::memory_order_relaxed);
}

void note_fields_way(const char* name) {
  fields_way.store(name, std::memory_order_relaxed);
}

WaysTaken ways_taken() {
  return {threads.load(), mapped_views.load(), fields_way.load()};
}

std::string ways_taken_line() {
  if (std::getenv("FLOWSERIES_SHOW_WAYS") == nullptr) return {};
  const WaysTaken taken = ways_taken();
  return std::string("flowseries: ways: ") + (plain_ways() ? "plain" : "all") + ", threads " +
         std::to_string(taken.threads) + ", mapped views " + std::to_string(taken.mapped_views) +
         ", value fields " + taken.fields;
}

}  // namespace tuning
