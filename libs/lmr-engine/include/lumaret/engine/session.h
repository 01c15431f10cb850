// The engine session: one key in, one action out. It keeps the word being typed, asks the composer what
// the keys spell, and decides whether to show it, commit it, or edit a word that already stands in the
// application.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "lumaret/core/transform.h"
#include "lumaret/engine/ports.h"

namespace lumaret::engine {

enum class KeyKind : std::uint8_t {
  Char = 0,
  Backspace = 1,
  Enter = 2,
  Escape = 3,
  Tab = 4,
  Left = 5,
  Right = 6,
  Up = 7,
  Down = 8,
  Home = 9,
  End = 10,
  Delete = 11,
  PageUp = 12,
  PageDown = 13,
  Modifier = 14,  // Shift, Control, ... pressed on its own
  Other = 15,     // any other key that produces no text
};

// A key as the engine sees it; `ch` is the text a Char key produces.
struct Key {
  KeyKind kind = KeyKind::Other;
  char32_t ch = 0;

  static constexpr Key character(char32_t c) { return {KeyKind::Char, c}; }
  friend bool operator==(const Key&, const Key&) = default;
};

// "Backspace", "PageDown", or "Char('a')".
std::string to_string(const Key& key);

// One key press. Shift shows only in the character of a Char key.
struct KeyInput {
  Key key;
  bool ctrl = false;
  bool alt = false;
  bool meta = false;
};

namespace action {
// Nothing visible happened; the key goes to the application unchanged.
struct Pass {
  friend bool operator==(const Pass&, const Pass&) = default;
};
// Show `text` as pre-edit with the caret after `cursor_chars` characters.
struct Preedit {
  std::string text;
  std::uint32_t cursor_chars = 0;
  friend bool operator==(const Preedit&, const Preedit&) = default;
};
// Delete `delete_chars` characters before the cursor, insert `text`, then send the key on when `forward`.
struct Replace {
  std::string text;
  std::uint32_t delete_chars = 0;
  bool forward = false;
  friend bool operator==(const Replace&, const Replace&) = default;
};
// End any pre-edit and commit `text`, then send the key on when `forward`.
struct Commit {
  std::string text;
  bool forward = false;
  friend bool operator==(const Commit&, const Commit&) = default;
};
}  // namespace action

// Every text in an action is already in the configured normalisation form.
using Action = std::variant<action::Pass, action::Preedit, action::Replace, action::Commit>;

// A readable form of an action, for logs and test failures.
std::string to_string(const Action& action);

// The session's outside services. The session owns them for its whole life.
struct Ports {
  std::unique_ptr<ConfigStore> config;
  std::unique_ptr<AppContext> app;
  std::unique_ptr<SurroundingText> surrounding;
  std::unique_ptr<Dictionary> dictionary;
};

// The word committed last by a word end, for taking it up again on Backspace.
struct LastWord {
  std::u32string raw;
  std::string text;
  bool literal = false;
};

// `text` in normalisation form C or D. Pure ASCII is returned as it is.
std::string out(UnicodeForm form, std::string_view text);

class ImeSession {
 public:
  // Loads the configuration and resolves the focused application's profile and on/off state.
  explicit ImeSession(Ports ports);

  Action process_key(const KeyInput& input);

  // Forgets the current word; keeps settings, the last word and the capitalisation state.
  void reset();
  // Ends the pending word without a boundary: commits it unless it already stands in the application.
  Action flush();
  // A different application or field has the focus: its profile and on/off state apply.
  Action focus_changed(std::optional<std::string_view> app_id);
  // The user's switch: Vietnamese input on or off, remembered per application when one is known.
  Action toggle_vietnamese();
  // The configuration file changed: read it again.
  Action reload_config();

  std::string out(std::string_view text) const { return engine::out(config_.unicode_form, text); }

  const Config& config() const { return config_; }
  const AppProfile& profile() const { return profile_; }
  bool vietnamese() const { return vietnamese_; }
  FieldKind field_kind() const { return field_kind_; }
  void set_field_kind(FieldKind kind) { field_kind_ = kind; }
  // The current word as last shown, before normalisation; empty when no word is being typed.
  std::string_view text() const { return text_; }
  bool composing() const { return !raw_.empty(); }
  // The current word already stands in the application's text and is edited there.
  bool in_place() const { return in_place_.has_value(); }
  const std::optional<LastWord>& last_word() const { return last_word_; }

 private:
  Action letter(char32_t c);
  Action separator(char32_t c);
  Action escape();
  Action boundary_passthrough();
  Action word_end(std::optional<char32_t> boundary);
  Action finish(std::string_view final_text, std::optional<char32_t> boundary, bool forward);
  Action backspace();
  Action show_after_backspace(bool keep_in_place);
  Action show(std::string t);
  std::string compute(bool at_word_end);
  bool is_word_char(char32_t c) const;
  bool take_up_previous_word();
  bool still_in_application(std::string_view word, bool allow_extra_char) const;
  void set_literal(std::string base, std::size_t keys);
  std::optional<std::string> macro_text(std::string_view source, std::string_view lookup) const;
  void append_tail(std::string_view text);
  const core::InputMethodSpec& im() const;
  core::ComposeOptions opt() const;

  Config config_;
  std::u32string raw_;
  std::string text_;
  std::string commit_tail_;
  AppProfile profile_;
  std::optional<LastWord> last_word_;
  std::optional<core::Composer> composer_;
  std::optional<std::string> in_place_;
  std::size_t in_place_keys_ = 0;
  Ports ports_;
  bool literal_ = false;
  // A literal word reads as `literal_base_` followed by the keys of `raw_` from `literal_keys_` on: the
  // text it showed when it turned literal stays what it shows and commits.
  std::string literal_base_;
  std::size_t literal_keys_ = 0;
  bool undone_literal_ = false;
  bool capitalize_next_ = false;
  bool sentence_ended_ = false;
  bool vietnamese_ = true;
  FieldKind field_kind_ = FieldKind::Normal;
};

}  // namespace lumaret::engine
