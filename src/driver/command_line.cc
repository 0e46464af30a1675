// Command-line arguments of flowseries.
#include "driver/command_line.h"

#include <string_view>

#include "platform/platform.h"

namespace driver {
namespace {

constexpr const char* kUsage =
    "usage: flowseries             (answers on the console or from standard input)\n"
    "       flowseries --help | --version\n"
    "\n"
    "flowseries reads the binary result file of a network flow simulation and a point-list file\n"
    "naming the nodes and links of interest, and writes their time series as CSV files in the\n"
    "current directory: HTIME.CSV (base + p of the H nodes), PTIME.CSV (p), QTIME.csv (q) and\n"
    "VTIME.csv (va and vb of the V links). A series with no points writes no file.\n"
    "\n"
    "It asks in Japanese (code page 932, or UTF-8 on a UTF-8 terminal):\n"
    "  1. where the result file's name comes from: 0 = line 4 of WORK.LST in the current\n"
    "     directory, 1 = typed; answer 1, then type the name\n"
    "  2. the point-list file's name\n"
    "Names keep only their first 20 characters and are taken relative to the current directory:\n"
    "run flowseries in the result file's folder when its path is longer.\n"
    "\n"
    "Without the dialogue, give the answers on standard input:\n"
    "  printf '1\\nresult.bin\\nPOINTS.LST\\n' | flowseries\n"
    "\n"
    "Point-list file (fixed columns): the limits line (step limit, H, P, Q, V limits, 5 columns\n"
    "each; 0 or blank for 100, 50, 50, 100, 50), then for H, P, Q and V a count (5 columns) and\n"
    "its point numbers, 10 a line in 7 columns each. flowseries-points checks and writes one.\n"
    "\n"
    "Exit status: 0 after a normal run; otherwise the failure's number, with its report on\n"
    "standard error (24 an input ended early, 29 a file not found, 59 or 64 a bad answer or\n"
    "number, 67 a result file record too short, 101-103 a point list that does not fit, and so\n"
    "on); 130, 131, 129 interrupted; 2 for a wrong command line.\n"
    "\n"
    "Manual: man flowseries (and flowseries-points, flowseries-gen, flowseries-plot)\n";

}  // namespace

std::optional<CommandLineAnswer> answer_command_line(std::span<const char* const> arguments) {
  if (arguments.empty()) return std::nullopt;
  const std::string_view first = arguments[0];
  if (arguments.size() == 1 && (first == "--help" || first == "-h")) return {{0, kUsage, ""}};
  if (arguments.size() == 1 && (first == "--version" || first == "-V"))
    return {{0, "flowseries " FLOWSERIES_VERSION "\n", ""}};
  // The first argument that is not understood is named, whatever follows it.
  std::string_view unknown = first;
  for (const std::string_view argument : arguments) {
    if (argument != "--help" && argument != "-h" && argument != "--version" && argument != "-V") {
      unknown = argument;
      break;
    }
  }
  const bool option = !unknown.empty() && unknown[0] == '-';
  return {{2, "",
           "flowseries: " + std::string(option ? "unknown option" : "unexpected argument") + " '" +
               std::string(unknown) +
               "'; it takes no arguments, the answers come from standard input "
               "(see flowseries --help)\n"}};
}

std::optional<int> handle_command_line(int argc, const char* const* argv) {
  const auto answer = answer_command_line(
      std::span<const char* const>(argv + 1, static_cast<std::size_t>(argc - 1)));
  if (!answer) return std::nullopt;
  using platform::StandardStream;
  for (const auto& [stream, text] : {std::pair{StandardStream::kOutput, &answer->output},
                                     std::pair{StandardStream::kError, &answer->error}}) {
    std::string_view rest = *text;
    while (!rest.empty()) {
      const auto n =
          platform::write_some(platform::standard_stream(stream), rest.data(), rest.size());
      if (n.count <= 0) break;
      rest.remove_prefix(static_cast<std::size_t>(n.count));
    }
  }
  return answer->status;
}

}  // namespace driver
