// Comparing two runs: two result files walked at once, step by step, or two series files row by
// row. Structure first (title, counts, tables, steps and their times), then every value, with
// tolerances; nothing is cut to the shorter run.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "series/step_walk.h"

namespace diff {

struct Options {
  double rtol = 0, atol = 0;
  bool kinds[5] = {false, true, true, true, true};  // H, P, Q, va, vb: the stored values
  std::optional<std::vector<std::int32_t>> nodes, links;
  series::StepRange range;
  std::size_t top = 10;  // the largest differences kept
};

// One value that differs.
struct Difference {
  int kind = 0;            // 0..4: H, P, Q, va, vb
  std::int32_t point = 0;  // 1-based
  std::int32_t step = 0;   // 1-based
  double time = 0, a = 0, b = 0, abs = 0, rel = 0;
};

struct Outcome {
  std::vector<std::string> structure;  // what differs in the structure, in words
  std::int64_t compared = 0;           // values compared
  std::int64_t counts[5] = {};         // values that differ, per kind
  std::optional<Difference> first, largest_abs, largest_rel;
  std::vector<Difference> worst;  // largest absolute difference first
  bool equal() const;
};

// Whether a equals b within the tolerances: |a - b| <= atol + rtol * |b|; NaN equals NaN, and an
// infinity only the same infinity.
bool same_value(double a, double b, double rtol, double atol);

// Compares two result files. A file that cannot be read ends with the program's failure
// (records::Failure), whichever of the two it is.
Outcome compare_results(const std::string& a, const std::string& b, const Options& options);

// A series file that cannot be read: 29 when it is not there, 39 otherwise (not a series file, or
// damaged), with the words that say why.
struct SeriesFailure : std::runtime_error {
  SeriesFailure(int number, const std::string& what) : std::runtime_error(what), number(number) {}
  int number;
};

// Compares two series files (HTIME.CSV ... VTIME.csv) field by field: the header's points, the
// rows' times and values. A file that cannot be read is a SeriesFailure.
Outcome compare_series(const std::string& a, const std::string& b, const Options& options);

// Whether a file is a series file rather than a result file (its first byte is the header's
// comma).
bool looks_like_series_file(const std::string& path);

}  // namespace diff
