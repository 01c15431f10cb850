// The difference between the text shown before and the text to show now.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lumaret::core {

struct TextDiff {
  std::uint32_t delete_chars = 0;  // characters to delete before the cursor
  std::string insert;              // UTF-8 text to insert after deleting

  friend bool operator==(const TextDiff&, const TextDiff&) = default;
};

// Keeps the longest common prefix of the two UTF-8 texts, by characters.
TextDiff diff(std::string_view old_text, std::string_view new_text);

}  // namespace lumaret::core
