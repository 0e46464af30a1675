// The two layout interpreters. Both walk the items with the same statement state: the open
// groups and their passes left, the reversion point (the opening of the last outermost group),
// and the scale factor, which a reversion keeps.
#include "records/text_layout.h"

#include <cstring>
#include <stdexcept>
#include <vector>

#include "records/failure.h"
#include "records/number_text.h"
#include "records/text_lines.h"

namespace records {
namespace {

constexpr int kMaxDepth = 8;

// The walk common to both directions. `Field` is called once per field with the item; it
// returns false when no value or target is left, which ends the statement before the field.
// `Literal` and `LineEnd` act on the line.
struct Walk {
  const TextLayout& layout;
  int scale = 0;

  template <typename Field, typename Literal, typename LineEnd>
  void run(Field field, Literal literal, LineEnd line_end) {
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
        if (!field(nullptr)) return;  // asks whether anything is left, takes nothing
        // A layout with no field would walk forever.
        if (!took_since_line) throw std::logic_error("layout without fields");
        line_end();
        took_since_line = false;
        pos = reversion;
        depth = 0;
        continue;
      }
      const LayoutItem& item = items[pos];
      switch (item.kind) {
        case ItemKind::kGroupOpen:
          if (depth == kMaxDepth) throw std::logic_error("layout nested too deeply");
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
};

char* grow_line(std::string& out, std::size_t width) {
  const std::size_t at = out.size();
  out.resize(at + width);
  return out.data() + at;
}

}  // namespace

void write_formatted(Channel& channel, const TextLayout& layout,
                     std::span<const OutputValue> values) {
  std::string& out = channel.out;
  std::size_t next = 0;
  Walk walk{layout};
  walk.run(
      [&](const LayoutItem* item) {
        if (next == values.size()) return false;
        if (item == nullptr) return true;
        const OutputValue& v = values[next++];
        char* field = grow_line(out, static_cast<std::size_t>(item->width));
        switch (item->kind) {
          case ItemKind::kText: {
            std::memset(field, ' ', static_cast<std::size_t>(item->width));
            std::memcpy(field, v.text.data(),
                        std::min(v.text.size(), static_cast<std::size_t>(item->width)));
            break;
          }
          case ItemKind::kInteger:
            write_integer_field(field, v.kind == OutputValue::Kind::kInteger
                                           ? v.integer
                                           : static_cast<std::int32_t>(v.real),
                                item->width);
            break;
          default:
            write_exponent_field(field, v.kind == OutputValue::Kind::kReal ? v.real : v.integer,
                                 item->width, item->digits, walk.scale);
            break;
        }
        return true;
      },
      [&](std::string_view text) { out += text; }, [&] { out += "\r\n"; });
  out += "\r\n";
  finish_output_statement(channel);
}

void read_formatted(Channel& channel, const TextLayout& layout,
                    std::span<const InputTarget> targets) {
  std::string_view line;
  std::size_t column = 0;
  auto next_line = [&] {
    if (!read_line(channel, line)) raise_failure(kEndOfFile, &channel);
    column = 0;
  };
  next_line();
  std::size_t next = 0;
  Walk walk{layout};
  walk.run(
      [&](const LayoutItem* item) {
        if (next == targets.size()) return false;
        if (item == nullptr) return true;
        const InputTarget& t = targets[next++];
        const auto width = static_cast<std::size_t>(item->width);
        const std::string_view rest = column < line.size() ? line.substr(column) : std::string_view();
        std::string_view field = rest.substr(0, std::min(width, rest.size()));
        if (item->kind == ItemKind::kText) {
          std::memset(t.text, ' ', t.text_length);
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
        if (!parsed.ok) raise_failure(kConversionError, &channel);
        *t.integer = parsed.value;
        return true;
      },
      [](std::string_view) {}, next_line);
}

}  // namespace records
