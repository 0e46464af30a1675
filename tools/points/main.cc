// flowseries-points: checks a point-list file the way flowseries reads it, or writes one.
//
//   flowseries-points check FILE [--result RESULT]
//   flowseries-points make [--steps S] [--h LIST] [--p LIST] [--q LIST] [--v LIST]
//                          [--limits S,H,P,Q,V] [--crlf]

#include <charconv>
#include <cstdint>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "points/point_file.h"

namespace {

constexpr const char* kUsage =
    "usage: flowseries-points check FILE [--result RESULT] [--strict]\n"
    "       flowseries-points make [--result RESULT | --steps S] [--h LIST] [--p LIST]\n"
    "                              [--q LIST] [--v LIST] [--limits S,H,P,Q,V] [--crlf]\n"
    "\n"
    "check  reads FILE exactly as flowseries reads a point-list file and prints what it takes\n"
    "       from it: the five limits after defaults, each count and list with its line numbers,\n"
    "       and warnings where the text reads differently than it looks (a number spanning two\n"
    "       fields, digits split by blanks, a sign in the middle, text that is never read, a\n"
    "       point number of 0 or less). With --result, point numbers above the result file's\n"
    "       N nodes or M links are pointed out too (they read 0.0).\n"
    "       Exit status 0 when flowseries accepts the file; otherwise the failure number it\n"
    "       would end with, its report line on standard error. With --strict (for batch use)\n"
    "       an accepted file with warnings exits with 1.\n"
    "make   writes a point-list file to standard output: the lists (comma-separated point\n"
    "       numbers) 10 a line in 7 columns, limits raised to fit them unless --limits gives\n"
    "       them, the step limit from --steps, or with --result the result file's complete\n"
    "       steps (points it does not hold are refused); without either the default 100, said\n"
    "       on standard error. LF line ends, or CR LF with --crlf.\n"
    "\n"
    "  -h, --help      this text\n"
    "  -V, --version   the program's version\n"
    "\n"
    "Exit status 2 for a wrong command line or a file that make cannot write correctly.\n"
    "Manual: man flowseries-points\n";

int wrong_usage(const std::string& what) {
  std::cerr << "flowseries-points: " << what << " (see flowseries-points --help)\n";
  return 2;
}

bool parse_number(std::string_view text, std::int32_t& value) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

bool parse_list(std::string_view text, std::vector<std::int32_t>& list) {
  list.clear();
  if (text.empty()) return true;
  while (true) {
    const std::size_t comma = text.find(',');
    std::int32_t v = 0;
    if (!parse_number(text.substr(0, comma), v)) return false;
    list.push_back(v);
    if (comma == std::string_view::npos) return true;
    text.remove_prefix(comma + 1);
  }
}

int check(const std::vector<std::string>& args) {
  std::string file;
  std::optional<std::string> result;
  bool strict = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--strict") {
      strict = true;
    } else if (args[i] == "--result") {
      if (i + 1 >= args.size()) return wrong_usage("--result needs a result file");
      result = args[++i];
    } else if (args[i].rfind("--result=", 0) == 0) {
      result = args[i].substr(9);
    } else if (args[i].size() > 1 && args[i][0] == '-') {
      return wrong_usage("unknown option '" + args[i] + "' for check");
    } else if (file.empty()) {
      file = args[i];
    } else {
      return wrong_usage("check takes one file");
    }
  }
  if (file.empty()) return wrong_usage("check needs the point-list file");
  const points::CheckResult r = points::check_point_list(file, result);
  std::cout << r.output << std::flush;
  if (r.status != 0) std::cerr << r.report << "\n";
  if (r.status == 0 && strict && r.warnings > 0) {
    std::cerr << "flowseries-points: " << r.warnings << " warning" << (r.warnings == 1 ? "" : "s")
              << " (--strict)\n";
    return 1;
  }
  return r.status;
}

int make(const std::vector<std::string>& args) {
  points::MakeOptions options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i], value;
    if (const std::size_t eq = name.find('=');
        name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
    } else if (name == "--crlf") {
      options.crlf = true;
      continue;
    } else if (name == "--lf") {
      options.crlf = false;
      continue;
    } else {
      if (i + 1 >= args.size()) return wrong_usage(name + " needs a value");
      value = args[++i];
    }
    const char* const series[] = {"--h", "--p", "--q", "--v"};
    bool known = false;
    for (int s = 0; s < 4; ++s)
      if (name == series[s]) {
        if (!parse_list(value, options.lists[s]))
          return wrong_usage(
              name.append(" takes comma-separated point numbers, not '").append(value).append("'"));
        known = true;
      }
    if (known) continue;
    if (name == "--result") {
      options.result = value;
    } else if (name == "--steps") {
      std::int32_t steps = 0;
      if (!parse_number(value, steps)) return wrong_usage("--steps takes a number");
      options.steps = steps;
    } else if (name == "--limits") {
      std::vector<std::int32_t> limits;
      if (!parse_list(value, limits) || limits.size() != 5)
        return wrong_usage("--limits takes five numbers: S,H,P,Q,V");
      options.limits = limits;
    } else {
      return wrong_usage("unknown option '" + name + "' for make");
    }
  }
  std::string error, note;
  const auto text = points::make_point_list(options, &error, &note);
  if (!text) {
    std::cerr << "flowseries-points: " << error << "\n";
    return 2;
  }
  if (!note.empty()) std::cerr << "flowseries-points: " << note << "\n";
  std::cout << *text << std::flush;
  return std::cout ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  // The list is written with exactly the line ends asked for, on every system.
  platform::prepare_process();
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return wrong_usage("say check or make");
  if (args[0] == "-h" || args[0] == "--help") {
    std::cout << kUsage;
    return 0;
  }
  if (args[0] == "-V" || args[0] == "--version") {
    std::cout << "flowseries-points " FLOWSERIES_VERSION "\n";
    return 0;
  }
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (args[0] == "check") return check(rest);
  if (args[0] == "make") return make(rest);
  return wrong_usage("unknown command '" + args[0] + "'");
}
