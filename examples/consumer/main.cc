// A program of one's own that reads a result file with the flowseries library: the time and the
// H series (base + p) of the nodes given, every step.
//
//   consumer RESULT.BIN 5 17
#include <flowseries/flowseries.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: consumer RESULT.BIN NODE...\n");
    return 2;
  }
  try {
    flowseries::ResultFile result = flowseries::ResultFile::open(argv[1]);
    std::vector<std::int32_t> nodes;
    for (int i = 2; i < argc; ++i) nodes.push_back(std::atoi(argv[i]));
    const flowseries::Series h = result.series(flowseries::Quantity::kH, nodes);
    std::printf("%d nodes, %d links, %zu steps\n", result.node_count(), result.link_count(),
                h.times.size());
    for (std::size_t s = 0; s < h.times.size(); ++s) {
      std::printf("%.7E", h.times[s]);
      for (std::size_t c = 0; c < h.points.size(); ++c) std::printf(" %.5E", h.at(s, c));
      std::printf("\n");
    }
  } catch (const flowseries::Error& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return e.number();
  }
  return 0;
}
