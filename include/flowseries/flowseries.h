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

// The figures of one quantity over a run, one entry per point: the steps read, the NaN values
// among them, the lowest and highest value (NaN left out, infinities taking part) with the time of
// the first step holding it, and the mean of the values that are not NaN (from a sum kept in
// three parts, correctly rounded but for the most cancelling sums). Where every value is NaN the
// figures and the mean are NaN.
struct Statistics {
  std::vector<std::int32_t> points;
  std::vector<std::int64_t> steps, nan;
  std::vector<double> min, time_of_min, max, time_of_max, mean;
  // "complete", or "cut" where the file ends inside a step (the figures are those of the
  // complete steps before it).
  std::string status;
};

// What a result file holds, from one pass over its step heads.
struct Info {
  std::string title;
  std::int32_t nodes = 0, links = 0;
  std::int64_t steps = 0;                       // complete steps
  double first_time = 0, last_time = 0;         // NaN without steps
  double min_time_step = 0, max_time_step = 0;  // NaN with fewer than two steps
  std::int64_t times_not_increasing = 0;        // steps whose time is not above the one before
  std::int64_t continued_steps = 0;             // steps with a record in pieces
  bool complete = true;                         // false: cut after `steps` complete steps
  std::string cut;                              // where and how it is cut ("" when complete)
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

  // The times of the steps, read once with one pass over the file (the step heads only). A file
  // cut inside a step gives the times of its complete steps, and times_cut() says so.
  const std::vector<double>& times();
  bool times_cut();

  // The series of the listed points (1-based node numbers, or link numbers for kVa and kVb) at
  // every step, or at the first `max_steps`; one pass over the file, reading only the values
  // asked for. A point of 0 or less, or above N or M, gives zeros, as in the program's files.
  // Memory: the steps times the points asked for.
  Series series(Quantity quantity, const std::vector<std::int32_t>& points,
                std::int64_t max_steps = -1);
  // The same for steps first, first + stride, ... up to last (1-based, inclusive; last < 0: to
  // the end); the values of the other steps are not read.
  Series series(Quantity quantity, const std::vector<std::int32_t>& points, std::int64_t first_step,
                std::int64_t last_step, std::int64_t stride);

  // The statistics of `quantity` at the listed points (empty: every node or link) over steps
  // first to last (1-based, inclusive; last < 0: to the end), in one pass that reads only the
  // values asked for. A point above the tables' capacity is Error 102, as in the program.
  Statistics statistics(Quantity quantity, const std::vector<std::int32_t>& points = {},
                        std::int64_t first_step = 1, std::int64_t last_step = -1);

  // What the file holds (one pass over the step heads).
  Info info();

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
