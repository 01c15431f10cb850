// Keys written as text.
#include "lumaret/engine/notation.h"

#include <unicode/utf8.h>

#include <algorithm>
#include <optional>

#include "lumaret/core/utf8.h"

namespace lumaret::engine {
namespace {

struct NamedKey {
  std::string_view name;
  KeyKind kind;
};

constexpr NamedKey NAMED_KEYS[] = {
    {"BS", KeyKind::Backspace},  {"Enter", KeyKind::Enter},    {"Esc", KeyKind::Escape},
    {"Tab", KeyKind::Tab},       {"Left", KeyKind::Left},      {"Right", KeyKind::Right},
    {"Up", KeyKind::Up},         {"Down", KeyKind::Down},      {"Home", KeyKind::Home},
    {"End", KeyKind::End},       {"Del", KeyKind::Delete},     {"PgUp", KeyKind::PageUp},
    {"PgDn", KeyKind::PageDown}, {"Shift", KeyKind::Modifier},
};

std::optional<Key> named_key(std::string_view name) {
  if (name == "lt") return Key::character(U'<');
  for (const NamedKey& k : NAMED_KEYS) {
    if (k.name == name) return Key{k.kind, 0};
  }
  return std::nullopt;
}

// The single character that makes up all of `text`, if it is one.
std::optional<char32_t> single_char(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::int32_t at = 0;
  UChar32 c;
  U8_NEXT(text.data(), at, static_cast<std::int32_t>(text.size()), c);
  if (c < 0 || static_cast<std::size_t>(at) != text.size()) return std::nullopt;
  return static_cast<char32_t>(c);
}

}  // namespace

std::variant<ParsedKey, NotationError> parse_key(std::string_view text) {
  if (text.empty()) return NotationError{1, "thiếu phím"};
  if (text[0] != '<') {
    std::int32_t at = 0;
    UChar32 c;
    U8_NEXT(text.data(), at, static_cast<std::int32_t>(text.size()), c);
    if (c < 0) return NotationError{1, "không phải UTF-8"};
    return ParsedKey{{Key::character(static_cast<char32_t>(c))}, static_cast<std::size_t>(at)};
  }
  KeyInput input;
  std::size_t at = 1;
  while (at + 2 < text.size() && text[at + 1] == '-' &&
         (text[at] == 'C' || text[at] == 'A' || text[at] == 'M')) {
    (text[at] == 'C' ? input.ctrl : text[at] == 'A' ? input.alt : input.meta) = true;
    at += 2;
  }
  // The name or character runs to the next ">" after its first byte, so <C->> is Control with ">".
  const std::size_t close = text.find('>', at + 1);
  if (close == std::string_view::npos) return NotationError{1, "thiếu '>'"};
  const std::string_view inner = text.substr(at, close - at);
  if (const std::optional<Key> named = named_key(inner)) {
    input.key = *named;
  } else if (const std::optional<char32_t> c = single_char(inner);
             c && (input.ctrl || input.alt || input.meta)) {
    input.key = Key::character(*c);
  } else {
    return NotationError{1, "phím không rõ <" + std::string(inner) + ">"};
  }
  return ParsedKey{input, close + 1};
}

std::variant<std::vector<KeyInput>, NotationError> parse_keys(std::string_view text) {
  std::vector<KeyInput> keys;
  std::size_t column = 1;
  while (!text.empty()) {
    auto parsed = parse_key(text);
    if (auto* error = std::get_if<NotationError>(&parsed)) {
      error->column = column;
      return std::move(*error);
    }
    const ParsedKey& key = std::get<ParsedKey>(parsed);
    keys.push_back(key.input);
    column += core::count_chars(text.substr(0, key.bytes));
    text.remove_prefix(key.bytes);
  }
  return keys;
}

std::string to_notation(const KeyInput& input) {
  std::string mods;
  if (input.ctrl) mods += "C-";
  if (input.alt) mods += "A-";
  if (input.meta) mods += "M-";
  std::string name;
  if (input.key.kind == KeyKind::Char) {
    if (input.key.ch == U'<' && mods.empty()) return "<lt>";
    name = core::to_utf8(std::u32string_view(&input.key.ch, 1));
    if (mods.empty()) return name;
  } else {
    const auto* named = std::find_if(std::begin(NAMED_KEYS), std::end(NAMED_KEYS),
                                     [&](const NamedKey& k) { return k.kind == input.key.kind; });
    name = named != std::end(NAMED_KEYS) ? std::string(named->name) : "Other";
  }
  return "<" + mods + name + ">";
}

}  // namespace lumaret::engine
