// Reducing long series to what a line chart of a given width draws: per pixel column (a time
// bucket), the first, lowest, highest and last point of each series (M4 aggregation). A line
// drawn through those points covers the same pixels as the line through every point: inside a
// column the line only goes up and down between the lowest and the highest value, and it enters
// and leaves the column at the first and the last point.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace plot {

// A point of a line; a NaN value breaks the line there (a field that is not a number).
struct Point {
  double t;
  double v;
};
using Polyline = std::vector<Point>;

class M4Reducer {
 public:
  // `series` lines over [t0, t1], in `buckets` buckets of equal length.
  M4Reducer(std::size_t series, std::size_t buckets, double t0, double t1);

  // The next step's time and values, one per series; steps come in order of time.
  void add(double t, const std::vector<double>& values);
  // Each series' reduced line.
  std::vector<Polyline> finish();

 private:
  struct Extreme {
    std::uint64_t step = 0;
    Point point{0, 0};
  };
  // A stretch of a line without a break, inside one bucket.
  struct Run {
    std::size_t points = 0;
    Extreme first, low, high, last;
    void add(std::uint64_t step, Point p);
  };
  struct Bucket {
    std::int64_t index = -1;
    Run before;  // the run before the first break
    bool broken = false;
    Run between;  // the runs between the first and the last break, as one extent
    Run run;      // the run since the last break
  };

  std::int64_t bucket_of(double t) const;
  static void emit_run(const Run& run, Polyline& line);
  void close(Bucket& bucket, Polyline& line);

  std::size_t buckets_;
  double t0_, t1_;
  std::uint64_t step_ = 0;
  std::vector<Bucket> open_;
  std::vector<Polyline> lines_;
};

}  // namespace plot
