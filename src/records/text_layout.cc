// The output and input sides of the layout interpreter.
#include "records/text_layout.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "records/failure.h"
#include "records/number_text.h"
#include "records/text_lines.h"

namespace records {
namespace {

// A real given to an integer field counts by its integer part; one that no int32 holds fills
// the field with asterisks, as any value too wide for its field does.
void write_real_as_integer(double value, const LayoutItem& field, char* at) {
  if (value > -2147483649.0 && value < 2147483648.0)
    write_integer_field(at, static_cast<std::int32_t>(value), field.width);
  else
    std::memset(at, '*', static_cast<std::size_t>(field.width));
}

struct OutputValueList {
  std::span<const OutputValue> values;
  std::size_t size() const { return values.size(); }
  void write(std::size_t i, const LayoutItem& field, int scale, char* at) const {
    write_field(values[i], field, scale, at);
  }
};

}  // namespace

void throw_layout_error(const char* what) {
  throw std::logic_error(what);
}

void write_real_field(double value, const LayoutItem& field, int scale, char* at) {
  if (field.kind == ItemKind::kExponent)
    write_exponent_field(at, value, field.width, field.digits, scale);
  else if (field.kind == ItemKind::kInteger)
    write_real_as_integer(value, field, at);
  else
    std::memset(at, ' ', static_cast<std::size_t>(field.width));
}

void write_field(const OutputValue& v, const LayoutItem& field, int scale, char* at) {
  const auto width = static_cast<std::size_t>(field.width);
  switch (field.kind) {
    case ItemKind::kText:
      std::memset(at, ' ', width);
      if (!v.text.empty()) std::memcpy(at, v.text.data(), std::min(v.text.size(), width));
      break;
    case ItemKind::kInteger:
      if (v.kind == OutputValue::Kind::kInteger)
        write_integer_field(at, v.integer, field.width);
      else
        write_real_as_integer(v.real, field, at);
      break;
    default:
      write_real_field(v.kind == OutputValue::Kind::kReal ? v.real : v.integer, field, scale, at);
      break;
  }
}

void write_formatted(Channel& channel, const TextLayout& layout,
                     std::span<const OutputValue> values) {
  write_values(channel, layout, OutputValueList{values});
}

void read_formatted(Channel& channel, const TextLayout& layout,
                    std::span<const InputTarget> targets) {
  std::string_view line;
  std::size_t column = 0;
  auto next_line = [&] {
    if (!read_line(channel, line)) raise_channel_failure(kEndOfFile, channel);
    column = 0;
  };
  next_line();
  std::size_t next = 0;
  int scale = 0;
  detail::walk_layout(
      layout, scale,
      [&](const LayoutItem* item) {
        if (next == targets.size()) return false;
        if (item == nullptr) return true;
        const InputTarget& t = targets[next++];
        const auto width = static_cast<std::size_t>(item->width);
        const std::string_view rest =
            column < line.size() ? line.substr(column) : std::string_view();
        std::string_view field = rest.substr(0, std::min(width, rest.size()));
        if (item->kind == ItemKind::kText) {
          std::memset(t.text, ' ', t.text_length);
          if (!field.empty())
            std::memcpy(t.text, field.data(), std::min(field.size(), t.text_length));
          column += width;
          return true;
        }
        // A comma inside the field ends it early and is consumed.
        if (const std::size_t comma = field.find(','); comma != std::string_view::npos) {
          field = field.substr(0, comma);
          column += comma + 1;
        } else {
          column += width;
        }
        const IntegerInput parsed = read_integer_field(field);
        if (!parsed.ok) raise_channel_failure(kConversionError, channel);
        *t.integer = parsed.value;
        return true;
      },
      [](std::string_view) {}, next_line);
}

}  // namespace records
