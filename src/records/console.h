// The console: standard output and standard input as the run's two console channels, free-form
// output lines and the free-form reading of one integer.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <variant>

#include "records/channel.h"

namespace records {

struct Console {
  Channel output;
  Channel input;
  // Prompts go out as Unicode text instead of code page 932 bytes: only to a terminal or
  // console that shows Unicode and not code page 932.
  bool utf8_prompts = false;
};

// The console over standard output and standard input.
Console open_console();

using FreeItem = std::variant<std::string_view, std::int32_t>;

// One free-form output line: a text gets one blank in front when it starts the line; an integer
// is right-aligned in 12 columns. Written at once, with CR LF.
void write_free(Channel& output, std::initializer_list<FreeItem> items);

// Reads one integer in free form from the next console line(s): blanks and empty lines are
// skipped; a lone comma, a slash or a repeat count with no value leave `target` unchanged; reals
// are truncated toward zero. Bad characters end the run with 59, an integer beyond 32 bits with
// 64, the end of the input with 24.
void read_free_integer(Channel& input, std::int32_t& target);

}  // namespace records
