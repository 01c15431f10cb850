// The composer on real words, typed key by key as the session types them: push and show after every key,
// finish at the end of the word. The keys come from rebuild of the words of the sentences file (or of a short
// built-in text without it), all worked out before the timed loop.
#include <benchmark/benchmark.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstddef>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "allocations.h"
#include "lumaret/core/rules.h"
#include "lumaret/core/transform.h"

namespace lumaret::core {
namespace {

constexpr std::string_view FALLBACK_TEXT =
    "Tiếng Việt là ngôn ngữ của người Việt và là ngôn ngữ chính thức tại Việt Nam. "
    "Quyết định này được thông qua sau khi các đại biểu thảo luận kỹ lưỡng về chương trình giáo dục. "
    "Hôm qua trời mưa to, đường phố ngập nước, xe cộ đi lại khó khăn; nhiều người phải ở nhà. "
    "Khuya rồi, hãy tắt máy tính, uống một ly sữa ấm và ngủ ngon nhé. Giữ gìn sự trong sáng.";

// What a user gets without a configuration file: new tone style, spelling check on, nothing else.
constexpr ComposeOptions DEFAULTS{.tone_style = ToneStyle::New, .spell_check = true};
constexpr ComposeOptions OLD_STYLE{.tone_style = ToneStyle::Old, .spell_check = true};

std::string read_text() {
  std::ifstream in(LUMARET_SENTENCES_FILE, std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  return text.str().empty() ? std::string(FALLBACK_TEXT) : text.str();
}

// Every run of letters and combining marks in the text, as UTF-8.
std::vector<std::string> split_words(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t start = at;
    UChar32 c;
    U8_NEXT(text.data(), at, text.size(), c);
    if (c >= 0 && (u_isalpha(c) || u_getCombiningClass(c) != 0)) {
      word.append(text.substr(start, at - start));
    } else if (!word.empty()) {
      words.push_back(std::move(word));
      word.clear();
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

struct TypedWords {
  std::vector<std::u32string> keys;  // one key sequence per word that rebuild could type
  std::size_t skipped = 0;
};

TypedWords typed_words(const InputMethodSpec& method) {
  TypedWords out;
  for (const std::string& word : split_words(read_text())) {
    // A word written in the old tone style (hòa, thủy) is typed with the same keys.
    std::optional<std::u32string> keys = rebuild(word, method, DEFAULTS);
    if (!keys) keys = rebuild(word, method, OLD_STYLE);
    if (keys) {
      out.keys.push_back(std::move(*keys));
    } else {
      ++out.skipped;
    }
  }
  return out;
}

// One word per iteration, cycling through the text; the rate counts keys.
void type_words(benchmark::State& state, const InputMethodSpec& method) {
  const TypedWords words = typed_words(method);
  if (words.keys.empty()) {
    state.SkipWithError("no word could be rebuilt");
    return;
  }
  std::size_t keys = 0;
  std::size_t i = 0;
  const std::size_t allocations_before = bench::allocations();
  for (auto _ : state) {
    const std::u32string& word = words.keys[i];
    Composer composer = Composer::with_raw(method, DEFAULTS, {});
    for (const char32_t key : word) {
      composer.push(key);
      benchmark::DoNotOptimize(composer.result(false));
    }
    benchmark::DoNotOptimize(composer.result(true));
    keys += word.size();
    if (++i == words.keys.size()) i = 0;
  }
  state.counters["keys"] = benchmark::Counter(static_cast<double>(keys), benchmark::Counter::kIsRate);
  state.counters["allocs_per_key"] =
      static_cast<double>(bench::allocations() - allocations_before) / static_cast<double>(keys);
  state.counters["words"] = static_cast<double>(words.keys.size());
  state.counters["skipped"] = static_cast<double>(words.skipped);
}

void BM_ComposeTelex(benchmark::State& state) {
  type_words(state, TELEX);
}
BENCHMARK(BM_ComposeTelex);

void BM_ComposeVni(benchmark::State& state) {
  type_words(state, VNI);
}
BENCHMARK(BM_ComposeVni);

}  // namespace
}  // namespace lumaret::core
