// Walking UTF-8 text character by character, shared by the surrounding-text functions and the planner.
//
// Every walk starts at the beginning of the text and goes forwards. Ill-formed UTF-8 can split differently
// when read backwards, so a single direction keeps every function agreeing on where characters begin.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "lumaret/adapter/surrounding.h"

namespace lumaret::adapter::detail {

struct Decoded {
  char32_t value = 0;         // U+FFFD for an ill-formed sequence
  std::size_t end_bytes = 0;  // where the next character begins
};

// The character that begins at `at_bytes`, which must lie inside the text.
Decoded decode(std::string_view text, std::size_t at_bytes);

constexpr std::uint32_t utf16_units(char32_t c) {
  return c >= 0x10000 ? 2 : 1;
}

std::size_t count_chars(std::string_view text);
std::size_t count_units(std::string_view text);

// The byte offset of the boundary with exactly `units` UTF-16 units before it, if there is one.
std::optional<std::size_t> boundary_at_units(std::string_view text, std::size_t units);

// check_replace without the copy: the slice of the view's text that may be deleted.
std::optional<std::string_view> replaceable_tail(std::string_view expected, std::uint32_t units,
                                                 const SurroundingView& view);

}  // namespace lumaret::adapter::detail
