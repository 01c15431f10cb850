// Keysyms and their text as the engine's keys.
#pragma once

#include <xkbcommon/xkbcommon.h>

#include <string_view>

#include "lumaret/engine/session.h"

namespace lumaret::wayland {

// Named keys by table; any other keysym by its text: one printable character is a Char, anything else
// (no text, several characters, a control character) is Other.
engine::Key key_of(xkb_keysym_t sym, std::string_view utf8);

}  // namespace lumaret::wayland
