// The command line: no arguments run the dialogue, --help and --version answer, anything else
// is refused with status 2.
#include "driver/command_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace driver {
namespace {

TEST(CommandLine, AnswersHelpVersionAndRefusesTheRest) {
  struct Case {
    std::vector<const char*> args;
    int status;         // -1: the dialogue runs
    const char* out;    // the start of standard output
    const char* error;  // a part of standard error
  };
  const Case cases[] = {
      {{}, -1, "", ""},
      {{"--help"}, 0, "usage: flowseries", ""},
      {{"-h"}, 0, "usage: flowseries", ""},
      {{"--version"}, 0, "flowseries " FLOWSERIES_VERSION "\n", ""},
      {{"-V"}, 0, "flowseries ", ""},
      {{"--bogus"}, 2, "", "unknown option '--bogus'"},
      {{"result.bin"}, 2, "", "unexpected argument 'result.bin'"},
      {{"--help", "x"}, 2, "", "unexpected argument 'x'"},
      {{"-"}, 2, "", "unknown option '-'"},
  };
  for (const Case& c : cases) {
    const auto answer = answer_command_line(c.args);
    if (c.status < 0) {
      EXPECT_FALSE(answer.has_value());
      continue;
    }
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(answer->status, c.status);
    EXPECT_EQ(answer->output.rfind(c.out, 0), 0u) << answer->output;
    EXPECT_NE(answer->error.find(c.error), std::string::npos) << answer->error;
    if (c.status == 2) {
      EXPECT_TRUE(answer->output.empty());
      EXPECT_NE(answer->error.find("--help"), std::string::npos);
      EXPECT_EQ(std::count(answer->error.begin(), answer->error.end(), '\n'), 1);
    }
  }
}

}  // namespace
}  // namespace driver
