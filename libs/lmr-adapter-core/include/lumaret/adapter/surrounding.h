// Cutting and comparing the text an application reports around its cursor. Three units meet here: UTF-8
// bytes (how the text is stored), characters (how the engine counts) and UTF-16 code units (how cursor
// positions are counted). A position that is not a character boundary, or lies beyond the text, gives
// nothing. Results are slices of the text passed in; only check_replace allocates.
//
// Applications do send broken text now and then. Ill-formed UTF-8 is read the way a conversion to UTF-16
// reads it: each maximal ill-formed sequence is one character, U+FFFD, one UTF-16 unit long. No function
// reads outside the text it is given.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lumaret::adapter {

// The application's text around its cursor, borrowed from the frontend's own state for one decision.
struct SurroundingView {
  std::string_view text{};         // UTF-8
  std::uint32_t cursor_units = 0;  // from the start of text
  std::uint32_t anchor_units = 0;  // the other end of the selection; equal to cursor_units when none
};

// The text before the cursor that check_replace found safe to delete.
struct ReplaceCheck {
  std::string deleted{};    // a copy of exactly the text before the cursor that goes
  std::uint32_t units = 0;  // its length in UTF-16 units: the count that was asked for
  std::uint32_t chars = 0;  // its length in characters

  friend bool operator==(const ReplaceCheck&, const ReplaceCheck&) = default;
};

// Whether the character belongs to a word: ASCII letters and digits, "_", U+00C0–U+024F (× and ÷
// included), the combining marks U+0300–U+036F and U+1E00–U+1EFF, where the precomposed Vietnamese letters
// live. Deleting text before a cursor that stands in front of one of these would split a word.
bool is_word_char(char32_t c);

// The length of the text in UTF-16 units.
std::uint32_t utf16_length(std::string_view text);

// The last n characters of text; nothing when it has fewer.
std::optional<std::string_view> char_suffix(std::string_view text, std::uint32_t n_chars);

// The beginning of text that is exactly n UTF-16 units long; nothing when n is not a boundary.
std::optional<std::string_view> utf16_prefix(std::string_view text, std::uint32_t n_units);

// The end of text that is exactly n UTF-16 units long; nothing when n is not a boundary or text is empty.
std::optional<std::string_view> utf16_suffix(std::string_view text, std::uint32_t n_units);

// The character that starts at the position; nothing at the end of text or inside a character.
std::optional<char32_t> next_codepoint(std::string_view text, std::uint32_t position_units);

// Whether the last `units` UTF-16 units before the cursor may be deleted and replaced: no selection, the
// text before the cursor ends with exactly those units of `expected` (of itself when expected is empty),
// and no word character follows the cursor.
std::optional<ReplaceCheck> check_replace(std::string_view expected, std::uint32_t units,
                                          const SurroundingView& view);

}  // namespace lumaret::adapter
