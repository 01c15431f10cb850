// Keys written as text.
#include "lumaret/engine/notation.h"

#include <gtest/gtest.h>

namespace lumaret::engine {
namespace {

std::string round(std::string_view text) {
  auto parsed = parse_keys(text);
  if (const auto* error = std::get_if<NotationError>(&parsed))
    return "error at " + std::to_string(error->column);
  std::string written;
  for (const KeyInput& k : std::get<std::vector<KeyInput>>(parsed))
    written += "[" + to_notation(k) + "]";
  return written;
}

TEST(Notation, ReadsKeys) {
  const struct {
    const char* text;
    const char* keys;
  } cases[] = {
      {"ab", "[a][b]"},
      {"việt", "[v][i][ệ][t]"},
      {"<BS><Enter><Esc><Tab>", "[<BS>][<Enter>][<Esc>][<Tab>]"},
      {"<Left><Right><Up><Down><Home><End><Del>", "[<Left>][<Right>][<Up>][<Down>][<Home>][<End>][<Del>]"},
      {"<A-,>", "[<A-,>]"},
      {"<C-a><M-x><C-A-Del>", "[<C-a>][<M-x>][<C-A-Del>]"},
      {"<lt>a", "[<lt>][a]"},
      {"<C->>", "[<C->>]"},
      {"<Shift>", "[<Shift>]"},
      {"a>b", "[a][>][b]"},
      {"ab<Bogus>", "error at 3"},
      {"việt<", "error at 5"},
      {"<a>", "error at 1"},
      {"<>", "error at 1"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(round(c.text), c.keys) << c.text;
}

TEST(Notation, KeysAreWhatTheSessionSees) {
  auto parsed = parse_keys("<A-,>");
  const auto& keys = std::get<std::vector<KeyInput>>(parsed);
  ASSERT_EQ(keys.size(), 1u);
  EXPECT_TRUE(keys[0].alt);
  EXPECT_EQ(keys[0].key, Key::character(U','));
  EXPECT_EQ(to_string(keys[0].key), "Char(',')");
  EXPECT_EQ(to_string(Key{KeyKind::PageDown, 0}), "PageDown");
}

}  // namespace
}  // namespace lumaret::engine
