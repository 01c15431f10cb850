// The configuration file's text: what the reader accepts and gives, what it refuses and why, and the exact
// layout the writer produces.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <string_view>
#include <variant>

#include "lumaret/engine/config_file.h"
#include "test_config.h"

namespace lumaret::engine {
namespace {

const AppProfiles& builtins() {
  return app_profile_data().profiles;
}

// A profile with only the fields a case names set.
template <typename Set>
AppProfile profile(Set set) {
  AppProfile p;
  set(p);
  return p;
}

AppProfile every_profile_field() {
  return profile([](AppProfile& p) {
    p.output_mode = OutputMode::Replace;
    p.backspace_delay_ms = 1;
    p.delay_per_char_ms = 2;
    p.wait_ack = true;
    p.edit_previous_word = std::nullopt;
    p.restore_after_space = false;
    p.vietnamese = true;
    p.input_method = "vni";
    p.tone_style = ToneStyle::Old;
    p.spell_check = false;
    p.charset = "utf-8";
  });
}

// What a file with an empty object gives: the defaults, but no profiles at all.
Config without_profiles() {
  Config config = Config::defaults();
  config.app_profiles.clear();
  return config;
}

// The error text for a refused configuration; empty (and a failure) when it was accepted.
std::string error_of(std::string_view text) {
  const std::variant<Config, ConfigError> read = read_config(text);
  if (const ConfigError* error = std::get_if<ConfigError>(&read)) return error->message;
  return {};
}

TEST(ConfigDefaults, AreTheDocumentedValuesWithTheBuiltInProfiles) {
  Config expected;
  expected.input_method = "telex";
  expected.tone_style = ToneStyle::New;
  expected.spell_check = true;
  expected.w_as_u = false;
  expected.bracket_keys = false;
  expected.quick_telex = false;
  expected.allow_coda_k = false;
  expected.macro_enabled = true;
  expected.macro_digits = false;
  expected.macro_undo = true;
  expected.macro_in_off_mode = false;
  expected.auto_capitalize = false;
  expected.default_vietnamese = true;
  expected.edit_previous_word = true;
  expected.app_profiles = builtins();
  expected.restore_after_space = true;
  expected.smart_caps = false;
  expected.unicode_form = UnicodeForm::Nfc;
  expected.schema_version = 1;
  EXPECT_EQ(Config::defaults(), expected);
  EXPECT_EQ(Config::defaults().app_profiles.size(), 25u);
}

TEST(ReadConfig, AcceptedTextsGiveTheseRecords) {
  const struct {
    const char* name;
    std::string_view text;
    void (*change)(Config&);  // applied to the defaults without profiles
  } cases[] = {
      {"an empty object", "{}", [](Config&) {}},
      {"white space around, several blank lines after", " \t\r\n{ \n }\n\n\n\n", [](Config&) {}},
      {"an empty profile map gives the built-in profiles", R"({"app_profiles": {}})",
       [](Config& c) { c.app_profiles = builtins(); }},
      {"a profile for a new application comes on top of the built-in ones",
       R"({"app_profiles": {"gedit": {"wait_ack": true}}})",
       [](Config& c) {
         c.app_profiles = builtins();
         c.app_profiles["gedit"].wait_ack = true;
       }},
      {"an entry for a built-in application replaces its profile whole",
       R"({"app_profiles": {"firefox": {"wait_ack": true}}})",
       [](Config& c) {
         c.app_profiles = builtins();
         c.app_profiles["firefox"] = profile([](AppProfile& p) { p.wait_ack = true; });
       }},
      {"profile keys are kept as written", R"({"app_profiles": {"Firefox": {}}})",
       [](Config& c) {
         c.app_profiles = builtins();
         c.app_profiles["Firefox"] = AppProfile{};
       }},
      {"a typing method name in capitals is kept as written", R"({"input_method": "VNI"})",
       [](Config& c) { c.input_method = "VNI"; }},
      {"the exact spellings of the enumerations",
       R"({"tone_style": "old", "unicode_form": "NFD",
           "app_profiles": {"x": {"output_mode": "replace", "tone_style": "new"}}})",
       [](Config& c) {
         c.tone_style = ToneStyle::Old;
         c.unicode_form = UnicodeForm::Nfd;
         c.app_profiles = builtins();
         c.app_profiles["x"] = profile([](AppProfile& p) {
           p.output_mode = OutputMode::Replace;
           p.tone_style = ToneStyle::New;
         });
       }},
      {"a schema version of 7", R"({"schema_version": 7})", [](Config& c) { c.schema_version = 7; }},
      {"the smallest schema version", R"({"schema_version": 0})", [](Config& c) { c.schema_version = 0; }},
      {"the largest schema version", R"({"schema_version": 4294967295})",
       [](Config& c) { c.schema_version = 4294967295u; }},
      {"null for optional profile fields is the same as leaving them out",
       R"({"app_profiles": {"x": {"output_mode": null, "vietnamese": null, "charset": null}}})",
       [](Config& c) {
         c.app_profiles = builtins();
         c.app_profiles["x"] = AppProfile{};
       }},
      {"the same name twice in a map keeps the second value", R"({"macros": {"ko": "không", "ko": "khong"}})",
       [](Config& c) {
         c.macros = {{"ko", "khong"}};
       }},
      {"the same name twice in the profile map keeps the second profile whole",
       R"({"app_profiles": {"x": {"wait_ack": true}, "x": {"backspace_delay_ms": 3}}})",
       [](Config& c) {
         c.app_profiles = builtins();
         c.app_profiles["x"] = profile([](AppProfile& p) { p.backspace_delay_ms = 3; });
       }},
      {"unknown members are skipped whatever their value, even twice",
       R"({"future": {"a": [1, {"b": null}], "c": "d"}, "spell_check": false, "future": -1.5e10,
           "Spell_check": "x", "more": [[[]]], "last": null})",
       [](Config& c) { c.spell_check = false; }},
      {"unknown members inside a profile are skipped",
       R"({"app_profiles": {"x": {"colour": [1, 2], "wait_ack": true, "colour": {}}}})",
       [](Config& c) {
         c.app_profiles = builtins();
         c.app_profiles["x"] = profile([](AppProfile& p) { p.wait_ack = true; });
       }},
      {"the lists and maps",
       R"({"excluded_apps": ["b", "a", "b"], "app_modes": {"kitty": false, "Kitty": true}})",
       [](Config& c) {
         c.excluded_apps = {"b", "a", "b"};
         c.app_modes = {{"kitty", false}, {"Kitty", true}};
       }},
      {"escapes in strings", R"({"macros": {"a\u00e9\n\t\"\\\/": "\ud83d\ude00\u0000"}})",
       [](Config& c) {
         c.macros = {{"a\u00e9\n\t\"\\/", std::string("\U0001F600\0", 5)}};
       }},
      {"an empty array", "[]", [](Config&) {}},
      {"an array gives the fields in order, the rest keep their defaults", R"(["vni", "old", false])",
       [](Config& c) {
         c.input_method = "vni";
         c.tone_style = ToneStyle::Old;
         c.spell_check = false;
       }},
      {"an array as long as the record, with profiles merged over the built-in ones",
       R"(["viqr", "new", true, false, false, false, false, true, false, true, false, {"a": "b"}, false,
           ["x"], {"y": true}, true, true, {"z": {}}, true, false, "NFD", 9])",
       [](Config& c) {
         c.input_method = "viqr";
         c.macros = {{"a", "b"}};
         c.excluded_apps = {"x"};
         c.app_modes = {{"y", true}};
         c.app_profiles = builtins();
         c.app_profiles["z"] = AppProfile{};
         c.unicode_form = UnicodeForm::Nfd;
         c.schema_version = 9;
       }},
      {"a profile given as an array of its fields",
       R"({"app_profiles": {"x": ["replace", 1, 2, true, null, false, true, "vni", "old", false, "utf-8"]}})",
       [](Config& c) {
         c.app_profiles = builtins();
         c.app_profiles["x"] = every_profile_field();
       }},
  };
  for (const auto& c : cases) {
    Config expected = without_profiles();
    c.change(expected);
    const std::variant<Config, ConfigError> read = read_config(c.text);
    if (const ConfigError* error = std::get_if<ConfigError>(&read)) {
      ADD_FAILURE() << c.name << ": refused with " << error->message;
      continue;
    }
    EXPECT_EQ(std::get<Config>(read), expected) << c.name;
  }
}

TEST(ReadConfig, RefusedTextsSayWhy) {
  const struct {
    const char* name;
    std::string_view text;
    std::string_view error_start;
  } cases[] = {
      // Enumerations are spelled exactly.
      {"tone style with a capital letter", R"({"tone_style": "Old"})", "unknown variant `Old`, expected "},
      {"normalisation form in lower case", R"({"unicode_form": "nfc"})", "unknown variant `nfc`, expected "},
      {"output mode with a capital letter", R"({"app_profiles": {"x": {"output_mode": "Preedit"}}})",
       "unknown variant `Preedit`, expected "},
      {"tone style in a profile", R"({"app_profiles": {"x": {"tone_style": ""}}})",
       "unknown variant ``, expected "},
      {"an enumeration given as a number", R"({"tone_style": 1})", "invalid type: integer `1`"},
      // Unsigned 32-bit integers, and nothing else.
      {"a negative schema version", R"({"schema_version": -1})", "invalid value: integer `-1`"},
      {"minus zero", R"({"schema_version": -0})", "invalid value: integer `-0`"},
      {"a fractional schema version", R"({"schema_version": 1.5})", "invalid type: floating point `1.5`"},
      {"a whole number written with a fraction", R"({"schema_version": 7.0})",
       "invalid type: floating point"},
      {"a whole number written with an exponent", R"({"schema_version": 1e3})",
       "invalid type: floating point"},
      {"one past the largest", R"({"schema_version": 4294967296})", "invalid value: integer `4294967296`"},
      {"too large for 64 bits", R"({"schema_version": 18446744073709551616})",
       "invalid type: floating point"},
      {"a number too large for any type", R"({"schema_version": 1e400})", "number overflow"},
      {"a number as a string", R"({"schema_version": "7"})", "invalid type: string \"7\""},
      {"a delay that is negative", R"({"app_profiles": {"x": {"backspace_delay_ms": -3}}})",
       "invalid value: integer `-3`"},
      // Other types.
      {"null for a profile boolean", R"({"app_profiles": {"x": {"wait_ack": null}}})",
       "invalid type: null, expected a boolean"},
      {"null for a configuration boolean", R"({"spell_check": null})", "invalid type: null"},
      {"null for a text", R"({"input_method": null})", "invalid type: null"},
      {"null for the profile map", R"({"app_profiles": null})", "invalid type: null"},
      {"null for a list", R"({"excluded_apps": null})", "invalid type: null"},
      {"a boolean written as a string", R"({"spell_check": "true"})", "invalid type: string \"true\""},
      {"a boolean written as a number", R"({"spell_check": 1})", "invalid type: integer `1`"},
      {"a map value of the wrong type", R"({"macros": {"a": 1}})", "invalid type: integer `1`"},
      {"a remembered state of the wrong type", R"({"app_modes": {"a": "on"}})", "invalid type: string"},
      {"a list element of the wrong type", R"({"excluded_apps": ["a", false]})",
       "invalid type: boolean `false`"},
      {"a list given as a map", R"({"excluded_apps": {}})", "invalid type: map"},
      {"a map given as a list", R"({"macros": []})", "invalid type: sequence"},
      {"a boolean given as a map", R"({"spell_check": {}})", "invalid type: map"},
      {"a profile given as a string", R"({"app_profiles": {"x": "preedit"}})", "invalid type: string"},
      {"a string as the whole text", R"("telex")", "invalid type: string \"telex\""},
      {"null as the whole text", "null", "invalid type: null"},
      {"a control character shown escaped", "{\"tone_style\": \"a\\nb\"}", "unknown variant `a\\u000ab`"},
      // Duplicates of known keys.
      {"a key twice at the top", R"({"spell_check": true, "spell_check": true})",
       "duplicate field `spell_check`"},
      {"the profile map twice", R"({"app_profiles": {}, "app_profiles": {}})",
       "duplicate field `app_profiles`"},
      {"a key twice in a profile", R"({"app_profiles": {"x": {"wait_ack": true, "wait_ack": false}}})",
       "duplicate field `wait_ack`"},
      // Lengths of the array form.
      {"an array longer than the record",
       R"(["telex", "new", true, false, false, false, false, true, false, true, false, {}, false, [], {}, true,
           true, {}, true, false, "NFC", 1, 0])",
       "invalid length"},
      {"a profile array longer than the profile", R"({"app_profiles": {"x": [null, 0, 0, false, null, null,
           null, null, null, null, null, null]}})",
       "invalid length"},
      // What follows the value.
      {"text after the object", "{} x", "trailing characters"},
      {"a second object", "{}{}", "trailing characters"},
      {"a form feed after the object", "{}\f", "trailing characters"},
      // Not JSON.
      {"a trailing comma", R"({"spell_check": true,})", "syntax error"},
      {"a trailing comma in an array", R"({"excluded_apps": ["a",]})", "syntax error"},
      {"an empty text", "", "syntax error"},
      {"only white space", " \n\t", "syntax error"},
      {"an object left open", "{", "syntax error"},
      {"a comment", "{/* no */}", "syntax error"},
      {"single quotes", "{'spell_check': true}", "syntax error"},
      {"a literal in capitals", R"({"spell_check": True})", "syntax error"},
      {"a leading zero", R"({"schema_version": 01})", "syntax error"},
      {"not a number", R"({"schema_version": NaN})", "syntax error"},
      {"a byte order mark", "\xEF\xBB\xBF{}", "expected value"},
      {"a broken UTF-8 sequence in a string", "{\"input_method\": \"\xFF\"}", "syntax error"},
      {"a surrogate code point escaped alone", R"({"input_method": "\ud800"})", "syntax error"},
      {"a line feed inside a string", "{\"input_method\": \"a\nb\"}", "syntax error"},
      {"an ill-formed value in an unknown member", R"({"future": [1, }})", "syntax error"},
  };
  const std::regex ends_in_position(".* at line [1-9][0-9]* column [0-9]+");
  for (const auto& c : cases) {
    const std::string error = error_of(c.text);
    EXPECT_TRUE(error.starts_with(c.error_start)) << c.name << ": " << error;
    EXPECT_TRUE(std::regex_match(error, ends_in_position)) << c.name << ": " << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << c.name << ": " << error;
  }
}

TEST(ReadConfig, ErrorsNameTheLineAndColumnWhereTheyWereFound) {
  const struct {
    const char* name;
    std::string_view text;
    std::string_view error;
  } cases[] = {
      {"a duplicate found on line 3, just after the key",
       "{\n  \"spell_check\": true,\n  \"spell_check\": false\n}",
       "duplicate field `spell_check` at line 3 column 15"},
      {"an unknown variant on line 3, just after the string",
       "{\n  \"app_profiles\": {\n    \"x\": {\"tone_style\": \"NEW\"}\n  }\n}",
       "unknown variant `NEW`, expected `old` or `new` at line 3 column 29"},
      {"a number ended by a line feed is placed before it", "{\n  \"schema_version\": -1\n}",
       "invalid value: integer `-1`, expected an unsigned 32-bit integer at line 2 column 22"},
      {"a number at the very end", "7",
       "invalid type: integer `7`, expected a configuration object at line 1 column 1"},
      {"a syntax error on line 3", "{\n  \"a\": 1,\n  \"b\" 2\n}",
       "syntax error while parsing object separator - unexpected number literal; expected ':' at line 3 "
       "column 7"},
      {"trailing characters after blank lines", "{}\n\n  x", "trailing characters at line 3 column 3"},
      {"a line feed is placed at the end of its own line", "{\"input_method\": \"a\nb\"}",
       "syntax error while parsing value - invalid string: control character U+000A (LF) must be escaped to "
       "\\u000A or \\n at line 1 column 20"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(error_of(c.text), c.error) << c.name;
}

TEST(ReadConfig, DeepNestingNeitherOverflowsNorIsRefusedWhenSkipped) {
  constexpr std::size_t DEPTH = 1'000'000;
  const std::string opened(DEPTH, '[');
  const std::string closed(DEPTH, ']');

  const std::variant<Config, ConfigError> skipped = read_config("{\"future\": " + opened + closed + "}");
  ASSERT_TRUE(std::holds_alternative<Config>(skipped)) << std::get<ConfigError>(skipped).message;
  EXPECT_EQ(std::get<Config>(skipped), without_profiles());

  std::string objects;
  for (std::size_t i = 0; i < DEPTH; ++i)
    objects += "{\"a\":";
  objects += "1" + std::string(DEPTH, '}');
  EXPECT_TRUE(std::holds_alternative<Config>(read_config("{\"future\": " + objects + "}")));

  EXPECT_TRUE(error_of("{\"future\": " + opened).starts_with("syntax error")) << "left open";
  EXPECT_TRUE(error_of(opened + closed).starts_with("invalid type: sequence")) << "as the array form";
}

TEST(DeserializeAppProfiles, MergesOverTheBuiltInProfiles) {
  const struct {
    const char* name;
    std::string_view text;
    void (*change)(AppProfiles&);  // applied to the built-in profiles
  } cases[] = {
      {"an empty map", "{}", [](AppProfiles&) {}},
      {"a new application", R"({"gedit": {"vietnamese": false}})",
       [](AppProfiles& profiles) {
         profiles["gedit"] = profile([](AppProfile& p) { p.vietnamese = false; });
       }},
      {"a built-in application, replaced whole", R"( {"kitty": {"charset": "utf-8"}} )",
       [](AppProfiles& profiles) {
         profiles["kitty"] = profile([](AppProfile& p) { p.charset = "utf-8"; });
       }},
  };
  for (const auto& c : cases) {
    AppProfiles expected = builtins();
    c.change(expected);
    const std::variant<AppProfiles, ConfigError> read = deserialize_app_profiles(c.text);
    ASSERT_TRUE(std::holds_alternative<AppProfiles>(read))
        << c.name << ": " << std::get<ConfigError>(read).message;
    EXPECT_EQ(std::get<AppProfiles>(read), expected) << c.name;
  }

  const struct {
    const char* name;
    std::string_view text;
    std::string_view error_start;
  } refused[] = {
      {"a list", "[]", "invalid type: sequence, expected a map of application profiles"},
      {"null", "null", "invalid type: null"},
      {"a profile with a duplicate", R"({"x": {"wait_ack": true, "wait_ack": true}})",
       "duplicate field `wait_ack`"},
      {"text after the map", "{} {}", "trailing characters"},
  };
  for (const auto& c : refused) {
    const std::variant<AppProfiles, ConfigError> read = deserialize_app_profiles(c.text);
    ASSERT_TRUE(std::holds_alternative<ConfigError>(read)) << c.name;
    EXPECT_TRUE(std::get<ConfigError>(read).message.starts_with(c.error_start))
        << c.name << ": " << std::get<ConfigError>(read).message;
  }
}

// Every field set away from its default; texts with quotes, backslashes, control and non-ASCII characters;
// one profile with every field set and one with none.
Config everything() {
  Config c;
  c.input_method = "vni";
  c.tone_style = ToneStyle::Old;
  c.spell_check = false;
  c.w_as_u = true;
  c.bracket_keys = true;
  c.quick_telex = true;
  c.allow_coda_k = true;
  c.macro_enabled = false;
  c.macro_digits = true;
  c.macro_undo = false;
  c.macro_in_off_mode = true;
  c.macros = {
      {"", "empty name"},
      {"a\"b\\c/", "x\b\t\n\f\r\x01\x1f\x7fy"},
      {"vn", "Việt Nam \U0001F600"},
      {"đc", "được"},
  };
  c.auto_capitalize = true;
  c.excluded_apps = {"zeta", "alpha", "zeta"};
  c.app_modes = {{"kitty", false}, {"code", true}};
  c.default_vietnamese = false;
  c.edit_previous_word = false;
  c.app_profiles = {
      {"firefox", profile([](AppProfile& p) {
         p.output_mode = OutputMode::Replace;
         p.backspace_delay_ms = 10;
         p.delay_per_char_ms = 4294967295u;
         p.wait_ack = true;
         p.edit_previous_word = true;
         p.restore_after_space = false;
         p.vietnamese = true;
         p.input_method = "viqr";
         p.tone_style = ToneStyle::New;
         p.spell_check = true;
         p.charset = "ütf-8";
       })},
      {"gedit", AppProfile{}},
  };
  c.restore_after_space = false;
  c.smart_caps = true;
  c.unicode_form = UnicodeForm::Nfd;
  c.schema_version = 7;
  return c;
}

constexpr std::string_view EVERYTHING_TEXT = R"({
  "input_method": "vni",
  "tone_style": "old",
  "spell_check": false,
  "w_as_u": true,
  "bracket_keys": true,
  "quick_telex": true,
  "allow_coda_k": true,
  "macro_enabled": false,
  "macro_digits": true,
  "macro_undo": false,
  "macro_in_off_mode": true,
  "macros": {
    "": "empty name",
    "a\"b\\c/": "x\b\t\n\f\r\u0001\u001f)"
                                             "\x7f"
                                             R"(y",
    "vn": "Việt Nam 😀",
    "đc": "được"
  },
  "auto_capitalize": true,
  "excluded_apps": [
    "zeta",
    "alpha",
    "zeta"
  ],
  "app_modes": {
    "code": true,
    "kitty": false
  },
  "default_vietnamese": false,
  "edit_previous_word": false,
  "app_profiles": {
    "firefox": {
      "output_mode": "replace",
      "backspace_delay_ms": 10,
      "delay_per_char_ms": 4294967295,
      "wait_ack": true,
      "edit_previous_word": true,
      "restore_after_space": false,
      "vietnamese": true,
      "input_method": "viqr",
      "tone_style": "new",
      "spell_check": true,
      "charset": "ütf-8"
    },
    "gedit": {
      "output_mode": null,
      "backspace_delay_ms": 0,
      "delay_per_char_ms": 0,
      "wait_ack": false,
      "edit_previous_word": null,
      "restore_after_space": null,
      "vietnamese": null,
      "input_method": null,
      "tone_style": null,
      "spell_check": null,
      "charset": null
    }
  },
  "restore_after_space": false,
  "smart_caps": true,
  "unicode_form": "NFD",
  "schema_version": 7
})";

TEST(WriteConfig, WritesEveryFieldInTheFileLayout) {
  EXPECT_EQ(write_config(everything()), EVERYTHING_TEXT);
}

TEST(WriteConfig, WritesEmptyContainersOnOneLine) {
  constexpr std::string_view expected = R"({
  "input_method": "telex",
  "tone_style": "new",
  "spell_check": true,
  "w_as_u": false,
  "bracket_keys": false,
  "quick_telex": false,
  "allow_coda_k": false,
  "macro_enabled": true,
  "macro_digits": false,
  "macro_undo": true,
  "macro_in_off_mode": false,
  "macros": {},
  "auto_capitalize": false,
  "excluded_apps": [],
  "app_modes": {},
  "default_vietnamese": true,
  "edit_previous_word": true,
  "app_profiles": {},
  "restore_after_space": true,
  "smart_caps": false,
  "unicode_form": "NFC",
  "schema_version": 1
})";
  EXPECT_EQ(write_config(without_profiles()), expected);
}

TEST(WriteConfig, WhatIsWrittenReadsBackEqual) {
  // The reader lays the built-in profiles under the ones written.
  Config with_builtins = everything();
  AppProfiles builtin_copy = builtins();
  with_builtins.app_profiles.merge(builtin_copy);

  const struct {
    const char* name;
    Config written;
    Config read;
  } cases[] = {
      {"every field", everything(), with_builtins},
      {"the defaults", Config::defaults(), Config::defaults()},
  };
  for (const auto& c : cases) {
    const std::variant<Config, ConfigError> read = read_config(write_config(c.written));
    ASSERT_TRUE(std::holds_alternative<Config>(read))
        << c.name << ": " << std::get<ConfigError>(read).message;
    EXPECT_EQ(std::get<Config>(read), c.read) << c.name;
  }
}

TEST(WriteConfig, ReplacesBytesThatAreNotUtf8) {
  Config config = without_profiles();
  config.input_method =
      "a\xFF"
      "b\xE1\xBB";
  EXPECT_NE(write_config(config).find("\"input_method\": \"a\uFFFDb\uFFFD\","), std::string::npos);
}

}  // namespace
}  // namespace lumaret::engine
