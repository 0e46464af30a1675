// The byte sources behind a channel's reads at offsets: every source gives the plain source's
// bytes wherever the range falls, and a file cut under a mapping ends the run as a read would.
#include "platform/byte_source.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "testing/test_files.h"

namespace platform {
namespace {

std::string patterned_bytes(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131) ^ (i >> 9));
  return bytes;
}

std::string_view text_of(std::span<const std::byte> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// Inside a window, across windows, longer than a window, up to the end, past the end, back to
// the start; the file's bytes or as many as it holds there, in either kind of access.
TEST(ByteSources, GiveThePlainSourcesBytesWhereverTheRangeFalls) {
  testing_support::TempDir dir;
  constexpr std::size_t kMiB = std::size_t{1} << 20;
  const std::size_t size = 17 * kMiB + 123457;
  const std::string bytes = patterned_bytes(size);
  testing_support::write_file("input.bin", bytes);
  const Opened file = open_file(dir.file("input.bin"), false, true);
  ASSERT_NE(file.handle, kNoHandle);
  struct Close {
    Handle handle;
    ~Close() { close_file(handle); }
  } close{file.handle};
  struct Range {
    std::uint64_t offset;
    std::size_t n;
  };
  const Range ranges[] = {{5, 100},
                          {8 * kMiB - 8, 16},
                          {70000, 8 * kMiB + 5000},
                          {size - 16, 16},
                          {3, size - 3},
                          {size - 16, 17},
                          {size + 1, 1},
                          {size, 0},
                          {0, 64},
                          {4 * kMiB, 2 * kMiB},
                          {12 * kMiB, 64 * 1024},
                          {9 * kMiB + 1, 1}};
  const struct {
    const char* name;
    std::function<std::unique_ptr<ByteSource>()> make;
  } sources[] = {
      {"plain", [&] { return make_plain_source(file.handle); }},
      {"mapped", [&] { return make_mapped_source(file.handle, true); }},
      {"mapped, timed", [&] { return make_mapped_source(file.handle); }},
      {"in memory only", [&] { return make_cached_source(file.handle); }},
  };
  for (const auto& source : sources) {
    const std::unique_ptr<ByteSource> s = source.make();
    Scratch scratch;
    for (int round = 0; round < 3; ++round) {  // the timed source tries both ways
      for (const Range& r : ranges) {
        for (const Access access : {Access::kSequential, Access::kScattered}) {
          const SourceRead got = s->read(r.offset, r.n, scratch, access);
          const std::string_view expected =
              r.offset < size ? std::string_view(bytes).substr(r.offset, r.n) : std::string_view();
          EXPECT_EQ(got.os_error, 0);
          EXPECT_FALSE(got.cut);
          EXPECT_TRUE(text_of(got.bytes) == expected)
              << source.name << " " << r.offset << " " << r.n << ": " << got.bytes.size()
              << " bytes";
        }
      }
    }
    EXPECT_FALSE(s->cut()) << source.name;
  }
}

}  // namespace
}  // namespace platform
