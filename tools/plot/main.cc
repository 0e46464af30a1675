// flowseries-plot: draws one of flowseries' series files as an SVG line chart.
//
//   flowseries-plot SERIES.CSV [OUTPUT.svg]
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "plot/series_csv.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::cerr << "usage: flowseries-plot SERIES.CSV [OUTPUT.svg]\n";
    return 2;
  }
  const std::string input = argv[1];
  std::string output = argc == 3 ? argv[2] : input.substr(0, input.rfind('.')) + ".svg";
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
  const auto table = plot::parse_series(text.str(), links, &error);
  if (!table) {
    std::cerr << input << ": not a series file: " << error << "\n";
    return 1;
  }
  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  out << plot::render_svg(*table, base);
  if (!out.flush()) {
    std::perror(output.c_str());
    return 1;
  }
  std::cout << output << "\n";
  return 0;
}
