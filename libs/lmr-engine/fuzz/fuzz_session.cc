// Arbitrary key sequences through a session typing into a simple text field: characters, named keys,
// modifiers, field-kind changes, switches, clicks and a field that stops reporting its text.
// Checks that a pre-edit caret stays inside its text, that a replacement never deletes more than the word
// standing before the cursor, and that nothing is pending after a word end.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "lumaret/core/utf8.h"
#include "lumaret/engine/defaults.h"
#include "lumaret/engine/session.h"

namespace {

using namespace lumaret::engine;
using lumaret::core::count_chars;
using lumaret::core::to_chars;
using lumaret::core::to_utf8;

struct Field {
  std::u32string text;
  std::size_t cursor = 0;
  bool reports = true;
  bool awaiting = false;
  Config config;
};

class Store final : public ConfigStore {
 public:
  explicit Store(Field& f) : field_(f) {}
  Config load() override { return field_.config; }
  void save(const Config&) override {}

 private:
  Field& field_;
};

class Surrounding final : public SurroundingText {
 public:
  explicit Surrounding(Field& f) : field_(f) {}
  std::optional<std::string> before_cursor(std::uint32_t max_chars) override {
    if (!field_.reports) return std::nullopt;
    const std::size_t from = field_.cursor > max_chars ? field_.cursor - max_chars : 0;
    return to_utf8(std::u32string_view(field_.text).substr(from, field_.cursor - from));
  }
  bool awaiting_answer() const override { return field_.awaiting; }

 private:
  Field& field_;
};

// The word lists are built once for the whole run.
class SharedDictionary final : public Dictionary {
 public:
  bool is_english(std::string_view w) const override { return words().is_english(w); }
  bool is_vietnamese(std::string_view w) const override { return words().is_vietnamese(w); }

 private:
  static const WordListDictionary& words() {
    static const WordListDictionary d = WordListDictionary::defaults();
    return d;
  }
};

void fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

// Characters of the word that stands right before the cursor.
std::size_t word_before_cursor(const Field& f) {
  std::size_t n = 0;
  while (n < f.cursor && f.text[f.cursor - n - 1] != U' ' && f.text[f.cursor - n - 1] != U'\n')
    ++n;
  return n;
}

void insert(Field& f, std::string_view utf8) {
  const std::u32string chars = to_chars(utf8).value_or(std::u32string());
  f.text.insert(f.cursor, chars);
  f.cursor += chars.size();
}

void press(Field& f, const KeyInput& k) {
  if (k.key.kind == KeyKind::Char && !k.ctrl && !k.alt && !k.meta) {
    f.text.insert(f.cursor++, 1, k.key.ch);
  } else if (k.key.kind == KeyKind::Backspace && f.cursor > 0) {
    f.text.erase(--f.cursor, 1);
  } else if (k.key.kind == KeyKind::Enter) {
    f.text.insert(f.cursor++, 1, U'\n');
  } else if (k.key.kind == KeyKind::Left && f.cursor > 0) {
    --f.cursor;
  } else if (k.key.kind == KeyKind::Right && f.cursor < f.text.size()) {
    ++f.cursor;
  }
}

void apply(Field& f, const Action& a, const KeyInput* key, std::size_t standing_chars) {
  if (const auto* p = std::get_if<action::Preedit>(&a)) {
    if (p->cursor_chars > count_chars(p->text)) fail("pre-edit caret beyond its text");
  } else if (const auto* r = std::get_if<action::Replace>(&a)) {
    if (r->delete_chars > standing_chars) fail("replacement deletes more than the word in place");
    const std::size_t n = std::min<std::size_t>(r->delete_chars, f.cursor);
    f.text.erase(f.cursor - n, n);
    f.cursor -= n;
    insert(f, r->text);
    if (r->forward && key) press(f, *key);
  } else if (const auto* c = std::get_if<action::Commit>(&a)) {
    insert(f, c->text);
    if (c->forward && key) press(f, *key);
  } else if (key) {
    press(f, *key);
  }
}

constexpr char32_t LETTERS[] = U"abcdeghiklmnopqrstuvwxyzADEOUW0123456789[]^(+~`'?.-/@ ,!\"";
constexpr KeyKind NAMED[] = {KeyKind::Backspace, KeyKind::Enter,    KeyKind::Escape, KeyKind::Left,
                             KeyKind::Right,     KeyKind::Home,     KeyKind::Tab,    KeyKind::Modifier,
                             KeyKind::Other,     KeyKind::Backspace};
constexpr const char* METHODS[] = {"telex", "simple_telex", "vni", "viqr"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  Field field;
  Config& c = field.config;
  c = Config::defaults();
  c.input_method = METHODS[data[0] & 3];
  c.auto_capitalize = data[0] & 4;
  c.smart_caps = data[0] & 8;
  c.unicode_form = (data[0] & 16) ? UnicodeForm::Nfd : UnicodeForm::Nfc;
  c.macro_digits = data[0] & 32;
  c.spell_check = !(data[0] & 64);
  c.bracket_keys = data[0] & 128;
  c.w_as_u = data[1] & 1;
  c.quick_telex = data[1] & 2;
  c.restore_after_space = !(data[1] & 4);
  c.edit_previous_word = !(data[1] & 8);
  if (data[1] & 16) c.macros = {{"ko", "không"}, {"dd", "đã"}, {"k2", "Không"}, {"vn", "Việt Nam"}};
  field.reports = !(data[1] & 32);

  ImeSession session(Ports{std::make_unique<Store>(field), std::make_unique<StaticAppContext>(),
                           std::make_unique<Surrounding>(field), std::make_unique<SharedDictionary>()});
  for (std::size_t i = 2; i < size; ++i) {
    const std::uint8_t b = data[i];
    // In a password, number or e-mail field the session lets every key through and keeps its word.
    const FieldKind kind = session.field_kind();
    const bool enabled =
        kind != FieldKind::Password && kind != FieldKind::Numeric && kind != FieldKind::Email;
    const std::size_t standing =
        session.in_place() ? count_chars(session.out(session.text())) : word_before_cursor(field);
    if (b < 160) {
      // Printable keys of the alphabet stand for themselves, so seeds read as typed text.
      const std::u32string_view alphabet(LETTERS, std::size(LETTERS) - 1);
      const char32_t ch = alphabet.find(static_cast<char32_t>(b)) != std::u32string_view::npos
                              ? static_cast<char32_t>(b)
                              : alphabet[b % alphabet.size()];
      KeyInput k{Key::character(ch)};
      k.ctrl = b >= 150 && b < 155;
      k.alt = b >= 155;
      const Action a = session.process_key(k);
      apply(field, a, &k, std::max(standing, word_before_cursor(field)));
      const bool ends = k.key.ch == U' ' || k.key.ch == U',' || k.key.ch == U'!' || k.ctrl || k.alt;
      if (enabled && (ends || std::holds_alternative<action::Commit>(a)) && session.composing()) {
        fail("a word is pending after its end");
      }
    } else if (b < 200) {
      const KeyInput k{Key{NAMED[b % std::size(NAMED)], 0}};
      const Action a = session.process_key(k);
      apply(field, a, &k, std::max(standing, word_before_cursor(field)));
      const bool ends = k.key.kind == KeyKind::Enter || k.key.kind == KeyKind::Escape ||
                        k.key.kind == KeyKind::Left || k.key.kind == KeyKind::Tab;
      if (enabled && (ends || std::holds_alternative<action::Commit>(a)) && session.composing()) {
        fail("a word is pending after its end");
      }
    } else if (b < 208) {
      session.set_field_kind(static_cast<FieldKind>(b % 6));
    } else if (b < 216) {
      const Action a = b & 1 ? session.toggle_vietnamese() : session.flush();
      apply(field, a, nullptr, standing);
      if (session.composing()) fail("a word is pending after a switch");
    } else if (b < 224) {
      const Action a = b & 1 ? session.reload_config() : session.focus_changed(std::nullopt);
      apply(field, a, nullptr, standing);
      if (session.composing()) fail("a word is pending after a switch");
    } else if (b < 248) {
      field.cursor = field.text.empty() ? 0 : (b - 224u) % (field.text.size() + 1);  // a click
    } else {
      field.awaiting = !field.awaiting;
    }
  }
  return 0;
}
