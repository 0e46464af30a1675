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

// Another program cuts the file while it is mapped: the bytes past the new end read as zeros and
// the run ends with the read failure, as a read would have; the process lives on.
TEST(ReadScattered, AFileCutWhileMappedIsAReadFailure) {
  testing_support::TempDir dir;
  Channel c = testing_support::channel_over(std::string(3 * 65536, 'x'), ChannelKind::kBinary);
  c.source = platform::make_mapped_source(c.handle, true);
  const std::byte* view = read_scattered(c, 0, 3 * 65536).data();
  if (view == c.scattered.data()) GTEST_SKIP() << "no mappings of files on this system";
  EXPECT_EQ(view[70000], std::byte{'x'});
  std::filesystem::resize_file("input.bin", 4096);
  const std::byte past_the_end = static_cast<const volatile std::byte*>(view)[2 * 65536];
  EXPECT_EQ(past_the_end, std::byte{0});
  EXPECT_EQ(view[100], std::byte{'x'});
  EXPECT_EQ(failure_of([&] { check_not_cut(c); }), kReadError);
  // Nor do the next bytes come before the cut is reported.
  EXPECT_EQ(failure_of([&] { read_scattered(c, 3 * 65536 - 1, 1); }), kReadError);
}

}  // namespace
}  // namespace records
