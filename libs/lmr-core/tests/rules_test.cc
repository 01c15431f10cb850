#include "lumaret/core/rules.h"

#include <gtest/gtest.h>

namespace lumaret::core {
namespace {

TEST(MethodByName, ChoosesTheNamedMethodAndTelexOtherwise) {
  const struct {
    const char* name;
    const InputMethodSpec* method;
  } cases[] = {
      {"telex", &TELEX}, {"simple_telex", &SIMPLE_TELEX},
      {"vni", &VNI},     {"viqr", &VIQR},
      {"", &TELEX},      {"VNI", &TELEX},
      {"vnii", &TELEX},  {"simple telex", &TELEX},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(&method_by_name(c.name), c.method) << "name \"" << c.name << "\"";
  }
}

TEST(MarkKey, FindsTheKeyThatPutsAMarkOnALetter) {
  const struct {
    const InputMethodSpec* method;
    char32_t base;
    Mark mark;
    std::optional<char32_t> key;
  } cases[] = {
      {&TELEX, U'a', Mark::Circumflex, U'a'},
      {&VNI, U'a', Mark::Circumflex, U'6'},
      {&VIQR, U'a', Mark::Circumflex, U'^'},
      {&TELEX, U'e', Mark::Circumflex, U'e'},
      {&TELEX, U'o', Mark::Circumflex, U'o'},
      {&VNI, U'o', Mark::Circumflex, U'6'},
      {&TELEX, U'a', Mark::Breve, U'w'},
      {&VNI, U'a', Mark::Breve, U'8'},
      {&VIQR, U'a', Mark::Breve, U'('},
      {&TELEX, U'o', Mark::Horn, U'w'},
      {&TELEX, U'u', Mark::Horn, U'w'},
      {&VNI, U'u', Mark::Horn, U'7'},  // the pair rule of 7 is skipped
      {&VIQR, U'o', Mark::Horn, U'+'},
      {&TELEX, U'd', Mark::Stroke, U'd'},
      {&VNI, U'd', Mark::Stroke, U'9'},
      {&VIQR, U'd', Mark::Stroke, U'd'},
      {&TELEX, U'e', Mark::Breve, std::nullopt},
      {&VNI, U'e', Mark::Breve, std::nullopt},
      {&VIQR, U'e', Mark::Breve, std::nullopt},
      {&TELEX, U'i', Mark::Circumflex, std::nullopt},
      {&VNI, U'x', Mark::Stroke, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(mark_key(c.method->mark_keys, c.base, c.mark), c.key)
        << c.method->name << " base " << static_cast<std::uint32_t>(c.base) << " mark "
        << static_cast<int>(c.mark);
  }
}

TEST(QuickTelex, ExpandsOnlyTheSevenDoubledConsonants) {
  const std::pair<char32_t, std::optional<char32_t>> cases[] = {
      {U'c', U'h'}, {U'g', U'i'}, {U'k', U'h'},         {U'n', U'g'},         {U'p', U'h'},
      {U'q', U'u'}, {U't', U'h'}, {U'd', std::nullopt}, {U'a', std::nullopt}, {U'C', std::nullopt},
  };
  for (const auto& [key, second] : cases) {
    EXPECT_EQ(quick_telex(key), second) << "key " << static_cast<std::uint32_t>(key);
  }
}

TEST(Methods, TelexAndSimpleTelexDifferOnlyInWholeLetterKeys) {
  EXPECT_EQ(TELEX.tone_keys.data(), SIMPLE_TELEX.tone_keys.data());
  EXPECT_EQ(TELEX.mark_keys.data(), SIMPLE_TELEX.mark_keys.data());
  EXPECT_EQ(TELEX.remove_tone_key, SIMPLE_TELEX.remove_tone_key);
  EXPECT_FALSE(TELEX.w_letters.empty());
  EXPECT_FALSE(TELEX.bracket_letters.empty());
  EXPECT_TRUE(SIMPLE_TELEX.w_letters.empty());
  EXPECT_TRUE(SIMPLE_TELEX.bracket_letters.empty());
  EXPECT_TRUE(VNI.digit_keys);
  EXPECT_FALSE(TELEX.digit_keys || VIQR.digit_keys || SIMPLE_TELEX.digit_keys);
}

TEST(Methods, ToneKeysAreInToneOrder) {
  for (const InputMethodSpec* m : {&TELEX, &SIMPLE_TELEX, &VNI, &VIQR}) {
    ASSERT_EQ(m->tone_keys.size(), 5u) << m->name;
    for (std::size_t i = 0; i < 5; ++i) {
      EXPECT_EQ(static_cast<std::size_t>(m->tone_keys[i].tone), i + 1) << m->name;
    }
  }
}

}  // namespace
}  // namespace lumaret::core
