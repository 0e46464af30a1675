// The POSIX system layer: how names are made absolute, and which failure each errno gives.
#include <gtest/gtest.h>

#include <signal.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <tuple>

#include "records/channel.h"
#include "records/failure.h"
#include "records/platform.h"
#include "testing/test_files.h"

namespace records::platform {
namespace {

TEST(PosixNames, AreJoinedToTheCurrentDirectoryAsTyped) {
  testing_support::TempDir dir;
  const std::string& cwd = dir.path();
  const std::pair<std::string, std::string> cases[] = {
      {"res.bin", cwd + "/res.bin"},
      {"res.bin\t", cwd + "/res.bin\t"},  // a tab is a byte of a POSIX name
      {"/abs/name", "/abs/name"},
      {"sub/../x", cwd + "/sub/../x"},  // not normalised: the report shows the name as typed
      {"RES.BIN.", cwd + "/RES.BIN."},
  };
  for (const auto& [name, path] : cases) EXPECT_EQ(absolute_path(name), path) << name;
}

TEST(PosixOpenFailures, FollowTheErrorCode) {
  struct Case {
    int error;
    bool must_exist;
    int failure;
  };
  const Case cases[] = {
      {ENOENT, true, kFileNotFound},      {ENOENT, false, kOpenFailure},
      {ENOTDIR, true, kFileNotFound},     {EACCES, true, kPermissionDenied},
      {EPERM, false, kPermissionDenied},  {EROFS, false, kPermissionDenied},
      {ENAMETOOLONG, true, kBadFileName}, {EILSEQ, false, kBadFileName},
      {ENXIO, true, kNoSuchDevice},       {ENODEV, false, kNoSuchDevice},
      {EISDIR, true, kOpenFailure},       {EMFILE, false, kOpenFailure},
  };
  for (const Case& c : cases)
    EXPECT_EQ(open_failure_number(c.error, c.must_exist), c.failure) << c.error;
}

TEST(PosixOpenFailures, ADirectoryIsAnOpenFailureWithItsOwnText) {
  testing_support::TempDir dir;
  std::filesystem::create_directory("adir");
  const Opened opened = open_file(dir.file("adir"), false, true);
  EXPECT_EQ(opened.handle, kNoHandle);
  EXPECT_EQ(opened.failure, kOpenFailure);
  EXPECT_EQ(opened.os_error, EISDIR);
  EXPECT_EQ(error_text(EISDIR), "Is a directory");
}

TEST(PosixConsoleEvents, EachSignalIsOneEvent) {
  const std::tuple<int, bool, ConsoleEvent> cases[] = {
      {SIGINT, true, ConsoleEvent::kInterruptKey},
      {SIGQUIT, true, ConsoleEvent::kBreakKey},
      {SIGHUP, true, ConsoleEvent::kWindowClosed},
      {SIGTERM, false, {}},
      {SIGPIPE, false, {}},
  };
  for (const auto& [signal, handled, expected] : cases) {
    ConsoleEvent event{};
    EXPECT_EQ(console_event_of(signal, event), handled) << signal;
    if (handled) {
      EXPECT_EQ(event, expected) << signal;
    }
  }
}

}  // namespace
}  // namespace records::platform
