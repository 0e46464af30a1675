// Fixed-field text layouts: constant tables of items walked by one interpreter for output and one
// for input. A layout says which fields a line holds and how the line continues when there are
// more values than fields.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "records/channel.h"
#include "records/text_lines.h"

namespace records {

enum class ItemKind : std::uint8_t {
  kText,        // Aw
  kInteger,     // Iw
  kExponent,    // Ew.d
  kLiteral,     // 'text'
  kScale,       // kP
  kGroupOpen,   // r(
  kGroupClose,  // )
};

struct LayoutItem {
  ItemKind kind;
  int repeat = 1;  // fields and groups
  int width = 0;
  int digits = 0;
  int scale = 0;
  std::string_view literal;
};

struct TextLayout {
  std::span<const LayoutItem> items;
};

struct OutputValue {
  enum class Kind : std::uint8_t { kInteger, kReal, kText };
  Kind kind;
  std::int32_t integer = 0;
  double real = 0;
  std::string_view text;

  static OutputValue of(std::int32_t v) { return {Kind::kInteger, v, 0, {}}; }
  static OutputValue of(double v) { return {Kind::kReal, 0, v, {}}; }
  static OutputValue of(std::string_view v) { return {Kind::kText, 0, 0, v}; }
};

[[noreturn]] void throw_layout_error(const char* what);

struct InputTarget {
  enum class Kind : std::uint8_t { kInteger, kText };
  Kind kind;
  std::int32_t* integer = nullptr;
  char* text = nullptr;  // receives exactly text_length bytes
  std::size_t text_length = 0;

  static InputTarget of(std::int32_t& v) { return {Kind::kInteger, &v, nullptr, 0}; }
  static InputTarget of(char* text, std::size_t length) {
    return {Kind::kText, nullptr, text, length};
  }
};

// One output statement: the values as one or more complete lines, each ending with CR LF.
void write_formatted(Channel& channel, const TextLayout& layout,
                     std::span<const OutputValue> values);

// The same for any list of values that can write its i-th value into a field:
//   std::size_t size() const;
//   void write(std::size_t i, const LayoutItem& field, int scale, char* at) const;
// so that long rows of reals need not be copied into OutputValues first.
template <typename Values>
void write_values(Channel& channel, const TextLayout& layout, const Values& values);

// Writes one value into a field of the item's kind and width.
void write_field(const OutputValue& value, const LayoutItem& field, int scale, char* at);
void write_real_field(double value, const LayoutItem& field, int scale, char* at);

// One input statement: fills the targets from one or more lines; whatever is left of the last
// line is skipped. The end of the channel ends the run with 24, a bad integer field with 64.
void read_formatted(Channel& channel, const TextLayout& layout,
                    std::span<const InputTarget> targets);

// Items of the layout tables.
constexpr LayoutItem text_field(int repeat, int width) {
  return {ItemKind::kText, repeat, width, 0, 0, {}};
}
constexpr LayoutItem integer_field_item(int repeat, int width) {
  return {ItemKind::kInteger, repeat, width, 0, 0, {}};
}
constexpr LayoutItem exponent_field_item(int width, int digits) {
  return {ItemKind::kExponent, 1, width, digits, 0, {}};
}
constexpr LayoutItem literal(std::string_view text) {
  return {ItemKind::kLiteral, 1, 0, 0, 0, text};
}
constexpr LayoutItem scale_factor(int k) {
  return {ItemKind::kScale, 1, 0, 0, k, {}};
}
constexpr LayoutItem group(int repeat) {
  return {ItemKind::kGroupOpen, repeat, 0, 0, 0, {}};
}
constexpr LayoutItem group_end() {
  return {ItemKind::kGroupClose, 1, 0, 0, 0, {}};
}

// The layouts of the program.
namespace layouts {
inline constexpr LayoutItem kNameItems[] = {text_field(1, 20)};
inline constexpr LayoutItem kTitleItems[] = {text_field(20, 4)};
inline constexpr LayoutItem kLimitsItems[] = {integer_field_item(6, 5)};
inline constexpr LayoutItem kCountItems[] = {integer_field_item(1, 5)};
inline constexpr LayoutItem kListItems[] = {integer_field_item(10, 7)};
inline constexpr LayoutItem kHeaderItems[] = {group(200), literal(","), integer_field_item(1, 8),
                                              group_end()};
inline constexpr LayoutItem kRowItems[] = {
    exponent_field_item(16, 7), group(200), literal(","), scale_factor(1),
    exponent_field_item(14, 5), group_end()};
}  // namespace layouts

inline constexpr TextLayout kNameLayout{layouts::kNameItems};      // (A20)
inline constexpr TextLayout kTitleLayout{layouts::kTitleItems};    // (20A4)
inline constexpr TextLayout kLimitsLayout{layouts::kLimitsItems};  // (6I5)
inline constexpr TextLayout kCountLayout{layouts::kCountItems};    // (I5)
inline constexpr TextLayout kListLayout{layouts::kListItems};      // (10I7)
inline constexpr TextLayout kHeaderLayout{layouts::kHeaderItems};  // (200(',', I8))
inline constexpr TextLayout kRowLayout{layouts::kRowItems};        // (E16.7, 200(',', 1P, E14.5))

namespace detail {

// The walk common to both directions: the open groups and their passes left, the reversion point
// (the opening of the last outermost group) and the scale factor, which a reversion keeps.
// `field` is called once per field with the item, or with null at the closing of the layout; it
// returns false when no value or target is left, which ends the statement there. `literal` and
// `line_end` act on the line.
template <typename Field, typename Literal, typename LineEnd>
void walk_layout(const TextLayout& layout, int& scale, Field field, Literal literal,
                 LineEnd line_end) {
  constexpr int kMaxDepth = 8;
  struct Open {
    std::size_t at;
    int passes;
  };
  Open stack[kMaxDepth];
  int depth = 0;
  std::size_t reversion = 0;
  std::size_t pos = 0;
  bool took_since_line = false;
  const auto& items = layout.items;
  while (true) {
    if (pos == items.size()) {
      if (!field(nullptr)) return;
      if (!took_since_line) throw_layout_error("layout without fields");
      line_end();
      took_since_line = false;
      pos = reversion;
      depth = 0;
      continue;
    }
    const LayoutItem& item = items[pos];
    switch (item.kind) {
      case ItemKind::kGroupOpen:
        if (depth == kMaxDepth) throw_layout_error("layout nested too deeply");
        if (depth == 0) reversion = pos;
        stack[depth++] = {pos, item.repeat};
        ++pos;
        break;
      case ItemKind::kGroupClose:
        if (--stack[depth - 1].passes > 0) {
          pos = stack[depth - 1].at + 1;
        } else {
          --depth;
          ++pos;
        }
        break;
      case ItemKind::kLiteral:
        literal(item.literal);
        ++pos;
        break;
      case ItemKind::kScale:
        scale = item.scale;
        ++pos;
        break;
      default:
        for (int r = 0; r < item.repeat; ++r) {
          if (!field(&item)) return;
          took_since_line = true;
        }
        ++pos;
        break;
    }
  }
}

}  // namespace detail

// The lines of one output statement, appended to `out` without writing them anywhere.
template <typename Values>
void format_values(OutputBuffer& out, const TextLayout& layout, const Values& values) {
  const std::size_t count = values.size();
  std::size_t next = 0;
  int scale = 0;
  detail::walk_layout(
      layout, scale,
      [&](const LayoutItem* item) {
        if (next == count) return false;
        if (item != nullptr)
          values.write(next++, *item, scale, out.grow(static_cast<std::size_t>(item->width)));
        return true;
      },
      [&](std::string_view text) { out.append(text); }, [&] { out.append("\r\n"); });
  out.append("\r\n");
}

template <typename Values>
void write_values(Channel& channel, const TextLayout& layout, const Values& values) {
  format_values(channel.out, layout, values);
  finish_output_statement(channel);
}

}  // namespace records
