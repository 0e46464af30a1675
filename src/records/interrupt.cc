// The interrupt handler. It runs in the middle of any statement, so it formats its report with
// plain byte copies into a static buffer, writes it with one system call at a time and ends the
// process at once: no allocation, no stdio, no locks.
#include "records/interrupt.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace records {
namespace {

// Who ends the run: nobody yet, the interrupt handler, or the run itself (its report or its
// normal end).
enum : int { kUnclaimed, kClaimedByEvent, kClaimedByRun };
std::atomic<int> end_claimed{kUnclaimed};
static_assert(std::atomic<int>::is_always_lock_free, "the handler may not take locks");

struct Writer {
  char* at;
  char* end;
  void put(const char* text) {
    while (*text != '\0' && at < end) *at++ = *text++;
  }
  void pad_to(char* start, std::size_t width) {
    while (at < start + width && at < end) *at++ = ' ';
  }
};

void handle(platform::ConsoleEvent event, std::uintptr_t pc) {
  int expected = kUnclaimed;
  // The run is already writing its own report or ending normally: that end stands.
  if (!end_claimed.compare_exchange_strong(expected, kClaimedByEvent)) return;
  static char report[512];
  const std::size_t length = format_interrupt_report(report, sizeof report, event, pc);
  const platform::Handle error = platform::standard_stream(platform::StandardStream::kError);
  std::size_t done = 0;
  while (done < length) {
    const platform::Transfer n = platform::write_some(error, report + done, length - done);
    if (n.count <= 0) break;
    done += static_cast<std::size_t>(n.count);
  }
  platform::end_process(interrupt_exit_status(event));
}

}  // namespace

int interrupt_exit_status(platform::ConsoleEvent event) {
  switch (event) {
    case platform::ConsoleEvent::kBreakKey:
      return 131;
    case platform::ConsoleEvent::kWindowClosed:
      return 129;
    case platform::ConsoleEvent::kTerminate:
      return 143;
    default:
      return 130;
  }
}

const char* interrupt_event_name(platform::ConsoleEvent event) {
  switch (event) {
    case platform::ConsoleEvent::kBreakKey:
      return "control-BREAK";
    case platform::ConsoleEvent::kWindowClosed:
      return "window-CLOSE";
    case platform::ConsoleEvent::kTerminate:
      return "SIGTERM";
    default:
      return "control-C";
  }
}

std::size_t format_interrupt_report(char* buffer, std::size_t size, platform::ConsoleEvent event,
                                    std::uintptr_t pc) {
  Writer w{buffer, buffer + size};
  w.put("flowseries: error (200): program aborting due to ");
  w.put(interrupt_event_name(event));
  w.put(" event\r\n");
  char* line = w.at;
  w.put("Image");
  w.pad_to(line, 19);
  w.put("PC");
  w.pad_to(line, 29);
  w.put("Routine");
  w.pad_to(line, 48);
  w.put("Line");
  w.pad_to(line, 60);
  w.put("Source");
  w.pad_to(line, 79);
  w.put("\r\n");
  line = w.at;
  w.put(platform::program_module_name());
  w.pad_to(line, 17);
  w.put("  ");
  char hex[9];
  for (int i = 7; i >= 0; --i) {
    hex[i] = "0123456789ABCDEF"[pc & 0xF];
    pc >>= 4;
  }
  hex[8] = '\0';
  w.put(hex);
  w.put("  Unknown");
  w.pad_to(line, 48);
  w.put("   Unknown  Unknown\r\n");
  return static_cast<std::size_t>(w.at - buffer);
}

void install_interrupt_handler() {
  platform::install_event_handler(handle);
}

void claim_end_of_run(bool input_ended) {
  using namespace std::chrono_literals;
  if (input_ended && platform::events_arrive_late()) {
    for (int i = 0; i < 50 && end_claimed.load() == kUnclaimed; ++i)
      std::this_thread::sleep_for(10ms);
  }
  int expected = kUnclaimed;
  if (end_claimed.compare_exchange_strong(expected, kClaimedByRun) || expected == kClaimedByRun)
    return;
  while (true) std::this_thread::sleep_for(10ms);  // the handler is ending the process
}

}  // namespace records
