// The Windows system layer: how names are spelled once absolute, which failure each GetLastError
// code gives (including codes that no test machine can produce, such as a drive not ready), the
// opens that the system refuses, and the console event handling.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "testing/test_files.h"

namespace platform {
namespace {

TEST(WindowsNames, AreSpelledAsTheSystemResolvesThem) {
  testing_support::TempDir dir;
  const std::string& cwd = dir.path();
  ASSERT_EQ(cwd.substr(1, 2), ":\\") << cwd;
  const std::string drive = cwd.substr(0, 2);
  const std::pair<std::string, std::string> cases[] = {
      {"res.bin", cwd + "\\res.bin"},
      {"sub/x.bin", cwd + "\\sub\\x.bin"},
      {"sub\\..\\x.bin", cwd + "\\x.bin"},
      {"\\abs\\name", drive + "\\abs\\name"},
      {"Q:\\data\\r.bin", "Q:\\data\\r.bin"},
      {"RES.BIN.", cwd + "\\RES.BIN"},  // the system drops a trailing dot
      {std::string("a\0b", 3), cwd + "\\a" + std::string("\0b", 2)},
  };
  for (const auto& [name, path] : cases) EXPECT_EQ(absolute_path(name), path) << name;
}

TEST(WindowsOpenFailures, FollowTheSystemsErrorCode) {
  struct Case {
    DWORD error;
    bool must_exist;
    OpenRefusal failure;
  };
  const Case cases[] = {
      {ERROR_FILE_NOT_FOUND, true, OpenRefusal::kNotFound},
      {ERROR_PATH_NOT_FOUND, true, OpenRefusal::kNotFound},
      {ERROR_FILE_NOT_FOUND, false, OpenRefusal::kOther},  // a series file whose folder is missing
      {ERROR_BAD_NETPATH, true, OpenRefusal::kNotFound},   // a share that cannot be reached
      {ERROR_BAD_NET_NAME, true, OpenRefusal::kNotFound},
      {ERROR_BAD_NETPATH, false, OpenRefusal::kOther},
      {ERROR_ACCESS_DENIED, true, OpenRefusal::kPermission},
      {ERROR_WRITE_PROTECT, false, OpenRefusal::kPermission},
      {ERROR_INVALID_NAME, true, OpenRefusal::kBadName},
      {ERROR_BAD_PATHNAME, false, OpenRefusal::kBadName},
      {ERROR_FILENAME_EXCED_RANGE, false, OpenRefusal::kBadName},
      {ERROR_INVALID_DRIVE, true, OpenRefusal::kNoDevice},
      {ERROR_BAD_UNIT, true, OpenRefusal::kNoDevice},
      {ERROR_NOT_READY, false, OpenRefusal::kNoDevice},
      {ERROR_DEV_NOT_EXIST, true, OpenRefusal::kNoDevice},
      {ERROR_SHARING_VIOLATION, false, OpenRefusal::kOther},  // open in another program
      {ERROR_TOO_MANY_OPEN_FILES, true, OpenRefusal::kOther},
  };
  for (const Case& c : cases)
    EXPECT_EQ(open_refusal(static_cast<int>(c.error), c.must_exist), c.failure) << c.error;
}

TEST(WindowsErrors, AreDescribedInTheSystemsWordsOnOneLine) {
  for (const DWORD code : {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_DISK_FULL,
                           ERROR_INVALID_HANDLE, ERROR_SHARING_VIOLATION}) {
    const std::string text = error_text(static_cast<int>(code));
    EXPECT_FALSE(text.empty()) << code;
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << code;
    EXPECT_NE(text.back(), ' ') << code;
  }
  EXPECT_EQ(error_text(0x7FFFABCD), "system error 2147462093");
}

TEST(WindowsConsoleEvents, EachControlTypeIsOneEvent) {
  struct Case {
    DWORD type;
    bool handled;
    ConsoleEvent event;
  };
  const Case cases[] = {
      {CTRL_C_EVENT, true, ConsoleEvent::kInterruptKey},
      {CTRL_BREAK_EVENT, true, ConsoleEvent::kBreakKey},
      {CTRL_CLOSE_EVENT, true, ConsoleEvent::kWindowClosed},
      {CTRL_LOGOFF_EVENT, false, {}},
      {CTRL_SHUTDOWN_EVENT, false, {}},
  };
  for (const Case& c : cases) {
    ConsoleEvent event{};
    EXPECT_EQ(console_event_of(static_cast<int>(c.type), event), c.handled) << c.type;
    if (c.handled) {
      EXPECT_EQ(event, c.event) << c.type;
    }
  }
}

TEST(WindowsStandardStreams, AreInBinaryModeAndPipesAreNoConsole) {
  prepare_process();
  // No CR is added before LF by the C runtime's streams either.
  EXPECT_EQ(_setmode(1, _O_BINARY), _O_BINARY);
  const testing_support::Pipe pipe = testing_support::make_pipe();
  EXPECT_FALSE(is_console(pipe.read_end));
  EXPECT_FALSE(console_wants_unicode(pipe.write_end));
  EXPECT_EQ(write_some(pipe.write_end, "a\r\nb\n", 5).count, 5);
  testing_support::close_handle(pipe.write_end);
  char got[8];
  EXPECT_EQ(read_some(pipe.read_end, got, sizeof got).count, 5);
  EXPECT_EQ(std::string(got, 5), "a\r\nb\n");
  // A pipe whose writer has gone is at its end, not failing.
  EXPECT_EQ(read_some(pipe.read_end, got, sizeof got).count, 0);
  testing_support::close_handle(pipe.read_end);
}

TEST(WindowsStackTable, NamesTheModuleAndExportedRoutines) {
  const FrameFacts kernel = describe_frame(reinterpret_cast<void*>(&CreateFileA));
  EXPECT_EQ(kernel.symbol.empty(), false);
  void* frames[8];
  const int count = capture_frames(frames, 8);
  ASSERT_GT(count, 1);
  const FrameFacts here = describe_frame(frames[0]);
  EXPECT_EQ(here.module.substr(here.module.size() - 4), ".exe");
  EXPECT_LT(here.offset, 0x10000000u);
}

}  // namespace
}  // namespace platform
