// The controller with a backend that records the protocol requests it would send.
#include "lumaret/wayland/controller.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "lumaret/engine/defaults.h"
#include "lumaret/engine/notation.h"

namespace lumaret::wayland {
namespace {

using engine::Config;
using engine::FieldKind;
using engine::Key;
using engine::KeyKind;

// Writes each backend operation as the requests it stands for, one string per request.
class RecordingBackend final : public Backend {
 public:
  void commit(std::string_view text, std::uint32_t serial) override {
    log("set_preedit_string(\"\",-1,-1)");
    log("commit_string(\"" + std::string(text) + "\")");
    log("commit(" + std::to_string(serial) + ")");
  }
  void clear_preedit(std::uint32_t serial) override {
    log("set_preedit_string(\"\",-1,-1)");
    log("commit(" + std::to_string(serial) + ")");
  }
  void show_preedit(std::string_view text, std::int32_t caret, std::uint32_t serial) override {
    log("set_preedit_string(\"" + std::string(text) + "\"," + std::to_string(caret) + "," +
        std::to_string(caret) + ")");
    log("commit(" + std::to_string(serial) + ")");
  }
  void replace_before_cursor(std::uint32_t bytes, std::string_view text, std::uint32_t serial) override {
    log("set_preedit_string(\"\",-1,-1)");
    log("delete_surrounding_text(" + std::to_string(bytes) + ",0)");
    log("commit_string(\"" + std::string(text) + "\")");
    log("commit(" + std::to_string(serial) + ")");
  }
  void forward_key_event(std::uint32_t code, std::uint32_t time, bool pressed, const Modifiers& m) override {
    log("modifiers(" + std::to_string(m.depressed) + "," + std::to_string(m.latched) + "," +
        std::to_string(m.locked) + "," + std::to_string(m.group) + ")");
    log("key(" + std::to_string(time) + "," + std::to_string(code) + "," + (pressed ? "1" : "0") + ")");
  }

  std::string take() {
    std::string all;
    for (const std::string& r : requests_)
      all += (all.empty() ? "" : " ") + r;
    requests_.clear();
    return all;
  }

 private:
  void log(std::string r) { requests_.push_back(std::move(r)); }
  std::vector<std::string> requests_;
};

class MemoryStore final : public engine::ConfigStore {
 public:
  explicit MemoryStore(Config c) : config_(std::move(c)) {}
  Config load() override { return config_; }
  void save(const Config&) override {}

 private:
  Config config_;
};

engine::Ports ports(Config config = Config::defaults()) {
  return {std::make_unique<MemoryStore>(std::move(config)), std::make_unique<engine::StaticAppContext>(),
          nullptr, std::make_unique<engine::WordListDictionary>(engine::WordListDictionary::defaults())};
}

// Codes are made up per key; what matters is that press and release agree.
KeyEvent event_of(const engine::KeyInput& k, bool pressed = true) {
  const std::uint32_t code =
      k.key.kind == KeyKind::Char ? 1000 + k.key.ch : static_cast<std::uint32_t>(k.key.kind);
  return {k.key, code, 7, pressed, k.ctrl, k.alt, k.meta};
}

class ControllerTest : public ::testing::Test {
 protected:
  explicit ControllerTest(Config config = Config::defaults())
      : controller_(backend_, ports(std::move(config)), {}) {
    controller_.activate();
    backend_.take();
  }

  // Presses the keys (notation) one by one and returns the requests.
  std::string press(std::string_view keys) {
    const auto parsed = engine::parse_keys(keys);
    for (const engine::KeyInput& k : std::get<std::vector<engine::KeyInput>>(parsed)) {
      controller_.key(event_of(k));
    }
    return backend_.take();
  }

  RecordingBackend backend_;
  Controller controller_;
};

TEST_F(ControllerTest, WordShownAsPreeditThenCommitted) {
  EXPECT_EQ(press("v"), "set_preedit_string(\"v\",1,1) commit(0)");
  EXPECT_EQ(press("ieet"),
            "set_preedit_string(\"vi\",2,2) commit(0) set_preedit_string(\"vie\",3,3) commit(0) "
            "set_preedit_string(\"viê\",4,4) commit(0) set_preedit_string(\"viêt\",5,5) commit(0)");
  controller_.done();
  EXPECT_EQ(press("s"), "set_preedit_string(\"viết\",6,6) commit(1)");
  EXPECT_EQ(
      press(" "),
      "set_preedit_string(\"\",-1,-1) commit(1) set_preedit_string(\"\",-1,-1) commit_string(\"viết \") "
      "commit(1)");
  EXPECT_EQ(controller_.consumed().size(), 6u);  // v i e t s and space; e twice is one code
}

TEST_F(ControllerTest, ReplacementAgainstSurroundingText) {
  controller_.surrounding_text("viet", 4, 4);
  controller_.apply_action(engine::action::Replace{"ệt", 2, false}, "viet", std::nullopt);
  EXPECT_EQ(
      backend_.take(),
      "set_preedit_string(\"\",-1,-1) commit(0) set_preedit_string(\"\",-1,-1) delete_surrounding_text(2,0) "
      "commit_string(\"ệt\") commit(0)");
  EXPECT_EQ(controller_.surrounding(), (SurroundingState{"việt", 6, 6, true}));
}

TEST_F(ControllerTest, PreeditCaretInBytes) {
  const struct {
    std::uint32_t cursor_chars;
    const char* requests;
  } cases[] = {
      {3, "set_preedit_string(\"việt\",5,5) commit(0)"},
      {4, "set_preedit_string(\"việt\",6,6) commit(0)"},
      {9, "set_preedit_string(\"việt\",6,6) commit(0)"},
  };
  for (const auto& c : cases) {
    controller_.apply_action(engine::action::Preedit{"việt", c.cursor_chars}, "", std::nullopt);
    EXPECT_EQ(backend_.take(), c.requests) << c.cursor_chars;
  }
  controller_.apply_action(engine::action::Preedit{"", 0}, "", event_of({Key::character(U'x')}));
  EXPECT_EQ(backend_.take(), "set_preedit_string(\"\",-1,-1) commit(0)");
  EXPECT_EQ(controller_.consumed(), std::vector<std::uint32_t>{1000 + U'x'});
}

TEST_F(ControllerTest, CommitWithForwardSendsModifiersThenKey) {
  controller_.set_modifiers({1, 0, 2, 0});
  controller_.apply_action(engine::action::Commit{"ab", true}, "", event_of({Key{KeyKind::Enter, 0}}));
  EXPECT_EQ(backend_.take(),
            "set_preedit_string(\"\",-1,-1) commit(0) set_preedit_string(\"\",-1,-1) commit_string(\"ab\") "
            "commit(0) "
            "modifiers(1,0,2,0) key(7,2,1)");
  EXPECT_TRUE(controller_.consumed().empty());
  controller_.apply_action(engine::action::Pass{}, "", std::nullopt);
  EXPECT_EQ(backend_.take(), "");
}

TEST_F(ControllerTest, PredictionAfterCommit) {
  controller_.surrounding_text("xy", 1, 1);
  controller_.apply_action(engine::action::Commit{"ab", false}, "", std::nullopt);
  EXPECT_EQ(controller_.surrounding(), (SurroundingState{"xaby", 3, 3, true}));
  controller_.surrounding_text("xyz", 1, 3);  // a selection: the commit replaces it
  controller_.apply_action(engine::action::Commit{"ab", false}, "", std::nullopt);
  EXPECT_EQ(controller_.surrounding(), (SurroundingState{"xab", 3, 3, true}));
  controller_.surrounding_text("xin chào", 7, 7);  // inside à: nothing usable
  EXPECT_FALSE(controller_.surrounding().valid);
  controller_.apply_action(engine::action::Commit{"ab", false}, "", std::nullopt);
  EXPECT_FALSE(controller_.surrounding().valid);
}

TEST(SurroundingStateTest, ReportsAreCheckedBeforeUse) {
  const struct {
    const char* text;
    std::uint32_t cursor, anchor;
    bool valid;
  } cases[] = {
      {"xin chào", 9, 9, true}, {"xin chào", 7, 7, false}, {"xin chào", 10, 10, false},
      {"xin chào", 9, 6, true}, {"xin chào", 9, 7, false}, {"ab\xff", 1, 1, false},  // not UTF-8
      {"", 0, 0, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SurroundingState::reported(c.text, c.cursor, c.anchor).valid, c.valid)
        << c.text << " " << c.cursor;
  }
}

TEST_F(ControllerTest, ReplacementThatCannotBeVerifiedDeletesNothing) {
  // A selection makes the replacement unsafe; the word already stands in the application, so nothing
  // is committed again and the key goes on.
  press("ban ");
  controller_.surrounding_text("ban ", 4, 4);
  press("<BS>");
  backend_.take();
  controller_.surrounding_text("ban", 0, 3);
  EXPECT_EQ(press("s"), "set_preedit_string(\"\",-1,-1) commit(0) modifiers(0,0,0,0) key(7,1115,1)");
  EXPECT_FALSE(controller_.session().composing());
}

TEST_F(ControllerTest, ReplacementOfTextThatIsNotThereDeletesNothing) {
  // The session believes "chào" stands before the cursor, but the cursor is after "ban". Nothing follows
  // the cursor, yet the session's word alone never vouches for a deletion: the key goes on as typed.
  controller_.surrounding_text("xin chào ban", 13, 13);
  controller_.apply_action(engine::action::Replace{"áo", 2, false}, "chào", event_of({Key::character(U's')}));
  EXPECT_EQ(backend_.take(), "set_preedit_string(\"\",-1,-1) commit(0) modifiers(0,0,0,0) key(7,1115,1)");
  EXPECT_EQ(controller_.surrounding().text, "xin chào ban");
}

TEST_F(ControllerTest, TerminalBackspaceAfterAWordDeletesOneCharacter) {
  // No surrounding text: "ban", space, Backspace, Backspace leaves "ba" in the application.
  press("ban ");
  EXPECT_EQ(press("<BS>"), "modifiers(0,0,0,0) key(7,1,1)");
  EXPECT_EQ(press("<BS>"), "set_preedit_string(\"\",-1,-1) commit(0) modifiers(0,0,0,0) key(7,1,1)");
}

TEST_F(ControllerTest, ReleasesOfConsumedKeysAreSwallowed) {
  press("a");
  EXPECT_EQ(controller_.consumed().size(), 1u);
  controller_.key(event_of({Key::character(U'a')}, false));
  EXPECT_EQ(backend_.take(), "");
  EXPECT_TRUE(controller_.consumed().empty());
  controller_.key(event_of({Key::character(U'b')}, false));
  EXPECT_EQ(backend_.take(), "modifiers(0,0,0,0) key(7,1098,0)");

  press("c");
  controller_.deactivate();
  backend_.take();
  controller_.key(event_of({Key::character(U'c')}, false));  // deactivate cleared the list
  EXPECT_EQ(backend_.take(), "modifiers(0,0,0,0) key(7,1099,0)");
  controller_.mark_consumed(5);
  controller_.mark_consumed(5);
  EXPECT_EQ(controller_.consumed(), std::vector<std::uint32_t>{5});
}

TEST_F(ControllerTest, SwitchKeyToggles) {
  press("vieet");
  EXPECT_EQ(press("<A-,>"),
            "set_preedit_string(\"\",-1,-1) commit(0) set_preedit_string(\"\",-1,-1) commit_string(\"viêt\") "
            "commit(0)");
  EXPECT_FALSE(controller_.session().vietnamese());
  EXPECT_EQ(press("a"), "modifiers(0,0,0,0) key(7,1097,1)");
  EXPECT_EQ(press("<C-A-,>"), "modifiers(0,0,0,0) key(7,1044,1)");  // with Control it is an ordinary key
  controller_.key(event_of({Key::character(U','), false, true, false}, false));
  EXPECT_EQ(backend_.take(), "");  // the switch key's release stays with us
}

TEST_F(ControllerTest, ContentTypes) {
  const struct {
    std::uint32_t hint, purpose;
    FieldKind kind;
  } cases[] = {
      {0, 0, FieldKind::Normal},    {0x80, 0, FieldKind::Password}, {0, 2, FieldKind::Numeric},
      {0, 3, FieldKind::Numeric},   {0, 4, FieldKind::Numeric},     {0, 9, FieldKind::Numeric},
      {0, 5, FieldKind::Url},       {0, 6, FieldKind::Email},       {0, 8, FieldKind::Password},
      {0, 13, FieldKind::Terminal}, {0, 7, FieldKind::Normal},      {0, 99, FieldKind::Normal},
  };
  for (const auto& c : cases)
    EXPECT_EQ(field_kind_of(c.hint, c.purpose), c.kind) << c.hint << "/" << c.purpose;

  press("vieet");
  controller_.content_type(0, 6);  // e-mail: the word is dropped, not committed
  EXPECT_EQ(backend_.take(), "set_preedit_string(\"\",-1,-1) commit(0)");
  EXPECT_EQ(press("a"), "modifiers(0,0,0,0) key(7,1097,1)");

  controller_.content_type(0, 0);
  press("vieet");
  controller_.content_type(0, 5);  // URL: the word is committed through the controller
  EXPECT_EQ(backend_.take(),
            "set_preedit_string(\"\",-1,-1) commit(0) set_preedit_string(\"\",-1,-1) commit_string(\"viêt\") "
            "commit(0)");
}

TEST_F(ControllerTest, ActivateForgetsThePasswordField) {
  controller_.content_type(0, 8);
  controller_.deactivate();
  controller_.activate();  // a field that sends no content type is a normal field
  backend_.take();
  EXPECT_EQ(controller_.field_kind(), FieldKind::Normal);
  EXPECT_EQ(press("a"), "set_preedit_string(\"a\",1,1) commit(0)");
}

TEST_F(ControllerTest, SerialSaturates) {
  controller_.set_serial(4294967294u);
  controller_.done();
  controller_.done();
  EXPECT_EQ(controller_.serial(), 4294967295u);
}

TEST_F(ControllerTest, ForwardedKeysAreAnsweredOneByOne) {
  // An application whose reports come one key late: after "ban", Enter, the report of the text before
  // Enter is no answer, so s starts a new word instead of editing "ban".
  controller_.surrounding_text("", 0, 0);
  press("ban");
  controller_.surrounding_text("", 0, 0);
  press("<Enter>");
  controller_.surrounding_text("ban", 3, 3);  // our own commit, reported late: not news
  EXPECT_TRUE(controller_.awaiting_answer());
  EXPECT_EQ(press("s"), "set_preedit_string(\"s\",1,1) commit(0)");
  controller_.surrounding_text("ban\n", 4, 4);  // the answer to Enter
  EXPECT_FALSE(controller_.awaiting_answer());
}

TEST_F(ControllerTest, LateEchoOfAnEarlierStateIsDropped) {
  controller_.surrounding_text("", 0, 0);
  press("ban ");
  EXPECT_EQ(controller_.surrounding(), (SurroundingState{"ban ", 4, 4, true}));
  controller_.surrounding_text("", 0, 0);  // an echo from before our commit
  EXPECT_EQ(controller_.surrounding(), (SurroundingState{"ban ", 4, 4, true}));
}

TEST(ReportsLagBehind, GeckoApplicationsByNormalisedId) {
  const struct {
    const char* app_id;
    bool lags;
  } cases[] = {
      {"firefox", true},         {"firefox-esr", true},
      {"firefox-nightly", true}, {"org.mozilla.firefox", true},
      {"thunderbird", true},     {"librewolf", true},
      {"chromium", false},       {"org.gnome.TextEditor", false},
      {"foot", false},           {"", false},
      {"myfirefox", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(reports_lag_behind(engine::normalize_app_id(c.app_id)), c.lags) << c.app_id;
  }
}

// What Firefox ESR reported while "chaof<Enter>banj<Enter>ddi<BS><BS>ij " was typed into it: after our
// commit and a forwarded Enter, the text before the Enter; after a deletion, the text before it. Taken
// as news, these reports made the s of a new line continue the word above, and a deletion counted
// through the stale text cut the line break.
TEST_F(ControllerTest, LaggingApplicationGetsPreeditAndCommitsOnly) {
  for (const char* app : {"firefox-esr", "org.example.Editor"}) {
    SCOPED_TRACE(app);
    controller_.activate(app);
    EXPECT_EQ(controller_.uses_reports(), std::string_view(app) != "firefox-esr");
    std::string requests = press("chaof<Enter>");
    controller_.surrounding_text("chào", 0, 0);
    controller_.surrounding_text("chào", 5, 5);
    requests += " " + press("banj<Enter>");
    controller_.surrounding_text("chào\nbạn", 6, 6);
    controller_.surrounding_text("bạn", 5, 5);
    requests += " " + press("ddi<BS>");
    controller_.surrounding_text("đi", 3, 3);
    requests += " " + press("<BS>ij ");
    if (controller_.uses_reports()) {
      EXPECT_NE(requests.find("delete_surrounding_text"), std::string::npos);  // it did edit in place
      continue;
    }
    EXPECT_EQ(requests.find("delete_surrounding_text"), std::string::npos) << requests;
    EXPECT_NE(requests.find("commit_string(\"chào\") commit(0) modifiers(0,0,0,0) key(7,2,1)"),
              std::string::npos)
        << requests;
    EXPECT_NE(
        requests.find("set_preedit_string(\"đi\",3,3) commit(0) set_preedit_string(\"đ\",2,2) commit(0) "
                      "set_preedit_string(\"\",-1,-1) commit(0) set_preedit_string(\"i\",1,1)"),
        std::string::npos)
        << requests;
    EXPECT_TRUE(requests.ends_with("commit_string(\"ị \") commit(0)")) << requests;
    EXPECT_FALSE(controller_.surrounding().valid);
  }
}

// Which application is focused can change under an active field; reports count again for one that
// does not lag.
TEST_F(ControllerTest, ReportsCountAgainAfterSwitchingAwayFromALaggingApplication) {
  controller_.activate("firefox");
  controller_.surrounding_text("ban ", 4, 4);
  EXPECT_FALSE(controller_.surrounding().valid);
  controller_.app_changed("org.example.Editor");
  controller_.surrounding_text("ban ", 4, 4);
  EXPECT_TRUE(controller_.surrounding().valid);
  controller_.app_changed("firefox");
  EXPECT_FALSE(controller_.surrounding().valid);
}

TEST(ControllerReload, ChangedConfigurationAppliesBetweenWords) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "lumaret-controller-reload";
  std::filesystem::create_directories(dir);
  const std::filesystem::path path = dir / "config.json";
  std::ofstream(path) << "{}";
  RecordingBackend backend;
  auto store = std::make_unique<engine::JsonFileConfigStore>(path);
  Controller controller(
      backend,
      {std::move(store), std::make_unique<engine::StaticAppContext>(), nullptr,
       std::make_unique<engine::WordListDictionary>(engine::WordListDictionary::defaults())},
      path);
  controller.activate();
  const auto type = [&](std::string_view keys) {
    const auto parsed = engine::parse_keys(keys);
    for (const engine::KeyInput& k : std::get<std::vector<engine::KeyInput>>(parsed)) {
      controller.key(event_of(k));
    }
    return backend.take();
  };
  type("a");
  std::ofstream(path) << R"({"input_method": "vni"})";
  std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) + std::chrono::seconds(2));
  type("a");  // a word is pending: no reload yet
  EXPECT_EQ(controller.session().config().input_method, "telex");
  type(" ");
  type("a");  // no word: reloaded before the key
  EXPECT_EQ(controller.session().config().input_method, "vni");
  EXPECT_EQ(type("1"), "set_preedit_string(\"á\",2,2) commit(0)");
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace lumaret::wayland
