// The failure catalogue and the one exception that ends a run: every failed open, read, write,
// conversion or allocation throws it, and the entry point reports it once.
#pragma once

#include <array>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

namespace records {

enum class Severity { kSevere, kError };

struct CatalogueEntry {
  int number;
  Severity severity;
  std::string_view text;  // "%d" takes the channel number, "%s" the file or event name
};

// Failure numbers that callers name; the catalogue holds their texts.
inline constexpr int kPermissionDenied = 9;
inline constexpr int kEndOfFile = 24;
inline constexpr int kFileNotFound = 29;
inline constexpr int kOpenFailure = 30;
inline constexpr int kWriteError = 38;
inline constexpr int kReadError = 39;
inline constexpr int kNoMemory = 41;
inline constexpr int kNoSuchDevice = 42;
inline constexpr int kBadFileName = 43;
inline constexpr int kSyntaxError = 59;
inline constexpr int kConversionError = 64;
inline constexpr int kTooMuchData = 67;
inline constexpr int kNoBufferMemory = 98;
inline constexpr int kCountTooLarge = 101;
inline constexpr int kPointOutsideTables = 102;
inline constexpr int kNegativeLimit = 103;
inline constexpr int kSizeOverflow = 179;
inline constexpr int kInterrupted = 200;

// Null when the number is not in the catalogue.
const CatalogueEntry* find_catalogue_entry(int number);

// Carries the failure number that becomes the exit status, where it happened, the operating
// system's error code when the system refused the operation, and the active calls at the throw.
class Failure : public std::exception {
 public:
  static constexpr int kMaxFrames = 48;

  Failure(int number, bool has_channel, int unit, std::string file, int os_error);

  int number() const { return number_; }
  bool has_channel() const { return has_channel_; }
  int unit() const { return unit_; }
  const std::string& file() const { return file_; }
  int os_error() const { return os_error_; }  // 0 when the system gave no code
  const char* what() const noexcept override { return "run ended by a failure"; }

  int frame_count() const { return frame_count_; }
  void* frame(int i) const { return frames_[i]; }

 private:
  int number_;
  bool has_channel_;
  int unit_;
  std::string file_;
  int os_error_;
  int frame_count_ = 0;
  std::array<void*, kMaxFrames> frames_{};
};

// Ends the run with the catalogue entry `number` on unit `unit`, whose resolved path is `path`;
// `os_error` is the operating system's own code when the system refused the operation (0: none).
[[noreturn]] void raise_failure(int number, int unit, std::string_view path, int os_error = 0);
// For the failures that name no channel (41, 179).
[[noreturn]] void raise_failure(int number);

// The normal end of a run, once the driver has returned: every channel has been closed by its
// owner and nothing more is written. Returns the exit status, 0.
int end_run();

// The report line alone, without its line end: "flowseries: severe (24): end-of-file ...".
std::string report_line(const Failure& failure);

// The whole report as written to standard error: the operating system's line when there is an
// error code, the report line and the stack table, each line ending with CR LF.
std::string format_report(const Failure& failure);

// Writes the report to standard error; a report that cannot be written is lost.
void report_failure(const Failure& failure);

// The fixed heading of the stack table, 79 columns.
std::string_view stack_table_heading();

// One row of the stack table for a code address; module and routine are cut to 17 columns.
std::string stack_table_row(std::string_view module, std::uintptr_t address,
                            std::string_view routine);

}  // namespace records
