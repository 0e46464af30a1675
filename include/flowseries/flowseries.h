// flowseries as a library: the result file of a network flow simulation and the series files
// that flowseries writes, read from C++ with the program's own reader (continued records, the
// same checks, the same failures).
//
//   flowseries::ResultFile result = flowseries::ResultFile::open("RESULT.BIN");
//   flowseries::Series h = result.series(flowseries::Quantity::kH, {5, 17});
//   for (std::size_t s = 0; s < h.times.size(); ++s)
//     std::printf("%g %g %g\n", h.times[s], h.at(s, 0), h.at(s, 1));
//
// Link with flowseries::flowseries (CMake: find_package(flowseries)) or `pkg-config flowseries`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace flowseries {

// A failure: the number flowseries would end with (24 end of file, 29 not found, 39 read error,
// 67 a record shorter than its content, ...), the file it happened in, and what() is the report
// line flowseries writes ("flowseries: severe (39): error during read, unit 7, file ...").
class Error : public std::exception {
 public:
  Error(int number, std::string path, std::string report);
  int number() const noexcept { return number_; }
  const std::string& path() const noexcept { return path_; }
  const char* what() const noexcept override { return report_.c_str(); }

 private:
  int number_;
  std::string path_;
  std::string report_;
};

// What a series holds per node (H = base + p, P = p, Q = q) or per link (Va, Vb).
enum class Quantity { kH, kP, kQ, kVa, kVb };

// Values of steps by points: values[s * points.size() + c] is point c at step s.
struct Series {
  std::vector<double> times;         // one per step
  std::vector<std::int32_t> points;  // one per column, as asked (a file's header, as written)
  std::vector<double> values;
  bool links = false;  // read back from VTIME.csv: columns va, vb of each link
  std::string damage;  // read_series_file with `partial`: where the file stops being whole

  double at(std::size_t step, std::size_t column) const {
    return values[step * points.size() + column];
  }
};

class ResultFile {
 public:
  // Reads the header; Error where flowseries would end (29 not found, 24, 67, ...).
  static ResultFile open(const std::string& path);
  ResultFile(ResultFile&&) noexcept;
  ResultFile& operator=(ResultFile&&) noexcept;
  ~ResultFile();

  const std::string& path() const;   // as resolved (absolute)
  const std::string& title() const;  // the 80 bytes of the title record, as written
  std::int32_t node_count() const;   // N, M as written (a negative count holds no entries)
  std::int32_t link_count() const;
  // The node table (a, base) and the link table (k1 to k5, t = 0..4), one entry per node or link.
  std::vector<double> node_a() const;
  std::vector<double> node_base() const;
  std::vector<std::int32_t> link_k(int t) const;

  // The times of the steps, read once with one pass over the file (the step heads only).
  const std::vector<double>& times();

  // The series of the listed points (1-based node numbers, or link numbers for kVa and kVb) at
  // every step, or at the first `max_steps`; one pass over the file, reading only the values
  // asked for. A point of 0 or less, or above N or M, gives zeros, as in the program's files.
  // Memory: the steps times the points asked for.
  Series series(Quantity quantity, const std::vector<std::int32_t>& points,
                std::int64_t max_steps = -1);

 private:
  struct State;
  explicit ResultFile(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

// A series file that flowseries wrote (HTIME.CSV, PTIME.CSV, QTIME.csv, VTIME.csv) read back:
// continuation lines joined, the trailing comma dropped, three-digit exponents, NaN and Infinity
// read as numbers; in a file whose name contains VTIME (any case) the header's link numbers stand
// twice (va, then vb). Text that is not of the form flowseries writes (a value cut short by a
// killed run, a stray byte, a last line without its line end) is damage: Error naming its line
// and column, or with `partial` the rows before it, with Series::damage saying what was found.
Series read_series_file(const std::string& path, bool partial = false);

// What the program does after its dialogue: reads the result file and the point-list file and
// writes the series files, byte for byte as flowseries writes them, into `folder` (which must
// exist). Error with the failure the program would end with.
void extract(const std::string& result_path, const std::string& points_path,
             const std::string& folder);

}  // namespace flowseries
