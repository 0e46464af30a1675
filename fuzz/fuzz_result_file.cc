// Arbitrary bytes read as a result file: the header, then the step loop into a small work area,
// once with the helper that stores the last steps and once without. A failure report is a normal
// outcome; a crash, a sanitizer report, a hang, a large allocation, or the two loops storing
// different values or ending differently is a bug.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <utility>
#include <vector>

#include "driver/work_area.h"
#include "inputs/result_file.h"
#include "records/channel.h"
#include "records/failure.h"
#include "series/extraction.h"
#include "testing/test_files.h"

namespace {

struct Outcome {
  int failure = 0;
  std::int32_t stored = 0;
  std::vector<double> values;
};

Outcome run_loop(const std::uint8_t* data, std::size_t size, const series::TailOptions& tail) {
  Outcome out;
  try {
    records::Channel result = testing_support::channel_over_fuzz_input(
        data, size, records::ChannelKind::kBinary, records::kResultChannel);
    const inputs::ResultHeader header = inputs::read_result_header(result);
    records::Channel point_list;
    point_list.number = records::kPointListChannel;
    inputs::Limits limits{4, 3, 2, 2, 2};
    driver::WorkArea area = driver::size_work_area(limits, point_list);
    series::SeriesTables& t = area.tables;
    const std::int32_t n = header.nodes(), m = header.links();
    t.h_list[0] = 1;
    t.h_list[1] = n;
    t.h_list[2] = 50000;
    t.p_list[0] = n / 2 + 1;
    t.p_list[1] = 0;
    t.q_list[0] = n;
    t.q_list[1] = 3;
    t.v_list[0] = m;
    t.v_list[1] = 1;
    const inputs::PointCounts counts{3, 2, 2, 2};
    out.stored = series::store_steps(result, header, counts, t, tail);
    // Steps not stored hold whatever the helper left there: only the stored ones count.
    const std::size_t s = static_cast<std::size_t>(out.stored);
    for (const auto& [table, per_step] :
         {std::pair{t.time, 1}, {t.h, 3}, {t.p, 2}, {t.q, 2}, {t.v, 4}})
      out.values.insert(out.values.end(), table.begin(),
                        table.begin() + static_cast<std::ptrdiff_t>(s * per_step));
  } catch (const records::Failure& failure) {
    out.failure = failure.number();
    out.stored = 0;
    out.values.clear();
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Outcome helped = run_loop(data, size, series::TailOptions{0, 1});
  const Outcome alone = run_loop(data, size, series::TailOptions{UINT64_MAX, 0});
  // NaN values compare unequal to themselves: compare the bits.
  if (helped.failure != alone.failure || helped.stored != alone.stored ||
      helped.values.size() != alone.values.size() ||
      (!helped.values.empty() && std::memcmp(helped.values.data(), alone.values.data(),
                                             helped.values.size() * sizeof(double)) != 0))
    std::abort();
  return 0;
}
