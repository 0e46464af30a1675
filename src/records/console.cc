// Free-form console lines.
#include "records/console.h"

#include <cmath>
#include <cstdlib>
#include <string>

#include "records/failure.h"
#include "records/number_text.h"
#include "records/text_lines.h"

namespace records {
namespace {

constexpr int kLineWidth = 80;
constexpr int kIntegerWidth = 12;

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
// A CR inside a line (not the one before its LF) is a byte of the value, which no number holds.
bool ends_value(char c) {
  return c == ' ' || c == '\t' || c == ',' || c == '/';
}
bool is_digit(char c) {
  return c >= '0' && c <= '9';
}
bool is_exponent_letter(char c) {
  return c == 'D' || c == 'd' || c == 'E' || c == 'e' || c == 'Q' || c == 'q';
}

struct NumberShape {
  bool valid = false;
  bool real = false;  // holds a point or an exponent
};

// sign? digits* [. digits*] [letter sign? digits+], with at least one mantissa digit.
NumberShape number_shape(std::string_view v) {
  std::size_t i = 0;
  if (i < v.size() && (v[i] == '+' || v[i] == '-')) ++i;
  bool digits = false, point = false;
  for (; i < v.size(); ++i) {
    if (is_digit(v[i])) {
      digits = true;
    } else if (v[i] == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  NumberShape shape;
  shape.real = point;
  if (i < v.size()) {
    if (!is_exponent_letter(v[i]) || !(digits || point)) return shape;
    shape.real = true;
    ++i;
    if (i < v.size() && (v[i] == '+' || v[i] == '-')) ++i;
    if (i == v.size()) return shape;
    for (; i < v.size(); ++i)
      if (!is_digit(v[i])) return shape;
  }
  shape.valid = digits;
  return shape;
}

std::int32_t truncate_real(std::string_view v) {
  std::string text(v);
  for (char& c : text)
    if (is_exponent_letter(c)) c = 'e';
  const double real = std::trunc(std::strtod(text.c_str(), nullptr));
  if (!(real >= -2147483648.0 && real <= 2147483647.0)) return INT32_MIN;
  return static_cast<std::int32_t>(real);
}

// The next line holding something other than blanks; 24 at the end of the input.
std::string_view next_line_with_value(Channel& input, std::size_t& pos) {
  std::string_view line;
  while (true) {
    if (!read_line(input, line)) raise_channel_failure(kEndOfFile, input);
    pos = 0;
    while (pos < line.size() && is_blank(line[pos])) ++pos;
    if (pos < line.size()) return line;
  }
}

}  // namespace

Console open_console() {
  const platform::Handle output = platform::standard_stream(platform::StandardStream::kOutput);
  const platform::Handle input = platform::standard_stream(platform::StandardStream::kInput);
  Console console{adopt_handle(kConsoleOutputChannel, "CONOUT$", output, ChannelKind::kText),
                  adopt_handle(kConsoleInputChannel, "CONIN$", input, ChannelKind::kText)};
  console.output.flush_each_statement = true;
  console.utf8_prompts = platform::console_wants_unicode(output);
  console.output.unicode_console = console.utf8_prompts;
  return console;
}

void write_free(Channel& output, std::initializer_list<FreeItem> items) {
  std::string line;
  std::size_t line_start = 0;
  for (const FreeItem& item : items) {
    if (const auto* text = std::get_if<std::string_view>(&item)) {
      if (line.size() == line_start) line += ' ';
      line += *text;
    } else {
      if (kLineWidth - static_cast<int>(line.size() - line_start) < kIntegerWidth) {
        line += "\r\n";
        line_start = line.size();
      }
      line += integer_field(std::get<std::int32_t>(item), kIntegerWidth);
    }
  }
  line += "\r\n";
  output.out.append(line);
  finish_output_statement(output);
}

void read_free_integer(Channel& input, std::int32_t& target) {
  std::size_t pos = 0;
  std::string_view line = next_line_with_value(input, pos);
  if (line[pos] == ',' || line[pos] == '/') return;
  std::size_t end = pos;
  while (end < line.size() && !ends_value(line[end])) ++end;
  std::string_view value = line.substr(pos, end - pos);

  // A repeat count r*c stands for c; r* alone stands for null values.
  std::size_t star = 0;
  while (star < value.size() && is_digit(value[star])) ++star;
  if (star > 0 && star < value.size() && value[star] == '*') {
    value.remove_prefix(star + 1);
    if (value.empty()) return;
  }

  const NumberShape shape = number_shape(value);
  if (!shape.valid) raise_channel_failure(kSyntaxError, input);
  if (shape.real) {
    target = truncate_real(value);
    return;
  }
  const IntegerInput parsed = read_integer_field(value);
  if (!parsed.ok) raise_channel_failure(kConversionError, input);
  target = parsed.value;
}

}  // namespace records
