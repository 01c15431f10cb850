// The typing methods: which keys set a tone, put a mark on a letter or type a whole marked vowel.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

#include "lumaret/syllable/letters.h"

namespace lumaret::core {

using syllable::Mark;
using syllable::Tone;

struct ToneKey {
  char32_t key;
  Tone tone;
};

// One way a mark key applies: on any of the target letters, or on an adjacent "u" + "o" at once (ươ).
struct MarkRule {
  std::u32string_view targets;
  Mark mark;
  bool pair = false;
};

struct MarkKey {
  char32_t key;
  std::span<const MarkRule> rules;
};

// A key that types a whole marked vowel (w -> ư, [ -> ơ).
struct LetterKey {
  char32_t key;
  char32_t base;
  Mark mark;
};

struct InputMethodSpec {
  std::string_view name;  // as written in the configuration
  std::span<const ToneKey> tone_keys;
  std::span<const MarkKey> mark_keys;
  std::span<const LetterKey> w_letters;        // with w_as_u
  std::span<const LetterKey> bracket_letters;  // with bracket_keys; compared with the key as typed
  char32_t remove_tone_key;                    // removes the tone, or the vowel marks when there is no tone
  bool digit_keys;  // mark and tone keys are digits, so doubled digits type themselves
};

namespace tables {

inline constexpr ToneKey TELEX_TONES[] = {
    {U's', Tone::Sac}, {U'f', Tone::Huyen}, {U'r', Tone::Hoi}, {U'x', Tone::Nga}, {U'j', Tone::Nang},
};
inline constexpr ToneKey VNI_TONES[] = {
    {U'1', Tone::Sac}, {U'2', Tone::Huyen}, {U'3', Tone::Hoi}, {U'4', Tone::Nga}, {U'5', Tone::Nang},
};
inline constexpr ToneKey VIQR_TONES[] = {
    {U'\'', Tone::Sac}, {U'`', Tone::Huyen}, {U'?', Tone::Hoi}, {U'~', Tone::Nga}, {U'.', Tone::Nang},
};

inline constexpr MarkRule CIRCUMFLEX_A[] = {{U"a", Mark::Circumflex}};
inline constexpr MarkRule CIRCUMFLEX_E[] = {{U"e", Mark::Circumflex}};
inline constexpr MarkRule CIRCUMFLEX_O[] = {{U"o", Mark::Circumflex}};
inline constexpr MarkRule CIRCUMFLEX_AEO[] = {{U"aeo", Mark::Circumflex}};
inline constexpr MarkRule HORN_OR_BREVE[] = {
    {U"uo", Mark::Horn, true}, {U"uo", Mark::Horn}, {U"a", Mark::Breve}};
inline constexpr MarkRule HORN[] = {{U"uo", Mark::Horn, true}, {U"uo", Mark::Horn}};
inline constexpr MarkRule BREVE[] = {{U"a", Mark::Breve}};
inline constexpr MarkRule STROKE[] = {{U"d", Mark::Stroke}};

inline constexpr MarkKey TELEX_MARKS[] = {
    {U'a', CIRCUMFLEX_A}, {U'e', CIRCUMFLEX_E}, {U'o', CIRCUMFLEX_O}, {U'w', HORN_OR_BREVE}, {U'd', STROKE},
};
inline constexpr MarkKey VNI_MARKS[] = {
    {U'6', CIRCUMFLEX_AEO},
    {U'7', HORN},
    {U'8', BREVE},
    {U'9', STROKE},
};
inline constexpr MarkKey VIQR_MARKS[] = {
    {U'^', CIRCUMFLEX_AEO},
    {U'(', BREVE},
    {U'+', HORN},
    {U'd', STROKE},
};

inline constexpr LetterKey TELEX_W_LETTERS[] = {{U'w', U'u', Mark::Horn}};
inline constexpr LetterKey TELEX_BRACKET_LETTERS[] = {{U'[', U'o', Mark::Horn}, {U']', U'u', Mark::Horn}};

}  // namespace tables

inline constexpr InputMethodSpec TELEX{
    "telex",
    tables::TELEX_TONES,
    tables::TELEX_MARKS,
    tables::TELEX_W_LETTERS,
    tables::TELEX_BRACKET_LETTERS,
    U'z',
    false,
};
inline constexpr InputMethodSpec SIMPLE_TELEX{
    "simple_telex", tables::TELEX_TONES, tables::TELEX_MARKS, {}, {}, U'z', false,
};
inline constexpr InputMethodSpec VNI{"vni", tables::VNI_TONES, tables::VNI_MARKS, {}, {}, U'0', true};
inline constexpr InputMethodSpec VIQR{"viqr", tables::VIQR_TONES, tables::VIQR_MARKS, {}, {}, U'0', false};

// The method named in the configuration; any name but "vni", "viqr" and "simple_telex" means Telex.
const InputMethodSpec& method_by_name(std::string_view name);

// The key that puts `mark` on `base` in a method, for typing a finished word again. Pair rules are skipped.
std::optional<char32_t> mark_key(std::span<const MarkKey> mark_keys, char32_t base, Mark mark);

// A doubled consonant typed quickly becomes a two-letter onset: cc -> ch, gg -> gi, ...
struct QuickTelex {
  char32_t key;
  char32_t second;  // the letter that joins the first
};
inline constexpr QuickTelex QUICK_TELEX[] = {
    {U'c', U'h'}, {U'g', U'i'}, {U'k', U'h'}, {U'n', U'g'}, {U'p', U'h'}, {U'q', U'u'}, {U't', U'h'},
};

// The second letter of the expansion of a doubled key, or nothing when the key does not expand.
constexpr std::optional<char32_t> quick_telex(char32_t key) {
  for (const QuickTelex& q : QUICK_TELEX) {
    if (q.key == key) return q.second;
  }
  return std::nullopt;
}

}  // namespace lumaret::core
