// lmr-e2e-inject: the keyboard of an end-to-end run. It adds one virtual keyboard to the seat and keeps it
// for the whole run, typing what the harness asks on standard input and answering each command once the
// compositor has taken the keys. One long-lived keyboard matters: every new keyboard makes the compositor
// resend keyboard focus, which would race the keys that follow.
//
// Commands, one per line:
//   type TEXT        each character as the key that produces it on a US layout, with Shift when needed
//                    (TEXT is escaped like the logs: \n is Return, \t is Tab)
//   key A+B+...      a chord of keys, each named by its keysym or by the character it types, e.g.
//                    BackSpace, Alt_L+comma, Alt_L+,
// Answers: "ok EVENTS SENT_NS" (key events sent, and the monotonic time the first one left) or
// "error MESSAGE".
//
// With --idle it only holds a keyboard on the seat, answers "ready" and waits for standard input to close.
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "io.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"

namespace lumaret::e2e {
namespace {

constexpr std::uint32_t KEYMAP_FORMAT_XKB_V1 = 1;
constexpr std::uint32_t KEY_PRESSED = 1;
constexpr std::uint32_t KEY_RELEASED = 0;
constexpr std::uint32_t EVDEV_OFFSET = 8;  // XKB key codes are evdev codes plus 8

struct Globals {
  wl_seat* seat = nullptr;
  zwp_virtual_keyboard_manager_v1* manager = nullptr;
};

void on_global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
               std::uint32_t version) {
  auto& g = *static_cast<Globals*>(data);
  if (std::strcmp(interface, wl_seat_interface.name) == 0 && g.seat == nullptr) {
    g.seat =
        static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, std::min(version, 1u)));
  } else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
    g.manager = static_cast<zwp_virtual_keyboard_manager_v1*>(
        wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
  }
}
void on_global_remove(void*, wl_registry*, std::uint32_t) {}
constexpr wl_registry_listener REGISTRY = {on_global, on_global_remove};

// Where a keysym sits on the keyboard: its evdev code and whether Shift selects it.
struct Position {
  std::uint32_t code;
  bool shift;
};

class Keyboard {
 public:
  Keyboard(wl_display* display, zwp_virtual_keyboard_v1* keyboard, xkb_keymap* keymap)
      : display_(display), keyboard_(keyboard), state_(xkb_state_new(keymap)) {
    // Level 0 wins over level 1 and lower codes over higher ones, so '1' is the main row's key rather
    // than the keypad's.
    for (xkb_keycode_t code = xkb_keymap_min_keycode(keymap); code <= xkb_keymap_max_keycode(keymap);
         ++code) {
      for (xkb_level_index_t level = 0; level < 2; ++level) {
        const xkb_keysym_t* syms = nullptr;
        const int n = xkb_keymap_key_get_syms_by_level(keymap, code, 0, level, &syms);
        if (n != 1) continue;
        const auto found = positions_.find(syms[0]);
        if (found == positions_.end() || (found->second.shift && level == 0)) {
          positions_[syms[0]] = {code - EVDEV_OFFSET, level == 1};
        }
      }
    }
    shift_ = positions_.at(XKB_KEY_Shift_L).code;
  }
  ~Keyboard() { xkb_state_unref(state_); }
  Keyboard(const Keyboard&) = delete;
  Keyboard& operator=(const Keyboard&) = delete;

  // Presses the keys in order and releases them in reverse, as fingers do.
  std::string chord(const std::vector<std::uint32_t>& codes) {
    for (const std::uint32_t code : codes)
      send(code, KEY_PRESSED);
    for (auto it = codes.rbegin(); it != codes.rend(); ++it)
      send(*it, KEY_RELEASED);
    return finish();
  }

  std::string type(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
      std::uint32_t c = 0;
      const int n = decode(text.substr(at), c);
      if (n <= 0) return "error invalid UTF-8";
      at += static_cast<std::size_t>(n);
      const xkb_keysym_t sym = c == '\n' ? XKB_KEY_Return : c == '\t' ? XKB_KEY_Tab : xkb_utf32_to_keysym(c);
      const auto found = positions_.find(sym);
      if (found == positions_.end()) return "error no key types U+" + hex(c);
      if (found->second.shift) send(shift_, KEY_PRESSED);
      send(found->second.code, KEY_PRESSED);
      send(found->second.code, KEY_RELEASED);
      if (found->second.shift) send(shift_, KEY_RELEASED);
    }
    return finish();
  }

  // A key named by its keysym ("BackSpace", "Alt_L", "comma") or by the one character it types (",").
  std::optional<std::uint32_t> code_of(std::string_view name) const {
    std::uint32_t c = 0;
    const bool one_char = !name.empty() && decode(name, c) == static_cast<int>(name.size());
    const xkb_keysym_t sym = one_char ? xkb_utf32_to_keysym(c)
                                      : xkb_keysym_from_name(std::string(name).c_str(), XKB_KEYSYM_NO_FLAGS);
    const auto found = positions_.find(sym);
    if (sym == XKB_KEY_NoSymbol || found == positions_.end()) return std::nullopt;
    return found->second.code;
  }

 private:
  static int decode(std::string_view s, std::uint32_t& c) {
    const auto b = static_cast<unsigned char>(s[0]);
    const int n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (n == 0 || s.size() < static_cast<std::size_t>(n)) return 0;
    c = n == 1 ? b : b & (0x7f >> n);
    for (int i = 1; i < n; ++i)
      c = (c << 6) | (static_cast<unsigned char>(s[i]) & 0x3f);
    return n;
  }
  static std::string hex(std::uint32_t c) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%04X", c);
    return buffer;
  }

  void send(std::uint32_t code, std::uint32_t state) {
    const std::int64_t now = monotonic_ns();
    zwp_virtual_keyboard_v1_key(keyboard_, static_cast<std::uint32_t>(now / 1'000'000), code, state);
    // The compositor takes a virtual keyboard's modifiers only from modifier requests, so the keyboard
    // works them out from its own keys, as a physical keyboard's driver does.
    xkb_state_update_key(state_, code + EVDEV_OFFSET, state == KEY_PRESSED ? XKB_KEY_DOWN : XKB_KEY_UP);
    const Modifiers now_mods{xkb_state_serialize_mods(state_, XKB_STATE_MODS_DEPRESSED),
                             xkb_state_serialize_mods(state_, XKB_STATE_MODS_LATCHED),
                             xkb_state_serialize_mods(state_, XKB_STATE_MODS_LOCKED),
                             xkb_state_serialize_layout(state_, XKB_STATE_LAYOUT_EFFECTIVE)};
    if (now_mods != mods_) {
      mods_ = now_mods;
      zwp_virtual_keyboard_v1_modifiers(keyboard_, mods_.depressed, mods_.latched, mods_.locked, mods_.group);
    }
    if (events_ == 0) {
      // The first key leaves at once: its time is what a latency is measured from.
      first_sent_ns_ = now;
      wl_display_flush(display_);
    }
    ++events_;
  }

  // The round trip returns once the compositor has handled every key: the answer means they are in.
  std::string finish() {
    if (wl_display_roundtrip(display_) < 0) return "error connection lost";
    const std::string answer = "ok " + std::to_string(events_) + " " + std::to_string(first_sent_ns_);
    events_ = 0;
    return answer;
  }

  struct Modifiers {
    std::uint32_t depressed = 0, latched = 0, locked = 0, group = 0;
    bool operator==(const Modifiers&) const = default;
  };

  wl_display* display_;
  zwp_virtual_keyboard_v1* keyboard_;
  xkb_state* state_;
  Modifiers mods_;
  std::map<xkb_keysym_t, Position> positions_;
  std::uint32_t shift_ = 0;
  std::uint32_t events_ = 0;
  std::int64_t first_sent_ns_ = 0;
};

std::string run_command(Keyboard& keyboard, std::string_view line) {
  if (line.starts_with("type ")) return keyboard.type(unescape(line.substr(5)));
  if (line.starts_with("key ")) {
    std::vector<std::uint32_t> codes;
    std::string_view names = line.substr(4);
    while (!names.empty()) {
      const std::size_t plus = names.find('+', 1);  // "plus" itself is a keysym name, never a separator
      const std::string_view name = names.substr(0, plus);
      const auto code = keyboard.code_of(name);
      if (!code) return "error unknown key " + std::string(name);
      codes.push_back(*code);
      names = plus == std::string_view::npos ? std::string_view() : names.substr(plus + 1);
    }
    if (codes.empty()) return "error no keys";
    return keyboard.chord(codes);
  }
  return "error unknown command: " + std::string(line);
}

int fail(const char* message) {
  std::fprintf(stderr, "lmr-e2e-inject: %s\n", message);
  return 1;
}

int run(bool idle) {
  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr) return fail("cannot connect to the compositor");
  Globals globals;
  wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &REGISTRY, &globals);
  if (wl_display_roundtrip(display) < 0) return fail("registry round trip failed");
  if (globals.seat == nullptr || globals.manager == nullptr)
    return fail("no seat or virtual keyboard manager");

  xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  const xkb_rule_names names{"evdev", "pc105", "us", "", ""};
  xkb_keymap* keymap =
      context ? xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS) : nullptr;
  if (keymap == nullptr) return fail("cannot compile the US keymap (is xkb-data installed?)");
  char* text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
  const std::size_t size = std::strlen(text) + 1;  // the protocol counts the terminating NUL
  const int fd = memfd_create("lmr-e2e-keymap", MFD_CLOEXEC);
  if (fd < 0 || write(fd, text, size) != static_cast<ssize_t>(size)) return fail("cannot pass the keymap");
  std::free(text);

  zwp_virtual_keyboard_v1* keyboard =
      zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(globals.manager, globals.seat);
  zwp_virtual_keyboard_v1_keymap(keyboard, KEYMAP_FORMAT_XKB_V1, fd, static_cast<std::uint32_t>(size));
  if (wl_display_roundtrip(display) < 0) return fail("the compositor refused the keyboard");
  close(fd);
  Keyboard keys(display, keyboard, keymap);
  emit("ready");

  fcntl(STDIN_FILENO, F_SETFL, fcntl(STDIN_FILENO, F_GETFL) | O_NONBLOCK);
  LineReader input(STDIN_FILENO);
  const int wayland_fd = wl_display_get_fd(display);
  while (true) {
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {wayland_fd, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return fail("poll failed");
    }
    // The compositor sends this client nothing it must act on, but a closed connection ends the run.
    if (fds[1].revents & (POLLHUP | POLLERR)) return fail("the compositor closed the connection");
    if (fds[1].revents & POLLIN && wl_display_dispatch(display) < 0)
      return fail("the compositor closed the connection");
    if (!(fds[0].revents & (POLLIN | POLLHUP))) continue;
    const bool open = input.fill();
    while (const auto line = input.next()) {
      if (idle) continue;
      emit(run_command(keys, *line));
    }
    if (!open) break;
  }
  xkb_keymap_unref(keymap);
  xkb_context_unref(context);
  wl_display_disconnect(display);
  return 0;
}

}  // namespace
}  // namespace lumaret::e2e

int main(int argc, char** argv) {
  const bool idle = argc == 2 && std::string_view(argv[1]) == "--idle";
  if (argc > 1 && !idle) {
    std::fprintf(stderr, "usage: lmr-e2e-inject [--idle]\n");
    return 2;
  }
  return lumaret::e2e::run(idle);
}
