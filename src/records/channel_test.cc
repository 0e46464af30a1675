// Opening files: name resolution, open modes and the failure of each refusal; cutting a
// rewritten file behind its new contents.
#include "records/channel.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "records/failure.h"
#include "testing/test_files.h"

namespace records {
namespace {

using testing_support::failure_of;

// Bytes that differ from their neighbours, so that a copy from a wrong offset does not compare
// equal.
std::string patterned_bytes(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131) ^ (i >> 9));
  return bytes;
}

TEST(ResolveName, TrimsBlanksAndNulsAndMakesThePathAbsolute) {
  testing_support::TempDir dir;
  struct Case {
    std::string name;
    std::string path;
  };
  // How the system itself spells absolute names is in the platform's own tests.
  const Case cases[] = {
      {"res.bin             ", dir.file("res.bin")},
      {"   res.bin   ", dir.file("res.bin")},
      {std::string("res.bin\0\0  \0", 12), dir.file("res.bin")},
      {"my res.bin", dir.file("my res.bin")},
      {"      ", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(resolve_name(c.name), c.path) << c.name;
}

TEST(OpenChannel, ReportsEachRefusal) {
  testing_support::TempDir dir;
  std::filesystem::create_directory("adir");
  testing_support::write_file("there", "x");
  struct Case {
    std::string name;
    OpenMode mode;
    int failure;
  };
  const Case cases[] = {
      {"missing", OpenMode::kMustExist, kFileNotFound},
      {"nodir/missing", OpenMode::kMustExist, kFileNotFound},
      {"there/below", OpenMode::kMustExist, kFileNotFound},
      {"    ", OpenMode::kMustExist, kFileNotFound},
      {"    ", OpenMode::kCreateIfMissing, kFileNotFound},
      {"adir", OpenMode::kMustExist, kOpenFailure},
      {"adir", OpenMode::kCreateIfMissing, kOpenFailure},
      {std::string("a\0b", 3), OpenMode::kCreateIfMissing, kBadFileName},
      {std::string(5000, 'n'), OpenMode::kCreateIfMissing, kBadFileName},
      {"there", OpenMode::kMustExist, 0},
      {"created", OpenMode::kCreateIfMissing, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(
        failure_of([&] { open_channel(kPointListChannel, c.name, ChannelKind::kText, c.mode); }),
        c.failure)
        << c.name.substr(0, 40);
  EXPECT_TRUE(std::filesystem::exists("created"));
  EXPECT_EQ(std::filesystem::file_size("created"), 0u);
}

TEST(OpenChannel, OpenFailureCarriesTheSystemsErrorCode) {
  testing_support::TempDir dir;
  std::filesystem::create_directory("adir");
  try {
    open_channel(kResultChannel, "adir", ChannelKind::kBinary, OpenMode::kMustExist);
    FAIL() << "opened a directory";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.number(), kOpenFailure);
    EXPECT_NE(failure.os_error(), 0);
    EXPECT_EQ(failure.file(), dir.file("adir"));
    EXPECT_EQ(failure.unit(), kResultChannel);
  }
}

TEST(FlushOutput, CutsALongerFileBehindTheNewContents) {
  testing_support::TempDir dir;
  testing_support::write_file("HTIME.CSV", std::string(20000, 'X'));
  Channel c = open_channel(10, "HTIME.CSV", ChannelKind::kText, OpenMode::kCreateIfMissing);
  c.out.append("new\r\n");
  flush_output(c);
  c.out.append("more\r\n");
  close_channel(c);
  EXPECT_EQ(testing_support::read_file("HTIME.CSV"), "new\r\nmore\r\n");
}

// Long reads shared with a helper give the bytes and the outcome of one read, wherever the end of
// the file falls: beyond the range, in its second half, in its first half, or before it.
TEST(SplitReads, GiveWhatOneReadGives) {
  testing_support::TempDir dir;
  const std::size_t size = 3 * kSplitReadMin + 12345;
  const std::string bytes = patterned_bytes(size);
  Channel c = testing_support::channel_over(bytes, ChannelKind::kBinary);
  struct Case {
    std::uint64_t offset;
    std::size_t n;
    bool all;
  };
  const Case cases[] = {
      {0, kSplitReadMin, true},
      {7, 2 * kSplitReadMin + 4097, true},
      {size - kSplitReadMin - 1, kSplitReadMin + 1, true},
      {size - kSplitReadMin, kSplitReadMin + 100, false},  // ends in the second half
      {size - 100, 2 * kSplitReadMin, false},              // ends in the first half
      {size + 5, kSplitReadMin, false},                    // starts past the end
      {kSplitReadMin / 3, kSplitReadMin - 1, true},        // too short to be split
  };
  SplitReads split(c);
  for (int round = 0; round < 3; ++round) {  // one helper serves many reads
    for (const Case& k : cases) {
      std::string got(k.n, 'x');
      const bool all = read_at(c, k.offset, reinterpret_cast<std::byte*>(got.data()), k.n);
      EXPECT_EQ(all, k.all) << k.offset << " " << k.n;
      if (all) {
        EXPECT_TRUE(got == bytes.substr(k.offset, k.n)) << k.offset << " " << k.n;
      }
    }
  }
}

// Views give the file's bytes wherever the range falls: inside a window, across windows, longer
// than a window, up to the end; nothing past the end (the reads report that).
TEST(ViewAt, GivesTheFilesBytesOrNothingPastItsEnd) {
  testing_support::TempDir dir;
  const std::size_t size = 2 * kViewWindow + 123457;
  const std::string bytes = patterned_bytes(size);
  Channel c = testing_support::channel_over(bytes, ChannelKind::kBinary);
  if (view_at(c, 0, 1, false) == nullptr) GTEST_SKIP() << "no views of files on this system";
  struct Case {
    std::uint64_t offset;
    std::size_t n;
    bool given;
  };
  const Case cases[] = {
      {5, 100, true},
      {kViewWindow - 8, 16, true},  // across the first window's end
      {70000, kViewWindow + 5000, true},
      {size - 16, 16, true},
      {3, size - 3, true},
      {size - 16, 17, false},
      {size + 1, 1, false},
      {0, 64, true},  // back to the start
  };
  for (const Case& k : cases) {
    const std::byte* got = view_at(c, k.offset, k.n, k.offset == 3);
    ASSERT_EQ(got != nullptr, k.given) << k.offset << " " << k.n;
    if (got != nullptr) {
      EXPECT_TRUE(std::string_view(reinterpret_cast<const char*>(got), k.n) ==
                  std::string_view(bytes).substr(k.offset, k.n))
          << k.offset << " " << k.n;
    }
  }
  EXPECT_EQ(failure_of([&] { check_viewed(c); }), 0);
}

// Another program cuts the file while it is mapped: the bytes past the new end read as zeros and
// the run ends with the read failure, as a read would have; the process lives on.
TEST(ViewAt, AFileCutWhileMappedIsAReadFailure) {
  testing_support::TempDir dir;
  Channel c = testing_support::channel_over(std::string(3 * 65536, 'x'), ChannelKind::kBinary);
  const std::byte* view = view_at(c, 0, 3 * 65536, false);
  if (view == nullptr) GTEST_SKIP() << "no views of files on this system";
  EXPECT_EQ(view[70000], std::byte{'x'});
  std::filesystem::resize_file("input.bin", 4096);
  const std::byte past_the_end = static_cast<const volatile std::byte*>(view)[2 * 65536];
  EXPECT_EQ(past_the_end, std::byte{0});
  EXPECT_EQ(view[100], std::byte{'x'});
  EXPECT_EQ(failure_of([&] { check_viewed(c); }), kReadError);
  // Nor does the next window come before the cut is reported.
  EXPECT_EQ(failure_of([&] { view_at(c, 3 * 65536, 1, false); }), kReadError);
}

}  // namespace
}  // namespace records
