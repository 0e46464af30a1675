// The envelope chart of a statistics file of flowseries-stats: per kind, the lowest and highest
// value (and the mean) against the point number, as engineers draw them along a network.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace plot {

// The header line flowseries-stats writes.
inline constexpr const char* kStatisticsHeader =
    "file,status,kind,point,steps,nan,min,time_of_min,max,time_of_max,mean";

// One kind of one result file: its points in ascending order with their figures (NaN where the
// file gave none).
struct Envelope {
  std::string file, kind;
  std::uint64_t steps = 0;  // the steps behind the figures (the most of any point)
  std::vector<double> points, min, max, mean;
};

// Reads a statistics file whose header line is already read; false, with `error` naming the
// line, for text that is not one. Lines of files that failed carry no figures and are left out.
bool read_envelopes(std::istream& in, std::vector<Envelope>& out, std::string* error);

}  // namespace plot
