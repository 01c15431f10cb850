// Per-application settings once the platform tells which application is focused.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "lumaret/engine/defaults.h"
#include "lumaret/engine/notation.h"
#include "lumaret/wayland/controller.h"

namespace lumaret::wayland {
namespace {

using engine::Config;
using engine::Key;
using engine::KeyKind;

// Records what reaches the application: committed text, pre-edit and forwarded keys, in one line.
class TextBackend final : public Backend {
 public:
  void commit(std::string_view text, std::uint32_t) override { log += "[" + std::string(text) + "]"; }
  void clear_preedit(std::uint32_t) override {}
  void show_preedit(std::string_view, std::int32_t, std::uint32_t) override { log += "~"; }
  void replace_before_cursor(std::uint32_t, std::string_view text, std::uint32_t) override {
    log += "{" + std::string(text) + "}";
  }
  void forward_key_event(std::uint32_t code, std::uint32_t, bool pressed, const Modifiers&) override {
    if (pressed) log += "<" + std::string(1, static_cast<char>(code)) + ">";
  }
  std::string log;
};

// The configuration both the test and the session see, as a file would hold it.
struct Shared {
  Config config = Config::defaults();
  int saves = 0;
  std::optional<std::string> app;
};

class SharedStore final : public engine::ConfigStore {
 public:
  explicit SharedStore(Shared& s) : s_(s) {}
  Config load() override { return s_.config; }
  void save(const Config& c) override {
    s_.config = c;
    ++s_.saves;
  }

 private:
  Shared& s_;
};

class SharedApp final : public engine::AppContext {
 public:
  explicit SharedApp(Shared& s) : s_(s) {}
  std::optional<std::string> current_app() override { return s_.app; }

 private:
  Shared& s_;
};

// One run of the service: a controller over the shared configuration and focused application.
struct Service {
  explicit Service(Shared& shared)
      : controller(backend,
                   {std::make_unique<SharedStore>(shared), std::make_unique<SharedApp>(shared), nullptr,
                    std::make_unique<engine::WordListDictionary>(engine::WordListDictionary::defaults())},
                   std::nullopt),
        shared_(shared) {
    controller.activate(shared.app);
  }

  // Types keys; the key code is the character itself, so forwarded keys show as typed.
  std::string type(std::string_view keys) {
    const auto parsed = engine::parse_keys(keys);
    for (const engine::KeyInput& k : std::get<std::vector<engine::KeyInput>>(parsed)) {
      const std::uint32_t code = k.key.kind == KeyKind::Char ? static_cast<std::uint32_t>(k.key.ch) : '#';
      controller.key({k.key, code, 0, true, k.ctrl, k.alt, k.meta});
      controller.key({k.key, code, 0, false, k.ctrl, k.alt, k.meta});
    }
    return std::exchange(backend.log, {});
  }

  void focus(std::optional<std::string> app) {
    shared_.app = app;
    controller.app_changed(app);
  }

  TextBackend backend;
  Controller controller;
  Shared& shared_;
};

TEST(AppIdentity, SettingsApplyInOrder) {
  const struct {
    const char* name;
    const char* app;
    void (*setup)(Config&);
    const char* typed;  // what "as " gives
  } cases[] = {
      {"excluded application", "/usr/bin/Game", [](Config& c) { c.excluded_apps = {"game"}; }, "<a><s>< >"},
      {"excluded beats a remembered on", "game",
       [](Config& c) {
         c.excluded_apps = {"Game.exe"};
         c.app_modes = {{"game", true}};
       },
       "<a><s>< >"},
      {"remembered state beats the profile", "minecraft",
       [](Config& c) {
         c.app_modes = {{"minecraft", true}};
       },
       "~~[á ]"},
      {"built-in profile", "Minecraft", [](Config&) {}, "<a><s>< >"},
      {"profile beats the default", "firefox", [](Config& c) { c.default_vietnamese = false; }, "<a><s>< >"},
      {"default for an unknown application", "editor", [](Config& c) { c.default_vietnamese = false; },
       "<a><s>< >"},
      {"no identity: the defaults", nullptr, [](Config& c) { c.excluded_apps = {"game"}; }, "~~[á ]"},
  };
  for (const auto& c : cases) {
    Shared shared;
    c.setup(shared.config);
    if (c.app) shared.app = c.app;
    Service service(shared);
    EXPECT_EQ(service.type("as "), c.typed) << c.name;
  }
}

TEST(AppIdentity, TerminalProfileSwitchesTakeUpOff) {
  Shared shared;
  shared.app = "kitty";
  Service service(shared);
  service.controller.surrounding_text("ban", 3, 3);
  EXPECT_EQ(service.type("s"), "~");  // a new word in pre-edit, not an edit of "ban"
}

TEST(AppIdentity, SwitchingApplicationsCommitsThePendingWordFirst) {
  Shared shared;
  shared.app = "editor";
  shared.config.excluded_apps = {"game"};
  Service service(shared);
  EXPECT_EQ(service.type("vieet"), "~~~~~");
  service.focus("game");
  EXPECT_EQ(service.backend.log, "[viêt]");
  service.backend.log.clear();
  EXPECT_EQ(service.type("as"), "<a><s>");
  service.focus("editor");
  EXPECT_EQ(service.type("as "), "~~[á ]");
}

TEST(AppIdentity, SwitchKeyIsRememberedPerApplicationAcrossRestarts) {
  Shared shared;
  shared.app = "Editor";
  {
    Service service(shared);
    service.type("<A-,>");
    EXPECT_EQ(shared.saves, 1);
    EXPECT_EQ(shared.config.app_modes.at("editor"), false);
    EXPECT_EQ(service.type("as "), "<a><s>< >");
    service.focus("mail");
    EXPECT_EQ(service.type("as "), "~~[á ]");  // not applied to the other application
  }
  shared.app = "editor";
  Service restarted(shared);
  EXPECT_EQ(restarted.type("as "), "<a><s>< >");
}

TEST(AppIdentity, FocusChangeWhileInactiveWaitsForActivate) {
  Shared shared;
  shared.config.excluded_apps = {"game"};
  Service service(shared);
  service.controller.deactivate();
  service.focus("game");
  service.controller.activate(shared.app);
  EXPECT_EQ(service.type("a"), "<a>");
}

TEST(AppIdentity, SwitchKeyDoesNotSaveOverAnEditWaitingForTheWordEnd) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "lumaret-switch-save";
  std::filesystem::create_directories(dir);
  const std::filesystem::path path = dir / "config.json";
  std::ofstream(path) << "{}";
  TextBackend backend;
  Controller controller(
      backend,
      {std::make_unique<engine::JsonFileConfigStore>(path),
       std::make_unique<engine::StaticAppContext>("editor"), nullptr,
       std::make_unique<engine::WordListDictionary>(engine::WordListDictionary::defaults())},
      path);
  controller.activate("editor");
  const auto press = [&](engine::Key key, bool alt = false) {
    const std::uint32_t code = key.kind == KeyKind::Char ? static_cast<std::uint32_t>(key.ch) : '#';
    controller.key({key, code, 0, true, false, alt, false});
    controller.key({key, code, 0, false, false, alt, false});
  };
  press(Key::character(U'a'));  // a word is pending: the edit below waits for its end
  std::ofstream(path) << R"({"input_method": "vni"})";
  std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) + std::chrono::seconds(2));
  press(Key::character(U','), true);  // off, saved for "editor"
  press(Key::character(U','), true);  // on again
  const Config saved = engine::JsonFileConfigStore(path).load();
  EXPECT_EQ(saved.input_method, "vni");
  EXPECT_EQ(saved.app_modes.at("editor"), true);
  backend.log.clear();
  press(Key::character(U'a'));
  press(Key::character(U'1'));
  press(Key::character(U' '));
  EXPECT_EQ(backend.log, "~~[á ]");
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace lumaret::wayland
