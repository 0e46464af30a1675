// The console interrupt: the interrupt key, the break key and a closed console window end the
// run with report 200 and a failure exit status.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace records {

// Installs the handler for each of the three events that the process does not ignore when the
// run starts; called before anything else runs.
void install_interrupt_handler();

// The exit status for the event: 130 (interrupt key), 131 (break key), 129 (window closed).
int interrupt_exit_status(platform::ConsoleEvent event);

// The event name of the report: "control-C", "control-BREAK" or "window-CLOSE".
const char* interrupt_event_name(platform::ConsoleEvent event);

// Formats the handler's report for `event`, interrupted at code offset `pc`, into `buffer`, with
// async-signal-safe code only; returns the length (the text is cut at `size`).
std::size_t format_interrupt_report(char* buffer, std::size_t size, platform::ConsoleEvent event,
                                    std::uintptr_t pc);

// The run's own end and an interrupt may meet: where the system delivers console events on a
// thread of their own, the interrupt key can end a console read before its handler runs. Whoever
// claims the end first reports it. Returns when the run's own end won; otherwise waits for the
// handler to end the process. `input_ended`: the run ends because an input ended or broke, which
// an interrupt key can cause, so its event is given a moment to arrive first.
void claim_end_of_run(bool input_ended);

}  // namespace records
