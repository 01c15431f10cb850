// The output controller.
#include "lumaret/wayland/controller.h"

#include <unicode/utf8.h>

#include <algorithm>
#include <iterator>
#include <limits>
#include <system_error>
#include <utility>

#include "lumaret/adapter/plan.h"
#include "lumaret/adapter/surrounding.h"
#include "lumaret/core/utf8.h"

namespace lumaret::wayland {
namespace {

using engine::FieldKind;

constexpr std::size_t MAX_KNOWN_STATES = 32;

bool is_disabled(FieldKind kind) {
  return kind == FieldKind::Password || kind == FieldKind::Numeric || kind == FieldKind::Email;
}

bool is_boundary(std::string_view text, std::uint32_t at_bytes) {
  if (at_bytes > text.size()) return false;
  if (at_bytes == text.size()) return true;
  return !U8_IS_TRAIL(static_cast<std::uint8_t>(text[at_bytes]));
}

// The session sees the controller's surrounding text through this port; the controller keeps it too.
class SurroundingPort final : public engine::SurroundingText {
 public:
  explicit SurroundingPort(std::shared_ptr<SharedSurrounding> shared) : shared_(std::move(shared)) {}
  std::optional<std::string> before_cursor(std::uint32_t max_chars) override {
    return shared_->before_cursor(max_chars);
  }
  bool awaiting_answer() const override { return shared_->awaiting_answer(); }

 private:
  std::shared_ptr<SharedSurrounding> shared_;
};

std::optional<std::filesystem::file_time_type> modification_time(
    const std::optional<std::filesystem::path>& path) {
  if (!path) return std::nullopt;
  std::error_code error;
  const auto time = std::filesystem::last_write_time(*path, error);
  if (error) return std::nullopt;
  return time;
}

adapter::AdapterAction translate(engine::Action&& action) {
  if (auto* p = std::get_if<engine::action::Preedit>(&action)) {
    // The caret in UTF-16 units: the length of the first `cursor_chars` characters (all when fewer).
    std::uint32_t units = 0;
    std::uint32_t chars = 0;
    const std::string_view text = p->text;
    for (std::int32_t at = 0; at < static_cast<std::int32_t>(text.size()) && chars < p->cursor_chars;
         ++chars) {
      UChar32 c;
      U8_NEXT(text.data(), at, static_cast<std::int32_t>(text.size()), c);
      units += c >= 0x10000 ? 2 : 1;
    }
    return adapter::Preedit{std::move(p->text), units};
  }
  if (auto* r = std::get_if<engine::action::Replace>(&action)) {
    return adapter::Replace{std::move(r->text), r->delete_chars, r->forward};
  }
  if (auto* c = std::get_if<engine::action::Commit>(&action)) {
    return adapter::Commit{std::move(c->text), c->forward};
  }
  return adapter::Pass{};
}

// The byte offset where the UTF-16 count from the start reaches `units`; the end when it never does.
std::int32_t caret_bytes(std::string_view text, std::uint32_t units) {
  if (const std::optional<std::string_view> head = adapter::utf16_prefix(text, units)) {
    return static_cast<std::int32_t>(head->size());
  }
  return static_cast<std::int32_t>(text.size());
}

}  // namespace

SurroundingState SurroundingState::reported(std::string text, std::uint32_t cursor_bytes,
                                            std::uint32_t anchor_bytes) {
  if (!is_boundary(text, cursor_bytes) || !is_boundary(text, anchor_bytes) || !core::is_utf8(text)) return {};
  return {std::move(text), cursor_bytes, anchor_bytes, true};
}

std::optional<std::string_view> SharedSurrounding::prefix() const {
  if (!state_.valid || unanswered_ > 0) return std::nullopt;
  return std::string_view(state_.text).substr(0, state_.cursor_bytes);
}

std::optional<std::string> SharedSurrounding::before_cursor(std::uint32_t max_chars) {
  // With a selection, typing replaces the selection: nothing before the cursor is a word to take up.
  if (state_.cursor_bytes != state_.anchor_bytes) return std::nullopt;
  const std::optional<std::string_view> head = prefix();
  if (!head) return std::nullopt;
  const std::uint32_t chars = core::count_chars(*head);
  return std::string(*adapter::char_suffix(*head, std::min(chars, max_chars)));
}

FieldKind field_kind_of(std::uint32_t hint, std::uint32_t purpose) {
  constexpr std::uint32_t SENSITIVE_DATA = 0x80;
  if (hint & SENSITIVE_DATA) return FieldKind::Password;
  switch (purpose) {
    case 2:
    case 3:
    case 4:
    case 9:
      return FieldKind::Numeric;
    case 5:
      return FieldKind::Url;
    case 6:
      return FieldKind::Email;
    case 8:
      return FieldKind::Password;
    case 13:
      return FieldKind::Terminal;
    default:
      return FieldKind::Normal;
  }
}

bool reports_lag_behind(std::string_view normalized_app_id) {
  static constexpr std::string_view GECKO[] = {
      "firefox",  // also firefox-esr, firefox-nightly, firefox-developer-edition
      "org.mozilla.", "thunderbird", "librewolf", "io.gitlab.librewolf", "waterfox", "floorp",
  };
  return std::any_of(std::begin(GECKO), std::end(GECKO),
                     [&](std::string_view prefix) { return normalized_app_id.starts_with(prefix); });
}

Controller::Controller(Backend& backend, engine::Ports ports,
                       std::optional<std::filesystem::path> config_path)
    : backend_(backend),
      surrounding_(std::make_shared<SharedSurrounding>()),
      config_path_(std::move(config_path)),
      config_mtime_(modification_time(config_path_)) {
  ports.surrounding = std::make_unique<SurroundingPort>(surrounding_);
  session_ = std::make_unique<engine::ImeSession>(std::move(ports));
}

std::string Controller::shown_word() const {
  return session_->out(session_->text());
}

void Controller::set_app(std::optional<std::string_view> app_id) {
  app_id_ = app_id ? std::optional<std::string>(*app_id) : std::nullopt;
  ignores_reports_ = app_id && reports_lag_behind(engine::normalize_app_id(app_id));
  if (ignores_reports_) {
    // Nothing it reported is taken: no word is taken up or edited in place there.
    surrounding_->set({});
    surrounding_->set_unanswered(0);
    known_.clear();
    reports_seen_ = false;
  }
}

void Controller::activate(std::optional<std::string_view> app_id) {
  active_ = true;
  set_app(app_id);
  deletes_by_chars_ = app_id_ && char_counting_apps_.contains(*app_id_);
  watched_deletion_.reset();
  repair_.reset();
  consumed_.clear();
  surrounding_->set({});
  surrounding_->set_unanswered(0);
  known_.clear();
  reports_seen_ = false;
  // A new field says what it is; one that says nothing is a normal field, whatever the last one was.
  field_kind_ = FieldKind::Normal;
  session_->set_field_kind(FieldKind::Normal);
  session_->focus_changed(app_id);
  session_->reset();
  backend_.clear_preedit(serial_);
}

void Controller::app_changed(std::optional<std::string_view> app_id) {
  if (!active_) return;  // the next activate resolves it
  set_app(app_id);
  if (app_id_ && char_counting_apps_.contains(*app_id_)) deletes_by_chars_ = true;
  const std::string before = shown_word();
  apply_action(session_->focus_changed(app_id), before, std::nullopt);
}

void Controller::deactivate() {
  if (!active_) return;
  backend_.clear_preedit(serial_);
  session_->reset();
  consumed_.clear();
  watched_deletion_.reset();
  repair_.reset();
  active_ = false;
}

void Controller::surrounding_text(std::string text, std::uint32_t cursor_bytes, std::uint32_t anchor_bytes) {
  if (ignores_reports_) return;
  SurroundingState report = SurroundingState::reported(std::move(text), cursor_bytes, anchor_bytes);
  reports_seen_ = true;
  const bool news = std::find(known_.begin(), known_.end(), report) == known_.end();
  if (watched_deletion_ && news && report == watched_deletion_->reported) {
    deletes_by_chars_ = true;
    if (app_id_) char_counting_apps_.insert(*app_id_);
    repair_ = std::move(watched_deletion_);
  }
  if (news) {
    if (surrounding_->unanswered() > 0) surrounding_->set_unanswered(surrounding_->unanswered() - 1);
    known_.assign(1, report);
    surrounding_->set(std::move(report));
  }
  // A report of a state already known is no answer to a forwarded key. With nothing unanswered it is a
  // late echo of an earlier state: our own commits since then stand.
}

void Controller::content_type(std::uint32_t hint, std::uint32_t purpose) {
  const FieldKind kind = field_kind_of(hint, purpose);
  if (kind == field_kind_) return;
  const std::string before = shown_word();
  engine::Action a = session_->flush();
  session_->set_field_kind(kind);
  field_kind_ = kind;
  if (is_disabled(kind)) {
    session_->reset();
    backend_.clear_preedit(serial_);
    consumed_.clear();
    return;
  }
  apply_action(std::move(a), before, std::nullopt);
}

void Controller::done() {
  if (serial_ < std::numeric_limits<std::uint32_t>::max()) ++serial_;
  if (repair_) repair_cut_text();
}

void Controller::watch_deletion(const SurroundingState& before, std::uint32_t delete_bytes,
                                std::string_view text) {
  watched_deletion_.reset();
  if (deletes_by_chars_ || !before.valid || before.cursor_bytes < delete_bytes) return;
  const std::string_view head = std::string_view(before.text).substr(0, before.cursor_bytes);
  const std::string_view kept_by_bytes = head.substr(0, head.size() - delete_bytes);
  // The same length taken as characters reaches further back (never past the start of the text).
  const std::string_view removed_as_chars =
      *adapter::char_suffix(head, std::min(delete_bytes, core::count_chars(head)));
  const std::size_t from = head.size() - removed_as_chars.size();
  if (from >= kept_by_bytes.size()) return;  // a word of one-byte characters: both readings agree
  CharCountedDeletion watched;
  watched.cut = std::string(kept_by_bytes.substr(from));
  watched.text = std::string(text);
  watched.reported.text = std::string(head.substr(0, from)) + watched.text;
  watched.reported.cursor_bytes = watched.reported.anchor_bytes =
      static_cast<std::uint32_t>(watched.reported.text.size());
  watched.reported.text += std::string_view(before.text).substr(before.cursor_bytes);
  watched.reported.valid = true;
  watched_deletion_ = std::move(watched);
}

void Controller::repair_cut_text() {
  // The application holds the replacement without the characters it cut before it: take the
  // replacement back (counted in characters, as it counts) and write both again.
  const CharCountedDeletion repair = std::move(*repair_);
  repair_.reset();
  const std::string restored = repair.cut + repair.text;
  backend_.replace_before_cursor(core::count_chars(repair.text), restored, serial_);
  update_after_replace(static_cast<std::uint32_t>(repair.text.size()), restored);
}

void Controller::mark_consumed(std::uint32_t code) {
  if (std::find(consumed_.begin(), consumed_.end(), code) == consumed_.end()) consumed_.push_back(code);
}

void Controller::forward(const KeyEvent& event) {
  backend_.forward_key_event(event.code, event.time, event.pressed, modifiers_);
  if (event.pressed) watched_deletion_.reset();
  // The application answers a key that may change its text with a report; until it has, what we know
  // of its text is out of date. A modifier alone changes nothing.
  if (event.pressed && event.key.kind != engine::KeyKind::Modifier && reports_seen_) {
    surrounding_->set_unanswered(surrounding_->unanswered() + 1);
  }
}

void Controller::reload_if_changed() {
  const std::optional<std::filesystem::file_time_type> time = modification_time(config_path_);
  if (time == config_mtime_) return;
  // Settings change between words, never under one.
  if (!shown_word().empty()) return;
  config_mtime_ = time;
  apply_action(session_->reload_config(), {}, std::nullopt);
}

void Controller::key(const KeyEvent& event) {
  if (!event.pressed) {
    if (const auto found = std::find(consumed_.begin(), consumed_.end(), event.code);
        found != consumed_.end()) {
      *found = consumed_.back();
      consumed_.pop_back();
      return;
    }
    forward(event);
    return;
  }
  if (!active_ || is_disabled(field_kind_)) {
    forward(event);
    return;
  }
  reload_if_changed();
  if (event.key == engine::Key::character(U',') && event.alt && !event.ctrl && !event.meta) {
    // The switch may save the configuration, so a change to the file still waiting for the end of a
    // word is read first: saving over it would lose the user's edit.
    if (modification_time(config_path_) != config_mtime_) {
      const std::string pending = shown_word();
      apply_action(session_->flush(), pending, std::nullopt);
      reload_if_changed();
    }
    const std::string before = shown_word();
    apply_action(session_->toggle_vietnamese(), before, std::nullopt);
    // Our own save is not a change to read back.
    config_mtime_ = modification_time(config_path_);
    mark_consumed(event.code);
    return;
  }
  // What stands before the cursor: the session's word while it is there. A word in place that no longer
  // stands there is dropped by the session, which may take up the word that does; the edit is then
  // measured on the application's text.
  std::string before = shown_word();
  const std::optional<std::string_view> head = surrounding_->prefix();
  if (head && (before.empty() || (session_->in_place() && !head->ends_with(before)))) before = *head;
  engine::Action a = session_->process_key({event.key, event.ctrl, event.alt, event.meta});
  apply_action(std::move(a), before, event);
}

void Controller::apply_action(engine::Action action, std::string_view before,
                              const std::optional<KeyEvent>& key) {
  const SurroundingState& state = surrounding_->state();
  adapter::PlanContext context{.expected = before, .field_kind = field_kind_, .trusted = false};
  // Only a replacement is checked against the application's text; counting its UTF-16 units for every
  // other key would cost time proportional to the whole text.
  const bool replacing = std::holds_alternative<engine::action::Replace>(action);
  if (replacing && state.valid && !surrounding_->awaiting_answer()) {
    context.surrounding = adapter::SurroundingView{
        state.text,
        adapter::utf16_length(std::string_view(state.text).substr(0, state.cursor_bytes)),
        adapter::utf16_length(std::string_view(state.text).substr(0, state.anchor_bytes)),
    };
  }
  const adapter::DeliveryPlan plan =
      adapter::plan_action(translate(std::move(action)), context, session_->profile());

  const auto forward_or_consume = [&](bool forward_key) {
    if (!key) return;
    if (forward_key) {
      forward(*key);
    } else {
      mark_consumed(key->code);
    }
  };
  const auto commit = [&] {
    backend_.clear_preedit(serial_);
    backend_.commit(plan.text, serial_);
    update_after_commit(plan.text);
    forward_or_consume(plan.forward);
  };

  switch (plan.kind) {
    case adapter::PlanKind::Pass:
      if (key) forward(*key);
      return;
    case adapter::PlanKind::Preedit:
      if (plan.text.empty()) {
        backend_.clear_preedit(serial_);
      } else {
        backend_.show_preedit(plan.text, caret_bytes(plan.text, plan.cursor_units), serial_);
      }
      if (key) mark_consumed(key->code);
      return;
    case adapter::PlanKind::Commit:
      commit();
      return;
    case adapter::PlanKind::Replace: {
      std::string_view base = before;
      if (base.empty()) base = surrounding_->prefix().value_or(std::string_view());
      const std::optional<std::string_view> deleted = adapter::char_suffix(base, plan.delete_chars);
      if (!deleted || deleted->empty()) {
        commit();
        return;
      }
      const auto delete_bytes = static_cast<std::uint32_t>(deleted->size());
      backend_.clear_preedit(serial_);
      // An application known to count characters is sent the length it expects.
      backend_.replace_before_cursor(deletes_by_chars_ ? core::count_chars(*deleted) : delete_bytes,
                                     plan.text, serial_);
      const SurroundingState state_before = surrounding_->state();
      update_after_replace(delete_bytes, plan.text);
      if (surrounding_->state().valid) watch_deletion(state_before, delete_bytes, plan.text);
      forward_or_consume(plan.forward);
      return;
    }
    case adapter::PlanKind::Fallback: {
      // The replacement cannot be verified, so nothing is deleted. A word that already stands in the
      // application stays as it stands there: committing it again would write it twice.
      const std::string word = session_->in_place() ? std::string() : shown_word();
      session_->reset();
      backend_.clear_preedit(serial_);
      if (!word.empty()) {
        backend_.commit(word, serial_);
        update_after_commit(word);
      }
      if (key) forward(*key);
      return;
    }
  }
}

void Controller::predicted(SurroundingState state) {
  watched_deletion_.reset();  // what a character-counting application would show is out of date
  if (known_.size() >= MAX_KNOWN_STATES) known_.erase(known_.begin() + 1);  // keep the last report
  known_.push_back(state);
  surrounding_->set(std::move(state));
}

void Controller::update_after_commit(std::string_view text) {
  const SurroundingState& s = surrounding_->state();
  if (text.empty() || !s.valid || surrounding_->awaiting_answer()) return;
  if (!is_boundary(s.text, s.cursor_bytes)) {
    surrounding_->set({});
    return;
  }
  // The committed text replaces the selection, as the application does.
  const std::uint32_t from = std::min(s.cursor_bytes, s.anchor_bytes);
  const std::uint32_t to = std::max(s.cursor_bytes, s.anchor_bytes);
  SurroundingState next;
  next.text = s.text.substr(0, from);
  next.text += text;
  next.text += std::string_view(s.text).substr(to);
  next.cursor_bytes = next.anchor_bytes = from + static_cast<std::uint32_t>(text.size());
  next.valid = true;
  predicted(std::move(next));
}

void Controller::update_after_replace(std::uint32_t delete_bytes, std::string_view text) {
  const SurroundingState& s = surrounding_->state();
  if (!s.valid || surrounding_->awaiting_answer()) return;
  if (s.cursor_bytes < delete_bytes || !is_boundary(s.text, s.cursor_bytes) ||
      !is_boundary(s.text, s.cursor_bytes - delete_bytes)) {
    surrounding_->set({});
    return;
  }
  const std::uint32_t from = s.cursor_bytes - delete_bytes;
  SurroundingState next;
  next.text = s.text.substr(0, from);
  next.text += text;
  next.text += std::string_view(s.text).substr(s.cursor_bytes);
  next.cursor_bytes = next.anchor_bytes = from + static_cast<std::uint32_t>(text.size());
  next.valid = true;
  predicted(std::move(next));
}

}  // namespace lumaret::wayland
