// Cutting the application's text by characters and by UTF-16 units, and the check before a deletion.
#include "lumaret/adapter/surrounding.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumaret::adapter {
namespace {

using std::nullopt;
using Slice = std::optional<std::string_view>;

// "a", U+1F600 (two UTF-16 units, four bytes), "b".
constexpr std::string_view A_EMOJI_B = "a\U0001F600b";

// A slice must be a view into the text it was cut from, ending where the text ends.
bool is_suffix_slice(std::string_view text, std::string_view slice) {
  return slice.data() + slice.size() == text.data() + text.size();
}

TEST(WordChar, EveryRangeEndsExactlyWhereItShould) {
  const struct {
    char32_t c;
    bool word;
  } cases[] = {
      {0x002F, false}, {0x0030, true},   // / and 0
      {0x0039, true},  {0x003A, false},  // 9 and :
      {0x0040, false}, {0x0041, true},   // @ and A
      {0x005A, true},  {0x005B, false},  // Z and [
      {0x005E, false}, {0x005F, true},   // ^ and _
      {0x0060, false}, {0x0061, true},   // ` and a
      {0x007A, true},  {0x007B, false},  // z and {
      {0x00BF, false}, {0x00C0, true},   // ¿ and À
      {0x024F, true},  {0x0250, false},  // end of Latin Extended-B, start of IPA
      {0x02FF, false}, {0x0300, true},   // before the combining marks, the combining grave
      {0x036F, true},  {0x0370, false},  // the last combining mark, Greek
      {0x1DFF, false}, {0x1E00, true},   // before Latin Extended Additional, its first letter
      {0x1EFF, true},  {0x1F00, false},  // its last letter, Greek Extended
      {0x00D7, true},  {0x00F7, true},   // × and ÷ lie inside the Latin-1 range
      {0x0111, true},  {0x01B0, true},   // đ, ư
      {0x1EC7, true},  {0x1EF9, true},   // ệ, ỹ
      {0x0000, false}, {0x0020, false}, {0x002C, false},  {0x007F, false},   {0x0080, false},
      {0x00A0, false},  // the Latin-1 controls and symbols are not letters here
      {0x4E2D, false}, {0xFFFD, false}, {0x1F600, false}, {0x10FFFF, false}, {0x110000, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(is_word_char(c.c), c.word) << "U+" << std::hex << static_cast<std::uint32_t>(c.c);
  }
}

TEST(CharSuffix, CountsCharactersNotBytes) {
  const struct {
    std::string_view text;
    std::uint32_t n_chars;
    Slice suffix;
  } cases[] = {
      {"việt", 2, "ệt"},
      {"việt", 4, "việt"},
      {"việt", 5, nullopt},
      {"ab", 3, nullopt},
      {"ab", 0, ""},
      {"", 0, ""},
      {"", 1, nullopt},
      {A_EMOJI_B, 2, "\U0001F600b"},
      {"e\u0301", 1, "\u0301"},                  // a combining mark is a character of its own
      {"vie\u0323\u0302t", 3, "\u0323\u0302t"},  // việt decomposed: the marks count one by one
  };
  for (const auto& c : cases) {
    const Slice got = char_suffix(c.text, c.n_chars);
    EXPECT_EQ(got, c.suffix) << '"' << c.text << "\" n=" << c.n_chars;
    if (got) {
      EXPECT_TRUE(is_suffix_slice(c.text, *got)) << '"' << c.text << "\" n=" << c.n_chars;
    }
  }
}

TEST(Utf16Prefix, StopsOnlyOnCharacterBoundaries) {
  const struct {
    std::string_view text;
    std::uint32_t n_units;
    Slice prefix;
  } cases[] = {
      {A_EMOJI_B, 0, ""},
      {A_EMOJI_B, 1, "a"},
      {A_EMOJI_B, 2, nullopt},  // between the two halves of the surrogate pair
      {A_EMOJI_B, 3, "a\U0001F600"},
      {A_EMOJI_B, 4, A_EMOJI_B},
      {A_EMOJI_B, 5, nullopt},
      {"", 0, ""},
      {"", 1, nullopt},
      {"việt", 2, "vi"},
      {"việt", 4, "việt"},
      {"\U0001F600", 1, nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(utf16_prefix(c.text, c.n_units), c.prefix) << '"' << c.text << "\" n=" << c.n_units;
  }
}

TEST(Utf16Suffix, StartsOnlyOnCharacterBoundaries) {
  const struct {
    std::string_view text;
    std::uint32_t n_units;
    Slice suffix;
  } cases[] = {
      {"", 0, nullopt},  // an empty text has no suffix, not even an empty one
      {"", 1, nullopt},
      {"x", 0, ""},
      {"x", 1, "x"},
      {"x", 2, nullopt},
      {A_EMOJI_B, 1, "b"},
      {A_EMOJI_B, 2, nullopt},
      {A_EMOJI_B, 3, "\U0001F600b"},
      {A_EMOJI_B, 4, A_EMOJI_B},
      {A_EMOJI_B, 5, nullopt},
      {"việt", 2, "ệt"},
  };
  for (const auto& c : cases) {
    const Slice got = utf16_suffix(c.text, c.n_units);
    EXPECT_EQ(got, c.suffix) << '"' << c.text << "\" n=" << c.n_units;
    if (got) {
      EXPECT_TRUE(is_suffix_slice(c.text, *got)) << '"' << c.text << "\" n=" << c.n_units;
    }
  }
}

TEST(NextCodepoint, ReadsTheCharacterAtABoundary) {
  const struct {
    std::string_view text;
    std::uint32_t position_units;
    std::optional<char32_t> c;
  } cases[] = {
      {"ab", 0, U'a'},         {"ab", 1, U'b'},           {"ab", 2, nullopt},  // the end of the text
      {"ab", 3, nullopt},      {"", 0, nullopt},          {A_EMOJI_B, 1, U'\U0001F600'},
      {A_EMOJI_B, 2, nullopt},  // inside the pair
      {A_EMOJI_B, 3, U'b'},    {"e\u0301", 1, U'\u0301'}, {"việt", 2, U'ệ'},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(next_codepoint(c.text, c.position_units), c.c) << '"' << c.text << "\" at " << c.position_units;
  }
}

TEST(Utf16Length, CountsSurrogatePairsTwice) {
  EXPECT_EQ(utf16_length(""), 0u);
  EXPECT_EQ(utf16_length("việt"), 4u);
  EXPECT_EQ(utf16_length(A_EMOJI_B), 4u);
  EXPECT_EQ(utf16_length("vie\u0323\u0302t"), 6u);
}

// Each maximal ill-formed sequence is one character, U+FFFD, one UTF-16 unit long; the boundaries are the
// byte offsets where characters begin, plus the end.
TEST(IllFormedText, EachBrokenSequenceIsOneCharacter) {
  const struct {
    const char* name;
    std::string_view text;
    std::vector<std::size_t> boundary_bytes;
    std::vector<char32_t> chars;
  } cases[] = {
      {"stray byte", "a\xff", {0, 1, 2}, {U'a', 0xFFFD}},
      {"lone trail byte", "\x80x", {0, 1, 2}, {0xFFFD, U'x'}},
      {"ệ cut short", "\xe1\xbby", {0, 2, 3}, {0xFFFD, U'y'}},
      {"emoji cut short", "\xf0\x9f\x98", {0, 3}, {0xFFFD}},
      {"encoded surrogate", "\xed\xa0\x80", {0, 1, 2, 3}, {0xFFFD, 0xFFFD, 0xFFFD}},
      {"overlong slash", "\xc0\xaf", {0, 1, 2}, {0xFFFD, 0xFFFD}},
      {"beyond U+10FFFF", "\xf4\x90\x80\x80", {0, 1, 2, 3, 4}, {0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}},
  };
  for (const auto& c : cases) {
    const std::size_t n_chars = c.chars.size();
    ASSERT_EQ(c.boundary_bytes.size(), n_chars + 1) << c.name;
    EXPECT_EQ(utf16_length(c.text), n_chars) << c.name;
    for (std::uint32_t n = 0; n <= n_chars; ++n) {
      EXPECT_EQ(utf16_prefix(c.text, n), c.text.substr(0, c.boundary_bytes[n])) << c.name << " n=" << n;
      EXPECT_EQ(char_suffix(c.text, n), c.text.substr(c.boundary_bytes[n_chars - n])) << c.name << " n=" << n;
      const std::optional<char32_t> expected_char =
          n < n_chars ? std::optional<char32_t>(c.chars[n]) : std::nullopt;
      EXPECT_EQ(next_codepoint(c.text, n), expected_char) << c.name << " at " << n;
    }
    EXPECT_EQ(utf16_prefix(c.text, static_cast<std::uint32_t>(n_chars + 1)), nullopt) << c.name;
    EXPECT_EQ(char_suffix(c.text, static_cast<std::uint32_t>(n_chars + 1)), nullopt) << c.name;
  }
}

TEST(CheckReplace, DeletesOnlyVerifiedTextAtTheEndOfAWord) {
  const struct {
    const char* name;
    std::string_view expected;
    std::uint32_t units;
    SurroundingView view;
    std::optional<ReplaceCheck> check;
  } cases[] = {
      {"verified", "chao", 2, {"xin chao ban", 8, 8}, ReplaceCheck{"ao", 2, 2}},
      {"selection", "chao", 2, {"xin chao ban", 8, 6}, nullopt},
      {"selection the other way", "chao", 2, {"xin chao ban", 6, 8}, nullopt},
      {"word goes on after the cursor", "cha", 2, {"xin chao ban", 7, 7}, nullopt},
      {"application shows d, not đ", "đ", 1, {"xin d", 5, 5}, nullopt},
      {"empty expected uses the text itself", "", 1, {"xin d", 5, 5}, ReplaceCheck{"d", 1, 1}},
      {"empty expected, half a pair", "", 1, {"a\U0001F600", 3, 3}, nullopt},
      {"empty expected, the whole pair", "", 2, {"a\U0001F600", 3, 3}, ReplaceCheck{"\U0001F600", 2, 1}},
      {"units and chars differ", "a\U0001F600", 3, {"xa\U0001F600", 4, 4}, ReplaceCheck{"a\U0001F600", 3, 2}},
      {"expected cut inside its pair", "a\U0001F600", 1, {"xa\U0001F600", 4, 4}, nullopt},
      {"expected longer than what is asked", "xin chao", 4, {"chao", 4, 4}, ReplaceCheck{"chao", 4, 4}},
      {"more asked than the application has", "chao", 4, {"hao", 3, 3}, nullopt},
      {"more asked than expected has", "ab", 3, {"xab", 3, 3}, nullopt},
      {"nothing asked", "ab", 0, {"ab", 2, 2}, nullopt},
      {"cursor inside a pair", "a", 1, {"a\U0001F600b", 2, 2}, nullopt},
      {"cursor beyond the text", "ab", 1, {"ab", 5, 5}, nullopt},
      {"empty application text", "a", 1, {"", 0, 0}, nullopt},
      {"decomposed letter", "e\u0301", 2, {"e\u0301 ", 2, 2}, ReplaceCheck{"e\u0301", 2, 2}},
      {"ế expected, ệ shown", "\u1ebf", 1, {"vi\u1ec7", 3, 3}, nullopt},  // same first byte, different letter
  };
  for (const auto& c : cases)
    EXPECT_EQ(check_replace(c.expected, c.units, c.view), c.check) << c.name;
}

TEST(CheckReplace, OnlyAWordCharacterAfterTheCursorBlocks) {
  const struct {
    std::string_view after;
    bool allowed;
  } cases[] = {
      {"", true},                                                               // the end of the text
      {" ", true},          {",", true},       {".", true},  {"\u4e2d", true},  // CJK
      {"\U0001F600", true},                                                     // above U+FFFF
      {"\u00bf", true},     {"\xff", true},  // an ill-formed byte reads as U+FFFD
      {"o", false},         {"7", false},      {"_", false}, {"\u1ec7", false},  // ệ
      {"\u1ea0", false},                                                         // Ạ
      {"\u0111", false},                                                         // đ
      {"\u01b0", false},                                                         // ư
      {"\u00c0", false},    {"\u0301", false},  // a combining mark continues the letter before the cursor
  };
  for (const auto& c : cases) {
    const std::string text = std::string("ab") + std::string(c.after);
    EXPECT_EQ(check_replace("ab", 1, {text, 2, 2}).has_value(), c.allowed) << '"' << c.after << '"';
  }
}

}  // namespace
}  // namespace lumaret::adapter
