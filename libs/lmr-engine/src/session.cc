// The engine session: one key in, one action out.
#include "lumaret/engine/session.h"

#include <unicode/bytestream.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <utility>

#include "lumaret/core/diff.h"
#include "lumaret/core/utf8.h"

namespace lumaret::engine {
namespace {

using core::count_chars;
using core::to_utf8;

constexpr std::uint32_t TAKE_UP_CONTEXT_CHARS = 25;
constexpr std::uint32_t TAKE_UP_MAX_CHARS = 12;
constexpr std::uint32_t COMMIT_TAIL_CHARS = 256;

bool is_ascii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

const icu::Normalizer2* normalizer(UnicodeForm form) {
  UErrorCode error = U_ZERO_ERROR;
  const icu::Normalizer2* n = form == UnicodeForm::Nfd ? icu::Normalizer2::getNFDInstance(error)
                                                       : icu::Normalizer2::getNFCInstance(error);
  return U_SUCCESS(error) ? n : nullptr;
}

std::string to_nfc(std::string_view text) {
  return out(UnicodeForm::Nfc, text);
}

// Full Unicode case mappings, used only at word ends and take-ups.
std::string lower_full(std::string_view text) {
  if (is_ascii(text)) {
    std::string lower(text);
    for (char& c : lower) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    return lower;
  }
  std::string result;
  icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())))
      .toLower(icu::Locale::getRoot())
      .toUTF8String(result);
  return result;
}

std::string upper_full(std::string_view text) {
  std::string result;
  icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())))
      .toUpper(icu::Locale::getRoot())
      .toUTF8String(result);
  return result;
}

char32_t simple_lower(char32_t c) {
  if (c >= U'A' && c <= U'Z') return c + 32;
  if (c < 0xC0) return c;
  return static_cast<char32_t>(u_tolower(static_cast<UChar32>(c)));
}

char32_t simple_upper(char32_t c) {
  if (c < 0xB5) return c >= U'a' && c <= U'z' ? c - 32 : c;
  return static_cast<char32_t>(u_toupper(static_cast<UChar32>(c)));
}

bool is_upper(char32_t c) {
  return (c >= U'A' && c <= U'Z') || (c >= 0xC0 && u_isUUppercase(static_cast<UChar32>(c)));
}

bool is_white_space(char32_t c) {
  return c == U' ' || (c >= 0x09 && c <= 0x0D) || (c >= 0x85 && u_isUWhiteSpace(static_cast<UChar32>(c)));
}

// Capital words such as "VN" stay as typed with smart capitals, except these, which start Vietnamese
// letters (ÂĂĐÊÔƠƯ).
bool is_letter_pair(char32_t a, char32_t b) {
  constexpr std::u32string_view PAIRS[] = {U"AA", U"AW", U"DD", U"EE", U"OO", U"OW", U"UW"};
  return std::any_of(std::begin(PAIRS), std::end(PAIRS),
                     [&](std::u32string_view p) { return p[0] == a && p[1] == b; });
}

// A word that ends in one of these leads into a link, a path or an address: the next word is typed as is.
bool opens_literal_context(char32_t c) {
  return c == U'-' || c == U'.' || c == U'/' || c == U':' || c == U'@' || c == U'\\' || c == U'_';
}

bool is_closing_mark(char32_t c) {
  return c == U'"' || c == U'\'' || c == U')' || c == U']' || c == 0x2019 || c == 0x201D || c == 0x203A ||
         c == 0xBB;
}

bool is_sentence_end(char32_t c) {
  return c == U'!' || c == U'.' || c == U'?' || c == 0x2026;
}

// The last character of UTF-8 text, or nothing for the empty text.
std::optional<char32_t> last_char(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::int32_t at = static_cast<std::int32_t>(text.size());
  UChar32 c;
  U8_PREV(text.data(), 0, at, c);
  return c < 0 ? std::nullopt : std::optional<char32_t>(static_cast<char32_t>(c));
}

// The text without its last character.
std::string_view drop_last_char(std::string_view text) {
  if (text.empty()) return text;
  std::int32_t at = static_cast<std::int32_t>(text.size());
  U8_BACK_1(reinterpret_cast<const std::uint8_t*>(text.data()), 0, at);
  return text.substr(0, static_cast<std::size_t>(at));
}

bool is_all_caps(std::string_view text) {
  bool upper = false;
  for (std::int32_t at = 0; at < static_cast<std::int32_t>(text.size());) {
    UChar32 c;
    U8_NEXT(text.data(), at, static_cast<std::int32_t>(text.size()), c);
    if (c < 0) continue;
    if ((c >= 'a' && c <= 'z') || (c >= 0xAA && c <= 0x1EBFF && u_isULowercase(c))) return false;
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0x1F3FF && u_isUUppercase(c))) upper = true;
  }
  return upper;
}

// Characters that belong to a word standing before the cursor.
bool is_take_up_char(char32_t c) {
  const auto u = static_cast<UChar32>(c);
  return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z') || (c >= 0xAA && u_isUAlphabetic(u)) ||
         u_getCombiningClass(u) != 0;
}

bool same_key(char32_t a, char32_t b) {
  if (a < 0x80 && b < 0x80) return simple_lower(a) == simple_lower(b);
  return a == b;
}

template <typename Table>
bool has_key(const Table& table, char32_t key) {
  return std::any_of(table.begin(), table.end(), [&](const auto& entry) { return entry.key == key; });
}

}  // namespace

std::string out(UnicodeForm form, std::string_view text) {
  if (is_ascii(text)) return std::string(text);
  const icu::Normalizer2* n = normalizer(form);
  if (n == nullptr) return std::string(text);
  const icu::StringPiece piece(text.data(), static_cast<std::int32_t>(text.size()));
  UErrorCode error = U_ZERO_ERROR;
  if (n->isNormalizedUTF8(piece, error) && U_SUCCESS(error)) return std::string(text);
  std::string result;
  icu::StringByteSink<std::string> sink(&result, static_cast<std::int32_t>(text.size()));
  error = U_ZERO_ERROR;
  n->normalizeUTF8(0, piece, sink, nullptr, error);
  return U_SUCCESS(error) ? result : std::string(text);
}

std::string to_string(const Key& key) {
  constexpr std::string_view NAMES[] = {"Char",   "Backspace", "Enter",    "Escape", "Tab", "Left",
                                        "Right",  "Up",        "Down",     "Home",   "End", "Delete",
                                        "PageUp", "PageDown",  "Modifier", "Other"};
  std::string name(NAMES[static_cast<std::size_t>(key.kind)]);
  if (key.kind == KeyKind::Char) name += "('" + to_utf8(std::u32string_view(&key.ch, 1)) + "')";
  return name;
}

std::string to_string(const Action& a) {
  struct Visitor {
    std::string operator()(const action::Pass&) const { return "pass"; }
    std::string operator()(const action::Preedit& p) const {
      std::string s = "pre \"" + p.text + "\"";
      if (p.cursor_chars != count_chars(p.text)) s += " @" + std::to_string(p.cursor_chars);
      return s;
    }
    std::string operator()(const action::Replace& r) const {
      return "replace -" + std::to_string(r.delete_chars) + " \"" + r.text + "\"" + (r.forward ? " fwd" : "");
    }
    std::string operator()(const action::Commit& c) const {
      return "commit \"" + c.text + "\"" + (c.forward ? " fwd" : "");
    }
  };
  return std::visit(Visitor{}, a);
}

ImeSession::ImeSession(Ports ports) : ports_(std::move(ports)) {
  config_ = ports_.config->load();
  focus_changed(ports_.app->current_app());
}

const core::InputMethodSpec& ImeSession::im() const {
  return core::method_by_name(profile_.input_method ? *profile_.input_method : config_.input_method);
}

core::ComposeOptions ImeSession::opt() const {
  const bool url = field_kind_ == FieldKind::Url;
  return {
      .tone_style = profile_.tone_style.value_or(config_.tone_style),
      .spell_check = profile_.spell_check.value_or(config_.spell_check),
      .w_as_u = config_.w_as_u && !url,
      .bracket_keys = config_.bracket_keys && !url,
      .quick_telex = config_.quick_telex && !url,
      .allow_coda_k = config_.allow_coda_k,
  };
}

void ImeSession::reset() {
  raw_.clear();
  text_.clear();
  literal_ = false;
  literal_base_.clear();
  literal_keys_ = 0;
  undone_literal_ = false;
  composer_.reset();
  in_place_.reset();
  in_place_keys_ = 0;
}

void ImeSession::set_literal(std::string base, std::size_t keys) {
  literal_ = true;
  literal_base_ = std::move(base);
  literal_keys_ = keys;
}

Action ImeSession::process_key(const KeyInput& input) {
  if (field_kind_ == FieldKind::Password || field_kind_ == FieldKind::Numeric ||
      field_kind_ == FieldKind::Email) {
    return action::Pass{};
  }
  if (!vietnamese_) return action::Pass{};
  const KeyKind kind = input.key.kind;
  if (kind == KeyKind::Modifier) return action::Pass{};

  const bool boundary =
      input.ctrl || input.alt || input.meta || (kind >= KeyKind::Tab && kind <= KeyKind::PageDown);
  if (boundary) {
    capitalize_next_ = false;
    sentence_ended_ = false;
    last_word_.reset();
    return boundary_passthrough();
  }

  // A word standing in the application is edited there only while it is still what stands before the
  // cursor; a click elsewhere, a held Backspace or an unanswered key make it someone else's text. No
  // character may follow it here: by now the Backspace that took it up has been answered, and any
  // character after the word is the user's, which the word's next edit would delete.
  if (in_place_ && !raw_.empty() &&
      (ports_.surrounding->awaiting_answer() || !still_in_application(out(text_), false))) {
    reset();
  }

  switch (kind) {
    case KeyKind::Char:
      return is_word_char(input.key.ch) ? letter(input.key.ch) : separator(input.key.ch);
    case KeyKind::Backspace:
      return backspace();
    case KeyKind::Enter: {
      Action a = word_end(std::nullopt);
      capitalize_next_ = config_.auto_capitalize;
      sentence_ended_ = false;
      return a;
    }
    case KeyKind::Escape:
      return escape();
    default:
      return boundary_passthrough();
  }
}

bool ImeSession::still_in_application(std::string_view word, bool allow_extra_char) const {
  const std::optional<std::string> before = ports_.surrounding->before_cursor(count_chars(word) + 1);
  if (!before) return true;  // the application tells nothing of its text: nothing to contradict the word
  if (before->ends_with(word)) return true;
  return allow_extra_char && drop_last_char(*before).ends_with(word);
}

Action ImeSession::boundary_passthrough() {
  std::string t = out(text_);
  const bool was_in_place = in_place_.has_value();
  reset();
  if (was_in_place || t.empty()) return action::Pass{};
  return action::Commit{std::move(t), true};
}

Action ImeSession::escape() {
  if (raw_.empty()) return action::Pass{};
  // A word taken up from the application ends as the text it had there followed by the keys typed since,
  // not as the keys that were worked out to type it again.
  std::string typed =
      in_place_ ? *in_place_ + to_utf8(std::u32string_view(raw_).substr(in_place_keys_)) : to_utf8(raw_);
  return finish(typed, std::nullopt, false);
}

bool ImeSession::is_word_char(char32_t c) const {
  const char32_t l = simple_lower(c);
  if (l >= U'a' && l <= U'z') return true;
  const core::InputMethodSpec& m = im();
  if (!raw_.empty() && (has_key(m.tone_keys, l) || l == m.remove_tone_key || has_key(m.mark_keys, l) ||
                        has_key(m.w_letters, l))) {
    return true;
  }
  if (config_.bracket_keys && has_key(m.bracket_letters, c)) return true;
  if (c >= U'0' && c <= U'9') {
    return !raw_.empty() && (m.digit_keys || (config_.macro_enabled && config_.macro_digits));
  }
  return false;
}

Action ImeSession::letter(char32_t c) {
  if (raw_.empty()) {
    if (capitalize_next_) c = simple_upper(c);
    capitalize_next_ = false;
    sentence_ended_ = false;
    if (!take_up_previous_word()) {
      const std::optional<char32_t> tail = last_char(commit_tail_);
      if (tail && opens_literal_context(*tail)) set_literal({}, 0);
    }
  }
  raw_.push_back(c);
  if (composer_ && composer_->raw() == std::u32string_view(raw_).substr(0, raw_.size() - 1)) {
    composer_->push(c);
  }
  if (raw_.size() > core::MAX_STEPPED_KEYS && !literal_) set_literal({}, 0);
  return show(compute(false));
}

std::string ImeSession::compute(bool at_word_end) {
  if (literal_) return literal_base_ + to_utf8(std::u32string_view(raw_).substr(literal_keys_));
  if (config_.smart_caps && raw_.size() >= 2 && is_upper(raw_[0]) && is_upper(raw_[1]) &&
      !is_letter_pair(raw_[0], raw_[1])) {
    return to_utf8(raw_);
  }
  if (!composer_ || composer_->raw() != raw_) composer_ = core::Composer::with_raw(im(), opt(), raw_);
  core::TransformResult r = composer_->result(at_word_end);
  if (!r.literal_text.empty()) undone_literal_ = true;
  if (!r.is_raw) return std::move(r.text);
  // The word is given back as typed. Later keys are appended as typed to what it shows now, so what was
  // shown is what is committed.
  std::string shown =
      in_place_ ? *in_place_ + to_utf8(std::u32string_view(raw_).substr(in_place_keys_)) : std::move(r.text);
  set_literal(shown, raw_.size());
  return shown;
}

Action ImeSession::show(std::string t) {
  std::string old_shown = out(text_);
  text_ = std::move(t);
  std::string new_shown = out(text_);
  if (in_place_) {
    core::TextDiff d = core::diff(old_shown, new_shown);
    return action::Replace{std::move(d.insert), d.delete_chars, false};
  }
  const std::uint32_t chars = count_chars(new_shown);
  return action::Preedit{std::move(new_shown), chars};
}

Action ImeSession::separator(char32_t c) {
  Action a = word_end(c);
  if (is_closing_mark(c)) {
    // a closing quote or bracket keeps the sentence state as it was
  } else if (is_sentence_end(c)) {
    sentence_ended_ = true;
  } else if (is_white_space(c)) {
    if (sentence_ended_ || c == U'\r' || c == U'\n') capitalize_next_ = config_.auto_capitalize;
    sentence_ended_ = false;
  } else {
    capitalize_next_ = false;
    sentence_ended_ = false;
  }
  return a;
}

Action ImeSession::word_end(std::optional<char32_t> boundary) {
  if (raw_.empty()) {
    last_word_.reset();
    if (boundary) append_tail(to_utf8(std::u32string_view(&*boundary, 1)));
    return action::Pass{};
  }
  std::string t = compute(true);
  if (config_.macro_enabled && field_kind_ != FieldKind::Url && !literal_) {
    std::optional<std::string> expansion = macro_text(text_, text_);
    if (!expansion) {
      const std::string typed = to_utf8(raw_);
      expansion = macro_text(typed, typed);
    }
    if (expansion) t = std::move(*expansion);
  }
  return finish(t, boundary, true);
}

Action ImeSession::finish(std::string_view final_text, std::optional<char32_t> boundary, bool forward) {
  std::string old_shown = out(text_);
  std::string new_shown = out(final_text);
  if (boundary && final_text == text_) {
    last_word_ = LastWord{raw_, text_, literal_};
  } else {
    last_word_.reset();
  }
  const std::string b = boundary ? to_utf8(std::u32string_view(&*boundary, 1)) : std::string();
  if (boundary) append_tail(new_shown + b);
  const bool was_in_place = in_place_.has_value();
  reset();
  if (was_in_place) {
    core::TextDiff d = core::diff(old_shown, new_shown + b);
    return action::Replace{std::move(d.insert), d.delete_chars, forward && !boundary};
  }
  if (!boundary) return action::Commit{std::move(new_shown), forward};
  return action::Commit{new_shown + b, false};
}

Action ImeSession::flush() {
  std::string t = out(text_);
  const bool was_in_place = in_place_.has_value();
  reset();
  last_word_.reset();
  commit_tail_.clear();
  if (was_in_place || t.empty()) return action::Pass{};
  return action::Commit{std::move(t), false};
}

void ImeSession::append_tail(std::string_view text) {
  commit_tail_ += text;
  if (commit_tail_.size() <= COMMIT_TAIL_CHARS) return;  // never more characters than bytes
  const std::uint32_t chars = count_chars(commit_tail_);
  if (chars <= COMMIT_TAIL_CHARS) return;
  std::int32_t at = 0;
  for (std::uint32_t skip = chars - COMMIT_TAIL_CHARS; skip > 0; --skip) {
    U8_FWD_1(reinterpret_cast<const std::uint8_t*>(commit_tail_.data()), at,
             static_cast<std::int32_t>(commit_tail_.size()));
  }
  commit_tail_.erase(0, static_cast<std::size_t>(at));
}

std::optional<std::string> ImeSession::macro_text(std::string_view source, std::string_view lookup) const {
  if (config_.macros.empty()) return std::nullopt;
  const auto found = config_.macros.find(lower_full(lookup));
  if (found == config_.macros.end() || found->second.empty()) return std::nullopt;
  const std::string& expansion = found->second;
  if (is_all_caps(source) && count_chars(source) >= 2) return upper_full(expansion);
  std::int32_t first_end = 0;
  UChar32 first;
  U8_NEXT(source.data(), first_end, static_cast<std::int32_t>(source.size()), first);
  if (!source.empty() && first >= 0 && is_upper(static_cast<char32_t>(first)) && !expansion.empty()) {
    std::int32_t at = 0;
    U8_FWD_1(reinterpret_cast<const std::uint8_t*>(expansion.data()), at,
             static_cast<std::int32_t>(expansion.size()));
    return upper_full(std::string_view(expansion).substr(0, static_cast<std::size_t>(at))) +
           expansion.substr(static_cast<std::size_t>(at));
  }
  return expansion;
}

Action ImeSession::backspace() {
  if (raw_.empty()) {
    commit_tail_.clear();
    std::optional<LastWord> last = std::exchange(last_word_, std::nullopt);
    const bool take_up = profile_.restore_after_space.value_or(config_.restore_after_space);
    // The application deletes the separator itself; the word before it is taken up only when it is
    // still what stands there.
    if (last && take_up && !ports_.surrounding->awaiting_answer() &&
        still_in_application(out(last->text), true)) {
      raw_ = std::move(last->raw);
      text_ = std::move(last->text);
      if (last->literal) set_literal(text_, raw_.size());
      in_place_ = text_;
      in_place_keys_ = raw_.size();
    }
    return action::Pass{};
  }

  const std::string s(drop_last_char(text_));
  if (s.empty()) {
    Action a = show({});
    reset();
    return a;
  }
  const bool keep_in_place = in_place_.has_value();
  std::optional<std::u32string> keys;
  if (literal_) {
    const std::size_t n = raw_.size();
    if (n >= 2 && same_key(raw_[n - 1], raw_[n - 2])) {
      // A doubled last key: the word is composed again from the keys before it.
      raw_.pop_back();
      core::TransformResult r = core::Composer::with_raw(im(), opt(), raw_).result(false);
      in_place_.reset();
      composer_.reset();
      literal_ = false;
      literal_base_.clear();
      literal_keys_ = 0;
      if (r.is_raw) set_literal(std::move(r.text), raw_.size());
      undone_literal_ = false;
      return show_after_backspace(keep_in_place);
    }
    if (undone_literal_) {
      keys = core::rebuild(s, im(), opt());
    } else if (to_utf8(raw_) == text_) {
      if (!ports_.dictionary->is_english(lower_full(text_))) {
        const std::u32string_view shorter = std::u32string_view(raw_).substr(0, n - 1);
        const core::TransformResult r = core::Composer::with_raw(im(), opt(), shorter).result(false);
        if (!r.is_raw && r.text != s && r.status != syllable::Status::Invalid) keys = std::u32string(shorter);
      }
    }
  } else {
    keys = core::rebuild(s, im(), opt());
  }
  in_place_.reset();
  if (!keys) {
    raw_ = core::to_chars(s).value_or(std::u32string());
    set_literal({}, 0);
  } else {
    raw_ = std::move(*keys);
    literal_ = false;
    literal_base_.clear();
    literal_keys_ = 0;
    undone_literal_ = false;
  }
  return show_after_backspace(keep_in_place);
}

Action ImeSession::show_after_backspace(bool keep_in_place) {
  std::string t = compute(false);
  if (keep_in_place) {
    in_place_ = t;
    in_place_keys_ = raw_.size();
  }
  return show(std::move(t));
}

bool ImeSession::take_up_previous_word() {
  if (!config_.edit_previous_word || profile_.edit_previous_word == false) return false;
  if (ports_.surrounding->awaiting_answer()) return false;
  const std::optional<std::string> before = ports_.surrounding->before_cursor(TAKE_UP_CONTEXT_CHARS);
  if (!before || before->empty()) return false;

  std::int32_t start = static_cast<std::int32_t>(before->size());
  while (start > 0) {
    std::int32_t at = start;
    UChar32 c;
    U8_PREV(before->data(), 0, at, c);
    if (c < 0 || !is_take_up_char(static_cast<char32_t>(c))) break;
    start = at;
  }
  const std::string_view word = std::string_view(*before).substr(static_cast<std::size_t>(start));
  if (word.empty() || out(word) != word) return false;
  std::string nfc = to_nfc(word);
  if (count_chars(nfc) > TAKE_UP_MAX_CHARS) return false;
  std::optional<std::u32string> keys = core::rebuild(nfc, im(), opt());
  if (!keys || keys->empty()) return false;

  raw_ = std::move(*keys);
  text_ = nfc;
  in_place_ = std::move(nfc);
  in_place_keys_ = raw_.size();
  literal_ = false;
  literal_base_.clear();
  literal_keys_ = 0;
  return true;
}

Action ImeSession::focus_changed(std::optional<std::string_view> app_id) {
  Action a = flush();
  capitalize_next_ = false;
  sentence_ended_ = false;
  const std::string n = normalize_app_id(app_id);
  const auto profile = n.empty() ? config_.app_profiles.end() : config_.app_profiles.find(n);
  profile_ = profile != config_.app_profiles.end() ? profile->second : AppProfile{};

  const bool excluded =
      !n.empty() && std::any_of(config_.excluded_apps.begin(), config_.excluded_apps.end(),
                                [&](const std::string& e) { return normalize_app_id(e) == n; });
  if (excluded) {
    vietnamese_ = false;
  } else if (const auto mode = config_.app_modes.find(n); mode != config_.app_modes.end()) {
    vietnamese_ = mode->second;
  } else if (profile_.vietnamese) {
    vietnamese_ = *profile_.vietnamese;
  } else {
    vietnamese_ = config_.default_vietnamese;
  }
  return a;
}

Action ImeSession::toggle_vietnamese() {
  Action a = flush();
  vietnamese_ = !vietnamese_;
  const std::optional<std::string> app = ports_.app->current_app();
  const std::string n = normalize_app_id(app ? std::optional<std::string_view>(*app) : std::nullopt);
  if (!n.empty()) {
    config_.app_modes[n] = vietnamese_;
    ports_.config->save(config_);
  }
  return a;
}

Action ImeSession::reload_config() {
  Action a = flush();
  config_ = ports_.config->load();
  composer_.reset();
  return a;
}

}  // namespace lumaret::engine
