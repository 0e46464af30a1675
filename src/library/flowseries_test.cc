// The library from several threads at once: different files, one file, and a file cut while it
// is read. Run under ThreadSanitizer too (CI).
#include "flowseries/flowseries.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

#include "testing/test_files.h"

namespace {

using testing_support::frame;
using testing_support::le32;
using testing_support::le64;

// Joined with appends (GCC 12 warns wrongly of overlapping copies in chains of additions).
std::string cat(std::initializer_list<std::string> parts) {
  std::string out;
  for (const std::string& part : parts) out.append(part);
  return out;
}

// A result file with long node records (read in place or left on disk) and values that tell the
// node and the step apart.
std::string result_bytes(int nodes, int links, int steps) {
  std::string out = cat({frame(std::string(80, 'T')), frame(le32(nodes))});
  std::string table;
  for (int i = 0; i < nodes; ++i) table.append(le64(0.5 * i)).append(le64(10.0 + i));
  out.append(frame(table)).append(frame(le32(links)));
  table.clear();
  for (int j = 0; j < links; ++j) {
    for (int k = 0; k < 5; ++k) table.append(le32(j + k));
    table.append(le64(1.0)).append(le64(2.0));
  }
  out += frame(table);
  for (int s = 0; s < steps; ++s) {
    out.append(frame(cat({le32(s + 1), le64(60.0 * s)})));
    std::string node, link;
    for (int i = 0; i < nodes; ++i)
      node.append(le32(i)).append(le64(i + 0.001 * s)).append(le64(-i - 0.5 * s));
    for (int j = 0; j < links; ++j) link.append(le64(j * 2.0 + s)).append(le64(-j * 1.0));
    out.append(frame(node)).append(frame(link));
  }
  return out;
}

struct Read {
  std::vector<double> h, q;
  std::vector<double> max;
};

Read read_all(const std::string& path) {
  flowseries::ResultFile file = flowseries::ResultFile::open(path);
  Read r;
  r.h = file.series(flowseries::Quantity::kH, {1, 777, 20000}).values;
  r.q = file.series(flowseries::Quantity::kQ, {5}, 3, 27, 4).values;
  r.max = file.statistics(flowseries::Quantity::kVa).max;
  return r;
}

TEST(LibraryThreads, ReadTheSameFromEveryThread) {
  testing_support::TempDir dir;
  const std::string bytes = result_bytes(20000, 40, 30);
  for (int f = 0; f < 4; ++f)
    testing_support::write_file(dir.file(cat({"r", std::to_string(f)})), bytes);
  const Read expected = read_all(dir.file("r0"));
  ASSERT_EQ(expected.h.size(), 90u);
  ASSERT_EQ(expected.q.size(), 7u);  // steps 3, 7, ..., 27
  EXPECT_EQ(expected.q[1], -4 - 0.5 * 6);
  for (const int threads : {2, 4}) {
    for (const bool one_file : {false, true}) {
      std::vector<Read> got(static_cast<std::size_t>(threads));
      std::vector<std::thread> running;
      running.reserve(static_cast<std::size_t>(threads));
      for (int t = 0; t < threads; ++t)
        running.emplace_back([&, t] {
          got[static_cast<std::size_t>(t)] =
              read_all(dir.file(cat({"r", std::to_string(one_file ? 0 : t)})));
        });
      for (std::thread& t : running) t.join();
      for (const Read& r : got) {
        EXPECT_EQ(r.h, expected.h) << threads << one_file;
        EXPECT_EQ(r.q, expected.q) << threads << one_file;
        EXPECT_EQ(r.max, expected.max) << threads << one_file;
      }
    }
  }
}

// A file cut by another program while threads read it: each read gives whole steps or the
// program's read failure, never a crash.
TEST(LibraryThreads, AFileCutWhileThreadsReadIt) {
  testing_support::TempDir dir;
  const std::string bytes = result_bytes(20000, 40, 30);
  const std::string path = dir.file("cut.bin");
  for (int round = 0; round < 3; ++round) {
    testing_support::write_file(path, bytes);
    const Read whole = read_all(path);
    std::atomic<int> failures{0};
    std::vector<std::thread> readers;
    readers.reserve(4);
    for (int t = 0; t < 4; ++t)
      readers.emplace_back([&] {
        try {
          const Read r = read_all(path);
          EXPECT_LE(r.h.size(), whole.h.size());
          EXPECT_TRUE(std::equal(r.h.begin(), r.h.end(), whole.h.begin()));
        } catch (const flowseries::Error& e) {
          EXPECT_TRUE(e.number() == 24 || e.number() == 39) << e.what();
          ++failures;
        }
      });
    std::filesystem::resize_file(path, bytes.size() / (2 + round));
    for (std::thread& t : readers) t.join();
  }
}

}  // namespace
