// Readable failure messages: characters shown as UTF-8.
#pragma once

#include <unicode/unistr.h>

#include <string>
#include <string_view>

namespace lumaret::syllable {

inline std::string utf8(std::u32string_view text) {
  std::string out;
  icu::UnicodeString::fromUTF32(reinterpret_cast<const UChar32*>(text.data()),
                                static_cast<int32_t>(text.size()))
      .toUTF8String(out);
  return out;
}

inline std::string utf8(char32_t c) {
  return utf8(std::u32string_view(&c, 1));
}

}  // namespace lumaret::syllable
