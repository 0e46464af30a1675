// The failure reports: catalogue texts, the report line, the stack table and the interrupt's
// report.
#include "records/failure.h"

#include <gtest/gtest.h>

#include <string>

#include "records/channel.h"
#include "records/interrupt.h"

namespace records {
namespace {

Failure caught(int number, const Channel* channel, int os_error = 0) {
  try {
    if (channel == nullptr) raise_failure(number);
    raise_failure(number, channel->number, channel->path, os_error);
  } catch (const Failure& failure) {
    return failure;
  }
  return Failure(0, false, 0, "", 0);
}

TEST(ReportLine, FillsTheCatalogueText) {
  Channel console_in;
  console_in.number = kConsoleInputChannel;
  console_in.path = "CONIN$";
  Channel result;
  result.number = kResultChannel;
  result.path = "/tmp/run/res.bin";
  struct Case {
    int number;
    const Channel* channel;
    const char* line;
  };
  const Case cases[] = {
      {24, &console_in, "flowseries: severe (24): end-of-file during read, unit -4, file CONIN$"},
      {59, &console_in,
       "flowseries: severe (59): list-directed I/O syntax error, unit -4, file CONIN$"},
      {67, &result,
       "flowseries: severe (67): input statement requires too much data, unit 7, file "
       "/tmp/run/res.bin"},
      {98, &result,
       "flowseries: severe (98): cannot allocate memory for the file buffer - out of memory, "
       "unit 7, file /tmp/run/res.bin"},
      {41, nullptr, "flowseries: severe (41): insufficient virtual memory"},
      {179, nullptr,
       "flowseries: severe (179): Cannot allocate array - overflow on array size calculation."},
      {101, &result,
       "flowseries: severe (101): point count exceeds its limit, unit 7, file /tmp/run/res.bin"},
  };
  for (const Case& c : cases) EXPECT_EQ(report_line(caught(c.number, c.channel)), c.line);
}

TEST(FormatReport, PutsTheSystemsLineFirstAndTheStackTableLast) {
  Channel result;
  result.number = kResultChannel;
  result.path = "/x/dir";
  const int code = platform::disk_full_error();
  const std::string report = format_report(caught(kOpenFailure, &result, code));
  EXPECT_EQ(
      report.rfind(
          "flowseries: " + platform::error_text(code) +
              "\r\n"
              "flowseries: severe (30): open failure, unit 7, file /x/dir\r\n"
              "Image              PC        Routine            Line        Source             \r\n",
          0),
      0u)
      << report;
  EXPECT_GT(report.size(), 300u);  // at least one row under the heading
  const std::string plain = format_report(caught(kEndOfFile, &result));
  EXPECT_EQ(plain.rfind("flowseries: severe (24)", 0), 0u);
}

TEST(StackTable, RowsHaveFixedColumns) {
  EXPECT_EQ(stack_table_heading().size(), 79u);
  EXPECT_EQ(stack_table_row("flowseries", 0x1234ABCD, "records::raise_failure"),
            "flowseries         1234ABCD  records::raise_fa     Unknown  Unknown");
  EXPECT_EQ(stack_table_row("a-very-long-module-name.so", 0x123456789, "f"),
            "a-very-long-modul  23456789  f                     Unknown  Unknown");
}

TEST(InterruptReport, NamesTheEventAndEndsWithAFailureStatus) {
  using platform::ConsoleEvent;
  struct Case {
    ConsoleEvent event;
    const char* name;
    int status;
  };
  const Case cases[] = {{ConsoleEvent::kInterruptKey, "control-C", 130},
                        {ConsoleEvent::kBreakKey, "control-BREAK", 131},
                        {ConsoleEvent::kWindowClosed, "window-CLOSE", 129},
                        {ConsoleEvent::kTerminate, "SIGTERM", 143}};
  for (const Case& c : cases) {
    char buffer[512];
    const std::size_t n = format_interrupt_report(buffer, sizeof buffer, c.event, 0x12345ABC);
    const std::string text(buffer, n);
    EXPECT_EQ(text, std::string("flowseries: error (200): program aborting due to ") + c.name +
                        " event\r\n" + std::string(stack_table_heading()) + "\r\n" +
                        stack_table_row(platform::program_module_name(), 0x12345ABC, "Unknown") +
                        "\r\n");
    EXPECT_EQ(interrupt_exit_status(c.event), c.status) << c.name;
  }
}

}  // namespace
}  // namespace records
