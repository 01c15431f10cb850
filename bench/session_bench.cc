// The session on real sentences typed in Telex: every key through process_key, with spaces, punctuation
// and Enter between sentences, as a user types them. The key stream is worked out before the timed loop.
#include <benchmark/benchmark.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "allocations.h"
#include "lumaret/core/rules.h"
#include "lumaret/core/transform.h"
#include "lumaret/engine/defaults.h"
#include "lumaret/engine/session.h"

namespace lumaret::engine {
namespace {

std::string read_text() {
  std::ifstream in(LUMARET_SENTENCES_FILE, std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  const std::string all = text.str();
  return all.empty()
             ? std::string("Tiếng Việt là ngôn ngữ của người Việt.\nHôm qua trời mưa to, đường ngập.\n")
             : all;
}

class DefaultStore final : public ConfigStore {
 public:
  Config load() override { return Config::defaults(); }
  void save(const Config&) override {}
};

// A terminal-like application: it never reports its text, so every word goes through pre-edit.
class NoSurrounding final : public SurroundingText {
 public:
  std::optional<std::string> before_cursor(std::uint32_t) override { return std::nullopt; }
};

// Letters of each word become the Telex keys that type it; everything else is typed as it is, and a line
// end is Enter.
std::vector<KeyInput> telex_stream() {
  const core::ComposeOptions opts{.tone_style = core::ToneStyle::New, .spell_check = true};
  const std::string text = read_text();
  std::vector<KeyInput> keys;
  std::string word;
  const auto end_word = [&] {
    if (word.empty()) return;
    if (std::optional<std::u32string> typed = core::rebuild(word, core::TELEX, opts)) {
      for (char32_t k : *typed)
        keys.push_back({Key::character(k)});
    }
    word.clear();
  };
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t start = at;
    UChar32 c;
    U8_NEXT(text.data(), at, text.size(), c);
    if (c < 0) continue;
    if (u_isalpha(c) || u_getCombiningClass(c) != 0) {
      word.append(text, start, at - start);
      continue;
    }
    end_word();
    keys.push_back(c == '\n' ? KeyInput{Key{KeyKind::Enter, 0}}
                             : KeyInput{Key::character(static_cast<char32_t>(c))});
  }
  end_word();
  return keys;
}

void BM_SessionTelexSentences(benchmark::State& state) {
  const std::vector<KeyInput> keys = telex_stream();
  ImeSession session(Ports{std::make_unique<DefaultStore>(), std::make_unique<StaticAppContext>(),
                           std::make_unique<NoSurrounding>(),
                           std::make_unique<WordListDictionary>(WordListDictionary::defaults())});
  std::size_t at = 0;
  std::size_t typed = 0;
  const std::size_t allocations_before = bench::allocations();
  for (auto _ : state) {
    Action a = session.process_key(keys[at]);
    benchmark::DoNotOptimize(a);
    at = at + 1 == keys.size() ? 0 : at + 1;
    ++typed;
  }
  state.counters["keys"] = benchmark::Counter(static_cast<double>(typed), benchmark::Counter::kIsRate);
  state.counters["ns/key"] = benchmark::Counter(static_cast<double>(typed),
                                                benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["allocs/key"] =
      static_cast<double>(bench::allocations() - allocations_before) / static_cast<double>(typed);
  state.counters["stream"] = static_cast<double>(keys.size());
}
BENCHMARK(BM_SessionTelexSentences);

}  // namespace
}  // namespace lumaret::engine
