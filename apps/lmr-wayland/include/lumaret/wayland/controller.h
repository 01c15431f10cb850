// The output controller: owns the engine session, turns each of its actions into input-method requests
// through a Backend, and keeps what is known of the application's text around the cursor. It also holds
// the per-focus state the event handlers need (consumed keys, serial, modifiers, field kind), so the
// handlers' decisions live here, testable without a compositor.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "lumaret/engine/ports.h"
#include "lumaret/engine/session.h"

namespace lumaret::wayland {

// The keyboard grab's modifier state, passed on before every forwarded key.
struct Modifiers {
  std::uint32_t depressed = 0;
  std::uint32_t latched = 0;
  std::uint32_t locked = 0;
  std::uint32_t group = 0;

  friend bool operator==(const Modifiers&, const Modifiers&) = default;
};

// Where the controller's requests go: the compositor, or a simulated application. Texts and offsets are
// UTF-8 bytes, as the protocol counts.
class Backend {
 public:
  virtual ~Backend() = default;
  // Clears the pre-edit, commits `text`, then commits the state with `serial`.
  virtual void commit(std::string_view text, std::uint32_t serial) = 0;
  virtual void clear_preedit(std::uint32_t serial) = 0;
  virtual void show_preedit(std::string_view text, std::int32_t caret_bytes, std::uint32_t serial) = 0;
  // Clears the pre-edit, deletes `delete_bytes` before the cursor and inserts `text`.
  virtual void replace_before_cursor(std::uint32_t delete_bytes, std::string_view text,
                                     std::uint32_t serial) = 0;
  // Sends `modifiers` and then the key on to the application.
  virtual void forward_key_event(std::uint32_t code, std::uint32_t time, bool pressed,
                                 const Modifiers& modifiers) = 0;
};

// The application's text around the cursor as last reported or predicted; offsets in bytes.
struct SurroundingState {
  std::string text;
  std::uint32_t cursor_bytes = 0;
  std::uint32_t anchor_bytes = 0;
  bool valid = false;

  // The state for `text`, or the invalid state when the text is not UTF-8 or an offset does not fall on
  // a character boundary within it.
  static SurroundingState reported(std::string text, std::uint32_t cursor_bytes, std::uint32_t anchor_bytes);

  friend bool operator==(const SurroundingState&, const SurroundingState&) = default;
};

// The surrounding text shared between the controller (which writes it) and the session (which reads
// the text before the cursor through it).
class SharedSurrounding final : public engine::SurroundingText {
 public:
  const SurroundingState& state() const { return state_; }
  void set(SurroundingState state) { state_ = std::move(state); }
  // Keys sent on to the application that it has not answered yet with a report of its text.
  std::uint32_t unanswered() const { return unanswered_; }
  void set_unanswered(std::uint32_t n) { unanswered_ = n; }

  // The text up to the cursor when the state is valid and up to date.
  std::optional<std::string_view> prefix() const;
  std::optional<std::string> before_cursor(std::uint32_t max_chars) override;
  bool awaiting_answer() const override { return unanswered_ > 0; }

 private:
  SurroundingState state_;
  std::uint32_t unanswered_ = 0;
};

// The key that caused an action.
struct KeyEvent {
  engine::Key key;
  std::uint32_t code = 0;  // evdev
  std::uint32_t time = 0;  // milliseconds, from the grab
  bool pressed = true;
  bool ctrl = false;
  bool alt = false;
  bool meta = false;
};

// The field kind for a text-input content type (hint bits, purpose).
engine::FieldKind field_kind_of(std::uint32_t hint, std::uint32_t purpose);

// Whether an application's reports of its text lag behind its edits, by its normalised id. Gecko
// (Firefox, Thunderbird and browsers built on it) reports after the input method's own requests but
// not after the keys it is sent, and takes deletion lengths through the last text it reported: a word
// edited in place there can cut text that is not the word. Its reports are not used.
bool reports_lag_behind(std::string_view normalized_app_id);

class Controller {
 public:
  // `ports.surrounding` is ignored: the controller puts its own shared surrounding text there.
  Controller(Backend& backend, engine::Ports ports, std::optional<std::filesystem::path> config_path);

  // Input-method events. `app_id` is the focused application as the platform reports it, when known.
  void activate(std::optional<std::string_view> app_id = std::nullopt);
  void deactivate();
  void surrounding_text(std::string text, std::uint32_t cursor_bytes, std::uint32_t anchor_bytes);
  void content_type(std::uint32_t hint, std::uint32_t purpose);
  void done();
  // Another application's window was activated: while active, the pending word is committed and that
  // application's profile and on/off state apply.
  void app_changed(std::optional<std::string_view> app_id);

  // Keyboard-grab events (the key already translated by the keymap).
  void set_modifiers(const Modifiers& modifiers) { modifiers_ = modifiers; }
  void key(const KeyEvent& event);

  // Delivers one action; `before` is the text believed to stand right before the cursor.
  void apply_action(engine::Action action, std::string_view before, const std::optional<KeyEvent>& key);
  void mark_consumed(std::uint32_t code);

  engine::ImeSession& session() { return *session_; }
  const engine::ImeSession& session() const { return *session_; }
  const SurroundingState& surrounding() const { return surrounding_->state(); }
  bool awaiting_answer() const { return surrounding_->awaiting_answer(); }
  const std::vector<std::uint32_t>& consumed() const { return consumed_; }
  std::uint32_t serial() const { return serial_; }
  bool active() const { return active_; }
  // The focused application counts deletion lengths in characters, so deletions are sent that way.
  bool deletes_by_chars() const { return deletes_by_chars_; }
  // The focused application's reports of its text are used (see `reports_lag_behind`).
  bool uses_reports() const { return !ignores_reports_; }
  engine::FieldKind field_kind() const { return field_kind_; }
  const Modifiers& modifiers() const { return modifiers_; }
  // Sets the serial, as after that many `done` events.
  void set_serial(std::uint32_t serial) { serial_ = serial; }

 private:
  void forward(const KeyEvent& event);
  void update_after_commit(std::string_view text);
  void update_after_replace(std::uint32_t delete_bytes, std::string_view text);
  void predicted(SurroundingState state);
  void reload_if_changed();
  std::string shown_word() const;
  void watch_deletion(const SurroundingState& before, std::uint32_t delete_bytes, std::string_view text);
  void repair_cut_text();
  void set_app(std::optional<std::string_view> app_id);

  Backend& backend_;
  std::shared_ptr<SharedSurrounding> surrounding_;
  std::unique_ptr<engine::ImeSession> session_;
  std::vector<std::uint32_t> consumed_;
  std::optional<std::filesystem::path> config_path_;
  std::optional<std::filesystem::file_time_type> config_mtime_;
  // The states the controller already knows: the last report it took and each state it predicted after
  // its own commits since. A report equal to one of them is not news.
  std::vector<SurroundingState> known_;
  bool reports_seen_ = false;  // since activate; an application that never reports is not waited for
  // Some applications (GTK 4.8) take delete_surrounding_text lengths as characters, not bytes: deleting
  // a word with accented letters then cuts characters before it. After a replacement that would show,
  // the text such an application would report is kept; a report equal to it marks the application as
  // counting characters (remembered by app id), and the characters it cut are written back on `done`.
  struct CharCountedDeletion {
    SurroundingState reported;  // what a character-counting application reports after the replacement
    std::string cut;            // the characters it then removed besides the word
    std::string text;           // the replacement, standing right before the cursor
  };
  std::optional<CharCountedDeletion> watched_deletion_;
  std::optional<CharCountedDeletion> repair_;
  bool deletes_by_chars_ = false;
  std::optional<std::string> app_id_;
  bool ignores_reports_ = false;
  std::set<std::string, std::less<>> char_counting_apps_;
  std::uint32_t serial_ = 0;
  Modifiers modifiers_;
  bool active_ = false;
  engine::FieldKind field_kind_ = engine::FieldKind::Normal;
};

}  // namespace lumaret::wayland
