// Header and step-block reading: table sizes, counts the records cannot hold, and the same
// values whether a record comes whole or in pieces.
#include "inputs/result_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "records/failure.h"
#include "testing/test_files.h"

namespace inputs {
namespace {

using testing_support::failure_of;
using testing_support::frame;
using testing_support::frame_with;
using testing_support::le32;
using testing_support::le64;

std::string title() {
  return std::string(format::kTitleBytes, 'T');
}

std::string header_bytes(std::int32_t n, std::int32_t m, int nodes_written, int links_written) {
  std::string nodes, links;
  for (int i = 1; i <= nodes_written; ++i) nodes += le64(0.5 * i) + le64(100.0 + i);
  for (int j = 1; j <= links_written; ++j)
    links += le32(j) + le32(-j) + le32(7) + le32(8) + le32(9) + le64(1.0) + le64(2.0);
  return frame(title()) + frame(le32(n)) + frame(nodes) + frame(le32(m)) + frame(links);
}

std::string node_step(int n, int step) {
  std::string bytes;
  for (int i = 1; i <= n; ++i) bytes += le32(1000 + i) + le64(i + 0.25 * step) + le64(-0.5 * i);
  static_assert(format::kNodeStepEntry == 4 + 8 + 8 && format::kPOffset == 4);
  return bytes;
}

std::string link_step(int m, int step) {
  std::string bytes;
  for (int j = 1; j <= m; ++j) bytes += le64(10.0 * j + step) + le64(-1.0 * j);
  static_assert(format::kLinkStepEntry == 8 + 8 && format::kVaOffset == 0);
  return bytes;
}

records::Channel result_over(const std::string& bytes) {
  return testing_support::channel_over(bytes, records::ChannelKind::kBinary);
}

TEST(ReadResultHeader, FillsTablesOfAtLeast50000Entries) {
  testing_support::TempDir dir;
  records::Channel c = result_over(header_bytes(3, 2, 3, 2));
  const ResultHeader h = read_result_header(c);
  EXPECT_EQ(std::string(h.title.data(), 80), title());
  EXPECT_EQ(h.node_count, 3);
  EXPECT_EQ(h.link_count, 2);
  EXPECT_EQ(h.node_base.size(), 50000u);
  EXPECT_EQ(h.node_base[2], 103.0);
  EXPECT_EQ(h.node_base[3], 0.0);
  EXPECT_EQ(h.link_k[1][1], -2);
  EXPECT_EQ(h.link_k[4].size(), 50000u);
}

// The tables are the same whether their records come whole (decoded in one pass), in pieces cut
// inside values (read value by value), or longer than their counts need.
TEST(ReadResultHeader, GivesTheSameTablesWholeOrInPieces) {
  testing_support::TempDir dir;
  const int n = 4, m = 3;
  std::string nodes, links;
  for (int i = 1; i <= n; ++i) nodes += le64(0.5 * i) + le64(100.0 + i);
  for (int j = 1; j <= m; ++j)
    links += le32(j) + le32(-j) + le32(7 * j) + le32(8) + le32(9) + le64(1.0) + le64(2.0);
  const std::string head = frame(title()) + frame(le32(n));
  const std::string whole = head + frame(nodes) + frame(le32(m)) + frame(links);
  const std::string pieces = head + frame_with(nodes.substr(0, 21), -21, 21) +
                             frame(nodes.substr(21)) + frame(le32(m)) +
                             frame_with(links.substr(0, 50), -50, -50) + frame(links.substr(50));
  const std::string longer =
      head + frame(nodes + "extra") + frame(le32(m)) + frame(links + std::string(36, 'x'));
  const ResultHeader expected = [&] {
    records::Channel c = result_over(whole);
    return read_result_header(c);
  }();
  EXPECT_EQ(expected.node_a[3], 2.0);
  EXPECT_EQ(expected.node_base[3], 104.0);
  EXPECT_EQ(expected.link_k[2][2], 21);
  for (const std::string* bytes : {&pieces, &longer}) {
    records::Channel c = result_over(*bytes);
    const ResultHeader h = read_result_header(c);
    EXPECT_EQ(h.node_a, expected.node_a);
    EXPECT_EQ(h.node_base, expected.node_base);
    EXPECT_EQ(h.link_k, expected.link_k);
    EXPECT_EQ(h.link_count, m);
  }
}

TEST(ReadResultHeader, HandlesCountsOfEveryKind) {
  testing_support::TempDir dir;
  struct Case {
    const char* name;
    std::string bytes;
    int failure;
    std::size_t node_entries;
  };
  const Case cases[] = {
      {"no nodes, no links", header_bytes(0, 0, 0, 0), 0, 50000},
      {"negative counts read no entries", header_bytes(-5, -1, 0, 0), 0, 50000},
      {"more than 50000 nodes", header_bytes(60000, 1, 60000, 1), 0, 60000},
      {"a node table that cannot hold N", header_bytes(2000000000, 0, 2, 0), records::kTooMuchData,
       0},
      {"a link table that cannot hold M", header_bytes(1, 2000000000, 1, 3), records::kTooMuchData,
       0},
      {"header ends after the title", frame(title()), records::kEndOfFile, 0},
      {"title of 79 bytes", frame(std::string(79, 'T')), records::kTooMuchData, 0},
      // One entry short of the count: the last entry does not fit.
      {"a node table one entry short", header_bytes(3, 1, 2, 1), records::kTooMuchData, 0},
      {"a link table one entry short", header_bytes(1, 3, 1, 2), records::kTooMuchData, 0},
      // In pieces the entries are taken one by one: the third is not there.
      {"a link table in pieces one entry short",
       frame(title()) + frame(le32(0)) + frame("") + frame(le32(3)) +
           frame_with(std::string(40, 'k'), -40, 40) + frame(std::string(32, 'k')),
       records::kTooMuchData, 0},
      {"a link table one byte short",
       frame(title()) + frame(le32(0)) + frame("") + frame(le32(1)) + frame(std::string(35, 'k')),
       records::kTooMuchData, 0},
  };
  for (const Case& c : cases) {
    records::Channel channel = result_over(c.bytes);
    ResultHeader h;
    EXPECT_EQ(failure_of([&] { h = read_result_header(channel); }), c.failure) << c.name;
    if (c.failure == 0) {
      EXPECT_EQ(h.node_base.size(), c.node_entries) << c.name;
    }
  }
}

TEST(ReadStepBlock, GivesTheSameValuesWholeOrInPieces) {
  testing_support::TempDir dir;
  const int n = 5, m = 3;
  const std::string whole = header_bytes(n, m, n, m) + frame(le32(1) + le64(60.0)) +
                            frame(node_step(n, 1)) + frame(link_step(m, 1));
  const std::string nodes = node_step(n, 1), links = link_step(m, 1);
  // The node record in three pieces cut inside values; the step head in two.
  const std::string pieces =
      header_bytes(n, m, n, m) + frame_with(le32(1) + le64(60.0).substr(0, 2), -6, 6) +
      frame(le64(60.0).substr(2)) + frame_with(nodes.substr(0, 13), -13, 13) +
      frame_with(nodes.substr(13, 30), -30, -30) + frame(nodes.substr(43)) + frame(links);
  for (const std::string* bytes : {&whole, &pieces}) {
    records::Channel c = result_over(*bytes);
    const ResultHeader h = read_result_header(c);
    StepBuffers step;
    const std::int32_t node_points[] = {5, 2, 0, 70000, 2};
    const std::int32_t link_points[] = {3};
    prepare_step_buffers(step, h, node_points, link_points);
    ASSERT_TRUE(read_step_block(c, h.nodes(), h.links(), step));
    EXPECT_EQ(step.time, 60.0);
    EXPECT_EQ(step.p[4], 5.25);
    EXPECT_EQ(step.q[1], -1.0);
    EXPECT_EQ(step.va[2], 31.0);
    EXPECT_EQ(step.vb[2], -3.0);
    EXPECT_EQ(step.p[5], 0.0);
    EXPECT_FALSE(read_step_block(c, h.nodes(), h.links(), step));
  }
}

TEST(ReadStepBlock, FailsOnShortOrMissingRecords) {
  testing_support::TempDir dir;
  const int n = 2, m = 2;
  const std::string head = frame(le32(1) + le64(0.0));
  struct Case {
    const char* name;
    std::string steps;
    int failure;
  };
  const Case cases[] = {
      {"node record one byte short",
       head + frame(node_step(n, 0).substr(1)) + frame(link_step(m, 0)), records::kTooMuchData},
      {"link record 8 bytes short",
       head + frame(node_step(n, 0)) + frame(link_step(m, 0).substr(8)), records::kTooMuchData},
      {"file ends after the step head", head, records::kEndOfFile},
      {"file ends after the node record", head + frame(node_step(n, 0)), records::kEndOfFile},
      {"longer records are fine",
       head + frame(node_step(n, 0) + "xx") + frame(link_step(m, 0) + "y"), 0},
  };
  for (const Case& c : cases) {
    records::Channel channel = result_over(header_bytes(n, m, n, m) + c.steps);
    const ResultHeader h = read_result_header(channel);
    StepBuffers step;
    const std::int32_t points[] = {1, 2};
    prepare_step_buffers(step, h, points, points);
    EXPECT_EQ(failure_of([&] { read_step_block(channel, h.nodes(), h.links(), step); }), c.failure)
        << c.name;
  }
}

// Long records left on disk give the same values read in place through a mapped view or copied
// by reads (where the system will not map the file, or reads were found quicker), and while the
// first steps try both ways in turn, whatever the spacing of the picks: one, both ends, dense
// runs, and picks farther apart than the reads coalesce.
TEST(ReadStepBlock, LongRecordsGiveTheSameValuesMappedOrRead) {
  testing_support::TempDir dir;
  const int n = 60000, m = 40000;  // 1.2 MB node and 640 KB link records
  const std::string header = header_bytes(n, m, n, m);
  std::string steps;
  for (int s = 0; s < 4; ++s)
    steps += frame(le32(s) + le64(s)) + frame(node_step(n, s)) + frame(link_step(m, s));
  std::vector<std::int32_t> dense, far_apart;
  for (std::int32_t v = 1; v <= 40000; v += 97) dense.push_back(v);
  for (std::int32_t v = 7; v <= 40000; v += 3001) far_apart.push_back(v);
  const std::vector<std::int32_t> lists[] = {{1}, {1, 40000}, dense, far_apart, {20000, 3, 20000}};
  enum Mode { kMapped, kRead, kTried };
  for (const Mode mode : {kMapped, kRead, kTried}) {
    for (const std::vector<std::int32_t>& points : lists) {
      records::Channel c = result_over(header + steps);
      c.source = mode == kRead ? platform::make_plain_source(c.handle)
                               : platform::make_mapped_source(c.handle, mode == kMapped);
      const ResultHeader h = read_result_header(c);
      StepBuffers step;
      prepare_step_buffers(step, h, points, points);
      for (int s = 0; s < 4; ++s) {
        ASSERT_TRUE(read_step_block(c, h.nodes(), h.links(), step));
        for (const std::int32_t v : points) {
          const std::size_t i = static_cast<std::size_t>(v - 1);
          ASSERT_EQ(step.p[i], v + 0.25 * s) << mode << " " << v;
          ASSERT_EQ(step.q[i], -0.5 * v) << mode << " " << v;
          ASSERT_EQ(step.va[i], 10.0 * v + s) << mode << " " << v;
          ASSERT_EQ(step.vb[i], -1.0 * v) << mode << " " << v;
        }
      }
      EXPECT_FALSE(read_step_block(c, h.nodes(), h.links(), step));
    }
  }
}

// A step head in pieces that the file cuts after a complete piece: the step is void and the step
// sequence ends cleanly, wherever the cut falls.
TEST(ReadStepBlock, AStepHeadCutBetweenItsPiecesIsTheEnd) {
  testing_support::TempDir dir;
  const std::string step =
      frame(le32(1) + le64(0.0)) + frame(node_step(1, 0)) + frame(link_step(1, 0));
  const std::string heads[] = {
      frame_with(le32(2), -4, 4),                                  // the time never comes
      frame_with(le32(2) + le64(1.0), -12, 12),                    // all values, a piece missing
      frame_with(le32(2), -4, 4) + frame_with(le64(1.0), -8, -8),  // two pieces, a third missing
  };
  for (const std::string& head : heads) {
    records::Channel c = result_over(header_bytes(1, 1, 1, 1).append(step).append(head));
    const ResultHeader h = read_result_header(c);
    StepBuffers buffers;
    const std::int32_t points[] = {1};
    prepare_step_buffers(buffers, h, points, points);
    int steps = 0;
    EXPECT_EQ(failure_of([&] {
                while (read_step_block(c, h.nodes(), h.links(), buffers)) ++steps;
              }),
              0);
    EXPECT_EQ(steps, 1);
  }
}

// The simulation may still be writing the file, or a copy may be cut while it is read: a file that
// shrinks ends the run with a failure report, one that grows is read on, never a crash.
TEST(ReadStepBlock, SurvivesAFileThatChangesWhileItIsRead) {
  testing_support::TempDir dir;
  const int n = 60000, m = 10;  // node records of 1.2 MB: read whole at first, then on disk
  std::string steps;
  for (int s = 0; s < 6; ++s)
    steps += frame(le32(s) + le64(s)) + frame(node_step(n, s)) + frame(link_step(m, s));
  const std::string header = header_bytes(n, m, n, m);
  for (const std::size_t keep : {header.size() + steps.size() / 2, header.size() + 3}) {
    records::Channel c = result_over(header + steps);
    const ResultHeader h = read_result_header(c);
    StepBuffers step;
    const std::int32_t points[] = {1, 30000, 60000};
    prepare_step_buffers(step, h, points, points);
    std::filesystem::resize_file("input.bin", keep);
    const int failure = failure_of([&] {
      while (read_step_block(c, h.nodes(), h.links(), step)) {
      }
    });
    // Where the shorter file now ends decides: a clean end, the end of file, or a read error.
    EXPECT_TRUE(failure == 0 || failure == records::kReadError || failure == records::kEndOfFile)
        << failure;
  }
  records::Channel c = result_over(header + steps);
  const ResultHeader h = read_result_header(c);
  StepBuffers step;
  const std::int32_t points[] = {60000};
  prepare_step_buffers(step, h, points, points);
  int read = 0;
  for (; read < 6; ++read) ASSERT_TRUE(read_step_block(c, h.nodes(), h.links(), step));
  testing_support::write_file("input.bin", header + steps + steps.substr(0, steps.size() / 6));
  EXPECT_TRUE(read_step_block(c, h.nodes(), h.links(), step));
  EXPECT_EQ(step.p[59999], 60000 + 0.0);
  EXPECT_FALSE(read_step_block(c, h.nodes(), h.links(), step));
}

}  // namespace
}  // namespace inputs
