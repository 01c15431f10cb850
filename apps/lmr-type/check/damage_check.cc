// The damage check: a backend between the controller and the simulated application that judges every
// deletion before the application carries it out.
#include "damage_check.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "held_key.h"
#include "lumaret/adapter/surrounding.h"
#include "lumaret/core/utf8.h"
#include "lumaret/engine/defaults.h"
#include "lumaret/engine/notation.h"
#include "lumaret/wayland/controller.h"

namespace lumaret::type {
namespace {

using engine::Key;
using engine::KeyKind;

// Printable characters stand for themselves, so that seeds read as typed text; other bytes below the
// named keys pick from the same set. Letters come often, tone and mark keys of every method, separators.
constexpr std::u32string_view CHARACTERS =
    U"abcdeghiklmnopqrstuvxyaeiouydwfjsrxzAEODUW0123456789[]^(+~`'?.-/@  ,!\"";

constexpr KeyKind NAMED[] = {
    KeyKind::Backspace, KeyKind::Backspace, KeyKind::Backspace, KeyKind::Backspace, KeyKind::Backspace,
    KeyKind::Backspace, KeyKind::Backspace, KeyKind::Backspace, KeyKind::Enter,     KeyKind::Enter,
    KeyKind::Escape,    KeyKind::Left,      KeyKind::Left,      KeyKind::Right,     KeyKind::Home,
    KeyKind::End,       KeyKind::Delete,    KeyKind::Tab,       KeyKind::Up,        KeyKind::Modifier,
};

constexpr const char* METHODS[] = {"telex", "vni", "viqr", "simple_telex"};

// Steps beyond this many are ignored: longer runs find nothing shorter ones do not.
constexpr std::size_t MAX_STEPS = 512;

bool is_boundary(std::string_view text, std::size_t at) {
  return at == text.size() || (at < text.size() && !U8_IS_TRAIL(static_cast<std::uint8_t>(text[at])));
}

// Letters as a word is taken up from the application: ASCII letters, alphabetic characters, combining marks.
bool is_letter(UChar32 c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= 0xAA && u_isUAlphabetic(c)) ||
         u_getCombiningClass(c) != 0;
}

// Bytes of the run of letters at the end of `text`.
std::size_t letters_at_end(std::string_view text) {
  auto start = static_cast<std::int32_t>(text.size());
  while (start > 0) {
    std::int32_t at = start;
    UChar32 c;
    U8_PREV(text.data(), 0, at, c);
    if (c < 0 || !is_letter(c)) break;
    start = at;
  }
  return text.size() - static_cast<std::size_t>(start);
}

// The character position right after a word of `text`, or one character further when the top bit of `n` is
// set: the word is the (n & 0x7f)-th, counted round. The end of the text when there is no word.
std::uint32_t after_word(std::string_view text, std::uint8_t n) {
  const std::optional<std::u32string> chars = core::to_chars(text);
  if (!chars) return 0;
  std::vector<std::uint32_t> ends;
  for (std::size_t i = 1; i <= chars->size(); ++i) {
    if (is_letter(static_cast<UChar32>((*chars)[i - 1])) &&
        (i == chars->size() || !is_letter(static_cast<UChar32>((*chars)[i])))) {
      ends.push_back(static_cast<std::uint32_t>(i));
    }
  }
  const auto size = static_cast<std::uint32_t>(chars->size());
  return ends.empty() ? size : std::min(ends[(n & 0x7f) % ends.size()] + (n >> 7), size);
}

std::string in_quotes(std::string_view text) {
  std::string q = "\"";
  for (char c : text) {
    if (c == '\n') {
      q += "\\n";
    } else {
      q += c;
    }
  }
  return q + "\"";
}

class FixedConfigStore final : public engine::ConfigStore {
 public:
  explicit FixedConfigStore(engine::Config config) : config_(std::move(config)) {}
  engine::Config load() override { return config_; }
  void save(const engine::Config&) override {}

 private:
  engine::Config config_;
};

// The word lists are built once for the whole process.
class SharedDictionary final : public engine::Dictionary {
 public:
  bool is_english(std::string_view w) const override { return words().is_english(w); }
  bool is_vietnamese(std::string_view w) const override { return words().is_vietnamese(w); }

 private:
  static const engine::WordListDictionary& words() {
    static const engine::WordListDictionary d = engine::WordListDictionary::defaults();
    return d;
  }
};

// What the session held before the key now being handled.
struct BeforeKey {
  bool in_place = false;
  std::string word;  // as shown, in output form
};

// Sits between the controller and the application; judges each deletion before passing it on.
class Judge final : public wayland::Backend {
 public:
  Judge(HeldKey& held, const SimulatedApp& app) : held_(held), app_(app) {}

  void commit(std::string_view text, std::uint32_t serial) override { held_.commit(text, serial); }
  void clear_preedit(std::uint32_t serial) override { held_.clear_preedit(serial); }
  void show_preedit(std::string_view text, std::int32_t caret_bytes, std::uint32_t serial) override {
    held_.show_preedit(text, caret_bytes, serial);
  }
  void forward_key_event(std::uint32_t code, std::uint32_t time, bool pressed,
                         const wayland::Modifiers& modifiers) override {
    if (pressed) forwarded_ = true;
    held_.forward_key_event(code, time, pressed, modifiers);
  }
  void replace_before_cursor(std::uint32_t delete_bytes, std::string_view text,
                             std::uint32_t serial) override {
    judge(delete_bytes);
    ++replacements_;
    held_.replace_before_cursor(delete_bytes, text, serial);
  }

  // A key is about to be handled.
  void start_key(BeforeKey before) {
    before_ = std::move(before);
    forwarded_ = false;
    deleted_from_.reset();
    took_letters_ = false;
  }
  bool forwarded() const { return forwarded_; }
  // Where the key's deletion began (bytes), when it deleted anything.
  const std::optional<std::uint32_t>& deleted_from() const { return deleted_from_; }
  // The deletion was allowed only as a take-up of the letters before the cursor.
  bool took_letters() const { return took_letters_; }
  const std::optional<std::string>& damage() const { return damage_; }
  std::uint64_t replacements() const { return replacements_; }

 private:
  void judge(std::uint32_t delete_bytes) {
    const std::string_view text = app_.text();
    const std::uint32_t cursor = app_.cursor_bytes();
    const std::string_view prefix = text.substr(0, cursor);
    if (delete_bytes > cursor || !is_boundary(text, cursor - delete_bytes)) {
      fail("asks to delete " + std::to_string(delete_bytes) + " bytes before the cursor of " +
           in_quotes(prefix) + ", which is not a whole number of characters there");
      return;
    }
    deleted_from_ = cursor - delete_bytes;
    if (before_.in_place && prefix.ends_with(before_.word) && delete_bytes <= before_.word.size()) return;
    if (delete_bytes <= letters_at_end(prefix)) {
      took_letters_ = true;
      return;
    }
    fail("deletes " + in_quotes(prefix.substr(cursor - delete_bytes)) + " from " + in_quotes(prefix) +
         ", outside the word being edited" +
         (before_.in_place ? " (" + in_quotes(before_.word) + ")" : std::string(" (none)")));
  }

  void fail(std::string what) {
    if (!damage_) damage_ = std::move(what);
  }

  HeldKey& held_;
  const SimulatedApp& app_;
  BeforeKey before_;
  bool forwarded_ = false;
  std::optional<std::uint32_t> deleted_from_;
  bool took_letters_ = false;
  std::optional<std::string> damage_;
  std::uint64_t replacements_ = 0;
};

engine::Ports ports_for(const engine::Config& config) {
  return {std::make_unique<FixedConfigStore>(config), std::make_unique<engine::StaticAppContext>(), nullptr,
          std::make_unique<SharedDictionary>()};
}

// The command line and configuration that replay a scenario with lumaret-type.
std::string replay_of(const DamageScenario& s, const std::string& line) {
  const engine::Config& c = s.config;
  const engine::Config d = engine::Config::defaults();
  std::string json;
  const auto add = [&](std::string_view member) {
    json += json.empty() ? "{" : ", ";
    json += member;
  };
  if (c.input_method != d.input_method) add("\"input_method\": \"" + c.input_method + "\"");
  if (c.unicode_form != d.unicode_form) add("\"unicode_form\": \"NFD\"");
  if (c.spell_check != d.spell_check) add("\"spell_check\": false");
  if (c.restore_after_space != d.restore_after_space) add("\"restore_after_space\": false");
  if (c.edit_previous_word != d.edit_previous_word) add("\"edit_previous_word\": false");
  if (c.auto_capitalize != d.auto_capitalize) add("\"auto_capitalize\": true");
  if (c.smart_caps != d.smart_caps) add("\"smart_caps\": true");
  if (c.bracket_keys != d.bracket_keys) add("\"bracket_keys\": true");
  if (c.w_as_u != d.w_as_u) add("\"w_as_u\": true");
  if (c.quick_telex != d.quick_telex) add("\"quick_telex\": true");
  if (c.macro_digits != d.macro_digits) add("\"macro_digits\": true");
  if (!c.macros.empty()) add("\"macros\": {\"ko\": \"không\", \"dd\": \"đã\", \"vn\": \"Việt Nam\"}");
  std::string options;
  if (s.reporting == Reporting::Lagging) options = " --lag";
  if (s.reporting == Reporting::Never) options = " --no-surrounding";
  return "keys: " + line + "\n  options:" + options + (json.empty() ? "" : " --config with " + json + "}");
}

}  // namespace

DamageScenario decode_scenario(const std::uint8_t* data, std::size_t size) {
  DamageScenario s;
  if (size < 2) return s;
  engine::Config& c = s.config;
  c.input_method = METHODS[data[0] & 3];
  c.unicode_form = (data[0] & 4) ? engine::UnicodeForm::Nfd : engine::UnicodeForm::Nfc;
  c.restore_after_space = !(data[0] & 8);
  c.edit_previous_word = !(data[0] & 16);
  if (data[0] & 32) c.macros = {{"ko", "không"}, {"dd", "đã"}, {"vn", "Việt Nam"}};
  s.reporting = (data[0] >> 6) == 2   ? Reporting::Lagging
                : (data[0] >> 6) == 3 ? Reporting::Never
                                      : Reporting::Immediate;
  c.spell_check = !(data[1] & 1);
  c.auto_capitalize = data[1] & 2;
  c.smart_caps = data[1] & 4;
  c.bracket_keys = data[1] & 8;
  c.w_as_u = data[1] & 16;
  c.quick_telex = data[1] & 32;
  c.macro_digits = data[1] & 64;

  for (std::size_t i = 2; i < size && s.steps.size() < MAX_STEPS; ++i) {
    const std::uint8_t b = data[i];
    const auto next = [&]() -> std::uint8_t { return i + 1 < size ? data[++i] : 0; };
    DamageStep step;
    if (b < 160) {
      const char32_t ch = CHARACTERS.find(static_cast<char32_t>(b)) != std::u32string_view::npos
                              ? static_cast<char32_t>(b)
                              : CHARACTERS[b % CHARACTERS.size()];
      step.key.key = Key::character(ch);
    } else if (b < 200) {
      step.key.key = {NAMED[(b - 160) % std::size(NAMED)], 0};
    } else if (b < 204) {
      step.key = {Key::character(U','), false, true, false};  // the switch
    } else if (b < 208) {
      step.key = {Key::character(U"axcv"[b - 204]), true, false, false};  // a shortcut
    } else if (b < 219) {
      step.kind = DamageStep::Kind::Click;
      step.at = next();
    } else if (b < 230) {
      step.kind = DamageStep::Kind::ClickWord;
      step.at = next();
    } else if (b < 244) {
      step.kind = DamageStep::Kind::Select;
      step.at = next();
      step.to = next();
    } else {
      step.kind = DamageStep::Kind::Repeat;
      step.at = static_cast<std::uint8_t>(1 + (b - 244) % 6);
    }
    s.steps.push_back(step);
  }
  return s;
}

DamageReport check_damage(const DamageScenario& scenario) {
  SimulatedApp app(scenario.reporting);
  HeldKey held(app);
  Judge judge(held, app);
  wayland::Controller controller(judge, ports_for(scenario.config), std::nullopt);
  controller.activate();
  app.report(controller, true);

  DamageReport report;
  std::string line;
  std::uint32_t time = 0;
  const auto fail = [&](const std::string& what) {
    report.damage = what + "\n  field: " + in_quotes(app.text()) + ", cursor at byte " +
                    std::to_string(app.cursor_bytes()) + "\n  " + replay_of(scenario, line);
  };
  const auto position = [&](std::uint8_t fraction) {
    const std::uint32_t chars = core::count_chars(app.text());
    return static_cast<std::uint32_t>(fraction) * (chars + 1) / 256;
  };

  const std::vector<DamageStep>& steps = scenario.steps;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const DamageStep& step = steps[i];
    ++report.steps;
    switch (step.kind) {
      case DamageStep::Kind::Click:
      case DamageStep::Kind::ClickWord: {
        const std::uint32_t at =
            step.kind == DamageStep::Kind::Click ? position(step.at) : after_word(app.text(), step.at);
        line += "<click:" + std::to_string(at) + ">";
        app.click(at);
        app.report(controller, true);
        continue;
      }
      case DamageStep::Kind::Select: {
        const std::uint32_t from = position(step.at), to = position(step.to);
        line += "<select:" + std::to_string(from) + "," + std::to_string(to) + ">";
        app.select(from, to);
        app.report(controller, true);
        continue;
      }
      case DamageStep::Kind::Repeat:
        line += "<repeat:" + std::to_string(step.at) + ">";  // after anything but a key: nothing is held
        continue;
      case DamageStep::Kind::Key:
        break;
    }

    const engine::KeyInput& input = step.key;
    line += engine::to_notation(input);
    const engine::ImeSession& session = controller.session();
    judge.start_key({session.in_place(), session.out(session.text())});
    // Whether an edit may be refused here: a selection, or a letter right after the cursor.
    const std::string_view text = app.text();
    const std::optional<char32_t> after =
        adapter::next_codepoint(text, adapter::utf16_length(text.substr(0, app.cursor_bytes())));
    const bool may_refuse =
        app.anchor_bytes() != app.cursor_bytes() || (after && adapter::is_word_char(*after));
    const bool was_vietnamese = session.vietnamese();

    // Repeats written after the key happen while it is down.
    std::uint32_t repeats = 0;
    for (; i + 1 < steps.size() && steps[i + 1].kind == DamageStep::Kind::Repeat; ++i) {
      line += "<repeat:" + std::to_string(steps[i + 1].at) + ">";
      ++report.steps;
      repeats += steps[i + 1].at;
    }
    press_key(controller, app, held, input, repeats, time);

    if (judge.damage()) {
      fail(*judge.damage());
      break;
    }
    const std::string_view head = std::string_view(app.text()).substr(0, app.cursor_bytes());
    if (judge.deleted_from()) {
      const std::string word = session.out(session.text());
      if (session.in_place() && !head.ends_with(word)) {
        fail("after the edit the word reads " + in_quotes(word) + " but the text before the cursor is " +
             in_quotes(head));
        break;
      }
      if (judge.took_letters() &&
          (!session.in_place() || *judge.deleted_from() < head.size() - word.size())) {
        fail("deleted letters before the cursor that are not the word taken up (" + in_quotes(word) + ")");
        break;
      }
    }
    const bool letter =
        input.key.kind == KeyKind::Char && !input.ctrl && !input.alt && !input.meta &&
        ((input.key.ch >= U'a' && input.key.ch <= U'z') || (input.key.ch >= U'A' && input.key.ch <= U'Z'));
    if (letter && was_vietnamese && judge.forwarded()) {
      ++report.given_up;
      if (scenario.reporting == Reporting::Immediate && !may_refuse) {
        fail("the letter " + engine::to_notation(input) + " reached the application as typed");
        break;
      }
    }
  }
  report.replacements = judge.replacements();
  return report;
}

}  // namespace lumaret::type
