// The syllable model on real words: the spell check, the tone placement and composing one character.
// Words come from the sentences file when it is there, otherwise from a short built-in list; all the text
// work (splitting, lowercasing, taking the tone off) happens before the timed loops.
#include <benchmark/benchmark.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "allocations.h"
#include "lumaret/syllable/letters.h"
#include "lumaret/syllable/spelling.h"
#include "lumaret/syllable/syllable.h"

namespace lumaret::syllable {
namespace {

constexpr const char* FALLBACK_TEXT =
    "Tiếng Việt là ngôn ngữ của người Việt và là ngôn ngữ chính thức tại Việt Nam. "
    "Quyết định này được thông qua sau khi các đại biểu thảo luận kỹ lưỡng về chương trình giáo dục. "
    "Hôm qua trời mưa to, đường phố ngập nước, xe cộ đi lại khó khăn; nhiều người phải ở nhà. "
    "Chúng tôi học tiếng Anh, đọc sách, nghe nhạc và xem phim cùng nhau vào cuối tuần. "
    "Khuya rồi, hãy tắt máy tính, uống một ly sữa ấm và ngủ ngon nhé. Giữ gìn sự trong sáng.";

// A word as the spell check receives it, with the tone taken off, and its letters as the composer holds them.
struct Word {
  std::u32string toneless;
  Tone tone = Tone::Level;
  bool capital = false;
  std::vector<MarkedBase> letters;
};

struct Letter {
  char32_t base;
  std::optional<Mark> mark;
  Tone tone;
  bool upper;
};

const icu::Normalizer2& normalizer(bool decompose) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* n =
      decompose ? icu::Normalizer2::getNFDInstance(status) : icu::Normalizer2::getNFCInstance(status);
  if (U_FAILURE(status)) std::abort();
  return *n;
}

std::string read_text() {
  std::ifstream in(LUMARET_SENTENCES_FILE, std::ios::binary);
  if (!in) return FALLBACK_TEXT;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str().empty() ? FALLBACK_TEXT : text.str();
}

MarkedBase marked_base(char32_t c) {
  switch (c) {
    case U'ă':
      return {U'a', Mark::Breve};
    case U'â':
      return {U'a', Mark::Circumflex};
    case U'ê':
      return {U'e', Mark::Circumflex};
    case U'ô':
      return {U'o', Mark::Circumflex};
    case U'ơ':
      return {U'o', Mark::Horn};
    case U'ư':
      return {U'u', Mark::Horn};
    case U'đ':
      return {U'd', Mark::Stroke};
    default:
      return {c, std::nullopt};
  }
}

Word prepare(const icu::UnicodeString& written) {
  Word w;
  w.capital = u_isupper(written.char32At(0));
  icu::UnicodeString lower = written;
  lower.toLower();
  UErrorCode status = U_ZERO_ERROR;
  const icu::UnicodeString decomposed = normalizer(true).normalize(lower, status);
  icu::UnicodeString kept;
  for (int32_t i = 0; i < decomposed.length(); i = decomposed.moveIndex32(i, 1)) {
    const UChar32 c = decomposed.char32At(i);
    if (const std::optional<Tone> tone = tone_of_combining(static_cast<char32_t>(c))) {
      w.tone = *tone;
    } else {
      kept.append(c);
    }
  }
  const icu::UnicodeString composed = normalizer(false).normalize(kept, status);
  w.toneless.resize(static_cast<std::size_t>(composed.countChar32()));
  composed.toUTF32(reinterpret_cast<UChar32*>(w.toneless.data()), static_cast<int32_t>(w.toneless.size()),
                   status);
  if (U_FAILURE(status)) std::abort();
  for (char32_t c : w.toneless)
    w.letters.push_back(marked_base(c));
  return w;
}

// Every run of letters in the text, in order.
std::vector<Word> load_words() {
  const std::string raw = read_text();
  UErrorCode status = U_ZERO_ERROR;
  const icu::UnicodeString text = normalizer(false).normalize(icu::UnicodeString::fromUTF8(raw), status);
  if (U_FAILURE(status)) std::abort();
  std::vector<Word> words;
  int32_t start = -1;
  for (int32_t i = 0; i < text.length(); i = text.moveIndex32(i, 1)) {
    const bool letter = u_isalpha(text.char32At(i));
    if (letter && start < 0) start = i;
    if (!letter && start >= 0) {
      words.push_back(prepare(text.tempSubStringBetween(start, i)));
      start = -1;
    }
  }
  if (start >= 0) words.push_back(prepare(text.tempSubStringBetween(start)));
  return words;
}

const std::vector<Word>& words() {
  static const std::vector<Word> instance = load_words();
  return instance;
}

// The letters as a word's text is produced: the tone on the letter the rule picks, a capital at the start.
const std::vector<Letter>& letters() {
  static const std::vector<Letter> instance = [] {
    std::vector<Letter> out;
    for (const Word& w : words()) {
      const std::optional<std::size_t> at = tone_position(w.letters, ToneStyle::New);
      for (std::size_t i = 0; i < w.letters.size(); ++i) {
        out.push_back(
            {w.letters[i].base, w.letters[i].mark, at == i ? w.tone : Tone::Level, w.capital && i == 0});
      }
    }
    return out;
  }();
  return instance;
}

// One call per iteration, cycling through the real words: the reported time is the time of one check.
void BM_CheckWith(benchmark::State& state) {
  const std::vector<Word>& ws = words();
  tables();  // built once per process, not part of a check
  std::size_t i = 0;
  const std::size_t allocations_before = bench::allocations();
  for (auto _ : state) {
    benchmark::DoNotOptimize(check_with(ws[i].toneless, ws[i].tone, false));
    if (++i == ws.size()) i = 0;
  }
  state.counters["allocs_per_call"] = benchmark::Counter(
      static_cast<double>(bench::allocations() - allocations_before), benchmark::Counter::kAvgIterations);
  // What the words turned out to be, so a change in the mix is visible next to a change in time.
  double valid = 0;
  for (const Word& w : ws)
    valid += check_with(w.toneless, w.tone, false) == Status::Valid ? 1 : 0;
  state.counters["words"] = static_cast<double>(ws.size());
  state.counters["valid_share"] = valid / static_cast<double>(ws.size());
}
BENCHMARK(BM_CheckWith);

// The composer checks the word after every key: each prefix of each word, as it grows.
void BM_CheckWithWhileTyping(benchmark::State& state) {
  std::vector<std::pair<std::u32string_view, Tone>> prefixes;
  for (const Word& w : words()) {
    for (std::size_t n = 1; n <= w.toneless.size(); ++n) {
      prefixes.emplace_back(std::u32string_view(w.toneless).substr(0, n), w.tone);
    }
  }
  tables();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(check_with(prefixes[i].first, prefixes[i].second, false));
    if (++i == prefixes.size()) i = 0;
  }
}
BENCHMARK(BM_CheckWithWhileTyping);

void BM_TonePosition(benchmark::State& state) {
  const std::vector<Word>& ws = words();
  tables();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(tone_position(ws[i].letters, ToneStyle::New));
    if (++i == ws.size()) i = 0;
  }
}
BENCHMARK(BM_TonePosition);

void BM_ComposeChar(benchmark::State& state) {
  const std::vector<Letter>& ls = letters();
  compose_char(U'a', std::nullopt, Tone::Sac, false);  // any one-time set-up stays out of the loop
  std::size_t i = 0;
  for (auto _ : state) {
    const Letter& l = ls[i];
    benchmark::DoNotOptimize(compose_char(l.base, l.mark, l.tone, l.upper));
    if (++i == ls.size()) i = 0;
  }
  state.counters["letters"] = static_cast<double>(ls.size());
}
BENCHMARK(BM_ComposeChar);

}  // namespace
}  // namespace lumaret::syllable
