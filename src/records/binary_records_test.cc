// The record reader: framing, continued records, and which cut records are the end of the file
// (24, or end_of_file where allowed) and which are read errors (39).
#include "records/binary_records.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "records/failure.h"
#include "testing/test_files.h"

namespace records {
namespace {

using testing_support::failure_of;
using testing_support::frame;
using testing_support::frame_with;
using testing_support::le32;
using testing_support::le64;

Channel binary(const std::string& bytes) {
  return testing_support::channel_over(bytes, ChannelKind::kBinary);
}

// The first int32 of every record up to the end of the file, then the failure the reading ended
// with (0: the file's clean end).
std::vector<std::int32_t> read_leading_ints(Channel& c) {
  std::vector<std::int32_t> seen;
  const int failure = failure_of([&] {
    while (begin_record(c, true) == ReadStatus::kReady) {
      std::int32_t v = 0;
      take_int32(c, true, v);
      end_record(c, true);
      seen.push_back(v);
    }
  });
  seen.push_back(failure);
  return seen;
}

std::int32_t read_int_record(Channel& c) {
  std::int32_t v = 0;
  begin_record(c, false);
  take_int32(c, false, v);
  end_record(c, false);
  return v;
}

TEST(BeginRecord, EndOfFileOutcomes) {
  testing_support::TempDir dir;
  struct Case {
    const char* name;
    std::string bytes;
    bool end_allowed;
    int failure;  // 0: end_of_file returned
  };
  const std::string big(20000, 'x');
  const Case cases[] = {
      {"clean end", frame(le32(1)), true, 0},
      {"clean end, no end allowed", frame(le32(1)), false, kEndOfFile},
      {"one stray byte", frame(le32(1)) + "a", true, 0},
      {"three stray bytes", frame(le32(1)) + "abc", true, 0},
      {"three stray bytes, no end allowed", frame(le32(1)) + "abc", false, kEndOfFile},
      // The whole small file is in the first read-ahead: the cut record is the end of the file.
      {"cut record in a small file", frame(le32(1)) + le32(100) + "short", true, 0},
      {"cut record in a small file, no end allowed", frame(le32(1)) + le32(100) + "short", false,
       kEndOfFile},
      // The cut record starts beyond the first 8192 bytes read: the refill delivers its
      // remaining bytes, and the record is still short: a read error.
      {"cut record past the read-ahead",
       frame(le32(1)) + frame(std::string(8000, 'y')) + le32(5000) + std::string(400, 'z'), true,
       kReadError},
  };
  for (const Case& c : cases) {
    Channel channel = binary(c.bytes);
    const int failure = failure_of([&] {
      EXPECT_EQ(read_int_record(channel), 1) << c.name;
      if (c.name == std::string("cut record past the read-ahead")) {
        begin_record(channel, false);
        end_record(channel, false);
      }
      EXPECT_EQ(begin_record(channel, c.end_allowed), ReadStatus::kEndOfFile) << c.name;
    });
    EXPECT_EQ(failure, c.failure) << c.name;
  }
}

TEST(BeginRecord, ReadsRecordsOfEveryShape) {
  testing_support::TempDir dir;
  const std::string long_payload = std::string(10000, 'L') + le32(42);
  const std::string bytes = frame_with(le32(7), 4, 99)      // trailing marker differs: ignored
                            + frame("")                     // empty record
                            + frame(std::string(100, 'T'))  // longer than the takes
                            + frame(long_payload)           // grows the read-ahead
                            + frame(le32(9));
  Channel c = binary(bytes);
  EXPECT_EQ(read_int_record(c), 7);
  begin_record(c, false);  // a read with no take consumes the empty record
  end_record(c, false);
  char title[80];
  begin_record(c, false);
  take_text(c, false, title, 80);
  end_record(c, false);
  EXPECT_EQ(std::string(title, 80), std::string(80, 'T'));
  begin_record(c, false);
  char skip[10000];
  take_text(c, false, skip, sizeof skip);
  std::int32_t v = 0;
  take_int32(c, false, v);
  EXPECT_EQ(v, 42);
  end_record(c, false);
  EXPECT_EQ(read_int_record(c), 9);
  EXPECT_EQ(begin_record(c, true), ReadStatus::kEndOfFile);
}

TEST(TakeValue, TooLittleDataIs67) {
  testing_support::TempDir dir;
  Channel empty = binary(frame(""));
  EXPECT_EQ(failure_of([&] { read_int_record(empty); }), kTooMuchData);
  Channel short_title = binary(frame(std::string(79, 'T')));
  EXPECT_EQ(failure_of([&] {
              char title[80];
              begin_record(short_title, false);
              take_text(short_title, false, title, 80);
            }),
            kTooMuchData);
}

TEST(ContinuedRecord, ValuesSpanPiecesAndEndRecordSkipsTheRest) {
  testing_support::TempDir dir;
  // A first piece of 12 bytes (int32 and float64) marked -12, then a last piece of 4 bytes.
  const std::string first = le32(5) + le64(2.5);
  const std::string pieces = frame_with(first, -12, 12) + frame_with("abcd", 4, -4);
  {
    Channel c = binary(pieces + frame(le32(77)));
    std::int32_t i = 0;
    double d = 0;
    begin_record(c, false);
    take_int32(c, false, i);
    take_float64(c, false, d);
    end_record(c, false);
    EXPECT_EQ(i, 5);
    EXPECT_EQ(d, 2.5);
    EXPECT_EQ(read_int_record(c), 77);
  }
  {
    Channel c = binary(pieces);
    char text[16];
    begin_record(c, false);
    take_text(c, false, text, 16);
    end_record(c, false);
    EXPECT_EQ(std::string(text, 16), first + "abcd");
  }
  {
    // A value split across the pieces' boundary.
    Channel c = binary(frame_with(le64(6.25).substr(0, 3), -3, 3) + frame(le64(6.25).substr(3)));
    double d = 0;
    begin_record(c, false);
    take_float64(c, false, d);
    end_record(c, false);
    EXPECT_EQ(d, 6.25);
  }
  {
    // The file ends inside a continued record: end_of_file where allowed, else 24.
    Channel c = binary(frame_with(le32(1), -4, 4));
    std::int32_t i = 0;
    double d = 0;
    begin_record(c, true);
    take_int32(c, true, i);
    EXPECT_EQ(take_float64(c, true, d), ReadStatus::kEndOfFile);
  }
  {
    Channel c = binary(frame_with(le32(1), -4, 4));
    EXPECT_EQ(failure_of([&] {
                begin_record(c, false);
                end_record(c, false);
              }),
              kEndOfFile);
  }
}

// Where the read-ahead's edge falls decides nothing about records that are whole in the file:
// each case reads every record of the file and then its clean end.
TEST(BeginRecord, ReadsAcrossEveryEdgeOfTheReadAhead) {
  testing_support::TempDir dir;
  struct Case {
    std::string name;
    std::string bytes;
    std::vector<std::int32_t> values;  // the first int32 of each record, in order
  };
  std::vector<Case> cases;
  // A leading marker in the last 4 bytes of the first 8192 read (or just behind them): a first
  // record of 12 bytes, then a filler record that ends where the marker starts.
  for (std::size_t at : {8188u, 8189u, 8190u, 8191u, 8192u}) {
    cases.push_back(
        {"marker at offset " + std::to_string(at),
         frame(le32(1)) + frame(std::string(at - 12 - 8, 'f')) + frame(le32(2)) + frame(le32(3)),
         {1, 0x66666666, 2, 3}});
  }
  // Takes that end in the first piece of a record with three further pieces: every further piece
  // is skipped and the next record is read from its start.
  cases.push_back({"three further pieces skipped",
                   frame_with(le32(4), -4, 4) + frame_with("ab", -2, -2) +
                       frame_with("cd", -2, -2) + frame_with("ef", 2, -2) + frame(le32(5)),
                   {4, 5}});
  // Stray bytes where a record would start, delivered by the refill after the first one: the
  // three records fill the first 8192 bytes exactly.
  cases.push_back({"stray bytes from a later read",
                   frame(le32(6)) + frame(std::string(8192 - 32, 's')) + frame(le32(7)) + "xy",
                   {6, 0x73737373, 7}});
  for (const Case& c : cases) {
    Channel channel = binary(c.bytes);
    std::vector<std::int32_t> got = read_leading_ints(channel);
    const int failure = got.back();
    got.pop_back();
    EXPECT_EQ(failure, 0) << c.name;
    EXPECT_EQ(got, c.values) << c.name;
  }
}

TEST(BeginRecord, DamagedLengthAllocatesNothingBeyondTheFile) {
  testing_support::TempDir dir;
  struct Case {
    std::int32_t marker;
    bool end_allowed;
    int failure;
  };
  // Small files are wholly in the first read-ahead: a length past the end is the end of the file.
  const Case cases[] = {{INT32_MAX, true, 0},
                        {INT32_MAX, false, kEndOfFile},
                        {INT32_MIN, true, 0},
                        {-2000000000, false, kEndOfFile},
                        {1 << 30, true, 0}};
  for (const Case& c : cases) {
    Channel channel = binary(frame(le32(1)) + le32(c.marker) + "some bytes");
    read_int_record(channel);
    const int failure = failure_of(
        [&] { EXPECT_EQ(begin_record(channel, c.end_allowed), ReadStatus::kEndOfFile); });
    EXPECT_EQ(failure, c.failure) << c.marker;
    EXPECT_LT(channel.in.capacity, 64u << 20) << c.marker;
  }
  // Past the first read-ahead the refill delivers bytes and the record is still short: 39.
  Channel channel = binary(frame(std::string(9000, 'x')) + le32(INT32_MAX) + std::string(100, 'y'));
  begin_record(channel, false);
  end_record(channel, false);
  EXPECT_EQ(failure_of([&] { begin_record(channel, true); }), kReadError);
  EXPECT_LT(channel.in.capacity, 64u << 20);
}

TEST(RecordWindow, ShowsTheWholeRecordWhenItComesInOnePiece) {
  testing_support::TempDir dir;
  Channel c = binary(frame("abcdef") + frame_with("ab", -2, 2) + frame("cd"));
  begin_record(c, false);
  EXPECT_FALSE(record_continued(c));
  const auto window = record_window(c);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(window.data()), window.size()), "abcdef");
  end_record(c, false);
  begin_record(c, false);
  EXPECT_TRUE(record_continued(c));
  end_record(c, false);
  EXPECT_EQ(begin_record(c, true), ReadStatus::kEndOfFile);
}

TEST(BeginRecord, ReadsAFileLongerThanTheReadBufferWhole) {
  testing_support::TempDir dir;
  // 120 records of 100 kB: the real reads move the unread bytes to the front at every chunk.
  std::string bytes;
  for (int i = 0; i < 120; ++i)
    bytes += frame(le32(i) + std::string(100000 - 4, static_cast<char>('a' + i % 26)));
  Channel c = binary(bytes);
  for (int i = 0; i < 120; ++i) {
    std::int32_t v = -1;
    begin_record(c, false);
    take_int32(c, false, v);
    char tail[4];
    skip_in_window(c, 100000 - 4 - 4);
    take_text(c, false, tail, 4);
    end_record(c, false);
    ASSERT_EQ(v, i);
    ASSERT_EQ(std::string(tail, 4), std::string(4, static_cast<char>('a' + i % 26)));
  }
  EXPECT_EQ(begin_record(c, true), ReadStatus::kEndOfFile);
}

// The read-ahead of a regular file is refilled from its byte source: the records read are the
// same whichever source and way each refill took, including long records left on disk, which
// turn the rest of the file into small reads.
TEST(BeginRecord, ReadsTheSameWhicheverSourceRefillsTheReadAhead) {
  testing_support::TempDir dir;
  // 24 MB of records of 2 to 40 kB (several windows and many read-ahead chunks), then records of
  // 100 kB read on demand, then short ones again.
  std::string bytes;
  std::vector<std::int32_t> sizes(1200 + 3 + 50);
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    const auto n = static_cast<std::int32_t>(i);
    sizes[i] = i < 1200 ? 2000 + (n * 7919) % 38000 : i < 1203 ? 100000 : 12 + n - 1203;
  }
  for (std::size_t i = 0; i < sizes.size(); ++i)
    bytes +=
        frame(le32(static_cast<std::int32_t>(i)) +
              std::string(static_cast<std::size_t>(sizes[i]) - 8, static_cast<char>('a' + i % 26)) +
              le32(-static_cast<std::int32_t>(i)));
  struct Case {
    const char* what;
    std::unique_ptr<platform::ByteSource> (*make)(platform::Handle);
  } cases[] = {
      {"reads only", platform::make_plain_source},
      {"in place only", [](platform::Handle h) { return platform::make_mapped_source(h, true); }},
      {"alternating while timed",
       [](platform::Handle h) { return platform::make_mapped_source(h); }}};
  for (const Case& way : cases) {
    Channel c = binary(bytes);
    c.source = way.make(c.handle);
    for (std::size_t i = 0; i < sizes.size(); ++i) {
      const RecordAccess access =
          sizes[i] >= 100000 ? RecordAccess::kOnDemand : RecordAccess::kWhole;
      ASSERT_EQ(begin_record(c, false, access), ReadStatus::kReady) << way.what << " " << i;
      std::int32_t first = -1, last = 1;
      take_int32(c, false, first);
      skip_in_window(c, static_cast<std::size_t>(sizes[i]) - 8);
      take_int32(c, false, last);
      end_record(c, false);
      ASSERT_EQ(first, static_cast<std::int32_t>(i)) << way.what;
      ASSERT_EQ(last, -static_cast<std::int32_t>(i)) << way.what;
    }
    EXPECT_EQ(begin_record(c, true), ReadStatus::kEndOfFile) << way.what;
    EXPECT_EQ(failure_of([&] { check_not_cut(c); }), 0) << way.what;
  }
}

// Another program cuts the file while the read-ahead points into a mapped window: the records
// behind the cut read as zeros there, which would look like a record too short (67); the run
// ends with the read failure that reads would have met.
TEST(BeginRecord, AFileCutUnderTheWindowIsAReadFailure) {
  testing_support::TempDir dir;
  std::string bytes;
  for (int i = 0; i < 100; ++i) bytes += frame(le32(i) + std::string(4000, 'r'));
  Channel c = binary(bytes);
  c.source = platform::make_mapped_source(c.handle, true);
  EXPECT_EQ(read_int_record(c), 0);
  if (c.in.from_source == c.in.scratch.data()) GTEST_SKIP() << "no views of files on this system";
  std::filesystem::resize_file("input.bin", 50000);
  EXPECT_EQ(failure_of([&] {
              for (int i = 1; i < 100; ++i) read_int_record(c);
            }),
            kReadError);
}

// A pipe delivers what its writer has written so far: each refill is one read, so a record that
// is still short after the delivery that follows is a read error, and the closed pipe is the end.
TEST(BeginRecord, ReadsFromAPipeOneDeliveryPerRefill) {
  struct Case {
    const char* name;
    std::vector<std::string> deliveries;
    int failure;
    int records;
  };
  const std::string a = frame(le32(1)), b = frame(le32(2));
  const Case cases[] = {
      {"records in one delivery", {a + b}, 0, 2},
      {"records in two deliveries", {a, b}, 0, 2},
      {"a record completed by the next delivery", {a + b.substr(0, 5), b.substr(5)}, 0, 2},
      {"a record still short after the next delivery",
       {a + b.substr(0, 5), b.substr(5, 3), b.substr(8)},
       kReadError,
       1},
      {"stray bytes at the end", {a + "xy"}, 0, 1},
  };
  for (const Case& c : cases) {
    const testing_support::Pipe pipe = testing_support::make_pipe();
    std::thread writer([&] {
      for (const std::string& delivery : c.deliveries) {
        if (platform::write_some(pipe.write_end, delivery.data(), delivery.size()).count < 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      testing_support::close_handle(pipe.write_end);
    });
    Channel channel = adopt_handle(kResultChannel, "pipe", pipe.read_end, ChannelKind::kBinary);
    int read_records = 0;
    const int failure = failure_of([&] {
      while (begin_record(channel, true) == ReadStatus::kReady) {
        end_record(channel, true);
        ++read_records;
      }
    });
    writer.join();
    testing_support::close_handle(pipe.read_end);
    EXPECT_EQ(failure, c.failure) << c.name;
    EXPECT_EQ(read_records, c.records) << c.name;
  }
}

// Passing over records read some other way leaves the reader exactly where reading them would,
// replayed read-ahead included: which cut record behind them is the end of the file and which a
// read error does not change, and passing over more records than the file holds moves nothing.
TEST(PassRecords, LeavesTheReaderWhereReadingWould) {
  testing_support::TempDir dir;
  const std::vector<std::uint32_t> lengths = {12, 2500, 160};
  std::string blocks;
  for (int k = 0; k < 9; ++k)
    for (const std::uint32_t length : lengths)
      blocks += frame(le32(k) + std::string(length - 4, static_cast<char>('a' + k)));
  std::vector<int> endings;
  for (std::size_t cut = 0; cut < 3100; cut += 97) {
    const std::string bytes = blocks + frame(std::string(3000, 'z')).substr(0, cut);
    Channel whole = binary(bytes);
    std::vector<std::int32_t> expected = read_leading_ints(whole);
    endings.push_back(expected.back());
    for (std::uint64_t passed = 0; passed <= 9; ++passed) {
      Channel c = binary(bytes);
      ASSERT_TRUE(pass_records(c, lengths, passed)) << "cut " << cut << ", passed " << passed;
      EXPECT_EQ(read_leading_ints(c),
                std::vector<std::int32_t>(expected.begin() + 3 * passed, expected.end()))
          << "cut " << cut << ", passed " << passed;
    }
    Channel beyond = binary(bytes);
    EXPECT_FALSE(pass_records(beyond, lengths, 20)) << "cut " << cut;
    EXPECT_EQ(read_leading_ints(beyond), expected) << "cut " << cut;
  }
  // The cuts reach both outcomes.
  EXPECT_NE(std::find(endings.begin(), endings.end(), 0), endings.end());
  EXPECT_NE(std::find(endings.begin(), endings.end(), kReadError), endings.end());
}

}  // namespace
}  // namespace records
