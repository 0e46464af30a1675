// The POSIX system layer: how names are made absolute, and which failure each errno gives.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <tuple>

#include "platform/platform.h"
#include "testing/test_files.h"

namespace platform {
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
    OpenRefusal failure;
  };
  const Case cases[] = {
      {ENOENT, true, OpenRefusal::kNotFound},      {ENOENT, false, OpenRefusal::kOther},
      {ENOTDIR, true, OpenRefusal::kNotFound},     {EACCES, true, OpenRefusal::kPermission},
      {EPERM, false, OpenRefusal::kPermission},    {EROFS, false, OpenRefusal::kPermission},
      {ENAMETOOLONG, true, OpenRefusal::kBadName}, {EILSEQ, false, OpenRefusal::kBadName},
      {ENXIO, true, OpenRefusal::kNoDevice},       {ENODEV, false, OpenRefusal::kNoDevice},
      {EISDIR, true, OpenRefusal::kOther},         {EMFILE, false, OpenRefusal::kOther},
  };
  for (const Case& c : cases) EXPECT_EQ(open_refusal(c.error, c.must_exist), c.failure) << c.error;
}

TEST(PosixOpenFailures, ADirectoryIsAnOpenFailureWithItsOwnText) {
  testing_support::TempDir dir;
  std::filesystem::create_directory("adir");
  const Opened opened = open_file(dir.file("adir"), false, true);
  EXPECT_EQ(opened.handle, kNoHandle);
  EXPECT_EQ(opened.refusal, OpenRefusal::kOther);
  EXPECT_EQ(opened.os_error, EISDIR);
  EXPECT_EQ(error_text(EISDIR), "Is a directory");
}

TEST(PosixConsoleEvents, EachSignalIsOneEvent) {
  const std::tuple<int, bool, ConsoleEvent> cases[] = {
      {SIGINT, true, ConsoleEvent::kInterruptKey},
      {SIGQUIT, true, ConsoleEvent::kBreakKey},
      {SIGHUP, true, ConsoleEvent::kWindowClosed},
      {SIGTERM, true, ConsoleEvent::kTerminate},
      {SIGXFSZ, false, {}},
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

// Killed by SIGBUS, or ended by the handler that was there before the view's (a sanitizer's).
bool ended_by_bus_error(int status) {
  if (WIFSIGNALED(status)) return WTERMSIG(status) == SIGBUS;
  return WIFEXITED(status) && WEXITSTATUS(status) != 0;
}

// The bus-error handler takes only faults on the view's own pages: a fault on another mapping of
// a cut file, or SIGBUS sent by another process, still ends the process as before.
TEST(PosixViews, OtherBusErrorsStillEndTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  testing_support::TempDir dir;
  testing_support::write_file("f.bin", std::string(3 * 65536, 'x'));
  const Opened opened = open_file(dir.file("f.bin"), false, true);
  ASSERT_EQ(opened.refusal, OpenRefusal::kNone);
  FileView view = map_view(opened.handle, 0, 3 * 65536);
  ASSERT_NE(view.data, nullptr);
  EXPECT_EXIT(kill(getpid(), SIGBUS), ended_by_bus_error, "");
  EXPECT_EXIT(
      {
        void* other =
            mmap(nullptr, 3 * 65536, PROT_READ, MAP_SHARED, static_cast<int>(opened.handle), 0);
        std::filesystem::resize_file("f.bin", 4096);
        std::fprintf(stderr, "%d", static_cast<const volatile char*>(other)[2 * 65536]);
      },
      ended_by_bus_error, "");
  unmap_view(view);
  close_file(opened.handle);
}

}  // namespace
}  // namespace platform
