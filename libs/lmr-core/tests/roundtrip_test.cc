// Every syllable the tables accept as a whole word can be typed again from the keys rebuild finds for it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <functional>
#include <iostream>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "lumaret/core/transform.h"
#include "lumaret/core/utf8.h"
#include "lumaret/syllable/vi_syllable.h"

namespace lumaret::core {
namespace {

using syllable::MarkedBase;

// A marked lowercase letter of a toneless word, taken apart again into its base and mark.
MarkedBase take_apart(char32_t c) {
  const struct {
    char32_t letter;
    MarkedBase parts;
  } kMarked[] = {
      {U'ă', {U'a', Mark::Breve}},      {U'â', {U'a', Mark::Circumflex}}, {U'ê', {U'e', Mark::Circumflex}},
      {U'ô', {U'o', Mark::Circumflex}}, {U'ơ', {U'o', Mark::Horn}},       {U'ư', {U'u', Mark::Horn}},
      {U'đ', {U'd', Mark::Stroke}},
  };
  for (const auto& m : kMarked) {
    if (m.letter == c) return m.parts;
  }
  return {c, std::nullopt};
}

// One complete syllable: its toneless lowercase letters and its tone.
struct Entry {
  std::u32string toneless;
  Tone tone;
};

// Every onset (or none) with every open nucleus alone and every closed nucleus before every coda, under
// every tone the spelling accepts; a stop coda that ends a word takes only sắc or nặng.
std::vector<Entry> inventory() {
  std::vector<std::u32string_view> onsets = {U""};
  onsets.insert(onsets.end(), std::begin(syllable::ONSETS), std::end(syllable::ONSETS));
  std::set<std::u32string> words;
  for (const std::u32string_view onset : onsets) {
    for (const std::u32string_view nucleus : syllable::OPEN_NUCLEI) {
      words.insert(std::u32string(onset) + std::u32string(nucleus));
    }
    for (const std::u32string_view nucleus : syllable::CLOSED_NUCLEI) {
      for (const std::u32string_view coda : syllable::CODAS) {
        words.insert(std::u32string(onset) + std::u32string(nucleus) + std::u32string(coda));
      }
    }
  }
  std::vector<Entry> out;
  for (const std::u32string& word : words) {
    const bool stop = syllable::is_stop_coda(syllable::parse(word).coda, false);
    for (int t = 0; t <= 5; ++t) {
      const Tone tone = static_cast<Tone>(t);
      if (stop && tone != Tone::Sac && tone != Tone::Nang) continue;
      if (syllable::check_with(word, tone, false) == Status::Valid) out.push_back({word, tone});
    }
  }
  return out;
}

// The word as it is written: the tone on the letter the placement rule picks, the first letter capitalised
// when asked.
std::string written(const Entry& s, ToneStyle style, bool capital) {
  std::vector<MarkedBase> letters;
  for (const char32_t c : s.toneless)
    letters.push_back(take_apart(c));
  std::optional<std::size_t> tone_at;
  if (s.tone != Tone::Level) tone_at = syllable::tone_position(letters, style);
  std::u32string out;
  for (std::size_t i = 0; i < letters.size(); ++i) {
    const Tone tone = tone_at == i ? s.tone : Tone::Level;
    out += syllable::compose_char(letters[i].base, letters[i].mark, tone, capital && i == 0);
  }
  return to_utf8(out);
}

// Words no key sequence can type, each with the rule of the composer that stands in the way.
const struct {
  const char* why;
  std::function<bool(const Entry&)> applies;
} kCannotType[] = {
    {// The horn key horns a u + o pair at once, and a horned pair that ends the word gives the u's horn
     // back only after no onset or after c, h, k, kh, qu and th (uở, thuở, huơ, quở). After any other
     // onset a final "uơ" always comes out "ươ": luơ types as lươ.
     "a final uơ after an onset that keeps the horn on the u",
     [](const Entry& s) {
       const syllable::Syllable parts = syllable::parse(s.toneless);
       const std::u32string_view onset = parts.onset;
       const bool plain_u_onset = onset.empty() || onset == U"c" || onset == U"h" || onset == U"k" ||
                                  onset == U"kh" || onset == U"qu" || onset == U"th";
       return parts.nucleus == U"uơ" && parts.coda.empty() && !plain_u_onset;
     }},
};

const char* why_untypeable(const Entry& s) {
  for (const auto& e : kCannotType) {
    if (e.applies(s)) return e.why;
  }
  return nullptr;
}

struct Case {
  const char* name;
  const InputMethodSpec* method;
  ToneStyle style;
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

class RoundTrip : public testing::TestWithParam<Case> {};

// The keys rebuild finds type the word again when it is finished: the same valid text, composed, not
// restored.
TEST_P(RoundTrip, EverySyllableTypesBack) {
  const Case& c = GetParam();
  const ComposeOptions opts{.tone_style = c.style, .spell_check = true};
  const std::vector<Entry> all = inventory();

  std::set<std::string> seen;
  std::vector<std::string> failures;
  std::set<std::string> stale;  // excused words that type back after all
  std::size_t typed = 0;
  std::size_t excused = 0;
  for (const Entry& s : all) {
    for (const bool capital : {false, true}) {
      const std::string word = written(s, c.style, capital);
      if (!seen.insert(word).second) continue;

      std::string got = "(no keys)";
      bool ok = false;
      if (const std::optional<std::u32string> keys = rebuild(word, *c.method, opts)) {
        const TransformResult r = Composer::with_raw(*c.method, opts, *keys).result(true);
        got = r.text + (r.is_raw ? " (restored)" : "") + (r.status != Status::Valid ? " (not valid)" : "");
        ok = r.text == word && !r.is_raw && r.status == Status::Valid;
      }
      const char* excuse = why_untypeable(s);
      if (ok && excuse != nullptr) stale.insert(std::string(excuse) + ": " + word);
      if (ok) ++typed;
      if (!ok && excuse != nullptr) ++excused;
      if (!ok && excuse == nullptr) failures.push_back(word + " -> " + got);
    }
  }

  std::cout << "[ RoundTrip ] " << c.name << ": " << all.size() << " syllables, " << seen.size()
            << " words with capitals, " << typed << " typed back, " << excused << " excused\n";
  RecordProperty("syllables", static_cast<int>(all.size()));
  RecordProperty("words", static_cast<int>(seen.size()));
  RecordProperty("typed_back", static_cast<int>(typed));
  RecordProperty("excused", static_cast<int>(excused));

  EXPECT_GT(typed, 10000u);
  std::string first;
  for (std::size_t i = 0; i < failures.size() && i < 12; ++i)
    first += "\n  " + failures[i];
  EXPECT_TRUE(failures.empty()) << failures.size() << " words do not type back, first:" << first;
  std::string excuses;
  for (const std::string& e : stale)
    excuses += "\n  " + e;
  EXPECT_TRUE(stale.empty()) << "excused words that do type back:" << excuses;
}

INSTANTIATE_TEST_SUITE_P(
    Methods, RoundTrip,
    testing::Values(Case{"telex_new", &TELEX, ToneStyle::New}, Case{"telex_old", &TELEX, ToneStyle::Old},
                    Case{"vni_new", &VNI, ToneStyle::New}, Case{"vni_old", &VNI, ToneStyle::Old},
                    Case{"viqr_new", &VIQR, ToneStyle::New}, Case{"viqr_old", &VIQR, ToneStyle::Old}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lumaret::core
