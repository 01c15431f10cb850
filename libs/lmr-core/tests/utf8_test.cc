#include "lumaret/core/utf8.h"

#include <gtest/gtest.h>

namespace lumaret::core {
namespace {

TEST(Utf8, CharactersAndBytesConvertBothWays) {
  const struct {
    std::u32string_view chars;
    const char* utf8;
  } cases[] = {
      {U"", ""},
      {U"viet", "viet"},
      {U"việt", "việt"},
      {U"đường", "đường"},
      {U"a\U0001F600", "a\xF0\x9F\x98\x80"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(to_utf8(c.chars), c.utf8);
    EXPECT_EQ(to_chars(c.utf8), std::u32string(c.chars)) << c.utf8;
    EXPECT_EQ(count_chars(c.utf8), c.chars.size()) << c.utf8;
    EXPECT_TRUE(is_utf8(c.utf8)) << c.utf8;
  }
}

TEST(Utf8, IllFormedTextIsNotSilentlyAccepted) {
  EXPECT_EQ(to_chars("a\xff"), std::nullopt);
  EXPECT_EQ(to_chars("\xe1\xbb"), std::nullopt);      // cut in the middle of ệ
  EXPECT_EQ(to_chars("\xed\xa0\x80"), std::nullopt);  // a surrogate
  EXPECT_EQ(count_chars("a\xff"
                        "b"),
            3u);
  EXPECT_EQ(to_utf8(std::u32string{U'a', char32_t{0xD800}, U'b'}), "ab");  // not a scalar value
  for (const char* text : {"a\xff", "\xe1\xbb", "\xed\xa0\x80", "\xc0\xaf", "\xf4\x90\x80\x80"}) {
    EXPECT_FALSE(is_utf8(text)) << text;  // stray byte, cut, surrogate, overlong, beyond U+10FFFF
  }
}

}  // namespace
}  // namespace lumaret::core
