// The console interrupt: the interrupt key (SIGINT), the break key (SIGQUIT) and a closed
// terminal window (SIGHUP) end the run with report 200 and a failure exit status.
#pragma once

#include <cstddef>

namespace records {

// Installs the handler for each of the three signals that is not ignored when the run starts;
// called before anything else runs.
void install_interrupt_handler();

// The exit status for the signal: 130 (SIGINT), 131 (SIGQUIT), 129 (SIGHUP).
int interrupt_exit_status(int signal);

// The event name of the report: "control-C", "control-BREAK" or "window-CLOSE".
const char* interrupt_event_name(int signal);

// Formats the handler's report for `signal` interrupted at code offset `pc` into `buffer`, with
// async-signal-safe code only; returns the length (the text is cut at `size`).
std::size_t format_interrupt_report(char* buffer, std::size_t size, int signal, unsigned long pc);

}  // namespace records
