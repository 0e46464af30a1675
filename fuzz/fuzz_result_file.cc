// Arbitrary bytes read as a result file: the header, then the step loop into a small work area.
// A failure report is a normal outcome; a crash, a sanitizer report, a hang or a large
// allocation is a bug.
#include <cstdint>
#include <string>
#include <vector>

#include "driver/work_area.h"
#include "inputs/result_file.h"
#include "records/channel.h"
#include "records/failure.h"
#include "series/extraction.h"
#include "testing/test_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
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
    series::store_steps(result, header, counts, t);
  } catch (const records::Failure&) {
  }
  return 0;
}
