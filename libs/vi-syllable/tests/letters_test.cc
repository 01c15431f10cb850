// Letters, marks and tones: composing one character, and which letter of a word carries the tone.
#include "lumaret/syllable/letters.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "test_text.h"

namespace lumaret::syllable {
namespace {

constexpr std::optional<Mark> NONE = std::nullopt;
constexpr Tone TONES[] = {Tone::Level, Tone::Sac, Tone::Huyen, Tone::Hoi, Tone::Nga, Tone::Nang};

// The twelve vowels with the six tones in order (level, sắc, huyền, hỏi, ngã, nặng), as they are written.
TEST(LettersTest, ComposeCharWritesEveryVowelWithEveryTone) {
  const struct {
    char32_t base;
    std::optional<Mark> mark;
    std::u32string_view lower;
    std::u32string_view upper;
  } rows[] = {
      {U'a', NONE, U"aáàảãạ", U"AÁÀẢÃẠ"},
      {U'a', Mark::Breve, U"ăắằẳẵặ", U"ĂẮẰẲẴẶ"},
      {U'a', Mark::Circumflex, U"âấầẩẫậ", U"ÂẤẦẨẪẬ"},
      {U'e', NONE, U"eéèẻẽẹ", U"EÉÈẺẼẸ"},
      {U'e', Mark::Circumflex, U"êếềểễệ", U"ÊẾỀỂỄỆ"},
      {U'i', NONE, U"iíìỉĩị", U"IÍÌỈĨỊ"},
      {U'o', NONE, U"oóòỏõọ", U"OÓÒỎÕỌ"},
      {U'o', Mark::Circumflex, U"ôốồổỗộ", U"ÔỐỒỔỖỘ"},
      {U'o', Mark::Horn, U"ơớờởỡợ", U"ƠỚỜỞỠỢ"},
      {U'u', NONE, U"uúùủũụ", U"UÚÙỦŨỤ"},
      {U'u', Mark::Horn, U"ưứừửữự", U"ƯỨỪỬỮỰ"},
      {U'y', NONE, U"yýỳỷỹỵ", U"YÝỲỶỸỴ"},
  };
  for (const auto& row : rows) {
    ASSERT_EQ(row.lower.size(), 6u);
    ASSERT_EQ(row.upper.size(), 6u);
    for (std::size_t t = 0; t < 6; ++t) {
      SCOPED_TRACE(utf8(row.lower) + " tone " + std::to_string(t));
      EXPECT_EQ(compose_char(row.base, row.mark, TONES[t], false), row.lower[t]);
      EXPECT_EQ(compose_char(row.base, row.mark, TONES[t], true), row.upper[t]);
    }
  }
}

TEST(LettersTest, ComposeCharEdgeCases) {
  const struct {
    char32_t base;
    std::optional<Mark> mark;
    Tone tone;
    bool upper;
    char32_t expected;
    const char* why;
  } cases[] = {
      {U'd', Mark::Stroke, Tone::Level, false, U'đ', "stroke on d"},
      {U'd', Mark::Stroke, Tone::Level, true, U'Đ', "stroke on d, capital"},
      {U'x', Mark::Stroke, Tone::Level, false, U'x', "stroke belongs to d only"},
      {U'D', Mark::Stroke, Tone::Level, false, U'D', "stroke needs the lowercase base"},
      {U'd', Mark::Stroke, Tone::Sac, false, U'đ', "đ has no toned form; the tone is dropped"},
      {U'u', Mark::Horn, Tone::Nang, true, U'\u1EF0', "Ự"},
      {U'a', Mark::Breve, Tone::Nga, false, U'\u1EB5', "ẵ"},
      {U'y', NONE, Tone::Hoi, false, U'\u1EF7', "ỷ"},
      {U'a', Mark::Circumflex, Tone::Sac, false, U'\u1EA5', "ấ"},
      {U'o', NONE, Tone::Level, false, U'o', "level tone adds nothing"},
      {U'a', NONE, static_cast<Tone>(6), false, U'a', "a tone byte above 5 adds nothing"},
      {U'a', Mark::Horn, static_cast<Tone>(255), true, U'A', "a tone byte of 255 adds nothing"},
      {U'e', Mark::Breve, Tone::Sac, false, U'\u0115', "ĕ has no toned form; only ĕ is kept"},
      {U'i', Mark::Horn, Tone::Level, false, U'i', "no i with horn: the mark is dropped"},
      {U'b', Mark::Circumflex, Tone::Huyen, true, U'B', "a consonant takes neither mark nor tone"},
      {U'ê', NONE, Tone::Sac, false, U'ế', "an already marked base takes the tone"},
      {U'ơ', NONE, Tone::Huyen, true, U'Ờ', "an already marked base, capital"},
      {U'đ', NONE, Tone::Level, true, U'Đ', "đ as a base"},
      {U'1', NONE, Tone::Level, true, U'1', "digits have no case"},
      {U'ß', NONE, Tone::Level, true, U'ß', "the capital of ß is two letters: kept"},
      {U'\u2126', NONE, Tone::Level, false, U'\u03A9', "the Ohm sign normalises to omega"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(compose_char(c.base, c.mark, c.tone, c.upper), c.expected)
        << c.why << ": got " << utf8(compose_char(c.base, c.mark, c.tone, c.upper));
  }
}

// The composer's view of a written toneless word: each letter as a lowercase base and its mark.
std::vector<MarkedBase> letters_of(std::u32string_view word) {
  std::vector<MarkedBase> letters;
  for (char32_t c : word) {
    switch (c) {
      case U'ă':
        letters.push_back({U'a', Mark::Breve});
        break;
      case U'â':
        letters.push_back({U'a', Mark::Circumflex});
        break;
      case U'ê':
        letters.push_back({U'e', Mark::Circumflex});
        break;
      case U'ô':
        letters.push_back({U'o', Mark::Circumflex});
        break;
      case U'ơ':
        letters.push_back({U'o', Mark::Horn});
        break;
      case U'ư':
        letters.push_back({U'u', Mark::Horn});
        break;
      case U'đ':
        letters.push_back({U'd', Mark::Stroke});
        break;
      default:
        letters.push_back({c, NONE});
        break;
    }
  }
  return letters;
}

// The word written with its tone on the letter the rule picks; without a tone-bearing letter, as it was.
std::u32string write(std::u32string_view word, Tone tone, ToneStyle style) {
  const std::vector<MarkedBase> letters = letters_of(word);
  const std::optional<std::size_t> at = tone_position(letters, style);
  std::u32string out;
  for (std::size_t i = 0; i < letters.size(); ++i) {
    out += compose_char(letters[i].base, letters[i].mark, at == i ? tone : Tone::Level, false);
  }
  return out;
}

TEST(LettersTest, TonePositionFollowsTheSpellingRules) {
  const struct {
    std::u32string_view word;
    Tone tone;
    std::u32string_view old_style;
    std::u32string_view new_style;
  } cases[] = {
      // The open nuclei oa, oe, uy are where the two styles differ.
      {U"hoa", Tone::Huyen, U"hòa", U"hoà"},
      {U"hoe", Tone::Huyen, U"hòe", U"hoè"},
      {U"thuy", Tone::Hoi, U"thủy", U"thuỷ"},
      {U"uy", Tone::Sac, U"úy", U"uý"},
      // With a final consonant the last vowel takes it in both styles.
      {U"hoan", Tone::Huyen, U"hoàn", U"hoàn"},
      {U"toan", Tone::Sac, U"toán", U"toán"},
      {U"hoang", Tone::Huyen, U"hoàng", U"hoàng"},
      {U"hoach", Tone::Nang, U"hoạch", U"hoạch"},
      {U"thuyt", Tone::Sac, U"thuýt", U"thuýt"},
      // ơ first, then any other marked vowel.
      {U"thương", Tone::Sac, U"thướng", U"thướng"},
      {U"ngươi", Tone::Huyen, U"người", U"người"},
      {U"thuơ", Tone::Hoi, U"thuở", U"thuở"},
      {U"rươu", Tone::Nang, U"rượu", U"rượu"},
      {U"tuân", Tone::Sac, U"tuấn", U"tuấn"},
      {U"tiên", Tone::Sac, U"tiến", U"tiến"},
      {U"mưa", Tone::Hoi, U"mửa", U"mửa"},
      {U"yêu", Tone::Sac, U"yếu", U"yếu"},
      {U"khuyên", Tone::Sac, U"khuyến", U"khuyến"},
      {U"đương", Tone::Huyen, U"đường", U"đường"},
      // Three plain vowels: the middle one.
      {U"khuya", Tone::Nang, U"khuỵa", U"khuỵa"},
      {U"ngoai", Tone::Huyen, U"ngoài", U"ngoài"},
      // Other pairs: the first vowel.
      {U"mai", Tone::Sac, U"mái", U"mái"},
      {U"mia", Tone::Sac, U"mía", U"mía"},
      {U"cua", Tone::Hoi, U"của", U"của"},
      {U"chao", Tone::Sac, U"cháo", U"cháo"},
      // qu and gi before a vowel are onsets; gi before a consonant or alone is g with the vowel i.
      {U"qua", Tone::Sac, U"quá", U"quá"},
      {U"quy", Tone::Sac, U"quý", U"quý"},
      {U"gia", Tone::Sac, U"giá", U"giá"},
      {U"giưa", Tone::Nga, U"giữa", U"giữa"},
      {U"gi", Tone::Huyen, U"gì", U"gì"},
      {U"gin", Tone::Huyen, U"gìn", U"gìn"},
      // No vowel group after the onset: the rightmost vowel letter.
      {U"qu", Tone::Sac, U"qú", U"qú"},
      {U"fa", Tone::Sac, U"fá", U"fá"},
      {U"pti", Tone::Huyen, U"ptì", U"ptì"},
      // Nothing to carry the tone: the word is written without it.
      {U"ng", Tone::Sac, U"ng", U"ng"},
      {U"đ", Tone::Nang, U"đ", U"đ"},
      {U"", Tone::Sac, U"", U""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(utf8(c.word));
    EXPECT_EQ(utf8(write(c.word, c.tone, ToneStyle::Old)), utf8(c.old_style));
    EXPECT_EQ(utf8(write(c.word, c.tone, ToneStyle::New)), utf8(c.new_style));
  }
}

TEST(LettersTest, TonePositionIsNothingWithoutAVowel) {
  for (std::u32string_view word : {U"ng", U"đ", U"bcd", U""}) {
    EXPECT_EQ(tone_position(letters_of(word), ToneStyle::New), std::nullopt) << utf8(word);
    EXPECT_EQ(tone_position(letters_of(word), ToneStyle::Old), std::nullopt) << utf8(word);
  }
}

TEST(LettersTest, TonePositionHandlesLongWords) {
  const struct {
    std::u32string word;
    std::optional<std::size_t> expected;
    const char* what;
  } cases[] = {
      {std::u32string(39, U'b') + U"a", 39, "only consonants before the last letter"},
      {U"b" + std::u32string(60, U'a'), 1, "a long run of vowels: the first"},
      {std::u32string(50, U'x'), std::nullopt, "no vowel at all"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(tone_position(letters_of(c.word), ToneStyle::New), c.expected) << c.what;
  }
}

}  // namespace
}  // namespace lumaret::syllable
