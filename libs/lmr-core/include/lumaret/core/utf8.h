// Moving between UTF-8 text (bytes) and characters (Unicode scalar values).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lumaret::core {

// The characters as UTF-8; a value that is not a Unicode scalar value is left out.
std::string to_utf8(std::u32string_view chars);

// The characters of UTF-8 text, or nothing when the text is not well-formed.
std::optional<std::u32string> to_chars(std::string_view utf8);

// Whether the text is well-formed UTF-8 (no surrogates, no overlong forms).
bool is_utf8(std::string_view text);

// The number of characters in UTF-8 text; an ill-formed sequence counts as one.
std::uint32_t count_chars(std::string_view utf8);

}  // namespace lumaret::core
