// The tail decoder: whatever the file holds, the loop with the tail decoder stores
// the same values, the same number of steps and ends with the same failure as the loop alone.
#include "series/tail_steps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "driver/work_area.h"
#include "records/failure.h"
#include "series/extraction.h"
#include "testing/test_files.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace series {
namespace {

using testing_support::frame;
using testing_support::frame_with;
using testing_support::le32;
using testing_support::le64;

std::string header_bytes(int n, int m) {
  std::string nodes, links;
  for (int i = 1; i <= n; ++i) nodes += le64(0.5 * i) + le64(100.0 + i);
  for (int j = 1; j <= m; ++j)
    links += le32(j) + le32(-j) + le32(7) + le32(8) + le32(9) + le64(1.0) + le64(2.0);
  return frame(std::string(80, 'T')) + frame(le32(n)) + frame(nodes) + frame(le32(m)) +
         frame(links);
}

std::string node_step(int n, int step) {
  std::string bytes;
  for (int i = 1; i <= n; ++i)
    bytes += le32(1000 + i) + le64(i + 0.25 * step) + le64(-0.5 * i - step);
  return bytes;
}

std::string link_step(int m, int step) {
  std::string bytes;
  for (int j = 1; j <= m; ++j) bytes += le64(10.0 * j + step) + le64(-1.0 * j * step);
  return bytes;
}

std::string head(int step) {
  return frame(le32(step) + le64(300.0 * step));
}

// A file of `steps` plain blocks; `shape` may change the block of step `odd` (or -1: none).
enum class Shape { kPlain, kLongHead, kLongNodeRecord, kNodeRecordInPieces, kShortHead };
std::string result_file(int n, int m, int steps, int odd = -1, Shape shape = Shape::kPlain) {
  std::string bytes = header_bytes(n, m);
  for (int s = 0; s < steps; ++s) {
    const std::string nodes = node_step(n, s);
    if (s != odd || shape == Shape::kPlain) {
      bytes += head(s) + frame(nodes);
    } else if (shape == Shape::kLongHead) {
      bytes += frame(le32(s) + le64(300.0 * s) + "more") + frame(nodes);
    } else if (shape == Shape::kShortHead) {
      // As long as a plain block, but its head holds no time: the loop fails there with 67.
      bytes += frame(le32(s) + "abcd") + frame_with(nodes + "efgh", 20 * n + 4, 20 * n + 4);
    } else if (shape == Shape::kLongNodeRecord) {
      bytes += head(s) + frame(nodes + "surplus!");
    } else {
      const std::size_t half = nodes.size() / 2;
      bytes += head(s) + frame_with(nodes.substr(0, half), -static_cast<std::int32_t>(half), 0) +
               frame_with(nodes.substr(half), static_cast<std::int32_t>(nodes.size() - half), -1);
    }
    bytes += frame(link_step(m, s));
  }
  return bytes;
}

// What the loop stored: the failure it ended with (0: none), the steps and their values.
struct Outcome {
  int failure = 0;
  std::int32_t stored = 0;
  std::vector<std::vector<double>> rows;
  std::int32_t by_helper = 0;
  bool operator==(const Outcome& o) const {
    return failure == o.failure && stored == o.stored && rows == o.rows;
  }
};

// The step loop as the extraction runs it, with or without the helper. With it, the loop starts
// once the helper has stored its first steps and 20 ms more (or, where `wait_for_helper` is
// false, after the 20 ms alone), so that the helper's part of the file is not left to chance.
Outcome read_steps(const std::string& bytes, std::int32_t limit, bool helper,
                   bool wait_for_helper = true) {
  testing_support::TempDir dir;
  records::Channel result = testing_support::channel_over(bytes, records::ChannelKind::kBinary);
  Outcome out;
  out.rows.resize(static_cast<std::size_t>(limit));
  std::atomic<std::int32_t> by_helper{0};
  out.failure = testing_support::failure_of([&] {
    const inputs::ResultHeader header = inputs::read_result_header(result);
    const std::int32_t n = header.nodes(), m = header.links();
    inputs::StepBuffers step;
    inputs::prepare_step_buffers(step, header, std::vector<std::int32_t>{1, n, 2, 60000},
                                 std::vector<std::int32_t>{m, 1});
    const auto row = [&](const inputs::StepBuffers& b) {
      return std::vector<double>{b.time,  b.p[0],
                                 b.p[1],  b.q[static_cast<std::size_t>(n > 0 ? n - 1 : 0)],
                                 b.va[0], b.vb[static_cast<std::size_t>(m > 0 ? m - 1 : 0)]};
    };
    std::unique_ptr<TailSteps> tail;
    if (helper) {
      tail = std::make_unique<TailSteps>(
          result, header, step, limit,
          [&](const inputs::StepBuffers& b, std::int32_t s) {
            out.rows[static_cast<std::size_t>(s)] = row(b);
            by_helper.fetch_add(1);
          },
          TailOptions{0, 1});
      const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      while (wait_for_helper && by_helper.load() == 0 && std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    while (true) {
      if (tail) out.stored = tail->next_step(result, out.stored);
      if (!inputs::read_step_block(result, n, m, step)) break;
      if (out.stored == limit) break;
      out.rows[static_cast<std::size_t>(out.stored)] = row(step);
      ++out.stored;
    }
  });
  out.by_helper = by_helper.load();
  if (out.failure != 0) out.stored = 0;
  out.rows.resize(static_cast<std::size_t>(out.stored));
  return out;
}

TEST(TailSteps, StoresWhatTheLoopAloneStores) {
  struct Case {
    const char* name;
    std::string bytes;
    std::int32_t limit = 100;
    bool helper_stores = true;  // false: the helper's first block is not plain
  };
  const std::string plain = result_file(3, 2, 60);
  std::vector<Case> cases = {
      {"plain blocks", plain},
      {"a step limit below the steps", plain, 25},
      {"a step limit one below the steps", plain, 59},
      {"a step limit at the steps", plain, 60},
      {"three stray bytes at the end", plain + "abc"},
      {"a step head at the end", plain + head(60)},
      {"no nodes", result_file(0, 2, 50)},
      {"no links", result_file(4, 0, 50)},
      // Records so long that the loop reads only their picks, the helper the whole block.
      {"long records", result_file(4000, 3000, 30)},
      // A block that is longer than a plain one moves every later block: the helper finds no
      // plain block where it looks, and the loop reads every step.
      {"a longer step head among the first steps", result_file(3, 2, 60, 1, Shape::kLongHead), 100,
       false},
      {"a longer node record among the last steps",
       result_file(3, 2, 60, 50, Shape::kLongNodeRecord), 100, false},
      {"a node record in pieces among the last steps",
       result_file(3, 2, 60, 45, Shape::kNodeRecordInPieces), 100, false},
      // One as long as a plain block: the helper stores the steps behind it, the loop reads up
      // to it and fails there.
      {"a damaged block among the last steps", result_file(3, 2, 60, 45, Shape::kShortHead)},
      {"a damaged block in the last step", result_file(3, 2, 60, 59, Shape::kShortHead), 100,
       false},
  };
  // Files cut anywhere in their last block; with 500 nodes the read-ahead grows for the node
  // records, with 4000 the loop reads only the picks of the long records; the cut is the end of
  // the file or a read error depending on where it falls.
  for (const int n : {3, 500, 4000}) {
    const std::string whole = result_file(n, 2, 40);
    const std::size_t block = 20 + 28 + 20 * static_cast<std::size_t>(n) + 8 + 32;
    for (std::size_t cut = 1; cut < block; cut += block / 13)
      cases.push_back({"a file cut in its last block", whole.substr(0, whole.size() - cut)});
  }
  std::vector<int> failures;
  for (const Case& c : cases) {
    const Outcome alone = read_steps(c.bytes, c.limit, false);
    const Outcome helped = read_steps(c.bytes, c.limit, true, c.helper_stores);
    EXPECT_EQ(helped, alone) << c.name << ": " << helped.stored << " steps against " << alone.stored
                             << ", failure " << helped.failure << " against " << alone.failure;
    EXPECT_EQ(helped.by_helper > 0, c.helper_stores) << c.name;
    failures.push_back(alone.failure);
  }
  // The cuts reach both failures that a cut step block can end with.
  EXPECT_NE(std::find(failures.begin(), failures.end(), records::kEndOfFile), failures.end());
  EXPECT_NE(std::find(failures.begin(), failures.end(), records::kReadError), failures.end());
}

#ifndef _WIN32
// A file the system does not hold in memory is read front to back by the loop alone: the helper
// does not read it backwards from the disk.
TEST(TailSteps, LeavesAFileOnTheDiskToTheLoop) {
  testing_support::TempDir dir;
  records::Channel result =
      testing_support::channel_over(result_file(3, 2, 100000), records::ChannelKind::kBinary);
  const int fd = static_cast<int>(result.handle);
  ASSERT_EQ(::fsync(fd), 0);
  ASSERT_EQ(::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED), 0);
  const inputs::ResultHeader header = inputs::read_result_header(result);
  inputs::StepBuffers step;
  inputs::prepare_step_buffers(step, header, std::vector<std::int32_t>{1}, {});
  std::atomic<int> stored{0};
  {
    TailSteps tail(
        result, header, step, 100000,
        [&](const inputs::StepBuffers&, std::int32_t) { stored.fetch_add(1); },
        TailOptions{0, 4096});
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(stored.load(), 0);
}
#endif

// The whole step loop, with the helper taking part in any file: the same series as without.
TEST(TailSteps, StoreStepsStoresTheSameWithAndWithoutTheHelper) {
  testing_support::TempDir dir;
  const std::string bytes = result_file(7, 3, 3000);
  std::vector<std::vector<double>> tables;
  for (const std::uint64_t min_bytes : {std::uint64_t{0}, UINT64_MAX}) {
    records::Channel result = testing_support::channel_over(bytes, records::ChannelKind::kBinary);
    const inputs::ResultHeader header = inputs::read_result_header(result);
    records::Channel point_list;
    point_list.number = records::kPointListChannel;
    inputs::Limits limits{5000, 3, 2, 2, 2};
    driver::WorkArea area = driver::size_work_area(limits, point_list);
    SeriesTables& t = area.tables;
    t.h_list[0] = 1, t.h_list[1] = 7, t.h_list[2] = 3;
    t.p_list[0] = 2, t.p_list[1] = 0;
    t.q_list[0] = 7, t.q_list[1] = 1;
    t.v_list[0] = 3, t.v_list[1] = 1;
    EXPECT_EQ(store_steps(result, header, {3, 2, 2, 2}, t, TailOptions{min_bytes, 4096}), 3000);
    for (const std::span<double> table : {t.time, t.h, t.p, t.q, t.v})
      tables.emplace_back(table.begin(), table.end());
  }
  EXPECT_EQ(std::vector(tables.begin(), tables.begin() + 5),
            std::vector(tables.begin() + 5, tables.end()));
}

}  // namespace
}  // namespace series
