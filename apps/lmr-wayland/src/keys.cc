// Keysyms and their text as the engine's keys.
#include "keys.h"

#include <unicode/utf8.h>
#include <xkbcommon/xkbcommon-keysyms.h>

namespace lumaret::wayland {
namespace {

using engine::Key;
using engine::KeyKind;

struct NamedSym {
  xkb_keysym_t sym;
  KeyKind kind;
};

constexpr NamedSym NAMED_SYMS[] = {
    {XKB_KEY_BackSpace, KeyKind::Backspace},
    {XKB_KEY_Tab, KeyKind::Tab},
    {XKB_KEY_Return, KeyKind::Enter},
    {XKB_KEY_KP_Enter, KeyKind::Enter},
    {XKB_KEY_Escape, KeyKind::Escape},
    {XKB_KEY_Home, KeyKind::Home},
    {XKB_KEY_Left, KeyKind::Left},
    {XKB_KEY_Up, KeyKind::Up},
    {XKB_KEY_Right, KeyKind::Right},
    {XKB_KEY_Down, KeyKind::Down},
    {XKB_KEY_Prior, KeyKind::PageUp},
    {XKB_KEY_Next, KeyKind::PageDown},
    {XKB_KEY_End, KeyKind::End},
    {XKB_KEY_Delete, KeyKind::Delete},
};

// Shift, Control, Caps Lock, Meta, Alt and Super; Shift Lock (between them) is not one of them.
bool is_modifier(xkb_keysym_t sym) {
  return (sym >= XKB_KEY_Shift_L && sym <= XKB_KEY_Caps_Lock) ||
         (sym >= XKB_KEY_Meta_L && sym <= XKB_KEY_Super_R);
}

}  // namespace

Key key_of(xkb_keysym_t sym, std::string_view utf8) {
  for (const NamedSym& n : NAMED_SYMS) {
    if (n.sym == sym) return {n.kind, 0};
  }
  if (is_modifier(sym)) return {KeyKind::Modifier, 0};
  std::int32_t at = 0;
  UChar32 c = -1;
  if (!utf8.empty()) U8_NEXT(utf8.data(), at, static_cast<std::int32_t>(utf8.size()), c);
  if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || static_cast<std::size_t>(at) != utf8.size()) {
    return {KeyKind::Other, 0};
  }
  return Key::character(static_cast<char32_t>(c));
}

}  // namespace lumaret::wayland
