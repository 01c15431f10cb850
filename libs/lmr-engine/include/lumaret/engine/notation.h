// Keys written as text, for the dry-run tool, bug reports and tests: printable characters stand for
// themselves; named keys are <BS>, <Enter>, <Esc>, <Tab>, <Left>, <Right>, <Up>, <Down>, <Home>, <End>,
// <Del>, <PgUp>, <PgDn>, <Shift> (a modifier pressed alone); <C-x>, <A-x>, <M-x> hold Control, Alt or
// Super with x (a character or a key name without brackets, e.g. <C-Left>); <lt> is a literal "<".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "lumaret/engine/session.h"

namespace lumaret::engine {

struct NotationError {
  std::size_t column = 0;  // 1-based, in characters
  std::string message;
};

// One key written at the start of `text`, and how many bytes it took.
struct ParsedKey {
  KeyInput input;
  std::size_t bytes = 0;
};

// The key at the start of non-empty `text`; a malformed `<...>` is an error at column 1.
std::variant<ParsedKey, NotationError> parse_key(std::string_view text);

// All keys of `text`.
std::variant<std::vector<KeyInput>, NotationError> parse_keys(std::string_view text);

// The notation of one key, such that parse_key gives it back.
std::string to_notation(const KeyInput& input);

}  // namespace lumaret::engine
