// The built lumaret-wayland typing under the test compositor: for each situation, exactly which requests
// the service makes and which keys reach the application through the virtual keyboard.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "compositor/requests.h"
#include "compositor/test_compositor.h"

namespace lumaret::wayland::testing {
namespace {

namespace fs = std::filesystem;

bool contains(const std::string& text, std::string_view part) {
  return text.find(part) != std::string::npos;
}

// Content types a text field can report.
constexpr std::uint32_t HINT_SENSITIVE = 0x80;
constexpr std::uint32_t PURPOSE_NORMAL = 0, PURPOSE_PIN = 9, PURPOSE_URL = 5, PURPOSE_EMAIL = 6,
                        PURPOSE_PASSWORD = 8;

class Service : public ::testing::Test {
 protected:
  // A compositor with `globals` and the service on it, reading `config` as its configuration file.
  void start(Globals globals = {}, std::string_view config = "{}", std::vector<std::string> args = {},
             const EnvChanges& env = {}) {
    c = std::make_unique<TestCompositor>(globals);
    config_path = c->dir() / "config.json";
    std::ofstream(config_path, std::ios::binary) << config;
    args.insert(args.begin(), {"--config", config_path.string()});
    ASSERT_TRUE(c->start_service(args, env));
    c->take();  // binds and object creation; checked on their own below
  }

  // A text field gets the focus: activate, what the field says of itself, done; then the requests that
  // answered, once everything has been handled.
  Requests focus(std::optional<std::string_view> surrounding = std::nullopt,
                 std::optional<std::pair<std::uint32_t, std::uint32_t>> content = std::nullopt) {
    const std::size_t grabs = c->grab_count();
    c->activate();
    if (surrounding) {
      const auto at = static_cast<std::uint32_t>(surrounding->size());
      c->surrounding_text(*surrounding, at, at);
    }
    if (content) c->content_type(content->first, content->second);
    c->done();
    std::vector<std::string> got;
    EXPECT_TRUE(c->wait_for([&] { return c->grab_count() > grabs; }, "a keyboard grab"));
    EXPECT_TRUE(c->settle(got));
    return got;
  }

  Requests settled() {
    std::vector<std::string> got;
    EXPECT_TRUE(c->settle(got));
    return got;
  }

  std::unique_ptr<TestCompositor> c;
  fs::path config_path;
};

TEST_F(Service, BindsTheGlobalsAndMakesItsObjectsAtStart) {
  c = std::make_unique<TestCompositor>();
  ASSERT_TRUE(c->start_service({"--config", (c->dir() / "none.json").string()}));
  EXPECT_EQ(Requests(c->take()), (Requests{"bind(wl_seat, 7)", "bind(zwp_input_method_manager_v2, 1)",
                                           "bind(zwp_virtual_keyboard_manager_v1, 1)", "get_input_method",
                                           "create_virtual_keyboard"}));
  // The first activation takes the keyboard; its keymap goes on to the virtual keyboard unchanged.
  EXPECT_EQ(focus(), (Requests{CLEAR, commit(0), "grab_keyboard",
                               "vk.keymap(1, " + std::to_string(c->keymap().text.size() + 1) + ")"}));
  EXPECT_EQ(c->virtual_keymap(), c->keymap().text);
}

TEST_F(Service, WorkedSequenceShowsSixPreeditsAndCommitsWithTheSpace) {
  ASSERT_NO_FATAL_FAILURE(start());
  focus();
  c->type("vieets ");
  // Every key is consumed and its release swallowed: nothing reaches the virtual keyboard.
  EXPECT_EQ(settled(), preedits({"v", "vi", "vie", "viê", "viêt", "viết"}, 1) + committed("viết ", 1));
}

TEST_F(Service, ReplacesAWordThatStandsInTheApplication) {
  const struct {
    const char* name;
    const char* before;  // the field's text, the cursor at its end
    const char* keys;
    Requests answer;
  } cases[] = {
      {"tone on the word before the cursor", "xin chao", "f",
       Requests{CLEAR, commit(1), CLEAR, delete_before(2), commit_string("ào"), commit(1)}},
      {"a single word", "ban", "s",
       Requests{CLEAR, commit(1), CLEAR, delete_before(2), commit_string("án"), commit(1)}},
      {"the deletion counts bytes", "xin chào", "s",
       Requests{CLEAR, commit(1), CLEAR, delete_before(3), commit_string("áo"), commit(1)}},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    ASSERT_NO_FATAL_FAILURE(start());
    focus(k.before);
    c->type(k.keys);
    EXPECT_EQ(settled(), k.answer);
  }
}

// Only a report that can be trusted lets the word before the cursor be taken up; otherwise the key
// starts a new word in pre-edit.
TEST_F(Service, OnlyAUsableReportOfTheTextTakesTheWordUp) {
  const Requests taken_up = {CLEAR, commit(1), CLEAR, delete_before(3), commit_string("áo"), commit(1)};
  const struct {
    const char* name;
    std::string text;
    std::uint32_t cursor, anchor;
    Requests answer;
  } cases[] = {
      {"cursor after the word", "xin chào", 9, 9, taken_up},
      {"cursor inside a character", "xin chào", 7, 7, preedits({"s"}, 1)},
      {"cursor beyond the text", "xin chào", 10, 10, preedits({"s"}, 1)},
      {"a selection", "xin chào", 9, 4, preedits({"s"}, 1)},
      {"text that is not UTF-8", "xin ch\xe0o", 7, 7, preedits({"s"}, 1)},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    ASSERT_NO_FATAL_FAILURE(start());
    c->activate();
    c->surrounding_text(k.text, k.cursor, k.anchor);
    c->done();
    ASSERT_TRUE(c->wait_for([&] { return c->grab_count() == 1; }, "a keyboard grab"));
    settled();
    c->type("s");
    EXPECT_EQ(settled(), k.answer);
  }
}

// A replacement that cannot be checked against the application's text deletes nothing: the word is left
// as it stands and the key goes through.
TEST_F(Service, AReplacementThatCannotBeVerifiedLetsTheKeyThrough) {
  ASSERT_NO_FATAL_FAILURE(start());
  c->activate();
  c->surrounding_text("chaoxyz", 4, 4);  // the cursor inside a word
  c->done();
  ASSERT_TRUE(c->wait_for([&] { return c->grab_count() == 1; }, "a keyboard grab"));
  settled();
  const std::uint32_t press = c->key(KEY_F, true), release = c->key(KEY_F, false);
  EXPECT_EQ(settled(), cleared(1) + forwarded(press, KEY_F, true) + forwarded(release, KEY_F, false));
}

TEST_F(Service, AForwardedKeyCarriesTheGrabsModifiers) {
  ASSERT_NO_FATAL_FAILURE(start());
  focus();
  const std::uint32_t ctrl = c->keymap().ctrl;
  c->type("vie");
  const std::uint32_t ctrl_down = c->key(KEY_LEFTCTRL, true);
  c->modifiers(ctrl);
  const std::uint32_t a_down = c->key(KEY_A, true), a_up = c->key(KEY_A, false);
  const std::uint32_t ctrl_up = c->key(KEY_LEFTCTRL, false);
  c->modifiers(0);
  // Control+A ends the word: it is committed and the key still reaches the application.
  EXPECT_EQ(settled(), preedits({"v", "vi", "vie"}, 1) + forwarded(ctrl_down, KEY_LEFTCTRL, true) +
                           committed("vie", 1) + forwarded(a_down, KEY_A, true, ctrl) +
                           forwarded(a_up, KEY_A, false, ctrl) +
                           forwarded(ctrl_up, KEY_LEFTCTRL, false, ctrl));
}

TEST_F(Service, AConsumedPressReleasedAfterDeactivateReachesTheApplication) {
  ASSERT_NO_FATAL_FAILURE(start());
  focus();
  c->key(KEY_A, true);
  c->deactivate();
  const std::uint32_t release = c->key(KEY_A, false);
  // Deactivation forgot the consumed keys: the application sees a release it never saw pressed, which
  // is harmless, whereas a swallowed release would leave the key held down there.
  EXPECT_EQ(settled(), preedits({"a"}, 1) + cleared(1) + forwarded(release, KEY_A, false));
}

TEST_F(Service, AltCommaSwitchesVietnameseWithoutReachingTheApplication) {
  const struct {
    const char* name;
    const char* typed;   // before the switch
    Requests answer;     // to the typed keys
    bool with_ctrl;      // Control held as well: an ordinary key then
    Requests at_switch;  // what the switch itself causes
    bool vietnamese_after;
  } cases[] = {
      {"no word pending", "", {}, false, {}, false},
      {"a pending word is committed first", "vie", preedits({"v", "vi", "vie"}, 1), false,
       committed("vie", 1), false},
      {"with Control it is no switch", "", {}, true, {}, true},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    ASSERT_NO_FATAL_FAILURE(start());
    focus();
    const Keymap& keymap = c->keymap();
    const std::uint32_t mods = keymap.alt | (k.with_ctrl ? keymap.ctrl : 0);
    c->type(k.typed);
    const std::uint32_t alt_down = c->key(KEY_LEFTALT, true);
    c->modifiers(mods);
    const std::uint32_t comma_down = c->key(KEY_COMMA, true), comma_up = c->key(KEY_COMMA, false);
    const std::uint32_t alt_up = c->key(KEY_LEFTALT, false);
    c->modifiers(0);
    Requests expected = k.answer + forwarded(alt_down, KEY_LEFTALT, true) + k.at_switch;
    if (k.with_ctrl) {
      expected = expected + forwarded(comma_down, KEY_COMMA, true, mods) +
                 forwarded(comma_up, KEY_COMMA, false, mods);
    }
    expected = expected + forwarded(alt_up, KEY_LEFTALT, false, mods);
    EXPECT_EQ(settled(), expected);

    // Afterwards letters are composed, or go straight through when Vietnamese is off.
    const std::uint32_t a_down = c->key(KEY_A, true), a_up = c->key(KEY_A, false);
    if (k.vietnamese_after) {
      EXPECT_EQ(settled(), preedits({"a"}, 1));
    } else {
      EXPECT_EQ(settled(), forwarded(a_down, KEY_A, true) + forwarded(a_up, KEY_A, false));
    }
  }
}

TEST_F(Service, SwitchingTwiceComposesAgain) {
  ASSERT_NO_FATAL_FAILURE(start());
  focus();
  for (int i = 0; i < 2; ++i) {
    c->modifiers(c->keymap().alt);
    c->key(KEY_COMMA, true);
    c->key(KEY_COMMA, false);
    c->modifiers(0);
  }
  c->type("as");
  EXPECT_EQ(settled(), preedits({"a", "á"}, 1));
}

TEST_F(Service, FieldsThatAreNotTextPassKeysThrough) {
  const struct {
    const char* name;
    std::uint32_t hint, purpose;
  } cases[] = {
      {"password", 0, PURPOSE_PASSWORD},
      {"sensitive data in a normal field", HINT_SENSITIVE, PURPOSE_NORMAL},
      {"pin", 0, PURPOSE_PIN},
      {"e-mail", 0, PURPOSE_EMAIL},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    ASSERT_NO_FATAL_FAILURE(start());
    focus(std::nullopt, std::pair{k.hint, k.purpose});
    Requests expected;
    for (const std::uint32_t code : {KEY_A, KEY_S, KEY_SPACE}) {
      const std::uint32_t down = c->key(code, true), up = c->key(code, false);
      expected = expected + forwarded(down, code, true) + forwarded(up, code, false);
    }
    // Alt+comma too: there is nothing to switch in such a field.
    c->modifiers(c->keymap().alt);
    const std::uint32_t down = c->key(KEY_COMMA, true), up = c->key(KEY_COMMA, false);
    expected = expected + forwarded(down, KEY_COMMA, true, c->keymap().alt) +
               forwarded(up, KEY_COMMA, false, c->keymap().alt);
    EXPECT_EQ(settled(), expected);
  }
}

TEST_F(Service, AddressFieldsAreComposedWithoutMacros) {
  const struct {
    const char* name;
    std::uint32_t purpose;
    const char* committed;
  } cases[] = {
      {"normal field expands the macro", PURPOSE_NORMAL, "không "},
      {"address field leaves it as typed", PURPOSE_URL, "ko "},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    ASSERT_NO_FATAL_FAILURE(start({}, R"({"macros": {"ko": "không"}})"));
    focus(std::nullopt, std::pair{0u, k.purpose});
    c->type("ko ");
    EXPECT_EQ(settled(), preedits({"k", "ko"}, 1) + committed(k.committed, 1));
    c->type("as ");  // letters are still composed there
    EXPECT_EQ(settled(), preedits({"a", "á"}, 1) + committed("á ", 1));
  }
}

TEST_F(Service, ChangingFieldTypeWhileComposing) {
  ASSERT_NO_FATAL_FAILURE(start());
  focus();
  c->type("vie");
  c->content_type(0, PURPOSE_URL);  // the pending word is committed
  c->type("s");
  c->content_type(0, PURPOSE_PASSWORD);  // the pending word is dropped
  const std::uint32_t down = c->key(KEY_B, true);
  EXPECT_EQ(settled(), preedits({"v", "vi", "vie"}, 1) + committed("vie", 1) + preedits({"s"}, 1) +
                           cleared(1) + forwarded(down, KEY_B, true));
}

// A field that says nothing of itself is a normal text field, whatever the field before it was.
TEST_F(Service, AFieldWithoutAContentTypeIsNormalAfterAPasswordField) {
  ASSERT_NO_FATAL_FAILURE(start());
  focus(std::nullopt, std::pair{0u, PURPOSE_PASSWORD});
  c->deactivate();
  focus();
  c->type("as");
  EXPECT_EQ(settled(), preedits({"a", "á"}, 2));
}

TEST_F(Service, AChangedConfigurationIsReadAtTheNextKeyWithNoWordPending) {
  ASSERT_NO_FATAL_FAILURE(start({}, R"({"input_method": "telex"})"));
  focus();
  const auto rewrite = [&](std::string_view text, int seconds_later) {
    const auto before = fs::last_write_time(config_path);
    std::ofstream(config_path, std::ios::binary | std::ios::trunc) << text;
    // Set explicitly: a rewrite within the file system's time resolution would look unchanged.
    fs::last_write_time(config_path, before + std::chrono::seconds(seconds_later));
  };
  c->type("as ");
  EXPECT_EQ(settled(), preedits({"a", "á"}, 1) + committed("á ", 1)) << "telex at start";

  rewrite(R"({"input_method": "vni"})", 10);
  c->type("a1 ");
  EXPECT_EQ(settled(), preedits({"a", "á"}, 1) + committed("á ", 1)) << "vni after the change";

  // Changed under a word: the word ends under the old settings, the next word gets the new ones.
  c->type("a");
  EXPECT_EQ(settled(), preedits({"a"}, 1));  // handled before the file changes
  rewrite(R"({"input_method": "telex"})", 20);
  c->type("1 as");
  EXPECT_EQ(settled(), preedits({"á"}, 1) + committed("á ", 1) + preedits({"a", "á"}, 1)) << "telex again";
}

TEST_F(Service, UnavailableEndsTheService) {
  ASSERT_NO_FATAL_FAILURE(start());
  focus();
  c->unavailable();
  Exit exit;
  ASSERT_TRUE(c->wait_service_exit(exit));
  EXPECT_EQ(exit.status, 1) << describe(exit);
  EXPECT_TRUE(contains(
      exit.err, "ERROR lumaret_wayland::linux] compositor không cung cấp input-method-v2 cho seat này\n"))
      << describe(exit);
  EXPECT_TRUE(exit.err.ends_with("\nlumaret-wayland lỗi: input-method-v2 unavailable\n")) << describe(exit);
  // Stopping sends nothing: no release of the grab, no destroy.
  EXPECT_EQ(Requests(c->take()), Requests());
}

TEST_F(Service, WithoutAVirtualKeyboardItWarnsAndKeepsComposing) {
  ASSERT_NO_FATAL_FAILURE(start({.virtual_keyboard_manager = false}, "{}", {"--debug"}));
  const std::regex warning(
      R"((^|\n)\[\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ WARN  lumaret_wayland::linux\] )"
      "compositor không có zwp_virtual_keyboard_manager_v1: phím pass-through/Backspace sẽ không tới app\n");
  EXPECT_TRUE(std::regex_search(c->service_err(), warning)) << c->service_err();

  c->activate();
  c->done();
  std::vector<std::string> got;
  ASSERT_TRUE(c->wait_requests(3, got));
  EXPECT_EQ(Requests(got), (Requests{CLEAR, commit(0), "grab_keyboard"}));
  // Without a marker key to wait for, each answer is waited for by its length; a request too many shows
  // up at the front of the next answer.
  c->type("as");
  ASSERT_TRUE(c->wait_requests(4, got));
  EXPECT_EQ(Requests(got), preedits({"a", "á"}, 1));
  c->key(KEY_LEFT, true);  // ends the word; the key itself has nowhere to go
  c->key(KEY_LEFT, false);
  c->type("b");
  ASSERT_TRUE(c->wait_requests(7, got));
  EXPECT_EQ(Requests(got), committed("á", 1) + preedits({"b"}, 1));
  EXPECT_TRUE(contains(c->service_err(), "forward key 105 bỏ qua: compositor không có virtual-keyboard-v1"))
      << c->service_err();
}

TEST_F(Service, AClosedConnectionEndsTheServiceCleanly) {
  ASSERT_NO_FATAL_FAILURE(start());
  focus();
  c->type("vie");
  settled();
  c->disconnect_service();
  Exit exit;
  ASSERT_TRUE(c->wait_service_exit(exit));
  EXPECT_EQ(exit.signal, 0) << describe(exit);
  EXPECT_EQ(exit.status, 1) << describe(exit);
  EXPECT_TRUE(exit.err.ends_with("\n") && contains(exit.err, "\nlumaret-wayland lỗi: ")) << describe(exit);
  for (const char* report : {"Sanitizer", "runtime error", "Segmentation"}) {
    EXPECT_FALSE(contains(exit.err, report)) << describe(exit);
  }
}

TEST_F(Service, AFailedWriteEndsTheServiceWithoutASignal) {
  ASSERT_NO_FATAL_FAILURE(start());
  focus();
  c->stop_reading_service();
  c->type("a");  // its pre-edit cannot be written
  Exit exit;
  ASSERT_TRUE(c->wait_service_exit(exit));
  EXPECT_EQ(exit.signal, 0) << describe(exit);
  EXPECT_EQ(exit.status, 1) << describe(exit);
  EXPECT_TRUE(contains(exit.err, "ERROR lumaret_wayland::linux] flush Wayland lỗi: ")) << describe(exit);
  EXPECT_TRUE(exit.err.ends_with("\nlumaret-wayland lỗi: không flush được Wayland\n")) << describe(exit);
}

TEST_F(Service, AKeymapThatCannotBeUsedKeepsTheOldOne) {
  const struct {
    const char* name;
    std::function<void(TestCompositor&)> send;
    const char* logged;
  } cases[] = {
      {"does not compile", [](TestCompositor& t) { t.send_keymap("xkb_keymap { this is no keymap };"); },
       "keymap rỗng/không compile được"},
      {"size 0",
       [](TestCompositor& t) {
         t.send_keymap_fd(TestCompositor::KEYMAP_FORMAT_XKB_V1, ::memfd_create("empty", MFD_CLOEXEC), 0);
       },
       nullptr},
      {"empty text", [](TestCompositor& t) { t.send_keymap(""); }, nullptr},
      {"not XKB",
       [](TestCompositor& t) {
         t.send_keymap_fd(TestCompositor::KEYMAP_FORMAT_NO_KEYMAP, ::memfd_create("none", MFD_CLOEXEC), 0);
       },
       "bỏ qua keymap không phải XKB"},
      {"unknown format",
       [](TestCompositor& t) { t.send_keymap_fd(7, ::memfd_create("odd", MFD_CLOEXEC), 0); },
       "keymap format không hợp lệ"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    ASSERT_NO_FATAL_FAILURE(start());
    focus();
    k.send(*c);
    c->type("as");
    // Nothing goes to the virtual keyboard, and keys still translate with the first keymap.
    EXPECT_EQ(settled(), preedits({"a", "á"}, 1));
    if (k.logged) {
      EXPECT_TRUE(contains(c->service_err(), k.logged)) << c->service_err();
    }
  }
}

// The compositor echoes the keymap our own virtual keyboard was given back to the grab; passing it on
// again would loop.
TEST_F(Service, AKeymapIsPassedOnOnlyWhenItDiffersFromTheLastOnePassed) {
  ASSERT_NO_FATAL_FAILURE(start());
  focus();
  const Keymap us = c->keymap(), german = Keymap::compile("de");
  const auto passed = [](const Keymap& k) {
    return "vk.keymap(1, " + std::to_string(k.text.size() + 1) + ")";
  };

  c->send_keymap(us.text);
  EXPECT_EQ(settled(), Requests()) << "the same keymap again";

  // The German layout has y where the US one has z: typing shows which keymap is in use.
  c->send_keymap(german.text);
  c->type("z ");
  EXPECT_EQ(settled(), Requests(1, passed(german)) + preedits({"y"}, 1) + committed("y ", 1));
  EXPECT_EQ(c->virtual_keymap(), german.text);

  c->send_keymap(german.text);
  c->type("z ");
  EXPECT_EQ(settled(), preedits({"y"}, 1) + committed("y ", 1)) << "the German keymap echoed";

  c->send_keymap(us.text);
  c->type("y ");
  EXPECT_EQ(settled(), Requests(1, passed(us)) + preedits({"y"}, 1) + committed("y ", 1)) << "back to US";
  EXPECT_EQ(c->virtual_keymap(), us.text);
}

TEST_F(Service, KeysOnAForgottenGrabAreHandledLikeKeysOnTheNewOne) {
  ASSERT_NO_FATAL_FAILURE(start());
  focus();
  c->type("vi");
  c->deactivate();
  c->activate();
  c->done();
  ASSERT_TRUE(c->wait_for([&] { return c->grab_count() == 2; }, "a second keyboard grab"));
  // The new grab gets the same keymap: it is not passed on again.
  EXPECT_EQ(settled(), preedits({"v", "vi"}, 1) + cleared(1) + cleared(1) + Requests(1, "grab_keyboard"));

  c->type("vieet", 0);  // the first grab, as a compositor may go on using it
  c->type("s ", 1);     // and the new one
  EXPECT_EQ(settled(), preedits({"v", "vi", "vie", "viê", "viêt", "viết"}, 2) + committed("viết ", 2));

  // Modifiers on the old grab count as well.
  c->type("a", 1);
  c->modifiers(c->keymap().ctrl, 0, 0, 0, 0);
  const std::uint32_t down = c->key(KEY_B, true, 1);
  EXPECT_EQ(settled(),
            preedits({"a"}, 2) + committed("a", 2) + forwarded(down, KEY_B, true, c->keymap().ctrl));
}

TEST_F(Service, LogLinesFollowTheLevelFilter) {
  const struct {
    const char* name;
    std::vector<std::string> args;
    EnvChanges env;
    bool info, debug;
    const char* path = nullptr;  // the configuration named in the start-up line, when not the test's
  } cases[] = {
      {"default", {}, {}, true, false},
      {"--debug", {"--debug"}, {}, true, true},
      {"--debug as the path of --config", {"--config", "--debug"}, {}, true, false, "--debug"},
      {"filter from the environment", {"--debug"}, {{"SPDLOG_LEVEL", "warn"}}, false, false},
      {"filter raising the level", {}, {{"SPDLOG_LEVEL", "debug"}}, true, true},
  };
  const std::regex line(
      R"(\[\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ (ERROR|WARN |INFO |DEBUG) lumaret_wayland::linux\] .*)");
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    ASSERT_NO_FATAL_FAILURE(start({}, "{}", k.args, k.env));
    focus();
    c->type("a");
    settled();
    const std::string err = c->service_err();
    EXPECT_EQ(contains(err, " INFO  lumaret_wayland::linux] lumaret-wayland đang chạy (config " +
                                (k.path ? std::string(k.path) : config_path.string()) + ")\n"),
              k.info)
        << err;
    EXPECT_EQ(contains(err, " DEBUG lumaret_wayland::linux] input method activate\n"), k.debug) << err;
    std::istringstream in(err);
    for (std::string text; std::getline(in, text);) {
      EXPECT_TRUE(std::regex_match(text, line) || text.starts_with("    ")) << "not a log line: " << text;
    }
  }
}

}  // namespace
}  // namespace lumaret::wayland::testing
