#include "lumaret/core/diff.h"

#include <unicode/utf8.h>

#include "lumaret/core/utf8.h"

namespace lumaret::core {

TextDiff diff(std::string_view old_text, std::string_view new_text) {
  // Walk both texts a character at a time; characters match when their bytes do, so even
  // ill-formed bytes are compared exactly.
  std::size_t old_at = 0;
  std::size_t new_at = 0;
  std::uint32_t common_chars = 0;
  while (old_at < old_text.size() && new_at < new_text.size()) {
    std::size_t old_end = old_at;
    std::size_t new_end = new_at;
    U8_FWD_1(old_text.data(), old_end, old_text.size());
    U8_FWD_1(new_text.data(), new_end, new_text.size());
    if (old_text.substr(old_at, old_end - old_at) != new_text.substr(new_at, new_end - new_at)) break;
    old_at = old_end;
    new_at = new_end;
    ++common_chars;
  }
  return {count_chars(old_text) - common_chars, std::string(new_text.substr(new_at))};
}

}  // namespace lumaret::core
