// Vietnamese letters, vowel marks and tones, and where a word's tone is written.
#pragma once

#include <cstdint>
#include <iterator>
#include <optional>
#include <span>
#include <string_view>

namespace lumaret::syllable {

// The diacritic carried by one letter: three vowel marks and the stroke of đ.
// "No mark" is an empty std::optional<Mark>.
enum class Mark : std::uint8_t { Circumflex = 0, Breve = 1, Horn = 2, Stroke = 3 };

// One tone per word, attached to a single letter only when text is produced.
enum class Tone : std::uint8_t { Level = 0, Sac = 1, Huyen = 2, Hoi = 3, Nga = 4, Nang = 5 };

// Where the tone goes in the open nuclei "oa", "oe", "uy": hòa (Old) or hoà (New).
enum class ToneStyle : std::uint8_t { Old = 0, New = 1 };

inline constexpr std::u32string_view VOWELS = U"aăâeêioôơuưy";
inline constexpr std::u32string_view MARKED_VOWELS = U"ăâêôơư";

constexpr bool is_vowel(char32_t c) {
  return VOWELS.find(c) != std::u32string_view::npos;
}
constexpr bool is_marked_vowel(char32_t c) {
  return MARKED_VOWELS.find(c) != std::u32string_view::npos;
}

// The combining character of each vowel mark (the stroke of đ has none) and of each tone (level has none),
// indexed by the enumerations' values.
inline constexpr char32_t MARK_COMBINING[] = {U'\u0302', U'\u0306', U'\u031B', 0};
inline constexpr char32_t TONE_COMBINING[] = {0, U'\u0301', U'\u0300', U'\u0309', U'\u0303', U'\u0323'};

// The vowel mark or tone a combining character writes, or nothing for any other character.
constexpr std::optional<Mark> mark_of_combining(char32_t c) {
  for (std::uint8_t m = 0; m < std::size(MARK_COMBINING); ++m) {
    if (c != 0 && MARK_COMBINING[m] == c) return static_cast<Mark>(m);
  }
  return std::nullopt;
}
constexpr std::optional<Tone> tone_of_combining(char32_t c) {
  for (std::uint8_t t = 0; t < std::size(TONE_COMBINING); ++t) {
    if (c != 0 && TONE_COMBINING[t] == c) return static_cast<Tone>(t);
  }
  return std::nullopt;
}

// One letter as the tone rule sees it: a lowercase base and its mark.
struct MarkedBase {
  char32_t base = 0;
  std::optional<Mark> mark;
};

// Composes a base letter, a mark, a tone and a case flag into one precomposed character.
// A tone outside 1..5 adds nothing; a stroke on anything but d leaves the base unchanged.
char32_t compose_char(char32_t base, std::optional<Mark> mark, Tone tone, bool upper);

// The index of the letter that carries the tone, or nothing when the word has no vowel to carry it.
std::optional<std::size_t> tone_position(std::span<const MarkedBase> letters, ToneStyle style);

}  // namespace lumaret::syllable
