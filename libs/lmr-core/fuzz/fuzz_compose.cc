// Types arbitrary keys through the composer and stops at the first broken promise.
//
// Input layout: byte 0 chooses the methods (bit 0 Telex, 1 Simple Telex, 2 VNI, 3 VIQR; none set means all
// four), byte 1 the six option bits in their usual order (tone style, spelling check, w as ư, bracket keys,
// quick Telex, k as coda). The rest is UTF-8: every valid character is a key, ill-formed bytes are skipped,
// and a blank ends the word, as a separator would.
#include <unicode/utf8.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lumaret/core/diff.h"
#include "lumaret/core/rules.h"
#include "lumaret/core/transform.h"
#include "lumaret/core/utf8.h"

namespace {

using lumaret::core::ComposeOptions;
using lumaret::core::Composer;
using lumaret::core::InputMethodSpec;
using lumaret::core::TransformResult;

void require(bool ok, const char* promise) {
  if (ok) return;
  std::fprintf(stderr, "fuzz-compose: broken: %s\n", promise);
  std::abort();
}

// The words of the input: valid characters only, split at blanks.
std::vector<std::u32string> words_of(std::string_view text) {
  std::vector<std::u32string> words(1);
  for (std::size_t at = 0; at < text.size();) {
    UChar32 key;
    U8_NEXT(text.data(), at, text.size(), key);
    if (key < 0) continue;  // ill-formed bytes are skipped
    if (key == U' ') {
      if (!words.back().empty()) words.emplace_back();
    } else {
      words.back().push_back(static_cast<char32_t>(key));
    }
  }
  return words;
}

// The old text with the last `delete_chars` characters removed and `insert` appended.
std::optional<std::string> apply(std::string_view old_text, const lumaret::core::TextDiff& d) {
  std::size_t end = old_text.size();
  for (std::uint32_t i = 0; i < d.delete_chars; ++i) {
    if (end == 0) return std::nullopt;
    U8_BACK_1(reinterpret_cast<const std::uint8_t*>(old_text.data()), 0, end);
  }
  return std::string(old_text.substr(0, end)) + d.insert;
}

void check_result(const TransformResult& r, std::string_view shown_before) {
  require(lumaret::core::to_chars(r.text).has_value(), "result text is valid UTF-8");
  require(r.literal_text.empty() || r.literal_text == r.text, "literal text is empty or the text");
  require(static_cast<std::uint8_t>(r.status) <= 2, "status is Valid, Incomplete or Invalid");
  const std::optional<std::string> patched = apply(shown_before, lumaret::core::diff(shown_before, r.text));
  require(patched.has_value(), "diff deletes no more characters than the old text has");
  require(*patched == r.text, "diff applied to the old text gives the new text");
}

void type_word(const InputMethodSpec& method, const ComposeOptions& opts, std::u32string_view keys) {
  Composer composer = Composer::with_raw(method, opts, {});
  std::string shown;
  for (const char32_t key : keys) {
    composer.push(key);
    const auto states = composer.states();
    require(!states.empty(), "states are never empty");
    require(states.size() <= lumaret::core::MAX_STEPPED_KEYS + 1, "at most 25 states");
    require(states.size() == std::min(composer.raw().size(), lumaret::core::MAX_STEPPED_KEYS) + 1,
            "one state per stepped key");
    require(states.back().letters.size() <= lumaret::core::MAX_LETTERS, "at most 32 letters");
    const TransformResult r = composer.result(false);
    check_result(r, shown);
    shown = r.text;
  }
  const TransformResult finished = composer.result(true);
  check_result(finished, shown);
  require(Composer::with_raw(method, opts, keys).result(true) == finished,
          "the same keys give the same word");

  if (const std::optional<std::u32string> again = lumaret::core::rebuild(finished.text, method, opts)) {
    require(Composer::with_raw(method, opts, *again).result(false).text == finished.text,
            "rebuilt keys type the word again");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const InputMethodSpec* const methods[] = {&lumaret::core::TELEX, &lumaret::core::SIMPLE_TELEX,
                                            &lumaret::core::VNI, &lumaret::core::VIQR};
  const unsigned chosen = (data[0] & 0x0F) != 0 ? data[0] & 0x0F : 0x0F;
  const std::uint8_t bits = data[1];
  const ComposeOptions opts{
      .tone_style = (bits & 0x01) != 0 ? lumaret::core::ToneStyle::New : lumaret::core::ToneStyle::Old,
      .spell_check = (bits & 0x02) != 0,
      .w_as_u = (bits & 0x04) != 0,
      .bracket_keys = (bits & 0x08) != 0,
      .quick_telex = (bits & 0x10) != 0,
      .allow_coda_k = (bits & 0x20) != 0,
  };
  const std::vector<std::u32string> words =
      words_of(std::string_view(reinterpret_cast<const char*>(data) + 2, size - 2));
  for (std::size_t m = 0; m < 4; ++m) {
    if ((chosen & (1u << m)) == 0) continue;
    for (const std::u32string& word : words)
      type_word(*methods[m], opts, word);
  }
  return 0;
}
