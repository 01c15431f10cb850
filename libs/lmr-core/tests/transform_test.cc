// The keystroke step: what each key does to the word while it is typed.
#include "lumaret/core/transform.h"
#include "lumaret/core/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace lumaret::core {
namespace {

constexpr ComposeOptions ALL_ON{ToneStyle::New, true, true, true, true, false};
constexpr ComposeOptions CHECK_ONLY{ToneStyle::New, true, false, false, false, false};
constexpr ComposeOptions ALL_OFF{ToneStyle::New, false, false, false, false, false};
constexpr ComposeOptions OLD_STYLE{ToneStyle::Old, true, false, false, false, false};
// Quick Telex alone: the result would give back a word like chc as typed when the spelling check is on.
constexpr ComposeOptions QUICK_ONLY{ToneStyle::New, false, false, false, true, false};

TEST(Step, TypesWordsKeyByKey) {
  const struct {
    const InputMethodSpec* method;
    ComposeOptions opts;
    std::u32string_view keys;
    const char* shown;
  } cases[] = {
      {&TELEX, ALL_ON, U"thuongw", "thương"},  // the u+o pair takes the horn at once
      {&TELEX, ALL_ON, U"thuongws", "thướng"},
      {&TELEX, ALL_ON, U"nguoiwf", "người"},
      {&TELEX, ALL_ON, U"thuowr", "thuở"},
      {&TELEX, ALL_ON, U"aa", "â"},
      {&TELEX, ALL_ON, U"aaa", "aa"},  // the third a undoes the circumflex
      {&TELEX, ALL_ON, U"aaaa", "aaa"},
      {&TELEX, ALL_ON, U"dd", "đ"},  // a stroke with no vowel beside it needs no spelling check
      {&TELEX, ALL_ON, U"ddd", "dd"},
      {&TELEX, ALL_ON, U"w", "ư"},
      {&TELEX, ALL_ON, U"ww", "w"},
      {&TELEX, ALL_ON, U"add", "add"},  // ađ cannot be spelled
      {&TELEX, ALL_ON, U"dduwowngf", "đường"},
      {&TELEX, ALL_ON, U"tooi", "tôi"},
      {&TELEX, ALL_ON, U"Vieetj", "Việt"},
      {&TELEX, ALL_ON, U"VIEETJ", "VIỆT"},
      // Tone keys.
      {&TELEX, ALL_ON, U"s", "s"},  // no vowel yet: an ordinary letter
      {&TELEX, ALL_ON, U"ngs", "ngs"},
      {&TELEX, ALL_ON, U"ass", "as"},  // the same tone twice takes it back
      {&TELEX, ALL_ON, U"asss", "ass"},
      {&TELEX, ALL_ON, U"asns", "án"},  // the same tone again later changes nothing
      {&TELEX, ALL_ON, U"asf", "à"},
      {&TELEX, ALL_ON, U"qus", "qú"},
      {&TELEX, ALL_ON, U"quas", "quá"},
      {&TELEX, ALL_ON, U"gias", "giá"},
      {&TELEX, ALL_ON, U"khuyaj", "khuỵa"},
      {&TELEX, ALL_ON, U"hocf", "hocf"},  // huyền cannot stand on a stop
      {&TELEX, ALL_OFF, U"hocf", "hòc"},
      {&TELEX, ALL_ON, U"hoaf", "hoà"},
      {&TELEX, OLD_STYLE, U"hoaf", "hòa"},
      {&TELEX, OLD_STYLE, U"hoanf", "hoàn"},
      {&VIQR, ALL_ON, U"'", "'"},
      {&VIQR, ALL_ON, U"a'", "á"},
      // The remove-tone key.
      {&TELEX, ALL_ON, U"z", "z"},
      {&TELEX, ALL_ON, U"asz", "a"},
      {&TELEX, ALL_ON, U"aaz", "a"},
      {&TELEX, ALL_ON, U"aazz", "a"},
      {&TELEX, ALL_ON, U"ddaaz", "đa"},  // the stroke stays
      {&TELEX, ALL_ON, U"ddz", "đz"},
      {&TELEX, ALL_ON, U"aasz", "â"},  // first the tone, then the marks
      {&VNI, ALL_ON, U"a10", "a10"},   // two trailing tone digits stay as typed
      // Quick Telex.
      {&TELEX, QUICK_ONLY, U"cc", "ch"},
      {&TELEX, QUICK_ONLY, U"ccc", "chc"},  // no longer a single letter
      {&TELEX, CHECK_ONLY, U"cc", "cc"},
      {&TELEX, ALL_ON, U"Tt", "Th"},
      {&TELEX, ALL_ON, U"TT", "TH"},
      {&TELEX, ALL_ON, U"tT", "th"},
      {&TELEX, ALL_ON, U"nnaf", "ngà"},
      {&VNI, ALL_ON, U"qqa", "qua"},
      {&TELEX, ALL_ON, U"dd", "đ"},  // d does not expand
      // Case of mark keys.
      {&TELEX, ALL_ON, U"AA", "Â"},
      {&TELEX, ALL_ON, U"Aa", "Â"},
      {&TELEX, ALL_ON, U"Aaa", "Aa"},
      // Whole-letter keys.
      {&TELEX, ALL_ON, U"[", "ơ"},
      {&TELEX, ALL_ON, U"]", "ư"},
      {&TELEX, ALL_ON, U"W", "Ư"},
      {&TELEX, ALL_ON, U"t]", "tư"},
      {&TELEX, CHECK_ONLY, U"w", "w"},
      {&TELEX, CHECK_ONLY, U"[", "["},
      {&SIMPLE_TELEX, ALL_ON, U"w", "w"},
      {&SIMPLE_TELEX, ALL_ON, U"[", "["},
      {&SIMPLE_TELEX, ALL_ON, U"]", "]"},
      {&SIMPLE_TELEX, ALL_ON, U"tuw", "tư"},
      {&TELEX, ALL_ON, U"aw", "ă"},
      {&TELEX, ALL_ON, U"qw", "qw"},  // qư cannot be spelled
      // Spelling check on candidates.
      {&TELEX, ALL_ON, U"oaa", "oaa"},
      {&TELEX, ALL_OFF, U"oaa", "oâ"},
      // Other methods.
      {&VNI, ALL_ON, U"a1", "á"},
      {&VNI, ALL_ON, U"a11", "a1"},
      {&VNI, ALL_ON, U"u7o7", "ươ"},
      {&VNI, ALL_ON, U"dd", "dd"},
      {&VNI, ALL_ON, U"d9", "đ"},
      {&VNI, ALL_ON, U"d9u7o7ng2", "đường"},
      {&VNI, ALL_ON, U"a66", "a6"},
      {&VIQR, ALL_ON, U"dd", "đ"},
      {&VIQR, ALL_ON, U"a^", "â"},
      {&VIQR, ALL_ON, U"a(`", "ằ"},
      {&VIQR, ALL_ON, U"u+o+", "ươ"},
      {&VIQR, ALL_ON, U"ddu+o+ng`", "đường"},
  };
  for (const auto& c : cases) {
    const Composer composer = Composer::with_raw(*c.method, c.opts, c.keys);
    EXPECT_EQ(composer.result(false).text, c.shown) << c.method->name << " keys \"" << to_utf8(c.keys) << '"';
  }
}

TEST(Step, SteppedKeysStopAtTwentyFour) {
  const std::u32string keys = U"abcdefghijklmnopqrstuvwxy";  // 25 keys
  const Composer composer = Composer::with_raw(TELEX, ALL_ON, keys);
  EXPECT_EQ(composer.raw(), keys);
  EXPECT_EQ(composer.states().size(), MAX_STEPPED_KEYS + 1);
  EXPECT_EQ(composer.states().back().letters.size(), MAX_STEPPED_KEYS);
}

TEST(Step, UndoMarksTheKeyAsPlainForTheRestOfTheWord) {
  const Composer composer = Composer::with_raw(TELEX, ALL_ON, U"aaa");
  const WordState& s = composer.states().back();
  EXPECT_TRUE(s.undone);
  EXPECT_FALSE(s.literal);
  EXPECT_EQ(s.last_undo_key, U'a');
  EXPECT_TRUE(s.undone_keys.contains(U'a'));
  EXPECT_EQ(Composer::with_raw(TELEX, ALL_OFF, U"aaaoo").result(false).text, "aaô");  // only a is plain
}

TEST(Letter, LiteralKeepsCaseApart) {
  const struct {
    char32_t key;
    char32_t base;
    bool upper;
  } cases[] = {
      {U'a', U'a', false}, {U'A', U'a', true},  {U'Đ', U'đ', true},  {U'Ư', U'ư', true},
      {U'1', U'1', false}, {U'[', U'[', false}, {U'ß', U'ß', false},
  };
  for (const auto& c : cases) {
    const Letter l = Letter::literal(c.key);
    EXPECT_EQ(l.base, c.base) << static_cast<std::uint32_t>(c.key);
    EXPECT_EQ(l.upper, c.upper) << static_cast<std::uint32_t>(c.key);
    EXPECT_FALSE(l.mark);
  }
}

Letters letters_of(std::initializer_list<Letter> list) {
  Letters out;
  for (const Letter& l : list)
    out.push_back(l);
  return out;
}

TEST(Display, ShowsHornedUoAsWritten) {
  const Letter u_horn{.base = U'u', .mark = Mark::Horn};
  const Letter u_horn_o_only{.base = U'u', .horn_o_only = true, .mark = Mark::Horn};
  const Letter o{.base = U'o', .mark = std::nullopt};
  const Letter o_horn{.base = U'o', .mark = Mark::Horn};
  const Letter t{.base = U't', .mark = std::nullopt};
  const Letter h{.base = U'h', .mark = std::nullopt};
  const Letter n{.base = U'n', .mark = std::nullopt};
  const Letter g{.base = U'g', .mark = std::nullopt};
  const struct {
    Letters letters;
    std::u32string_view shown;
  } cases[] = {
      {letters_of({u_horn, o, n, g}), U"ương"},  // a typed ưo always shows ươ
      {letters_of({t, h, u_horn_o_only, o_horn}), U"thuơ"},
      {letters_of({t, h, u_horn_o_only, o_horn, n}), U"thươn"},  // only at the end of the word
      {letters_of({u_horn_o_only}), U"ư"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(toneless_lower(c.letters).view(), c.shown);
  }
}

TEST(ClusterSpan, CoversTheNucleus) {
  const struct {
    std::u32string_view keys;
    std::size_t start;
    std::size_t end;
  } cases[] = {
      {U"nghieng", 3, 5}, {U"qua", 2, 3}, {U"qu", 2, 2}, {U"gi", 1, 2},
      {U"gia", 2, 3},     {U"ng", 2, 2},  {U"", 0, 0},
  };
  for (const auto& c : cases) {
    const Letters letters = Composer::with_raw(TELEX, ALL_OFF, c.keys).states().back().letters;
    const ClusterSpan span = cluster_span(letters);
    EXPECT_EQ(span.start, c.start) << to_utf8(c.keys);
    EXPECT_EQ(span.end, c.end) << to_utf8(c.keys);
  }
}

}  // namespace
}  // namespace lumaret::core
