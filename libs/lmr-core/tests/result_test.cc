// The word result: the text of a word while it is typed and when it is finished, and rebuilding its keys.
#include <gtest/gtest.h>

#include <string>

#include "lumaret/core/transform.h"
#include "lumaret/core/utf8.h"

namespace lumaret::core {

void PrintTo(const TransformResult& r, std::ostream* os) {
  *os << "{\"" << r.text << "\", status " << static_cast<int>(r.status) << ", raw " << r.is_raw
      << ", literal \"" << r.literal_text << "\"}";
}

namespace {

constexpr ComposeOptions CHECK_ONLY{ToneStyle::New, true, false, false, false, false};
constexpr ComposeOptions ALL_OFF{ToneStyle::New, false, false, false, false, false};
constexpr ComposeOptions OLD_STYLE{ToneStyle::Old, true, false, false, false, false};
constexpr ComposeOptions W_AS_U{ToneStyle::New, true, true, false, false, false};
constexpr ComposeOptions CODA_K{ToneStyle::New, true, false, false, false, true};

constexpr Status VALID = Status::Valid;
constexpr Status INCOMPLETE = Status::Incomplete;
constexpr Status INVALID = Status::Invalid;

struct Expected {
  const char* text;
  Status status;
  bool is_raw;
  const char* literal_text;
};

TransformResult as_result(const Expected& e) {
  return {e.text, e.literal_text, e.is_raw, e.status};
}

TEST(Result, WhileTypingAndAtTheEndOfTheWord) {
  const struct {
    const InputMethodSpec* method;
    ComposeOptions opts;
    std::u32string_view keys;
    Expected typing;
    Expected finished;
  } cases[] = {
      {&TELEX, CHECK_ONLY, U"vieejt", {"việt", VALID, false, ""}, {"việt", VALID, false, ""}},
      // A stop needs sắc or nặng to end a word: viêt is given back as typed.
      {&TELEX, CHECK_ONLY, U"vieet", {"viêt", VALID, false, ""}, {"vieet", INVALID, true, ""}},
      {&TELEX, CHECK_ONLY, U"hocj", {"học", VALID, false, ""}, {"học", VALID, false, ""}},
      {&TELEX, CODA_K, U"hokj", {"họk", VALID, false, ""}, {"họk", VALID, false, ""}},
      {&TELEX, CHECK_ONLY, U"hokj", {"hokj", INVALID, false, ""}, {"hokj", INVALID, false, ""}},
      // A word that still lacks its marks is restored when it ends.
      {&TELEX, CHECK_ONLY, U"thuongf", {"thuòng", INCOMPLETE, false, ""}, {"thuongf", INCOMPLETE, true, ""}},
      // An untouched word is never restored.
      {&TELEX, CHECK_ONLY, U"thuong", {"thuong", INCOMPLETE, false, ""}, {"thuong", INCOMPLETE, false, ""}},
      {&TELEX, CHECK_ONLY, U"tiees", {"tiế", INCOMPLETE, false, ""}, {"tiees", INCOMPLETE, true, ""}},
      // ...except a word ending in ươ, which is still being written.
      {&TELEX, CHECK_ONLY, U"thuow", {"thuơ", VALID, false, ""}, {"thuơ", VALID, false, ""}},
      {&TELEX, CHECK_ONLY, U"dduow", {"đươ", INCOMPLETE, false, ""}, {"đươ", INCOMPLETE, false, ""}},
      // An undo by a repeated key keeps the text.
      {&TELEX, CHECK_ONLY, U"aaa", {"aa", INVALID, false, ""}, {"aa", INVALID, false, ""}},
      {&TELEX, CHECK_ONLY, U"ass", {"as", INVALID, false, "as"}, {"as", INVALID, false, "as"}},
      {&TELEX, W_AS_U, U"wow", {"ươ", INCOMPLETE, false, ""}, {"ươ", INCOMPLETE, false, ""}},
      // A stroke with no vowel after it stays (đc, đt).
      {&TELEX, CHECK_ONLY, U"ddc", {"đc", INVALID, false, ""}, {"đc", INVALID, false, ""}},
      {&TELEX, CHECK_ONLY, U"ddt", {"đt", INVALID, false, ""}, {"đt", INVALID, false, ""}},
      // Without the spelling check nothing is ever restored.
      {&TELEX, ALL_OFF, U"vieet", {"viêt", VALID, false, ""}, {"viêt", INVALID, false, ""}},
      {&TELEX, ALL_OFF, U"thuongf", {"thuòng", INCOMPLETE, false, ""}, {"thuòng", INCOMPLETE, false, ""}},
      {&TELEX, ALL_OFF, U"oaa", {"oâ", INVALID, false, ""}, {"oâ", INVALID, false, ""}},
      // Tone placement styles.
      {&TELEX, OLD_STYLE, U"thuyr", {"thủy", VALID, false, ""}, {"thủy", VALID, false, ""}},
      {&TELEX, CHECK_ONLY, U"thuyr", {"thuỷ", VALID, false, ""}, {"thuỷ", VALID, false, ""}},
      // Digits in VNI.
      {&VNI, CHECK_ONLY, U"a1", {"á", VALID, false, ""}, {"á", VALID, false, ""}},
      {&VNI, CHECK_ONLY, U"a11", {"a1", INVALID, true, ""}, {"a1", INVALID, true, ""}},
      {&VNI, CHECK_ONLY, U"a12", {"a12", INVALID, true, ""}, {"a12", INVALID, true, ""}},
      {&VNI, CHECK_ONLY, U"2026", {"2026", INVALID, true, ""}, {"2026", INVALID, true, ""}},
      {&VNI, CHECK_ONLY, U"2011", {"201", INVALID, true, ""}, {"201", INVALID, true, ""}},
      {&VNI, CHECK_ONLY, U"a16", {"ấ", INCOMPLETE, false, ""}, {"ấ", INCOMPLETE, false, ""}},
      {&TELEX, CHECK_ONLY, U"a12", {"a12", INVALID, false, ""}, {"a12", INVALID, false, ""}},
      // More than 24 keys: the raw keys, not a restore.
      {&TELEX,
       CHECK_ONLY,
       U"nghieeengggggggggggggggggg",
       {"nghieeengggggggggggggggggg", INVALID, false, ""},
       {"nghieeengggggggggggggggggg", INVALID, false, ""}},
      {&TELEX, CHECK_ONLY, U"", {"", INCOMPLETE, false, ""}, {"", INCOMPLETE, false, ""}},
  };
  for (const auto& c : cases) {
    const Composer composer = Composer::with_raw(*c.method, c.opts, c.keys);
    EXPECT_EQ(composer.result(false), as_result(c.typing))
        << c.method->name << " \"" << to_utf8(c.keys) << '"';
    EXPECT_EQ(composer.result(true), as_result(c.finished))
        << c.method->name << " \"" << to_utf8(c.keys) << "\" finished";
  }
}

TEST(VniLiteral, DoubledAndTrailingDigits) {
  const struct {
    std::u32string_view raw;
    bool digit_keys;
    std::optional<std::string> literal;
  } cases[] = {
      {U"a11", true, "a1"},          {U"2011", true, "201"},        {U"a12", true, "a12"},
      {U"2026", true, "2026"},       {U"a1", true, std::nullopt},   {U"a16", true, std::nullopt},
      {U"viet", true, std::nullopt}, {U"a11", false, std::nullopt}, {U"a99", true, "a9"},
      {U"1", true, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(vni_literal(c.raw, c.digit_keys), c.literal)
        << to_utf8(c.raw) << " digit keys " << c.digit_keys;
  }
}

TEST(Rebuild, FindsTheKeysThatTypeAWordAgain) {
  const struct {
    const InputMethodSpec* method;
    const char* word;
    std::optional<std::u32string> keys;
  } cases[] = {
      {&TELEX, "Việt", U"Vieetj"},    {&VNI, "Việt", U"Vie6t5"},
      {&VIQR, "Việt", U"Vie^t."},     {&TELEX, "đi", U"ddi"},
      {&TELEX, "ĐI", U"DDI"},         {&TELEX, "xoong", U"xooong"},  // a third o undoes the circumflex
      {&VNI, "xoong", U"xoong"},      {&TELEX, "x2", std::nullopt},  // a digit is not a letter
      {&TELEX, "người", U"nguwowif"}, {&TELEX, "thuở", U"thuowr"},
      {&TELEX, "hello", U"hello"},    {&TELEX, "ă", U"aw"},
      {&TELEX, "oâ", std::nullopt},  // the spelling check refuses the circumflex, so typing oaa gives oaa
  };
  for (const auto& c : cases) {
    EXPECT_EQ(rebuild(c.word, *c.method, CHECK_ONLY), c.keys) << c.method->name << " " << c.word;
  }
}

}  // namespace
}  // namespace lumaret::core
