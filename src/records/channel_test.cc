// Opening files: name resolution, open modes and the failure of each refusal; cutting a
// rewritten file behind its new contents.
#include "records/channel.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "records/failure.h"
#include "testing/test_files.h"

namespace records {
namespace {

using testing_support::failure_of;

TEST(ResolveName, TrimsBlanksAndNulsAndMakesThePathAbsolute) {
  testing_support::TempDir dir;
  const std::string& cwd = dir.path();
  struct Case {
    std::string name;
    std::string path;
  };
  const Case cases[] = {
      {"res.bin             ", cwd + "/res.bin"},
      {"   res.bin   ", cwd + "/res.bin"},
      {std::string("res.bin\0\0  \0", 12), cwd + "/res.bin"},
      {"my res.bin", cwd + "/my res.bin"},
      {"res.bin\t", cwd + "/res.bin\t"},
      {"/abs/name  ", "/abs/name"},
      {"sub/../x", cwd + "/sub/../x"},
      {"      ", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(resolve_name(c.name), c.path) << c.name;
}

TEST(OpenChannel, ReportsEachRefusal) {
  testing_support::TempDir dir;
  ::mkdir("adir", 0755);
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
  struct stat info {};
  EXPECT_EQ(::stat("created", &info), 0);
  EXPECT_EQ(info.st_size, 0);
}

TEST(OpenChannel, OpenFailureCarriesTheSystemsErrorCode) {
  testing_support::TempDir dir;
  ::mkdir("adir", 0755);
  try {
    open_channel(kResultChannel, "adir", ChannelKind::kBinary, OpenMode::kMustExist);
    FAIL() << "opened a directory";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.number(), kOpenFailure);
    EXPECT_EQ(failure.os_error(), EISDIR);
    EXPECT_EQ(failure.file(), dir.path() + "/adir");
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

}  // namespace
}  // namespace records
