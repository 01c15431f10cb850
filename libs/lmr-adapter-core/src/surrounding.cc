#include "lumaret/adapter/surrounding.h"

#include <unicode/utf8.h>

#include <algorithm>
#include <limits>

#include "text_walk.h"

namespace lumaret::adapter {
namespace detail {

Decoded decode(std::string_view text, std::size_t at_bytes) {
  UChar32 c = 0;
  U8_NEXT_OR_FFFD(text.data(), at_bytes, text.size(), c);
  return {static_cast<char32_t>(c), at_bytes};
}

std::size_t count_chars(std::string_view text) {
  std::size_t chars = 0;
  for (std::size_t at_bytes = 0; at_bytes < text.size(); ++chars)
    at_bytes = decode(text, at_bytes).end_bytes;
  return chars;
}

std::size_t count_units(std::string_view text) {
  std::size_t units = 0;
  for (std::size_t at_bytes = 0; at_bytes < text.size();) {
    const Decoded d = decode(text, at_bytes);
    units += utf16_units(d.value);
    at_bytes = d.end_bytes;
  }
  return units;
}

std::optional<std::size_t> boundary_at_units(std::string_view text, std::size_t units) {
  std::size_t at_bytes = 0;
  std::size_t at_units = 0;
  while (at_units < units && at_bytes < text.size()) {
    const Decoded d = decode(text, at_bytes);
    at_units += utf16_units(d.value);
    at_bytes = d.end_bytes;
  }
  // Past `units` means it fell between the two halves of a surrogate pair.
  if (at_units != units) return std::nullopt;
  return at_bytes;
}

std::optional<std::string_view> replaceable_tail(std::string_view expected, std::uint32_t units,
                                                 const SurroundingView& view) {
  if (view.anchor_units != view.cursor_units) return std::nullopt;
  const std::optional<std::string_view> prefix = utf16_prefix(view.text, view.cursor_units);
  if (!prefix) return std::nullopt;
  const std::string_view source = expected.empty() ? *prefix : expected;
  const std::optional<std::string_view> tail = utf16_suffix(source, units);
  if (!tail || tail->empty() || tail->size() > prefix->size() || !prefix->ends_with(*tail))
    return std::nullopt;
  const std::optional<char32_t> after = next_codepoint(view.text, view.cursor_units);
  if (after && is_word_char(*after)) return std::nullopt;
  return prefix->substr(prefix->size() - tail->size());
}

}  // namespace detail

namespace {

struct CharRange {
  char32_t first;
  char32_t last;
};

constexpr CharRange WORD_CHAR_RANGES[] = {
    {U'0', U'9'},     {U'A', U'Z'},     {U'_', U'_'},
    {U'a', U'z'},     {0x00C0, 0x024F},  // Latin-1 letters, Latin Extended-A and B
    {0x0300, 0x036F},  // combining diacritical marks: a decomposed letter is still inside its word
    {0x1E00, 0x1EFF},  // Latin Extended Additional: the precomposed Vietnamese letters
};

std::uint32_t saturate_u32(std::size_t n) {
  return static_cast<std::uint32_t>(std::min<std::size_t>(n, std::numeric_limits<std::uint32_t>::max()));
}

}  // namespace

bool is_word_char(char32_t c) {
  return std::any_of(std::begin(WORD_CHAR_RANGES), std::end(WORD_CHAR_RANGES),
                     [c](const CharRange& r) { return r.first <= c && c <= r.last; });
}

std::uint32_t utf16_length(std::string_view text) {
  return saturate_u32(detail::count_units(text));
}

std::optional<std::string_view> char_suffix(std::string_view text, std::uint32_t n_chars) {
  const std::size_t total_chars = detail::count_chars(text);
  if (total_chars < n_chars) return std::nullopt;
  std::size_t at_bytes = 0;
  for (std::size_t skip_chars = total_chars - n_chars; skip_chars > 0; --skip_chars)
    at_bytes = detail::decode(text, at_bytes).end_bytes;
  return text.substr(at_bytes);
}

std::optional<std::string_view> utf16_prefix(std::string_view text, std::uint32_t n_units) {
  const std::optional<std::size_t> end_bytes = detail::boundary_at_units(text, n_units);
  if (!end_bytes) return std::nullopt;
  return text.substr(0, *end_bytes);
}

std::optional<std::string_view> utf16_suffix(std::string_view text, std::uint32_t n_units) {
  // Even n = 0 gives nothing here: an empty source is text nobody knows, not a known empty one.
  if (text.empty()) return std::nullopt;
  const std::size_t total_units = detail::count_units(text);
  if (total_units < n_units) return std::nullopt;
  const std::optional<std::size_t> start_bytes = detail::boundary_at_units(text, total_units - n_units);
  if (!start_bytes) return std::nullopt;
  return text.substr(*start_bytes);
}

std::optional<char32_t> next_codepoint(std::string_view text, std::uint32_t position_units) {
  const std::optional<std::size_t> at_bytes = detail::boundary_at_units(text, position_units);
  if (!at_bytes || *at_bytes == text.size()) return std::nullopt;
  return detail::decode(text, *at_bytes).value;
}

std::optional<ReplaceCheck> check_replace(std::string_view expected, std::uint32_t units,
                                          const SurroundingView& view) {
  const std::optional<std::string_view> tail = detail::replaceable_tail(expected, units, view);
  if (!tail) return std::nullopt;
  return ReplaceCheck{std::string(*tail), units, saturate_u32(detail::count_chars(*tail))};
}

}  // namespace lumaret::adapter
