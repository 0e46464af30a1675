// flowseries-plot: draws one of flowseries' series files as an SVG line chart.
//
//   flowseries-plot [--points LIST] SERIES.CSV [OUTPUT.svg]
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "plot/series_csv.h"

namespace {

constexpr const char* kUsage =
    "usage: flowseries-plot [--points LIST] SERIES.CSV [OUTPUT.svg]\n"
    "\n"
    "Draws a series file of flowseries (HTIME.CSV, PTIME.CSV, QTIME.csv, VTIME.csv) as an SVG\n"
    "line chart: one line per column over time, a legend naming each node or link. The chart\n"
    "goes to OUTPUT.svg, by default the input's name with .svg; its name is printed.\n"
    "\n"
    "  --points LIST   draw only these point numbers, comma-separated (5,17,120); a link's\n"
    "                  number draws both its va and vb\n"
    "  -h, --help      this text\n"
    "  -V, --version   the program's version\n"
    "\n"
    "Exit status: 0 when the chart was written, 1 when a file could not be read or written or\n"
    "is not a series file, 2 for a wrong command line. Manual: man flowseries-plot\n";

// The quantity a file holds, from its name: the value axis's label.
std::string quantity_of(std::string_view base) {
  const char kind = base.empty() ? ' ' : static_cast<char>(base[0] & ~0x20);
  switch (kind) {
    case 'H':
      return "H (base + p)";
    case 'P':
      return "P (p)";
    case 'Q':
      return "Q (q)";
    case 'V':
      return "V (va, vb)";
    default:
      return "value";
  }
}

std::vector<std::string> split_list(std::string_view list) {
  std::vector<std::string> items;
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    const std::string_view item = list.substr(0, comma);
    if (!item.empty()) items.emplace_back(item);
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return items;
}

int wrong_usage(const std::string& what) {
  std::cerr << "flowseries-plot: " << what << " (see flowseries-plot --help)\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  // Messages carry the same bytes on every system.
  platform::prepare_process();
  std::vector<std::string> files;
  std::vector<std::string> points;
  bool pick = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::cout << kUsage;
      return 0;
    }
    if (arg == "-V" || arg == "--version") {
      std::cout << "flowseries-plot " FLOWSERIES_VERSION "\n";
      return 0;
    }
    if (arg == "--points") {
      if (i + 1 >= argc) return wrong_usage("--points needs a list of point numbers");
      points = split_list(argv[++i]);
      pick = true;
    } else if (arg.rfind("--points=", 0) == 0) {
      points = split_list(arg.substr(9));
      pick = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return wrong_usage("unknown option '" + arg + "'");
    } else {
      files.push_back(arg);
    }
  }
  if (files.empty() || files.size() > 2)
    return wrong_usage("one series file, and optionally the output");
  const std::string input = files[0];
  const std::string output =
      files.size() == 2 ? files[1] : input.substr(0, input.rfind('.')) + ".svg";
  std::ifstream in(input, std::ios::binary);
  if (!in) {
    std::perror(input.c_str());
    return 1;
  }
  std::ostringstream text;
  text << in.rdbuf();
  const std::string base = input.substr(input.find_last_of('/') + 1);
  const bool links = base.rfind("VTIME", 0) == 0 || base.rfind("vtime", 0) == 0;
  std::string error;
  auto table = plot::parse_series(text.str(), links, &error);
  if (!table) {
    std::cerr << input << ": not a series file: " << error << "\n";
    return 1;
  }
  if (pick) {
    *table = plot::select_points(*table, points);
    if (table->columns.empty()) {
      std::cerr << input << ": holds none of the points asked for\n";
      return 1;
    }
  }
  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  out << plot::render_svg(*table, base, quantity_of(base));
  if (!out.flush()) {
    std::perror(output.c_str());
    return 1;
  }
  std::cout << output << "\n";
  return 0;
}
