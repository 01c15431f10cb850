// The simulated application.
#include "simulated_app.h"

#include <unicode/utf8.h>

#include <algorithm>

#include "lumaret/core/utf8.h"
#include "lumaret/engine/notation.h"

namespace lumaret::type {
namespace {

using engine::KeyKind;

constexpr std::uint32_t CHAR_CODE_BASE = 0x10000;
constexpr std::uint32_t CONTROL = 1u << 2;
constexpr std::uint32_t MOD1 = 1u << 3;
constexpr std::uint32_t MOD4 = 1u << 6;

struct NamedCode {
  KeyKind kind;
  std::uint32_t code;
};

constexpr NamedCode NAMED_CODES[] = {
    {KeyKind::Escape, 1},     {KeyKind::Backspace, 14}, {KeyKind::Tab, 15},    {KeyKind::Enter, 28},
    {KeyKind::Modifier, 42},  {KeyKind::Home, 102},     {KeyKind::Up, 103},    {KeyKind::PageUp, 104},
    {KeyKind::Left, 105},     {KeyKind::Right, 106},    {KeyKind::End, 107},   {KeyKind::Down, 108},
    {KeyKind::PageDown, 109}, {KeyKind::Delete, 111},   {KeyKind::Other, 240},
};

std::optional<KeyKind> kind_of(std::uint32_t code) {
  for (const NamedCode& n : NAMED_CODES) {
    if (n.code == code) return n.kind;
  }
  return std::nullopt;
}

// Byte offsets of the character boundary before and after `at`.
std::uint32_t previous_boundary(std::string_view text, std::uint32_t at) {
  if (at == 0) return 0;
  auto i = static_cast<std::int32_t>(at);
  U8_BACK_1(reinterpret_cast<const std::uint8_t*>(text.data()), 0, i);
  return static_cast<std::uint32_t>(i);
}

std::uint32_t next_boundary(std::string_view text, std::uint32_t at) {
  if (at >= text.size()) return static_cast<std::uint32_t>(text.size());
  auto i = static_cast<std::int32_t>(at);
  U8_FWD_1(reinterpret_cast<const std::uint8_t*>(text.data()), i, static_cast<std::int32_t>(text.size()));
  return static_cast<std::uint32_t>(i);
}

// The byte offset of character `chars` (the end when the text is shorter).
std::uint32_t offset_of(std::string_view text, std::uint32_t chars) {
  std::uint32_t at = 0;
  for (std::uint32_t i = 0; i < chars && at < text.size(); ++i)
    at = next_boundary(text, at);
  return at;
}

void print_quoted(std::FILE* out, std::string_view text) {
  std::fputc('"', out);
  for (char c : text) {
    if (c == '\n') {
      std::fputs("\\n", out);
    } else if (c == '"' || c == '\\') {
      std::fputc('\\', out);
      std::fputc(c, out);
    } else {
      std::fputc(c, out);
    }
  }
  std::fputc('"', out);
}

}  // namespace

std::uint32_t key_code(const engine::Key& key) {
  if (key.kind == KeyKind::Char) return CHAR_CODE_BASE + static_cast<std::uint32_t>(key.ch);
  for (const NamedCode& n : NAMED_CODES) {
    if (n.kind == key.kind) return n.code;
  }
  return 240;
}

wayland::Modifiers modifiers_of(const engine::KeyInput& k) {
  wayland::Modifiers m;
  if (k.ctrl) m.depressed |= CONTROL;
  if (k.alt) m.depressed |= MOD1;
  if (k.meta) m.depressed |= MOD4;
  return m;
}

void press_key(wayland::Controller& controller, SimulatedApp& app, HeldKey& held,
               const engine::KeyInput& input, std::uint32_t repeats, std::uint32_t& time, std::FILE* trace) {
  if (trace) std::fprintf(trace, "key %s\n", engine::to_notation(input).c_str());
  wayland::KeyEvent event{input.key, key_code(input.key), ++time, true, input.ctrl, input.alt, input.meta};
  held.next_key();
  controller.set_modifiers(modifiers_of(input));
  controller.key(event);
  if (trace && repeats > 0) std::fprintf(trace, "repeat %u\n", repeats);
  for (std::uint32_t n = 0; n < repeats; ++n) {
    // What the held key does is reported while it is down, unless reports lag: then with the next key.
    if (app.reporting() == Reporting::Immediate) app.report(controller);
    held.repeat(1, time);
  }
  event.pressed = false;
  event.time = ++time;
  controller.key(event);
  controller.set_modifiers({});
  app.report(controller);
}

void SimulatedApp::erase_selection() {
  const std::uint32_t from = std::min(cursor_bytes_, anchor_bytes_);
  const std::uint32_t to = std::max(cursor_bytes_, anchor_bytes_);
  text_.erase(from, to - from);
  cursor_bytes_ = anchor_bytes_ = from;
}

void SimulatedApp::insert(std::string_view utf8) {
  erase_selection();
  text_.insert(cursor_bytes_, utf8);
  cursor_bytes_ += static_cast<std::uint32_t>(utf8.size());
  anchor_bytes_ = cursor_bytes_;
}

void SimulatedApp::commit(std::string_view text, std::uint32_t) {
  if (trace_) {
    std::fputs("  commit ", trace_);
    print_quoted(trace_, text);
    std::fputc('\n', trace_);
  }
  preedit_.clear();
  insert(text);
}

void SimulatedApp::clear_preedit(std::uint32_t) {
  if (trace_ && !preedit_.empty()) std::fputs("  preedit \"\"\n", trace_);
  preedit_.clear();
}

void SimulatedApp::show_preedit(std::string_view text, std::int32_t caret_bytes, std::uint32_t) {
  if (trace_) {
    std::fputs("  preedit ", trace_);
    print_quoted(trace_, text);
    std::fprintf(trace_, " caret %d\n", caret_bytes);
  }
  preedit_ = text;
}

void SimulatedApp::replace_before_cursor(std::uint32_t delete_bytes, std::string_view text, std::uint32_t) {
  if (trace_) {
    std::fprintf(trace_, "  delete %u bytes, commit ", delete_bytes);
    print_quoted(trace_, text);
    std::fputc('\n', trace_);
  }
  preedit_.clear();
  // The deletion is relative to the cursor; a selection is deselected first, as applications do.
  anchor_bytes_ = cursor_bytes_;
  const std::uint32_t from = cursor_bytes_ >= delete_bytes ? cursor_bytes_ - delete_bytes : 0;
  text_.erase(from, cursor_bytes_ - from);
  cursor_bytes_ = anchor_bytes_ = from;
  insert(text);
}

void SimulatedApp::forward_key_event(std::uint32_t code, std::uint32_t, bool pressed,
                                     const wayland::Modifiers& modifiers) {
  if (!pressed) return;
  const bool held = modifiers.depressed & (CONTROL | MOD1 | MOD4);
  if (trace_) {
    engine::KeyInput input;
    if (const std::optional<KeyKind> kind = kind_of(code)) {
      input.key = {*kind, 0};
    } else {
      input.key = engine::Key::character(static_cast<char32_t>(code - CHAR_CODE_BASE));
    }
    input.ctrl = modifiers.depressed & CONTROL;
    input.alt = modifiers.depressed & MOD1;
    input.meta = modifiers.depressed & MOD4;
    std::fprintf(trace_, "  forward %s\n", engine::to_notation(input).c_str());
  }
  if (held) return;  // shortcuts do nothing to the text here
  const std::optional<KeyKind> kind = kind_of(code);
  if (!kind) {
    const char32_t c = static_cast<char32_t>(code - CHAR_CODE_BASE);
    insert(core::to_utf8(std::u32string_view(&c, 1)));
    return;
  }
  switch (*kind) {
    case KeyKind::Backspace:
      if (cursor_bytes_ != anchor_bytes_) {
        erase_selection();
      } else if (cursor_bytes_ > 0) {
        const std::uint32_t from = previous_boundary(text_, cursor_bytes_);
        text_.erase(from, cursor_bytes_ - from);
        cursor_bytes_ = anchor_bytes_ = from;
      }
      break;
    case KeyKind::Delete:
      if (cursor_bytes_ != anchor_bytes_) {
        erase_selection();
      } else {
        text_.erase(cursor_bytes_, next_boundary(text_, cursor_bytes_) - cursor_bytes_);
      }
      break;
    case KeyKind::Enter:
      insert("\n");
      break;
    case KeyKind::Tab:
      insert("\t");
      break;
    case KeyKind::Left:
      // With a selection the cursor goes to its start, else one character back.
      cursor_bytes_ = anchor_bytes_ = cursor_bytes_ != anchor_bytes_
                                          ? std::min(cursor_bytes_, anchor_bytes_)
                                          : previous_boundary(text_, cursor_bytes_);
      break;
    case KeyKind::Right:
      cursor_bytes_ = anchor_bytes_ = cursor_bytes_ != anchor_bytes_ ? std::max(cursor_bytes_, anchor_bytes_)
                                                                     : next_boundary(text_, cursor_bytes_);
      break;
    case KeyKind::Home:
      cursor_bytes_ = anchor_bytes_ = 0;
      break;
    case KeyKind::End:
      cursor_bytes_ = anchor_bytes_ = static_cast<std::uint32_t>(text_.size());
      break;
    default:
      break;
  }
}

void SimulatedApp::click(std::uint32_t chars) {
  preedit_.clear();
  cursor_bytes_ = anchor_bytes_ = offset_of(text_, chars);
}

void SimulatedApp::select(std::uint32_t from_chars, std::uint32_t to_chars) {
  preedit_.clear();
  anchor_bytes_ = offset_of(text_, from_chars);
  cursor_bytes_ = offset_of(text_, to_chars);
}

void SimulatedApp::send(wayland::Controller& controller, const State& s) {
  if (reported_ == s) return;
  reported_ = s;
  controller.surrounding_text(s.text, s.cursor_bytes, s.anchor_bytes);
  controller.done();
}

void SimulatedApp::report(wayland::Controller& controller, bool at_once) {
  if (reporting_ == Reporting::Never) return;
  if (reporting_ == Reporting::Immediate || at_once) {
    if (held_) send(controller, *std::exchange(held_, std::nullopt));
    send(controller, state());
    return;
  }
  // Lagging: what the previous key did arrives now; what this key did waits for the next one.
  if (held_) send(controller, *held_);
  held_ = state();
}

void SimulatedApp::clear() {
  text_.clear();
  preedit_.clear();
  cursor_bytes_ = anchor_bytes_ = 0;
  reported_.reset();
  held_.reset();
}

}  // namespace lumaret::type
