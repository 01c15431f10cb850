// The built-in application profiles and the normalisation of application identifiers.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <variant>
#include <vector>

#include "../src/config_reader.h"
#include "lumaret/engine/config_file.h"
#include "lumaret/engine/ports.h"
#include "test_config.h"

namespace lumaret::engine {
namespace {

TEST(AppProfileData, HoldsTheBuiltInAliases) {
  const std::map<std::string, std::string, std::less<>> expected = {
      {"code-url-handler", "code"},
      {"gnome-terminal-server", "gnome-terminal"},
      {"google-chrome", "chrome"},
      {"google-chrome-beta", "chrome"},
      {"google-chrome-stable", "chrome"},
      {"microsoft-edge", "msedge"},
      {"microsoft-edge-stable", "msedge"},
      {"soffice.bin", "libreoffice"},
      {"vscode", "code"},
  };
  EXPECT_EQ(app_profile_data().aliases, expected);
}

TEST(AppProfileData, HoldsTheBuiltInProfiles) {
  constexpr std::optional<OutputMode> PREEDIT = OutputMode::Preedit;
  constexpr std::optional<OutputMode> NONE = std::nullopt;
  constexpr std::optional<bool> OFF = false;
  constexpr std::optional<bool> UNSET = std::nullopt;
  const struct {
    const char* id;
    std::optional<OutputMode> output_mode;
    std::uint32_t backspace_delay_ms;
    std::uint32_t delay_per_char_ms;
    bool wait_ack;
    std::optional<bool> edit_previous_word;
    std::optional<bool> restore_after_space;
    std::optional<bool> vietnamese;
  } rows[] = {
      {"alacritty", PREEDIT, 0, 0, false, OFF, UNSET, UNSET},
      {"brave", NONE, 0, 2, true, UNSET, UNSET, UNSET},
      {"chrome", NONE, 0, 2, true, UNSET, UNSET, UNSET},
      {"chromium", NONE, 0, 2, true, UNSET, UNSET, UNSET},
      {"code", PREEDIT, 3, 0, false, UNSET, UNSET, UNSET},
      {"discord", PREEDIT, 3, 0, false, UNSET, UNSET, UNSET},
      {"firefox", PREEDIT, 4, 0, false, OFF, UNSET, UNSET},
      {"gnome-terminal", PREEDIT, 0, 0, false, OFF, OFF, UNSET},
      {"iterm2", PREEDIT, 0, 0, false, OFF, UNSET, UNSET},
      {"kitty", PREEDIT, 0, 0, false, OFF, UNSET, UNSET},
      {"konsole", PREEDIT, 0, 0, false, OFF, OFF, UNSET},
      {"minecraft", NONE, 0, 0, false, UNSET, UNSET, OFF},
      {"msedge", NONE, 0, 2, true, UNSET, UNSET, UNSET},
      {"notion", PREEDIT, 5, 0, false, UNSET, UNSET, UNSET},
      {"ptyxis", PREEDIT, 0, 0, false, OFF, OFF, UNSET},
      {"rxvt", PREEDIT, 0, 0, false, OFF, OFF, UNSET},
      {"slack", PREEDIT, 3, 0, false, UNSET, UNSET, UNSET},
      {"terminal", PREEDIT, 0, 0, false, OFF, UNSET, UNSET},
      {"terminator", PREEDIT, 0, 0, false, OFF, OFF, UNSET},
      {"tilix", PREEDIT, 0, 0, false, OFF, OFF, UNSET},
      {"urxvt", PREEDIT, 0, 0, false, OFF, OFF, UNSET},
      {"wezterm", PREEDIT, 0, 0, false, OFF, UNSET, UNSET},
      {"windowsterminal", PREEDIT, 0, 0, false, OFF, UNSET, UNSET},
      {"xfce4-terminal", PREEDIT, 0, 0, false, OFF, OFF, UNSET},
      {"xterm", PREEDIT, 0, 0, false, OFF, OFF, UNSET},
  };
  AppProfiles expected;
  for (const auto& row : rows) {
    AppProfile& p = expected[row.id];
    p.output_mode = row.output_mode;
    p.backspace_delay_ms = row.backspace_delay_ms;
    p.delay_per_char_ms = row.delay_per_char_ms;
    p.wait_ack = row.wait_ack;
    p.edit_previous_word = row.edit_previous_word;
    p.restore_after_space = row.restore_after_space;
    p.vietnamese = row.vietnamese;
  }
  const AppProfiles& builtin = app_profile_data().profiles;
  EXPECT_EQ(builtin.size(), 25u);
  for (const auto& [id, profile] : expected) {
    const auto found = builtin.find(id);
    ASSERT_NE(found, builtin.end()) << id;
    EXPECT_EQ(found->second, profile) << id;
  }
}

TEST(AppProfileData, TheDataTextMustNameBothMembers) {
  const struct {
    std::string_view text;
    std::string_view error;
  } cases[] = {
      {R"({"aliases": {}})", "missing field `profiles` at line 1 column 15"},
      {R"({"profiles": {}, "future": 1})", "missing field `aliases` at line 1 column 29"},
      {R"({"aliases": {}, "profiles": {}, "aliases": {}})", "duplicate field `aliases` at line 1 column 41"},
  };
  for (const auto& c : cases) {
    const std::variant<AppProfileData, ConfigError> read = internal::read_app_profile_data(c.text);
    ASSERT_TRUE(std::holds_alternative<ConfigError>(read)) << c.text;
    EXPECT_EQ(std::get<ConfigError>(read).message, c.error) << c.text;
  }
}

TEST(AppProfileData, IsBuiltOnceForEveryCaller) {
  std::vector<const AppProfileData*> seen(4);
  std::vector<std::thread> threads;
  for (auto& slot : seen)
    threads.emplace_back([&slot] { slot = &app_profile_data(); });
  for (auto& t : threads)
    t.join();
  for (const AppProfileData* data : seen)
    EXPECT_EQ(data, &app_profile_data());
}

TEST(NormalizeAppId, GivesTheKeyProfilesAreStoredUnder) {
  const struct {
    std::optional<std::string_view> id;
    std::string_view key;
  } cases[] = {
      {"Firefox", "firefox"},
      {" firefox \n", "firefox"},
      {"/usr/bin/Firefox", "firefox"},
      {"C:\\Apps\\Firefox.exe", "firefox"},
      {"org.gnome.Terminal", "terminal"},
      {"com.foo.Editor", "editor"},
      {"io.github.Foo", "foo"},
      {"net", "net"},
      {"app.foo", "foo"},
      {"de.foo.Bar", "de.foo.bar"},  // only five prefixes mark a reverse domain
      {"code-url-handler", "code"},
      {"Google-Chrome", "chrome"},
      {"soffice.bin", "libreoffice"},  // soffice is no prefix, so the dot does nothing
      {"firefox.desktop", "firefox"},
      {"Foo.app.exe", "foo"},
      {"foo.exe.desktop", "foo.exe"},  // each suffix once, in its own order
      {"foo.app.desktop", "foo.app"},
      {".desktop", ""},
      {"kitty:1", "kitty"},
      {"org.example.App:2", "app"},  // the colon goes before the domain rule
      {".exe", ""},
      {"a/", ""},
      {std::nullopt, ""},
      {"", ""},
      {" \t\n", ""},
      {"\u00A0\u3000Kitty\u2003", "kitty"},  // white space beyond ASCII
      {"ÉDITEUR", "éditeur"},
      {"ΟΔΟΣ", "οδος"},  // a final capital sigma lowers to the final form
      {"İ", "i\u0307"},  // full lowercase mapping: one character becomes two
      {"Microsoft-Edge", "msedge"},
      {"vscode", "code"},
      {"CODE", "code"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(normalize_app_id(c.id), c.key) << (c.id ? std::string(*c.id) : std::string("(absent)"));
  }
}

TEST(NormalizeAppId, AFileKeyThatIsNotNormalisedNeverMatches) {
  const std::variant<Config, ConfigError> read =
      read_config(R"({"app_profiles": {"Firefox": {"vietnamese": false}}})");
  ASSERT_TRUE(std::holds_alternative<Config>(read));
  const AppProfiles& profiles = std::get<Config>(read).app_profiles;
  const auto found = profiles.find(normalize_app_id("Firefox"));
  ASSERT_NE(found, profiles.end());
  EXPECT_EQ(found->second, app_profile_data().profiles.at("firefox"));
}

}  // namespace
}  // namespace lumaret::engine
