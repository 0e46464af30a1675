// Failure catalogue, report formatting and the stack table of a report.
#include "records/failure.h"

#include <cxxabi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/platform.h"

namespace records {
namespace {

constexpr std::string_view kProgramTag = "flowseries";

constexpr CatalogueEntry kCatalogue[] = {
    {9, Severity::kSevere, "permission to access file denied, unit %d, file %s"},
    {24, Severity::kSevere, "end-of-file during read, unit %d, file %s"},
    {29, Severity::kSevere, "file not found, unit %d, file %s"},
    {30, Severity::kSevere, "open failure, unit %d, file %s"},
    {38, Severity::kSevere, "error during write, unit %d, file %s"},
    {39, Severity::kSevere, "error during read, unit %d, file %s"},
    {41, Severity::kSevere, "insufficient virtual memory"},
    {42, Severity::kSevere, "no such device, unit %d, file %s"},
    {43, Severity::kSevere, "file name specification error, unit %d, file %s"},
    {59, Severity::kSevere, "list-directed I/O syntax error, unit %d, file %s"},
    {64, Severity::kSevere, "input conversion error, unit %d, file %s"},
    {67, Severity::kSevere, "input statement requires too much data, unit %d, file %s"},
    {98, Severity::kSevere,
     "cannot allocate memory for the file buffer - out of memory, unit %d, file %s"},
    {101, Severity::kSevere, "point count exceeds its limit, unit %d, file %s"},
    {102, Severity::kSevere, "point number outside the result tables, unit %d, file %s"},
    {103, Severity::kSevere, "negative limit, unit %d, file %s"},
    {179, Severity::kSevere, "Cannot allocate array - overflow on array size calculation."},
    {200, Severity::kError, "program aborting due to %s event"},
};

std::string fill_placeholders(std::string_view text, const Failure& failure) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() && (text[i + 1] == 'd' || text[i + 1] == 's')) {
      out += text[i + 1] == 'd' ? std::to_string(failure.unit()) : failure.file();
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string fit(std::string_view text, std::size_t width) {
  std::string out(text.substr(0, width));
  out.resize(width, ' ');
  return out;
}

// The routine's demangled name without its parameter list, or "Unknown".
std::string routine_name(const std::string& symbol) {
  if (symbol.empty()) return "Unknown";
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> demangled(
      abi::__cxa_demangle(symbol.c_str(), nullptr, nullptr, &status), &std::free);
  std::string name = status == 0 && demangled ? demangled.get() : symbol;
  if (std::size_t paren = name.find('('); paren != std::string::npos && paren > 0)
    name.resize(paren);
  return name;
}

std::string frame_row(void* address) {
  const platform::FrameFacts facts = platform::describe_frame(address);
  return stack_table_row(facts.module.empty() ? "Unknown" : facts.module, facts.offset,
                         routine_name(facts.symbol));
}

}  // namespace

const CatalogueEntry* find_catalogue_entry(int number) {
  for (const CatalogueEntry& entry : kCatalogue)
    if (entry.number == number) return &entry;
  return nullptr;
}

Failure::Failure(int number, bool has_channel, int unit, std::string file, int os_error)
    : number_(number),
      has_channel_(has_channel),
      unit_(unit),
      file_(std::move(file)),
      os_error_(os_error) {
  frame_count_ = platform::capture_frames(frames_.data(), kMaxFrames);
}

void raise_failure(int number, int unit, std::string_view path, int os_error) {
  throw Failure(number, true, unit, std::string(path), os_error);
}

void raise_failure(int number) {
  throw Failure(number, false, 0, std::string(), 0);
}

int end_run() {
  return 0;
}

std::string report_line(const Failure& failure) {
  const CatalogueEntry* entry = find_catalogue_entry(failure.number());
  std::string text = entry ? fill_placeholders(entry->text, failure) : "unknown failure";
  std::string severity = entry && entry->severity == Severity::kError ? "error" : "severe";
  return std::string(kProgramTag) + ": " + severity + " (" + std::to_string(failure.number()) +
         "): " + text;
}

std::string_view stack_table_heading() {
  static const std::string heading =
      fit("Image", 19) + fit("PC", 10) + fit("Routine", 19) + fit("Line", 12) + fit("Source", 19);
  return heading;
}

std::string stack_table_row(std::string_view module, std::uintptr_t address,
                            std::string_view routine) {
  char pc[16];
  std::snprintf(pc, sizeof pc, "%08lX", static_cast<unsigned long>(address & 0xFFFFFFFFU));
  char line[16];
  std::snprintf(line, sizeof line, "%10s", "Unknown");
  return fit(module, 17) + "  " + pc + "  " + fit(routine, 17) + "  " + line + "  Unknown";
}

std::string format_report(const Failure& failure) {
  std::string out;
  if (failure.os_error() != 0)
    out.append(kProgramTag)
        .append(": ")
        .append(platform::error_text(failure.os_error()))
        .append("\r\n");
  out += report_line(failure) + "\r\n";
  out += std::string(stack_table_heading()) + "\r\n";
  for (int i = 0; i < failure.frame_count(); ++i) out += frame_row(failure.frame(i)) + "\r\n";
  if (failure.frame_count() == 0)
    out += stack_table_row(platform::program_module_name(), 0, "Unknown") + "\r\n";
  return out;
}

void report_failure(const Failure& failure) {
  const std::string text = format_report(failure);
  const platform::Handle error = platform::standard_stream(platform::StandardStream::kError);
  std::size_t done = 0;
  while (done < text.size()) {
    const platform::Transfer n =
        platform::write_some(error, text.data() + done, text.size() - done);
    if (n.count <= 0) return;
    done += static_cast<std::size_t>(n.count);
  }
}

}  // namespace records
