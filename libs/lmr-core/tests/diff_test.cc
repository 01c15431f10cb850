#include "lumaret/core/diff.h"

#include <gtest/gtest.h>

namespace lumaret::core {
namespace {

TEST(Diff, KeepsTheCommonPrefixByCharacters) {
  const struct {
    const char* old_text;
    const char* new_text;
    std::uint32_t delete_chars;
    const char* insert;
  } cases[] = {
      {"viet", "việt", 2, "ệt"},
      {"việt", "việt", 0, ""},
      {"abc", "", 3, ""},
      {"", "abc", 0, "abc"},
      {"", "", 0, ""},
      {"viê", "viết", 1, "ết"},  // ê and ế share their first UTF-8 byte but are different characters
      {"thuong", "thuongf", 0, "f"},
      {"đường", "đ", 4, ""},
      {"a\xff"
       "b",
       "a\xfe"
       "b",
       2,
       "\xfe"
       "b"},  // ill-formed bytes are compared exactly
  };
  for (const auto& c : cases) {
    EXPECT_EQ(diff(c.old_text, c.new_text), (TextDiff{c.delete_chars, c.insert}))
        << '"' << c.old_text << "\" -> \"" << c.new_text << '"';
  }
}

}  // namespace
}  // namespace lumaret::core
