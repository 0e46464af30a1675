// The interrupt handler. It runs in the middle of any statement, so it formats its report with
// plain byte copies into a static buffer, writes it with write(2) and ends with _exit: no
// allocation, no stdio, no locks.
#include "records/interrupt.h"

#include <dlfcn.h>
#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstring>
#include <initializer_list>

namespace records {
namespace {

unsigned long module_base = 0;

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

void handle(int signal, siginfo_t*, void* context) {
  unsigned long pc = 0;
#if defined(__x86_64__)
  pc = static_cast<unsigned long>(static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
  pc = static_cast<unsigned long>(static_cast<ucontext_t*>(context)->uc_mcontext.pc);
#else
  (void)context;
#endif
  static char report[512];
  const std::size_t length =
      format_interrupt_report(report, sizeof report, signal, pc - module_base);
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = ::write(2, report + done, length - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  ::_exit(interrupt_exit_status(signal));
}

}  // namespace

int interrupt_exit_status(int signal) {
  switch (signal) {
    case SIGQUIT:
      return 131;
    case SIGHUP:
      return 129;
    default:
      return 130;
  }
}

const char* interrupt_event_name(int signal) {
  switch (signal) {
    case SIGQUIT:
      return "control-BREAK";
    case SIGHUP:
      return "window-CLOSE";
    default:
      return "control-C";
  }
}

std::size_t format_interrupt_report(char* buffer, std::size_t size, int signal, unsigned long pc) {
  Writer w{buffer, buffer + size};
  w.put("flowseries: error (200): program aborting due to ");
  w.put(interrupt_event_name(signal));
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
  w.put("flowseries");
  w.pad_to(line, 19);
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
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&install_interrupt_handler), &info) != 0)
    module_base = reinterpret_cast<unsigned long>(info.dli_fbase);
  struct sigaction action {};
  action.sa_sigaction = handle;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGQUIT, SIGHUP}) {
    sigaddset(&action.sa_mask, signal);
  }
  for (int signal : {SIGINT, SIGQUIT, SIGHUP}) {
    // A signal ignored when the run starts (nohup, a background job of a script) was ignored on
    // purpose: the run stays protected from it.
    struct sigaction before {};
    if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
}

}  // namespace records
