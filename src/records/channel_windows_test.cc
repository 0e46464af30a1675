// Opens that Windows refuses end with the failure the catalogue gives their system error.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "records/channel.h"
#include "records/failure.h"
#include "testing/test_files.h"

namespace records {
namespace {

TEST(WindowsOpenFailures, RefusedOpensEndWithTheirFailure) {
  testing_support::TempDir dir;
  std::filesystem::create_directory("adir");
  testing_support::write_file("there", "x");
  // A drive letter that names no drive on this machine.
  std::string missing_drive;
  for (char letter = 'Q'; letter >= 'G' && missing_drive.empty(); --letter) {
    const char root[] = {letter, ':', '\\', '\0'};
    if (GetDriveTypeA(root) == DRIVE_NO_ROOT_DIR) missing_drive = std::string(1, letter) + ":";
  }
  ASSERT_FALSE(missing_drive.empty());
  struct Case {
    std::string name;
    OpenMode mode;
    int failure;
  };
  const Case cases[] = {
      {"missing", OpenMode::kMustExist, kFileNotFound},
      {"nodir\\missing", OpenMode::kMustExist, kFileNotFound},
      {"nodir\\new.csv", OpenMode::kCreateIfMissing, kOpenFailure},
      {"adir", OpenMode::kMustExist, kOpenFailure},
      {"adir", OpenMode::kCreateIfMissing, kOpenFailure},
      {missing_drive + "\\r.bin", OpenMode::kMustExist, kNoSuchDevice},
      {missing_drive + "\\HTIME.CSV", OpenMode::kCreateIfMissing, kNoSuchDevice},
      {"bad|name", OpenMode::kMustExist, kBadFileName},
      {"what?.bin", OpenMode::kCreateIfMissing, kBadFileName},
      {"tab\there", OpenMode::kMustExist, kBadFileName},
      {std::string("a\0b", 3), OpenMode::kCreateIfMissing, kBadFileName},
      {std::string(300, 'n'), OpenMode::kCreateIfMissing, kBadFileName},
      {"THERE", OpenMode::kMustExist, 0},  // names are not case-sensitive
      {"there.", OpenMode::kMustExist, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(testing_support::failure_of(
                  [&] { open_channel(kPointListChannel, c.name, ChannelKind::kText, c.mode); }),
              c.failure)
        << c.name.substr(0, 40);
}

}  // namespace
}  // namespace records
