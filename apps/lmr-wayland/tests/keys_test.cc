// Keysyms and their text as engine keys.
#include "keys.h"

#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon-keysyms.h>

namespace lumaret::wayland {
namespace {

using engine::Key;
using engine::KeyKind;

TEST(Keys, KeysymsBecomeEngineKeys) {
  const struct {
    xkb_keysym_t sym;
    const char* text;
    Key key;
  } cases[] = {
      {XKB_KEY_BackSpace, "\b", {KeyKind::Backspace, 0}},
      {XKB_KEY_Return, "\r", {KeyKind::Enter, 0}},
      {XKB_KEY_KP_Enter, "\r", {KeyKind::Enter, 0}},
      {XKB_KEY_Escape, "\x1b", {KeyKind::Escape, 0}},
      {XKB_KEY_Prior, "", {KeyKind::PageUp, 0}},
      {XKB_KEY_Next, "", {KeyKind::PageDown, 0}},
      {XKB_KEY_Delete, "\x7f", {KeyKind::Delete, 0}},
      {XKB_KEY_Shift_L, "", {KeyKind::Modifier, 0}},
      {XKB_KEY_Caps_Lock, "", {KeyKind::Modifier, 0}},
      {XKB_KEY_Super_R, "", {KeyKind::Modifier, 0}},
      {XKB_KEY_Shift_Lock, "", {KeyKind::Other, 0}},  // not counted among the modifiers
      {XKB_KEY_a, "a", Key::character(U'a')},
      {XKB_KEY_A, "A", Key::character(U'A')},
      {XKB_KEY_comma, ",", Key::character(U',')},
      {XKB_KEY_a, "\x01", {KeyKind::Other, 0}},  // Control+a gives a control character
      {XKB_KEY_F1, "", {KeyKind::Other, 0}},
      {0x1001ec7, "ệ", Key::character(U'ệ')},
      {XKB_KEY_a, "ab", {KeyKind::Other, 0}},        // several characters
      {XKB_KEY_a, "\xc2\x85", {KeyKind::Other, 0}},  // a C1 control
  };
  for (const auto& c : cases)
    EXPECT_EQ(key_of(c.sym, c.text), c.key) << std::hex << c.sym << " " << c.text;
}

}  // namespace
}  // namespace lumaret::wayland
