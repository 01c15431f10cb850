#include "lumaret/core/utf8.h"

#include <unicode/utf8.h>

namespace lumaret::core {

std::string to_utf8(std::u32string_view chars) {
  std::string out;
  out.reserve(chars.size());
  for (char32_t c : chars) {
    char buf[U8_MAX_LENGTH];
    std::int32_t len = 0;
    UBool error = false;
    U8_APPEND(buf, len, U8_MAX_LENGTH, static_cast<UChar32>(c), error);
    if (!error) out.append(buf, static_cast<std::size_t>(len));
  }
  return out;
}

std::optional<std::u32string> to_chars(std::string_view utf8) {
  std::u32string chars;
  chars.reserve(utf8.size());
  for (std::size_t at = 0; at < utf8.size();) {
    UChar32 c;
    U8_NEXT(utf8.data(), at, utf8.size(), c);
    if (c < 0) return std::nullopt;
    chars.push_back(static_cast<char32_t>(c));
  }
  return chars;
}

bool is_utf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    UChar32 c;
    U8_NEXT(text.data(), at, text.size(), c);
    if (c < 0) return false;
  }
  return true;
}

std::uint32_t count_chars(std::string_view utf8) {
  std::uint32_t chars = 0;
  for (std::size_t at = 0; at < utf8.size(); ++chars)
    U8_FWD_1(utf8.data(), at, utf8.size());
  return chars;
}

}  // namespace lumaret::core
