// The command line: flowseries runs its dialogue when it is given no argument; --help and
// --version answer at once, and anything else is refused before a byte is read or written.
#pragma once

#include <optional>
#include <span>
#include <string>

namespace driver {

struct CommandLineAnswer {
  int status;          // the exit status
  std::string output;  // for standard output
  std::string error;   // for standard error
};

// Nullopt when the dialogue is to run (no arguments); otherwise what to print and the status.
std::optional<CommandLineAnswer> answer_command_line(std::span<const char* const> arguments);

// Prints the answer, if there is one, and returns its exit status.
std::optional<int> handle_command_line(int argc, const char* const* argv);

}  // namespace driver
