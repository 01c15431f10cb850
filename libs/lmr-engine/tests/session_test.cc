// Key sequences and the actions they give, one case per line.
#include <gtest/gtest.h>

#include "fakes.h"
#include "lumaret/engine/session.h"

namespace lumaret::engine {
namespace {

using testing::last_actions;
using testing::type;
using testing::World;
using testing::world_ports;

using Setup = void (*)(World&);

void none(World&) {}
void vni(World& w) {
  w.config.input_method = "vni";
}
void viqr(World& w) {
  w.config.input_method = "viqr";
}
void password(World&) {}
void off(World& w) {
  w.config.default_vietnamese = false;
}
void smart_caps(World& w) {
  w.config.smart_caps = true;
}
void auto_caps(World& w) {
  w.config.auto_capitalize = true;
}
void nfd(World& w) {
  w.config.unicode_form = UnicodeForm::Nfd;
}
void ko(World& w) {
  w.config.macros = {{"ko", "không"}};
}
void k(World& w) {
  w.config.macros = {{"k", "không"}};
}
void dd_macro(World& w) {
  w.config.macros = {{"dd", "đã"}};
}
void k2(World& w) {
  w.config.macros = {{"k2", "không"}};
}
void k2_digits(World& w) {
  w.config.macros = {{"k2", "không"}};
  w.config.macro_digits = true;
}
void ko_disabled(World& w) {
  w.config.macros = {{"ko", "không"}};
  w.config.macro_enabled = false;
}
void upper_key_macro(World& w) {
  w.config.macros = {{"KO", "không"}};
}
void empty_macro(World& w) {
  w.config.macros = {{"ko", ""}};
}
void macro_digits(World& w) {
  w.config.macro_digits = true;
}
void no_restore(World& w) {
  w.config.restore_after_space = false;
}
void surrounding_ban(World& w) {
  w.before_cursor = "ban";
}
void surrounding_ban_space(World& w) {
  w.before_cursor = "ban ";
}
void surrounding_long(World& w) {
  w.before_cursor = "nghieengnghieeng";
}
void surrounding_nfd(World& w) {
  w.before_cursor = "vie\xcc\x82\xcc\x81t";
}  // viết decomposed
void no_edit_previous(World& w) {
  w.before_cursor = "ban";
  w.config.edit_previous_word = false;
}
void profile_cannot_enable(World& w) {
  w.before_cursor = "ban";
  w.config.edit_previous_word = false;
  w.app = "myapp";
  w.config.app_profiles["myapp"].edit_previous_word = true;
}
void profile_disables(World& w) {
  w.before_cursor = "ban";
  w.app = "kitty";  // the built-in terminal profile switches take-up off
}
void profile_no_restore(World& w) {
  w.app = "gnome-terminal";  // built-in: no take-up on backspace
}

struct Case {
  const char* name;
  Setup setup;
  const char* keys;
  const char* last;  // the last actions, joined by " | "
};

std::size_t count_parts(const char* joined) {
  std::size_t n = 1;
  for (const char* p = joined; *p; ++p) {
    if (p[0] == ' ' && p[1] == '|' && p[2] == ' ') ++n;
  }
  return n;
}

class SessionCases : public ::testing::TestWithParam<Case> {};

TEST_P(SessionCases, GivesActions) {
  const Case& c = GetParam();
  World world;
  c.setup(world);
  ImeSession session(world_ports(world));
  if (c.setup == password) session.set_field_kind(FieldKind::Password);
  const std::vector<std::string> actions = type(session, c.keys);
  EXPECT_EQ(last_actions(actions, count_parts(c.last)), c.last) << c.name << ": keys " << c.keys;
}

const Case KEY_CASES[] = {
    // Fields and switches
    {"password a", password, "a", "pass"},
    {"password backspace and enter", password, "a<BS><Enter>", "pass | pass"},
    {"off", off, "vieet<BS> ", "pass | pass"},
    {"modifier keeps the word", none, "vi<Shift>e", "pre \"vi\" | pass | pre \"vie\""},
    {"shift letter is a letter", none, "Vi", "pre \"V\" | pre \"Vi\""},
    {"control letter ends the word", none, "vi<C-c>", "commit \"vi\" fwd"},
    {"control with no word", none, "<C-c>", "pass"},
    // Composing
    {"telex vieet", none, "vieet", "pre \"v\" | pre \"vi\" | pre \"vie\" | pre \"viê\" | pre \"viêt\""},
    {"vni digit inside a word", vni, "a1", "pre \"á\""},
    {"vni digit starting a word", vni, "1", "pass"},
    {"viqr dot inside a word", viqr, "a.", "pre \"ạ\""},
    {"viqr dot starting a word", viqr, ".", "pass"},
    {"literal after a dot", none, "abc.as", "pre \"a\" | pre \"as\""},
    {"precomposed letter is a separator", none, "a\xc6\xb0", "commit \"aư\""},
    {"smart caps keep VN", smart_caps, "VN", "pre \"VN\""},
    {"smart caps compose DD", smart_caps, "DDi", "pre \"Đi\""},
    {"smart caps compose UW", smart_caps, "UWS", "pre \"Ứ\""},
    {"25th key turns literal", none, "aaaaaaaaaaaaaaaaaaaaaaaas", "pre \"aaaaaaaaaaaaaaaaaaaaaaaas\""},
    // Capitals at sentence starts
    {"capital after a sentence", auto_caps, "xin chaof. tooi", "pre \"Tôi\""},
    {"no capital after a comma", auto_caps, "chaof, ban", "pre \"ban\""},
    {"capital after enter", auto_caps, "a<Enter>tooi", "pre \"Tôi\""},
    {"closing quote keeps the sentence end", auto_caps, "a.\" b", "pre \"B\""},
    {"arrow clears the capital", auto_caps, "a. <Left>b", "pre \"b\""},
    // Word ends
    {"space commits", none, "vieets ", "commit \"viết \""},
    {"enter commits and forwards", none, "vieets<Enter>", "commit \"viết\" fwd"},
    {"invalid word restored", none, "vieet ", "commit \"vieet \""},
    {"english restored", none, "text ", "commit \"text \""},
    {"space on no word", none, " ", "pass"},
    {"escape commits the keys", none, "vieet<Esc>", "commit \"vieet\""},
    {"escape on no word", none, "<Esc>", "pass"},
    {"arrow commits and forwards", none, "vieet<Left>", "commit \"viêt\" fwd"},
    {"arrow on no word", none, "<Left>", "pass"},
    {"nfd output", nfd, "vieets ", "commit \"vie\xcc\x82\xcc\x81t \""},
    {"vni doubled digit shows and commits one digit", vni, "a11 ", "pre \"a1\" | commit \"a1 \""},
    {"vni doubled digit then more keys", vni, "a11b ", "pre \"a1b\" | commit \"a1b \""},
    // Macros
    {"macro", ko, "ko ", "commit \"không \""},
    {"macro capital", ko, "Ko ", "commit \"Không \""},
    {"macro all capitals", ko, "KO ", "commit \"KHÔNG \""},
    {"macro second capital only", ko, "kO ", "commit \"không \""},
    {"macro on enter", ko, "ko<Enter>", "commit \"không\" fwd"},
    {"no macro on escape", ko, "ko<Esc>", "commit \"ko\""},
    {"macros off", ko_disabled, "ko ", "commit \"ko \""},
    {"no macro in a literal word", ko, "abc.ko ", "commit \"ko \""},
    {"upper-case key never matches", upper_key_macro, "ko KO ", "commit \"KO \""},
    {"one capital on a one-letter key", k, "K ", "commit \"Không \""},
    {"macro found by the keys", dd_macro, "dd ", "pre \"đ\" | commit \"đã \""},
    {"macro with a digit", k2_digits, "k2 ", "commit \"không \""},
    {"digit ends the word without macro digits", k2, "k2", "commit \"k2\""},
    {"empty expansion never applies", empty_macro, "ko ", "commit \"ko \""},
    // Backspace inside a word
    {"backspace then retype", none, "vieet<BS>t", "pre \"viê\" | pre \"viêt\""},
    {"backspace recomposes a doubled key", none, "abc.aa<BS>a", "pre \"aa\" | pre \"a\" | pre \"â\""},
    {"backspace keeps an english word literal", none, "abc.as<BS>s", "pre \"a\" | pre \"as\""},
    {"backspace after an undone tone", macro_digits, "ass1<BS><BS>s",
     "pre \"as1\" | pre \"as\" | pre \"a\" | pre \"á\""},
    {"backspace on one character ends the word", none, "a<BS>b", "pre \"\" | pre \"b\""},
    {"vni backspace after a doubled digit", vni, "a11<BS>", "pre \"a1\" | pre \"á\""},
    // Backspace after a word
    {"take-up on backspace", none, "vieets <BS>j", "commit \"viết \" | pass | replace -2 \"ệt\""},
    {"take-up then space", none, "vieets <BS>j ", "replace -2 \"ệt\" | replace -0 \" \""},
    {"no take-up when switched off", no_restore, "vieets <BS><BS>x", "pass | pass | pre \"x\""},
    {"no take-up in a terminal profile", profile_no_restore, "vieets <BS>x", "pass | pre \"x\""},
    {"second backspace edits the taken-up word", none, "ab <BS><BS>c",
     "pass | replace -1 \"\" | replace -0 \"c\""},
    {"vni take-up then doubled digit", vni, "ban1 <BS>1 ", "pass | replace -0 \"1\" | replace -0 \" \""},
    // Previous-word take-up on typing
    {"take-up on typing", surrounding_ban, "s", "replace -2 \"án\""},
    {"no take-up after a space", surrounding_ban_space, "s", "pre \"s\""},
    {"no take-up of a long word", surrounding_long, "s", "pre \"s\""},
    {"no take-up in another normalisation form", surrounding_nfd, "s", "pre \"s\""},
    {"no take-up when switched off", no_edit_previous, "s", "pre \"s\""},
    {"a profile cannot switch take-up on", profile_cannot_enable, "s", "pre \"s\""},
    {"a profile switches take-up off", profile_disables, "s", "pre \"s\""},
};

INSTANTIATE_TEST_SUITE_P(Keys, SessionCases, ::testing::ValuesIn(KEY_CASES));

TEST(Session, LastWordKeepsKeysAndText) {
  World world;
  ImeSession session(world_ports(world));
  type(session, "vieets ");
  ASSERT_TRUE(session.last_word());
  EXPECT_EQ(session.last_word()->raw, U"vieets");
  EXPECT_EQ(session.last_word()->text, "viết");

  for (const char* keys : {"vieets<Enter>", "vieet ", "ko<Esc>"}) {
    type(session, keys);
    EXPECT_FALSE(session.last_word()) << keys;
  }
}

TEST(Session, PasswordFieldChangesNothing) {
  World world;
  ImeSession session(world_ports(world));
  type(session, "vie");
  session.set_field_kind(FieldKind::Password);
  EXPECT_EQ(last_actions(type(session, "a<BS><Enter>"), 3), "pass | pass | pass");
  session.set_field_kind(FieldKind::Normal);
  EXPECT_EQ(last_actions(type(session, "e"), 1), "pre \"viê\"");
}

TEST(Session, UrlFieldComposesWithoutMacrosOrShortcuts) {
  World world;
  world.config.macros = {{"ko", "không"}};
  world.config.w_as_u = true;
  ImeSession session(world_ports(world));
  session.set_field_kind(FieldKind::Url);
  EXPECT_EQ(last_actions(type(session, "ko "), 1), "commit \"ko \"");
  EXPECT_EQ(last_actions(type(session, "aw"), 1), "pre \"ă\"");
}

struct SwitchCase {
  const char* name;
  Action (*operation)(ImeSession&);
};

const SwitchCase SWITCHES[] = {
    {"focus_changed", [](ImeSession& s) { return s.focus_changed(std::nullopt); }},
    {"toggle_vietnamese", [](ImeSession& s) { return s.toggle_vietnamese(); }},
    {"reload_config", [](ImeSession& s) { return s.reload_config(); }},
};

TEST(Session, SwitchesCommitThePendingWord) {
  for (const SwitchCase& c : SWITCHES) {
    World world;
    ImeSession session(world_ports(world));
    type(session, "vieet");
    EXPECT_EQ(to_string(c.operation(session)), "commit \"viêt\"") << c.name;
    EXPECT_FALSE(session.composing()) << c.name;
    EXPECT_EQ(to_string(c.operation(session)), "pass") << c.name << " with no word";
  }
}

TEST(Session, SwitchOnAWordInPlaceCommitsNothing) {
  World world;
  ImeSession session(world_ports(world));
  type(session, "vieets <BS>");
  ASSERT_TRUE(session.in_place());
  EXPECT_EQ(to_string(session.flush()), "pass");
}

struct FocusCase {
  const char* name;
  const char* app;  // nullptr: no identity
  Setup setup;
  bool vietnamese;
};

void excluded_but_on(World& w) {
  w.config.excluded_apps = {"/usr/bin/Game.exe"};
  w.config.app_modes = {{"game", true}};
}
void mode_over_profile(World& w) {
  w.config.app_modes = {{"minecraft", true}};
}
void empty_key_mode(World& w) {
  w.config.app_modes = {{"", false}};
}

const FocusCase FOCUS_CASES[] = {
    {"excluded wins over a remembered on", "game", excluded_but_on, false},
    {"profile switches off", "Minecraft", none, false},
    {"remembered state wins over the profile", "minecraft", mode_over_profile, true},
    {"default for others", "firefox", off, false},
    {"empty key applies with no identity", nullptr, empty_key_mode, false},
    {"no identity takes the default", nullptr, none, true},
};

TEST(Session, FocusResolvesProfileAndState) {
  for (const FocusCase& c : FOCUS_CASES) {
    World world;
    c.setup(world);
    ImeSession session(world_ports(world));
    session.focus_changed(c.app ? std::optional<std::string_view>(c.app) : std::nullopt);
    EXPECT_EQ(session.vietnamese(), c.vietnamese) << c.name;
  }
}

TEST(Session, FocusWithoutIdentityTakesTheEmptyProfile) {
  World world;
  ImeSession session(world_ports(world));
  session.focus_changed("firefox");
  EXPECT_EQ(session.profile().backspace_delay_ms, 4u);
  session.focus_changed(std::nullopt);
  EXPECT_EQ(session.profile(), AppProfile{});
}

TEST(Session, ToggleRemembersPerApplication) {
  World world;
  world.app = " Firefox ";
  ImeSession session(world_ports(world));
  session.toggle_vietnamese();
  EXPECT_FALSE(session.vietnamese());
  EXPECT_EQ(world.saves, 1);
  EXPECT_EQ(world.config.app_modes.at("firefox"), false);

  World anonymous;
  ImeSession plain(world_ports(anonymous));
  plain.toggle_vietnamese();
  EXPECT_FALSE(plain.vietnamese());
  EXPECT_EQ(anonymous.saves, 0);
  EXPECT_TRUE(anonymous.config.app_modes.empty());
}

TEST(Session, ReloadKeepsStateUntilFocus) {
  World world;
  ImeSession session(world_ports(world));
  world.config.default_vietnamese = false;
  world.config.input_method = "vni";
  session.reload_config();
  EXPECT_TRUE(session.vietnamese());
  EXPECT_EQ(last_actions(type(session, "a1"), 1), "pre \"á\"");  // the method applies at once
  session.focus_changed(std::nullopt);
  EXPECT_FALSE(session.vietnamese());
}

TEST(Session, FocusClearsAPendingCapital) {
  World world;
  world.config.auto_capitalize = true;
  ImeSession session(world_ports(world));
  type(session, "a. ");
  session.focus_changed(std::nullopt);
  EXPECT_EQ(last_actions(type(session, "b"), 1), "pre \"b\"");
}

TEST(Session, WordInPlaceThatNoLongerStandsThereIsDropped) {
  // "xin chao ban ", Backspace takes "ban" up; the application keeps deleting down to "xin " (a held
  // Backspace repeats in the application); d d i and space then type a new word.
  World world;
  world.before_cursor = "xin chao ban ";
  ImeSession session(world_ports(world));
  EXPECT_EQ(last_actions(type(session, "<BS>"), 1), "pass");  // no last word: nothing taken up

  World typed;
  ImeSession s2(world_ports(typed));
  type(s2, "xin chao ban ");
  typed.before_cursor = "xin chao ban ";
  type(s2, "<BS>");
  ASSERT_TRUE(s2.in_place());
  typed.before_cursor = "xin ";
  EXPECT_EQ(last_actions(type(s2, "ddi "), 4), "pre \"d\" | pre \"đ\" | pre \"đi\" | commit \"đi \"");
}

TEST(Session, NoTakeUpWhileAKeyIsUnanswered) {
  World world;
  world.before_cursor = "ban";
  world.awaiting_answer = true;
  ImeSession session(world_ports(world));
  EXPECT_EQ(last_actions(type(session, "s"), 1), "pre \"s\"");
}

TEST(Session, NoTakeUpOnBackspaceWhenTheWordIsGone) {
  World world;
  ImeSession session(world_ports(world));
  type(session, "ban ");
  world.before_cursor = "xin ";  // the user clicked elsewhere
  EXPECT_EQ(last_actions(type(session, "<BS>"), 1), "pass");
  EXPECT_FALSE(session.in_place());
  EXPECT_EQ(last_actions(type(session, "s"), 1), "pre \"s\"");
}

TEST(Session, WordInPlaceContinuesOnlyRightBeforeTheCursor) {
  // "bo" stands in the application (taken up by Backspace); the user may then click anywhere. A
  // character after the word belongs to someone else: the word's next edit would delete it.
  const struct {
    const char* before_cursor;  // nullptr: the application says nothing
    const char* action;
  } cases[] = {
      {"xin bo", "replace -1 \"ô\""},   // right before the cursor: edited there
      {nullptr, "replace -1 \"ô\""},    // nothing contradicts it
      {"xin boo", "replace -0 \"o\""},  // after a longer word that ends like it: that word is taken up
      {"xin bo ", "pre \"o\""},         // after the space that follows it
      {"xin ", "pre \"o\""},
  };
  for (const auto& c : cases) {
    World world;
    ImeSession session(world_ports(world));
    type(session, "xin bo ");
    world.before_cursor = "xin bo ";
    type(session, "<BS>");
    ASSERT_TRUE(session.in_place());
    world.before_cursor = c.before_cursor ? std::optional<std::string>(c.before_cursor) : std::nullopt;
    EXPECT_EQ(last_actions(type(session, "o"), 1), c.action)
        << (c.before_cursor ? c.before_cursor : "nothing");
  }
}

TEST(Session, CommitTailKeepsItsLastCharacter) {
  World world;
  ImeSession session(world_ports(world));
  std::string long_text;
  for (int i = 0; i < 60; ++i)
    long_text += "abc ";
  type(session, long_text + "x.");
  EXPECT_EQ(last_actions(type(session, "as"), 1), "pre \"as\"");  // still literal after the cut
}

}  // namespace
}  // namespace lumaret::engine
