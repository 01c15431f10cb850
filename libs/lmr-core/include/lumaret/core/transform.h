// Composing one word from keystrokes: letters with marks and one tone, and the text the word shows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "lumaret/core/fixed_vector.h"
#include "lumaret/core/rules.h"
#include "lumaret/syllable/letters.h"
#include "lumaret/syllable/spelling.h"

namespace lumaret::core {

using syllable::Status;
using syllable::ToneStyle;

// Only the first 24 keys of a word are stepped; each adds at most one letter, the quick-Telex doubling one
// more.
inline constexpr std::size_t MAX_STEPPED_KEYS = 24;
inline constexpr std::size_t MAX_LETTERS = 32;

struct Letter {
  char32_t base = 0;  // lowercase: "a" for ấ, "d" for đ, "u" for ư
  bool upper = false;
  bool from_shortcut = false;  // typed whole by a w-letter or bracket key
  bool horn_o_only = false;    // this u before a horned o that ends the word shows no horn (thuở)
  std::optional<Mark> mark;

  // The key as a plain letter: lowercased by the simple mapping, with its case in `upper`.
  static Letter literal(char32_t key);

  friend bool operator==(const Letter&, const Letter&) = default;
};

using Letters = FixedVector<Letter, MAX_LETTERS>;
using WordText = FixedText<MAX_LETTERS>;

// The word after some number of keys. The composer keeps one per key.
struct WordState {
  FixedVector<char32_t, 8> undone_keys;  // mark keys undone in this word: plain letters from now on
  std::uint8_t stroke_index = 0;         // where a free stroke was accepted
  std::optional<char32_t> last_undo_key;
  std::optional<char32_t> prev_key;
  Letters letters;
  bool undone = false;       // a repeated key undid a tone or a mark
  bool literal = false;      // every further key is a plain letter
  bool transformed = false;  // a tone, mark, expansion or whole-letter key took effect
  bool free_stroke = false;  // a stroke stood with no vowel beside it, accepted without spelling check
  Tone tone = Tone::Level;
};

struct ComposeOptions {
  ToneStyle tone_style = ToneStyle::Old;
  bool spell_check = false;   // marks, tones and w-letters must keep the word spellable
  bool w_as_u = false;        // w types ư
  bool bracket_keys = false;  // [ types ơ, ] types ư
  bool quick_telex = false;   // cc -> ch, nn -> ng, ...
  bool allow_coda_k = false;  // k is a final consonant
};

struct TransformResult {
  std::string text;          // UTF-8: the word to show or commit
  std::string literal_text;  // equal to text when an undo turned the word into literal typing, else empty
  bool is_raw = false;       // text is the raw keys, restored because the word cannot be Vietnamese
  Status status = Status::Incomplete;

  friend bool operator==(const TransformResult&, const TransformResult&) = default;
};

// One letter as it is rendered: ưo shows as ươ, and thuở's u drops its horn.
struct DisplayItem {
  char32_t base = 0;
  std::optional<Mark> mark;
  bool upper = false;
};
using Display = FixedVector<DisplayItem, MAX_LETTERS>;

// The letters where the nucleus starts and ends; empty when no vowel follows the onset.
struct ClusterSpan {
  std::size_t start = 0;
  std::size_t end = 0;
};

Display display(const Letters& letters);
WordText toneless_lower(const Letters& letters);
ClusterSpan cluster_span(const Letters& letters);
Status status(const Letters& letters, Tone tone, bool allow_coda_k);

// Applies one key to the word: a tone, a mark, an undo, an expansion, a whole letter, or a plain letter.
void step(WordState& state, char32_t key, const InputMethodSpec& method, const ComposeOptions& opts);

// The text of a snapshot, its spelling status, and whether the raw keys should be given back instead.
TransformResult result(const WordState& state, std::u32string_view raw, const ComposeOptions& opts,
                       bool at_word_end);

// With digit keys, a doubled digit types one digit (a11 -> a1) and two trailing tone digits stay as typed.
std::optional<std::string> vni_literal(std::u32string_view raw, bool digit_keys);

// The keys of one word under composition, and a snapshot per stepped key.
class Composer {
 public:
  static Composer with_raw(const InputMethodSpec& method, const ComposeOptions& opts,
                           std::u32string_view keys);

  void push(char32_t key);
  TransformResult result(bool at_word_end) const;

  std::u32string_view raw() const { return raw_; }
  std::span<const WordState> states() const { return states_; }
  const InputMethodSpec& spec() const { return *spec_; }
  const ComposeOptions& opts() const { return opts_; }

 private:
  Composer(const InputMethodSpec& method, const ComposeOptions& opts);

  std::u32string raw_;
  std::vector<WordState> states_;  // never empty: the empty word, then one per stepped key
  const InputMethodSpec* spec_;
  ComposeOptions opts_;
};

// The keys that type `word` (UTF-8) again under the method, checked by typing them; nothing when none do.
std::optional<std::u32string> rebuild(std::string_view word, const InputMethodSpec& method,
                                      const ComposeOptions& opts);

}  // namespace lumaret::core
