// Spelling validity: whether a word is, or can still become, one Vietnamese syllable under its tone.
#include "lumaret/syllable/spelling.h"

#include <gtest/gtest.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <string>
#include <string_view>

#include "test_text.h"

namespace lumaret::syllable {
namespace {

constexpr Status VALID = Status::Valid;
constexpr Status INCOMPLETE = Status::Incomplete;
constexpr Status INVALID = Status::Invalid;

const char* name(Status s) {
  switch (s) {
    case Status::Valid:
      return "Valid";
    case Status::Incomplete:
      return "Incomplete";
    case Status::Invalid:
      return "Invalid";
  }
  return "?";
}

// A written word as the spell check receives it: the tone marks taken off and kept aside.
struct Toneless {
  std::u32string word;
  Tone tone = Tone::Level;
};

Toneless split_tone(std::u32string_view written) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
  const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
  const icu::UnicodeString decomposed =
      nfd->normalize(icu::UnicodeString::fromUTF32(reinterpret_cast<const UChar32*>(written.data()),
                                                   static_cast<int32_t>(written.size())),
                     status);
  Toneless out;
  icu::UnicodeString kept;
  for (int32_t i = 0; i < decomposed.length(); i = decomposed.moveIndex32(i, 1)) {
    const UChar32 c = decomposed.char32At(i);
    if (const std::optional<Tone> tone = tone_of_combining(static_cast<char32_t>(c))) {
      out.tone = *tone;
    } else {
      kept.append(c);
    }
  }
  const icu::UnicodeString composed = nfc->normalize(kept, status);
  out.word.resize(static_cast<std::size_t>(composed.countChar32()));
  composed.toUTF32(reinterpret_cast<UChar32*>(out.word.data()), static_cast<int32_t>(out.word.size()),
                   status);
  EXPECT_TRUE(U_SUCCESS(status)) << u_errorName(status);
  return out;
}

// Real syllables as they are written, and words that no typing can turn into one.
TEST(SpellingTest, ClassifiesRealAndImpossibleWords) {
  const struct {
    std::u32string_view written;
    Status expected;
  } cases[] = {
      // Without tone.
      {U"ma", VALID},
      {U"ăn", VALID},
      {U"yêu", VALID},
      {U"thương", VALID},
      {U"xoong", VALID},
      {U"trăng", VALID},
      {U"khuya", VALID},
      {U"nghiêng", VALID},
      {U"oanh", VALID},
      // With tone.
      {U"viết", VALID},
      {U"người", VALID},
      {U"đường", VALID},
      {U"tiếng", VALID},
      {U"chuyện", VALID},
      {U"rượu", VALID},
      {U"thuở", VALID},
      {U"ở", VALID},
      {U"ấy", VALID},
      {U"kìa", VALID},
      {U"kẻ", VALID},
      {U"ghế", VALID},
      {U"nghĩ", VALID},
      {U"hòa", VALID},
      {U"hoà", VALID},
      {U"thủy", VALID},
      {U"thuỷ", VALID},
      // Stop codas, which carry sắc or nặng.
      {U"học", VALID},
      {U"hóc", VALID},
      {U"ngoặc", VALID},
      {U"sách", VALID},
      {U"bạch", VALID},
      {U"thích", VALID},
      {U"lịch", VALID},
      {U"ếch", VALID},
      {U"huých", VALID},
      {U"họp", VALID},
      {U"tiếp", VALID},
      {U"cấp", VALID},
      {U"tốt", VALID},
      {U"mắt", VALID},
      {U"phút", VALID},
      {U"việt", VALID},
      // The onsets qu and gi.
      {U"qua", VALID},
      {U"quả", VALID},
      {U"quý", VALID},
      {U"quyết", VALID},
      {U"quỳnh", VALID},
      {U"quốc", VALID},
      {U"quýt", VALID},
      {U"giá", VALID},
      {U"giữ", VALID},
      {U"giường", VALID},
      {U"gì", VALID},
      {U"gìn", VALID},
      // On the way to a syllable.
      {U"thuong", INCOMPLETE},
      {U"đuoc", INCOMPLETE},
      {U"tră", INCOMPLETE},
      {U"thươ", INCOMPLETE},
      {U"ngh", INCOMPLETE},
      {U"qu", INCOMPLETE},
      // Impossible.
      {U"hòc", INVALID},
      {U"mãt", INVALID},
      {U"sàch", INVALID},
      {U"hỏp", INVALID},
      {U"ngià", INVALID},
      {U"cé", INVALID},
      {U"ká", INVALID},
      {U"ghá", INVALID},
      {U"gé", INVALID},
      {U"quù", INVALID},
      {U"ơch", INVALID},
      {U"hello", INVALID},
      {U"email", INVALID},
      {U"html", INVALID},
      {U"wifi", INVALID},
      {U"chrome", INVALID},
      {U"xyz", INVALID},
      {U"Việt", INVALID},  // the check is given lowercase text only
  };
  for (const auto& c : cases) {
    const Toneless t = split_tone(c.written);
    const Status got = check_with(t.word, t.tone, false);
    EXPECT_EQ(got, c.expected) << utf8(c.written) << " gave " << name(got);
    if (got == VALID) {
      EXPECT_TRUE(tone_allowed_with(t.word, t.tone, false)) << utf8(c.written);
    }
  }
}

TEST(SpellingTest, CheckWithFollowsTheSpellingRules) {
  const struct {
    std::u32string_view word;
    Tone tone;
    bool allow_coda_k;
    Status expected;
    const char* why;
  } cases[] = {
      {U"", Tone::Level, false, INCOMPLETE, "nothing typed yet"},
      // Only an onset so far.
      {U"x", Tone::Level, false, INCOMPLETE, "an onset alone"},
      {U"ngh", Tone::Level, false, INCOMPLETE, "an onset alone"},
      {U"đ", Tone::Level, false, INCOMPLETE, "an onset alone"},
      {U"q", Tone::Level, false, INCOMPLETE, "the start of qu"},
      {U"f", Tone::Level, false, INVALID, "no Vietnamese word has f"},
      {U"w", Tone::Level, false, INVALID, "no Vietnamese word has w"},
      {U"pt", Tone::Level, false, INVALID, "no onset starts pt"},
      {U"kz", Tone::Level, false, INVALID, "no onset starts kz"},
      {U"qa", Tone::Level, false, INVALID, "q needs u"},
      // Only letters a..z, đ and the vowels.
      {U"a1", Tone::Level, false, INVALID, "a digit"},
      {U"Ba", Tone::Level, false, INVALID, "an uppercase letter"},
      {U"a b", Tone::Level, false, INVALID, "a blank"},
      {U"á", Tone::Level, false, INVALID, "a tone mark left in the word"},
      {U"ça", Tone::Level, false, INVALID, "a letter foreign to Vietnamese"},
      // Two syllables run together.
      {U"ana", Tone::Level, false, INVALID, "a vowel after the coda"},
      {U"hoaa", Tone::Level, false, INVALID, "no nucleus oaa"},
      // k, gh and ngh before e, ê, i, y; c, g and ng elsewhere.
      {U"ke", Tone::Level, false, VALID, "k before e"},
      {U"ki", Tone::Level, false, VALID, "k before i"},
      {U"ky", Tone::Level, false, VALID, "k before y"},
      {U"kê", Tone::Level, false, VALID, "k before ê"},
      {U"ca", Tone::Level, false, VALID, "c before a"},
      {U"co", Tone::Level, false, VALID, "c before o"},
      {U"cu", Tone::Level, false, VALID, "c before u"},
      {U"ce", Tone::Level, false, INVALID, "c before e must be k"},
      {U"ci", Tone::Level, false, INVALID, "c before i must be k"},
      {U"ka", Tone::Level, false, INVALID, "k before a must be c"},
      {U"ko", Tone::Level, false, INVALID, "k before o must be c"},
      {U"nghe", Tone::Level, false, VALID, "ngh before e"},
      {U"ngha", Tone::Level, false, INVALID, "ngh before a must be ng"},
      {U"nge", Tone::Level, false, INVALID, "ng before e must be ngh"},
      {U"ngi", Tone::Level, false, INVALID, "ng before i must be ngh"},
      {U"ghe", Tone::Level, false, VALID, "gh before e"},
      {U"gha", Tone::Level, false, INVALID, "gh before a must be g"},
      {U"ge", Tone::Level, false, INVALID, "g before e must be gh"},
      {U"gê", Tone::Level, false, INVALID, "g before ê must be gh"},
      {U"gi", Tone::Huyen, false, VALID, "gì: g with the vowel i"},
      {U"quu", Tone::Level, false, INVALID, "qu before u"},
      {U"quư", Tone::Level, false, INVALID, "qu before ư"},
      // qu before y joins the u to the vowel group.
      {U"quy", Tone::Sac, false, VALID, "quý"},
      {U"quyêt", Tone::Sac, false, VALID, "quyết"},
      {U"quynh", Tone::Huyen, false, VALID, "quỳnh"},
      {U"quyên", Tone::Level, false, VALID, "quyên"},
      // A final consonant after a closed nucleus.
      {U"ăn", Tone::Level, false, VALID, "ă takes a coda"},
      {U"ă", Tone::Level, false, INCOMPLETE, "ă needs a coda"},
      {U"â", Tone::Level, false, INCOMPLETE, "â needs a coda"},
      {U"ach", Tone::Level, false, VALID, "a before ch"},
      {U"êch", Tone::Level, false, VALID, "ê before ch"},
      {U"inh", Tone::Level, false, VALID, "i before nh"},
      {U"oanh", Tone::Level, false, VALID, "oa before nh"},
      {U"uych", Tone::Level, false, VALID, "uy before ch"},
      {U"ech", Tone::Level, false, INCOMPLETE, "waiting for ê"},
      {U"ơch", Tone::Level, false, INVALID, "ơ never stands before ch"},
      {U"onh", Tone::Level, false, INVALID, "o never stands before nh"},
      {U"ab", Tone::Level, false, INVALID, "b is no coda"},
      {U"anp", Tone::Level, false, INVALID, "np is no coda"},
      // Stop codas refuse huyền, hỏi and ngã.
      {U"hoc", Tone::Level, false, VALID, "level passes while typing"},
      {U"hoc", Tone::Sac, false, VALID, "hóc"},
      {U"hoc", Tone::Nang, false, VALID, "học"},
      {U"hoc", Tone::Huyen, false, INVALID, "hòc"},
      {U"hoc", Tone::Hoi, false, INVALID, "hỏc"},
      {U"hoc", Tone::Nga, false, INVALID, "hõc"},
      {U"sach", Tone::Nga, false, INVALID, "ch is a stop"},
      {U"hop", Tone::Hoi, false, INVALID, "p is a stop"},
      {U"mat", Tone::Huyen, false, INVALID, "t is a stop"},
      {U"man", Tone::Huyen, false, VALID, "n is not a stop"},
      // A nucleus typed without its marks before a coda waits for them.
      {U"thuong", Tone::Level, false, INCOMPLETE, "thương without the marks"},
      {U"thuong", Tone::Huyen, false, INCOMPLETE, "ng is not a stop"},
      {U"tien", Tone::Sac, false, INCOMPLETE, "tiến without the circumflex"},
      {U"tiet", Tone::Nang, false, INCOMPLETE, "tiệt without the circumflex"},
      {U"tiet", Tone::Huyen, false, INVALID, "a stop refuses huyền even before the marks"},
      {U"thuoc", Tone::Hoi, false, INVALID, "a stop refuses hỏi even before the marks"},
      // Without a coda the tone plays no role.
      {U"ma", Tone::Nga, false, VALID, "mã"},
      {U"uơ", Tone::Hoi, false, VALID, "the nucleus of thuở"},
      {U"ươ", Tone::Level, false, INCOMPLETE, "ươ needs more"},
      {U"iê", Tone::Level, false, INCOMPLETE, "iê needs a coda or u"},
      {U"uyê", Tone::Level, false, INCOMPLETE, "uyê needs a coda"},
      {U"oo", Tone::Level, false, INCOMPLETE, "oo needs a coda"},
      {U"ae", Tone::Level, false, INVALID, "no nucleus starts ae"},
      {U"ou", Tone::Level, false, INVALID, "no nucleus starts ou"},
      // k as a final consonant only when admitted, and then as a stop.
      {U"hok", Tone::Level, true, VALID, "k admitted"},
      {U"hok", Tone::Sac, true, VALID, "k admitted"},
      {U"hok", Tone::Huyen, true, INVALID, "k is a stop"},
      {U"hok", Tone::Level, false, INVALID, "k not admitted"},
      {U"hoc", Tone::Nang, true, VALID, "c still a coda with k admitted"},
      {U"ak", Tone::Level, false, INVALID, "k not admitted"},
      {U"uyêk", Tone::Sac, true, VALID, "k takes every closed nucleus"},
  };
  for (const auto& c : cases) {
    const Status got = check_with(c.word, c.tone, c.allow_coda_k);
    EXPECT_EQ(got, c.expected) << utf8(c.word) << " tone " << static_cast<int>(c.tone)
                               << (c.allow_coda_k ? " with k" : "") << " (" << c.why << ") gave "
                               << name(got);
  }
}

TEST(SpellingTest, ToneAllowedWithLooksOnlyAtTheStopCoda) {
  const struct {
    std::u32string_view word;
    Tone tone;
    bool allow_coda_k;
    bool expected;
  } cases[] = {
      {U"hoc", Tone::Level, false, true},  {U"hoc", Tone::Sac, false, true},
      {U"hoc", Tone::Nang, false, true},   {U"hoc", Tone::Huyen, false, false},
      {U"hoc", Tone::Hoi, false, false},   {U"hoc", Tone::Nga, false, false},
      {U"sach", Tone::Nga, false, false},  {U"hop", Tone::Hoi, false, false},
      {U"hot", Tone::Huyen, false, false}, {U"hon", Tone::Huyen, false, true},
      {U"hong", Tone::Nga, false, true},   {U"hanh", Tone::Hoi, false, true},
      {U"hom", Tone::Hoi, false, true},    {U"ho", Tone::Hoi, false, true},
      {U"", Tone::Huyen, false, true},     {U"hok", Tone::Huyen, true, false},
      {U"hok", Tone::Huyen, false, true},  {U"hok", Tone::Sac, true, true},
      {U"tiet", Tone::Nga, false, false},  {U"xyzc", Tone::Huyen, false, true},  // the coda "zc" is no stop
  };
  for (const auto& c : cases) {
    EXPECT_EQ(tone_allowed_with(c.word, c.tone, c.allow_coda_k), c.expected)
        << utf8(c.word) << " tone " << static_cast<int>(c.tone) << (c.allow_coda_k ? " with k" : "");
  }
}

TEST(SpellingTest, IsStopCoda) {
  const struct {
    std::u32string_view coda;
    bool without_k;
    bool with_k;
  } cases[] = {
      {U"c", true, true},    {U"ch", true, true},  {U"p", true, true},    {U"t", true, true},
      {U"k", false, true},   {U"m", false, false}, {U"n", false, false},  {U"ng", false, false},
      {U"nh", false, false}, {U"", false, false},  {U"cc", false, false}, {U"C", false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(is_stop_coda(c.coda, false), c.without_k) << utf8(c.coda);
    EXPECT_EQ(is_stop_coda(c.coda, true), c.with_k) << utf8(c.coda) << " with k";
  }
}

}  // namespace
}  // namespace lumaret::syllable
