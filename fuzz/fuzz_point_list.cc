// Arbitrary text as a point-list file: the limits line, the work area (skipped when the limits
// ask for more than a fuzzing run should allocate), and the four lists.
#include <cstdint>
#include <string>

#include "driver/work_area.h"
#include "inputs/point_list.h"
#include "records/channel.h"
#include "records/failure.h"
#include "testing/test_files.h"

namespace {

constexpr std::int64_t kMaxPoolBytes = 64 << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    records::Channel point_list = testing_support::channel_over_fuzz_input(
        data, size, records::ChannelKind::kText, records::kPointListChannel);
    inputs::Limits limits = inputs::read_limits_line(point_list);
    inputs::Limits sized = limits;
    driver::apply_default_limits(sized);
    if (sized.steps < 0 || sized.h < 0 || sized.p < 0 || sized.q < 0 || sized.v < 0) {
      driver::size_work_area(limits, point_list);  // the negative-limit failure
      return 0;
    }
    const driver::PoolSizes sizes = driver::pool_sizes(sized);
    if (sizes.reals * 8 + sizes.integers * 4 > kMaxPoolBytes) return 0;
    driver::WorkArea area = driver::size_work_area(limits, point_list);
    const series::SeriesTables& t = area.tables;
    inputs::read_point_lists(point_list, {t.h_list, t.p_list, t.q_list, t.v_list}, 50000, 60000);
  } catch (const records::Failure&) {
  }
  return 0;
}
