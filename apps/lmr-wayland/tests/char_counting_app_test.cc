// The controller against a simulated application that applies its requests and reports its text after
// each of them, counting deletion lengths either in bytes (as the protocol says) or in characters (as
// GTK 4.8 does). Whatever it counts, the user's text must come out intact.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lumaret/core/utf8.h"
#include "lumaret/engine/defaults.h"
#include "lumaret/engine/notation.h"
#include "lumaret/wayland/controller.h"

namespace lumaret::wayland {
namespace {

using engine::KeyKind;

class MemoryStore final : public engine::ConfigStore {
 public:
  engine::Config load() override { return engine::Config::defaults(); }
  void save(const engine::Config&) override {}
};

engine::Ports ports() {
  return {std::make_unique<MemoryStore>(), std::make_unique<engine::StaticAppContext>(), nullptr,
          std::make_unique<engine::WordListDictionary>(engine::WordListDictionary::defaults())};
}

std::vector<engine::KeyInput> keys_of(std::string_view notation) {
  return std::get<std::vector<engine::KeyInput>>(engine::parse_keys(notation));
}

std::uint32_t code_of(const engine::Key& key) {
  return key.kind == KeyKind::Char ? 1000 + key.ch : static_cast<std::uint32_t>(key.kind);
}

// A text field with the cursor at its end. Pre-edits are not part of its text.
class SimulatedApp final : public Backend {
 public:
  explicit SimulatedApp(bool counts_chars) : counts_chars_(counts_chars) {}

  void commit(std::string_view text, std::uint32_t) override { insert(text); }
  void clear_preedit(std::uint32_t) override {}
  void show_preedit(std::string_view, std::int32_t, std::uint32_t) override {}
  void replace_before_cursor(std::uint32_t length, std::string_view text, std::uint32_t) override {
    ++deletions_;
    std::uint32_t bytes = length;
    if (counts_chars_) {
      const std::uint32_t chars = std::min(length, core::count_chars(text_));
      bytes = 0;
      for (std::uint32_t i = 0; i < chars; ++i)
        bytes += static_cast<std::uint32_t>(last_char_bytes(text_.substr(0, text_.size() - bytes)));
    }
    text_.resize(text_.size() - std::min<std::size_t>(bytes, text_.size()));
    insert(text);
  }
  void forward_key_event(std::uint32_t code, std::uint32_t, bool pressed, const Modifiers&) override {
    if (!pressed) return;
    if (code == static_cast<std::uint32_t>(KeyKind::Backspace)) {
      text_.resize(text_.size() - last_char_bytes(text_));
    } else if (code >= 1000) {
      insert(core::to_utf8(std::u32string(1, static_cast<char32_t>(code - 1000))));
    }
    changed_ = true;
  }

  // Reports the text after each change and ends the round with done, until the input method is quiet.
  void settle(Controller& controller) {
    while (changed_) {
      changed_ = false;
      controller.surrounding_text(text_, static_cast<std::uint32_t>(text_.size()),
                                  static_cast<std::uint32_t>(text_.size()));
      controller.done();
    }
  }

  const std::string& text() const { return text_; }
  int deletions() const { return deletions_; }

 private:
  static std::size_t last_char_bytes(std::string_view text) {
    std::size_t n = text.empty() ? 0 : 1;
    while (n < text.size() && (static_cast<unsigned char>(text[text.size() - n]) & 0xc0) == 0x80)
      ++n;
    return n;
  }
  void insert(std::string_view text) {
    text_ += text;
    changed_ = true;
  }

  bool counts_chars_;
  std::string text_;
  bool changed_ = true;  // the first report comes with the focus
  int deletions_ = 0;
};

struct Case {
  const char* name;
  bool counts_chars;
  const char* keys;
  const char* text;  // the application's text at the end
  bool detected;     // the controller found it counts characters
  int deletions;     // delete requests sent, the repair included
};

// Backspace after "chào " takes the word up; s and x then replace its changed end in place: "ào" is 3
// bytes and 2 characters, so a character-counting application cuts the "h" before it.
const Case CASES[] = {
    {"BytesCountedNothingToMend", false, "xin chaof <BS>sx", "xin chão", false, 2},
    {"CharactersCountedCutIsRepaired", true, "xin chaof <BS>s", "xin cháo", true, 2},
    {"CharactersCountedLaterEditsAreSentInCharacters", true, "xin chaof <BS>sx", "xin chão", true, 3},
    // A word of one-byte characters reads the same either way: nothing to find out, nothing cut.
    {"OneByteWordsTellNothing", true, "xin chao ban <BS>f", "xin chao bàn", false, 1},
    // The cut falls inside the word itself ("ào" is 3 bytes: taken as characters, "hào" goes).
    {"WordAtTheStart", true, "chaof <BS>s", "cháo", true, 2},
};

void PrintTo(const Case& c, std::ostream* out) {
  *out << c.name;
}

class CharCountingApp : public ::testing::TestWithParam<Case> {};

TEST_P(CharCountingApp, KeepsTheUsersText) {
  const Case& c = GetParam();
  SimulatedApp app(c.counts_chars);
  Controller controller(app, ports(), {});
  controller.activate("org.example.Field");
  app.settle(controller);
  std::string seen;
  for (const engine::KeyInput& k : keys_of(c.keys)) {
    controller.key({k.key, code_of(k.key), 0, true, k.ctrl, k.alt, k.meta});
    controller.key({k.key, code_of(k.key), 0, false, k.ctrl, k.alt, k.meta});
    app.settle(controller);
    seen += "\n  \"" + app.text() + "\"";
  }
  EXPECT_EQ(app.text(), c.text) << "texts after each key:" << seen;
  EXPECT_EQ(controller.deletes_by_chars(), c.detected) << seen;
  EXPECT_EQ(app.deletions(), c.deletions) << seen;
}

INSTANTIATE_TEST_SUITE_P(Controller, CharCountingApp, ::testing::ValuesIn(CASES),
                         [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });

TEST(CharCountingAppMemory, RememberedByAppIdAcrossFocus) {
  SimulatedApp app(true);
  Controller controller(app, ports(), {});
  const auto type = [&](std::string_view keys) {
    for (const engine::KeyInput& k : keys_of(keys)) {
      controller.key({k.key, code_of(k.key), 0, true, k.ctrl, k.alt, k.meta});
      controller.key({k.key, code_of(k.key), 0, false, k.ctrl, k.alt, k.meta});
      app.settle(controller);
    }
  };
  controller.activate("org.example.Gtk4");
  app.settle(controller);
  type("xin chaof <BS>s");
  ASSERT_TRUE(controller.deletes_by_chars());
  controller.deactivate();
  controller.activate("org.example.Other");
  EXPECT_FALSE(controller.deletes_by_chars());
  controller.deactivate();
  controller.activate("org.example.Gtk4");
  EXPECT_TRUE(controller.deletes_by_chars()) << "known from its earlier field";
  controller.activate(std::nullopt);
  EXPECT_FALSE(controller.deletes_by_chars()) << "an unnamed application is found out anew";
}

}  // namespace
}  // namespace lumaret::wayland
