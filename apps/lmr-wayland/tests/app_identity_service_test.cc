// The built lumaret-wayland under a compositor that publishes its window list: the activated window's
// application chooses the settings in force, the switch key is remembered per application in the
// configuration file, and without a usable window list everything stays as it was.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <variant>

#include "compositor/requests.h"
#include "compositor/test_compositor.h"
#include "lumaret/engine/config_file.h"

namespace lumaret::wayland::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t ACTIVATED = TestCompositor::TOPLEVEL_ACTIVATED;
constexpr std::uint32_t MAXIMIZED = TestCompositor::TOPLEVEL_MAXIMIZED;

bool contains(const std::string& text, std::string_view part) {
  return text.find(part) != std::string::npos;
}

// The configuration file as the next start of the service would read it.
engine::Config read_back(const fs::path& path) {
  std::variant<engine::Config, engine::ConfigError> read = engine::read_config(read_file(path));
  if (const auto* error = std::get_if<engine::ConfigError>(&read)) {
    ADD_FAILURE() << "the configuration file no longer reads: " << error->message << "\n" << read_file(path);
    return engine::Config::defaults();
  }
  return std::get<engine::Config>(std::move(read));
}

class AppIdentityService : public ::testing::Test {
 protected:
  // A compositor with `globals` (by default with the window list) and the configuration file; the
  // service is started separately, so that windows can exist before it.
  void make(std::string_view config, Globals globals = {.toplevel_manager = true}) {
    c = std::make_unique<TestCompositor>(globals);
    config_path = c->dir() / "config.json";
    std::ofstream(config_path, std::ios::binary) << config;
  }

  void start(std::vector<std::string> args = {}) {
    args.insert(args.begin(), {"--config", config_path.string()});
    ASSERT_TRUE(c->start_service(args));
    c->take();  // binds and object creation
  }

  // Ends the service as a lost connection does and starts a new one on the same compositor and file.
  void restart() {
    c->disconnect_service();
    Exit exit;
    ASSERT_TRUE(c->wait_service_exit(exit));
    EXPECT_EQ(exit.status, 1) << describe(exit);
    expect_no_report(exit.err);
    ASSERT_NO_FATAL_FAILURE(start());
  }

  // What a sanitized build of the service writes when it goes wrong.
  static void expect_no_report(const std::string& err) {
    for (const char* report : {"Sanitizer", "runtime error"})
      EXPECT_FALSE(contains(err, report)) << err;
  }

  void TearDown() override {
    if (c) expect_no_report(c->service_err());
  }

  // A text field gets the focus, with `surrounding` before the cursor when given.
  Requests focus(std::optional<std::string_view> surrounding = std::nullopt) {
    const std::size_t grabs = c->grab_count();
    c->activate();
    if (surrounding) {
      const auto at = static_cast<std::uint32_t>(surrounding->size());
      c->surrounding_text(*surrounding, at, at);
    }
    c->done();
    EXPECT_TRUE(c->wait_for([&] { return c->grab_count() > grabs; }, "a keyboard grab"));
    return settled();
  }

  Requests settled() {
    std::vector<std::string> got;
    EXPECT_TRUE(c->settle(got));
    return got;
  }

  // Alt+comma: the switch, which never reaches the application.
  void press_switch() {
    c->modifiers(c->keymap().alt);
    c->key(KEY_COMMA, true);
    c->key(KEY_COMMA, false);
    c->modifiers(0);
  }

  // Types "as " and returns what the service should answer: "á " composed under `serial` when Vietnamese
  // input is on, otherwise each key let through.
  Requests type_as(bool vietnamese, std::uint32_t serial) {
    if (vietnamese) {
      c->type("as ");
      return preedits({"a", "á"}, serial) + committed("á ", serial);
    }
    Requests expected;
    for (const std::uint32_t code : {KEY_A, KEY_S, KEY_SPACE}) {
      const std::uint32_t down = c->key(code, true), up = c->key(code, false);
      expected = expected + forwarded(down, code, true) + forwarded(up, code, false);
    }
    return expected;
  }

  std::unique_ptr<TestCompositor> c;
  fs::path config_path;
};

TEST_F(AppIdentityService, TheWindowListIsBoundWhenOfferedAndTheStartSaysSo) {
  const struct {
    const char* name;
    bool offered;
    Requests binds;
    const char* logged;
  } cases[] = {
      {"offered",
       true,
       {"bind(wl_seat, 7)", "bind(zwp_input_method_manager_v2, 1)",
        "bind(zwp_virtual_keyboard_manager_v1, 1)", "bind(zwlr_foreign_toplevel_manager_v1, 3)",
        "get_input_method", "create_virtual_keyboard"},
       " INFO  lumaret_wayland::linux] biết ứng dụng đang dùng (zwlr_foreign_toplevel_manager_v1): cấu hình "
       "theo ứng dụng có hiệu lực\n"},
      {"not offered",
       false,
       {"bind(wl_seat, 7)", "bind(zwp_input_method_manager_v2, 1)",
        "bind(zwp_virtual_keyboard_manager_v1, 1)", "get_input_method", "create_virtual_keyboard"},
       " INFO  lumaret_wayland::linux] compositor không có zwlr_foreign_toplevel_manager_v1: chỉ dùng cấu "
       "hình chung\n"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    ASSERT_NO_FATAL_FAILURE(make("{}", {.toplevel_manager = k.offered}));
    // A window whose title must never be written down: titles tell what the user is working on.
    const std::size_t window = c->add_toplevel();
    c->toplevel_title(window, "Thư gửi ngân hàng — bí mật");
    c->toplevel_app_id(window, "org.example.Editor");
    c->toplevel_state(window, {ACTIVATED});
    c->toplevel_done(window);
    ASSERT_TRUE(c->start_service({"--config", config_path.string(), "--debug"}));
    EXPECT_EQ(Requests(c->take()), k.binds);
    focus();
    const std::string err = c->service_err();
    EXPECT_TRUE(contains(err, k.logged)) << err;
    // The application is logged at debug level when it becomes known, the title never.
    EXPECT_EQ(contains(err, "org.example.Editor"), k.offered) << err;
    EXPECT_FALSE(contains(err, "bí mật")) << err;
  }
}

// Which rule decides whether Vietnamese input is on: an exclusion, then the state remembered for the
// application, then its profile, then the default.
TEST_F(AppIdentityService, SettingsApplyInTheirOrder) {
  const struct {
    const char* name;
    const char* config;
    const char* app;  // the activated window's application; none when no window is activated
    bool vietnamese;
  } cases[] = {
      {"excluded, even when remembered on", R"({"excluded_apps": ["Game.exe"], "app_modes": {"game": true}})",
       "game", false},
      {"remembered on beats the built-in profile's off",
       R"({"app_modes": {"minecraft": true}, "app_profiles": {}})", "com.mojang.Minecraft", true},
      {"the built-in profile's off", R"({"app_profiles": {}})", "com.mojang.Minecraft", false},
      {"a file without app_profiles has no profiles, not even the built-in ones", "{}",
       "com.mojang.Minecraft", true},
      {"the profile's on beats the default",
       R"({"default_vietnamese": false, "app_profiles": {"editor": {"vietnamese": true}}})", "editor", true},
      {"remembered on beats the default", R"({"default_vietnamese": false, "app_modes": {"editor": true}})",
       "editor", true},
      {"the default for an application without a rule", R"({"default_vietnamese": false})", "editor", false},
      {"no window activated: no application's rule applies",
       R"({"excluded_apps": ["game"], "default_vietnamese": true})", nullptr, true},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    ASSERT_NO_FATAL_FAILURE(make(k.config));
    c->open_app(k.app ? k.app : "game", k.app ? std::vector{ACTIVATED} : std::vector<std::uint32_t>{});
    ASSERT_NO_FATAL_FAILURE(start());
    focus();
    const Requests expected = type_as(k.vietnamese, 1);
    EXPECT_EQ(settled(), expected);
  }
}

// Terminals take no word back from the application: typing after a word starts a new one.
TEST_F(AppIdentityService, AProfileDecidesWhetherTheWordBeforeTheCursorIsTakenUp) {
  const Requests taken_up = {CLEAR, commit(1), CLEAR, delete_before(2), commit_string("án"), commit(1)};
  const Requests new_word = preedits({"s"}, 1);
  const struct {
    const char* name;
    const char* config;
    const char* app;
    Requests answer;
  } cases[] = {
      {"a terminal's built-in profile", R"({"app_profiles": {}})", "kitty", new_word},
      {"a terminal known by its reverse-domain id", R"({"app_profiles": {}})", "org.wezfurlong.wezterm",
       new_word},
      {"an application without a profile", R"({"app_profiles": {}})", "editor", taken_up},
      {"a profile of the file's own", R"({"app_profiles": {"editor": {"edit_previous_word": false}}})",
       "editor", new_word},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    ASSERT_NO_FATAL_FAILURE(make(k.config));
    c->open_app(k.app, {ACTIVATED});
    ASSERT_NO_FATAL_FAILURE(start());
    focus("ban");
    c->type("s");
    EXPECT_EQ(settled(), k.answer);
  }
}

TEST_F(AppIdentityService, SwitchingApplicationsCommitsThePendingWordFirst) {
  ASSERT_NO_FATAL_FAILURE(make(R"({"excluded_apps": ["game"]})"));
  const std::size_t editor = c->open_app("editor", {ACTIVATED}), game = c->open_app("game");
  ASSERT_NO_FATAL_FAILURE(start());
  focus();
  c->type("vieet");
  EXPECT_EQ(settled(), preedits({"v", "vi", "vie", "viê", "viêt"}, 1));

  c->focus_toplevel(game);
  EXPECT_EQ(settled(), committed("viêt", 1)) << "the word goes to the field it was typed for";
  Requests expected = type_as(false, 1);
  EXPECT_EQ(settled(), expected) << "in the excluded application";

  c->focus_toplevel(editor);
  expected = type_as(true, 1);
  EXPECT_EQ(settled(), expected) << "back in the editor";
}

// The service follows the window list while a field has the focus: the activated window's application
// as of that window's last done.
TEST_F(AppIdentityService, TheActivatedWindowIsFollowed) {
  const struct {
    const char* name;
    std::function<void(TestCompositor&, std::size_t editor, std::size_t game)> events;
    Requests answer;  // to the events themselves
    bool vietnamese;
  } cases[] = {
      {"nothing changes", [](TestCompositor&, std::size_t, std::size_t) {}, {}, true},
      {"another window is activated",
       [](TestCompositor& t, std::size_t, std::size_t game) { t.focus_toplevel(game); },
       {},
       false},
      {"the window's application changes, not yet done",
       [](TestCompositor& t, std::size_t editor, std::size_t) { t.toplevel_app_id(editor, "game"); },
       {},
       true},
      {"the window's application changes, done",
       [](TestCompositor& t, std::size_t editor, std::size_t) {
         t.toplevel_app_id(editor, "game");
         t.toplevel_done(editor);
       },
       {},
       false},
      {"activated among other states",
       [](TestCompositor& t, std::size_t editor, std::size_t game) {
         t.toplevel_state(editor, {MAXIMIZED});
         t.toplevel_done(editor);
         t.toplevel_state(game, {MAXIMIZED, ACTIVATED});
         t.toplevel_done(game);
       },
       {},
       false},
      {"the activated window closes",
       [](TestCompositor& t, std::size_t, std::size_t game) {
         t.focus_toplevel(game);
         t.close_toplevel(game);
       },
       {"toplevel.destroy"},
       true},
      {"a new window opens activated",
       [](TestCompositor& t, std::size_t editor, std::size_t) {
         t.toplevel_state(editor, {});
         t.toplevel_done(editor);
         t.open_app("com.example.Game", {ACTIVATED});
       },
       {},
       false},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    ASSERT_NO_FATAL_FAILURE(make(R"({"app_modes": {"game": false}})"));
    const std::size_t editor = c->open_app("editor", {ACTIVATED}), game = c->open_app("game");
    ASSERT_NO_FATAL_FAILURE(start());
    focus();
    k.events(*c, editor, game);
    EXPECT_EQ(settled(), k.answer);
    const Requests expected = type_as(k.vietnamese, 1);
    EXPECT_EQ(settled(), expected);
  }
}

TEST_F(AppIdentityService, TheSwitchIsRememberedForItsApplicationAcrossARestart) {
  ASSERT_NO_FATAL_FAILURE(make(R"({"macros": {"ko": "không"}})"));
  const std::size_t editor = c->open_app("org.example.Editor", {ACTIVATED}), mail = c->open_app("mail");
  ASSERT_NO_FATAL_FAILURE(start());
  focus();
  press_switch();
  EXPECT_EQ(settled(), Requests()) << "the switch itself";
  Requests expected = type_as(false, 1);
  EXPECT_EQ(settled(), expected) << "switched off in the editor";
  c->focus_toplevel(mail);
  expected = type_as(true, 1);
  EXPECT_EQ(settled(), expected) << "the mail application keeps its own state";
  c->focus_toplevel(editor);
  expected = type_as(false, 1);
  EXPECT_EQ(settled(), expected) << "back in the editor";

  // Written under the normalised id, with the rest of the configuration as it was.
  const engine::Config saved = read_back(config_path);
  EXPECT_EQ(saved.app_modes, (decltype(saved.app_modes){{"editor", false}}));
  EXPECT_EQ(saved.macros.at("ko"), "không");

  ASSERT_NO_FATAL_FAILURE(restart());
  focus();
  expected = type_as(false, 1);
  EXPECT_EQ(settled(), expected) << "the editor after the restart";
  c->focus_toplevel(mail);
  expected = type_as(true, 1);
  EXPECT_EQ(settled(), expected) << "the mail application after the restart";
}

// The service's own save changes the file, but it is not a change to read back. What shows it: a file
// without `app_profiles` has no profiles, while the file the service writes lists the built-in ones, so
// only a reading of the saved file gives the terminal its profile.
TEST_F(AppIdentityService, TheServicesOwnSaveIsNotReadBack) {
  ASSERT_NO_FATAL_FAILURE(make(R"({"input_method": "telex"})"));
  // Well in the past, so that the save's new modification time cannot coincide with it.
  fs::last_write_time(config_path, fs::last_write_time(config_path) - std::chrono::hours(1));
  const std::size_t terminal = c->open_app("kitty");
  c->open_app("editor", {ACTIVATED});
  ASSERT_NO_FATAL_FAILURE(start());
  focus();
  press_switch();
  const std::uint32_t down = c->key(KEY_A, true), up = c->key(KEY_A, false);  // where a reload would happen
  EXPECT_EQ(settled(), forwarded(down, KEY_A, true) + forwarded(up, KEY_A, false));
  ASSERT_TRUE(read_back(config_path).app_profiles.contains("kitty")) << read_file(config_path);

  c->deactivate();
  c->focus_toplevel(terminal);
  focus("ban");
  c->type("s");
  EXPECT_EQ(settled(), (Requests{CLEAR, commit(2), CLEAR, delete_before(2), commit_string("án"), commit(2)}))
      << "the terminal still has no profile";

  ASSERT_NO_FATAL_FAILURE(restart());
  focus("ban");
  c->type("s");
  EXPECT_EQ(settled(), preedits({"s"}, 1)) << "a new service reads the saved file";
}

// Without an application to remember it for, the switch only switches, and nothing is written.
TEST_F(AppIdentityService, WithoutAnApplicationTheSwitchWritesNothing) {
  const struct {
    const char* name;
    bool offered;
    std::vector<std::uint32_t> states;  // of the excluded application's window
  } cases[] = {
      {"no window list", false, {ACTIVATED}},
      {"no window activated", true, {}},
  };
  const std::string config = R"({"excluded_apps": ["game"]})";
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    ASSERT_NO_FATAL_FAILURE(make(config, {.toplevel_manager = k.offered}));
    c->open_app("game", k.states);
    const auto written = fs::last_write_time(config_path);
    ASSERT_NO_FATAL_FAILURE(start());
    focus();
    Requests expected = type_as(true, 1);
    EXPECT_EQ(settled(), expected) << "the exclusion does not apply";
    press_switch();
    expected = type_as(false, 1);
    EXPECT_EQ(settled(), expected) << "switched off";
    press_switch();
    expected = type_as(true, 1);
    EXPECT_EQ(settled(), expected) << "switched on again";
    EXPECT_EQ(read_file(config_path), config);
    EXPECT_EQ(fs::last_write_time(config_path), written);
  }
}

}  // namespace
}  // namespace lumaret::wayland::testing
