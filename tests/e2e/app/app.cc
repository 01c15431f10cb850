// lmr-e2e-app: the text field the end-to-end tests type into. One window with a plain buffer (the
// compositor gives no focus to a window without one) and a text-input-v3 object made before the window
// gets focus. It applies what the input method sends on each `done` as the protocol orders it, turns the
// keys that reach it into text, and reports its text around the cursor after every change.
//
// Standard output is its log, one record per line, fields separated by tabs (texts escaped):
//   state SEQ TIME_NS SOURCE CURSOR_CHARS PREEDIT TEXT   after each change, once the compositor has
//                                                        taken the report that followed it
//   mapped                                               the window is up and can take the focus
//   enabled | enter | leave | keyboard on | keyboard off  focus and seat events
//   warn MESSAGE                                         the input method asked for something impossible
//   ok COMMAND                                           a command from standard input is done
// TIME_NS is the monotonic time the event that caused the change arrived; SOURCE is im, key or click.
//
// `--app-id ID` names the application to the compositor (lmr-e2e-app by default), so a run can hold
// two of them that per-application settings tell apart.
//
// Commands on standard input (each answered once everything it caused has reached the compositor):
//   sync              nothing; answered when every report sent so far has been taken
//   content PURPOSE   the field becomes normal, url, password, email, digits or terminal
//   click N           the cursor moves before character N, as a mouse click puts it there
//   window open       opens a second window, which takes the focus
//   window close      closes it again
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "io.h"
#include "text-input-unstable-v3-client-protocol.h"
#include "xdg-shell-client-protocol.h"

namespace lumaret::e2e {
namespace {

constexpr int WIDTH = 320;
constexpr int HEIGHT = 120;
// The protocol caps a message near 4 KiB; a longer text is reported as a window around the cursor.
constexpr std::size_t SURROUNDING_MAX_BYTES = 2000;
constexpr std::uint32_t HINT_HIDDEN_TEXT = 0x40;
constexpr std::uint32_t HINT_SENSITIVE_DATA = 0x80;

struct ContentType {
  std::uint32_t hint;
  std::uint32_t purpose;
};

const std::map<std::string, ContentType, std::less<>> CONTENT_TYPES = {
    {"normal", {0, ZWP_TEXT_INPUT_V3_CONTENT_PURPOSE_NORMAL}},
    {"url", {0, ZWP_TEXT_INPUT_V3_CONTENT_PURPOSE_URL}},
    {"password", {HINT_HIDDEN_TEXT | HINT_SENSITIVE_DATA, ZWP_TEXT_INPUT_V3_CONTENT_PURPOSE_PASSWORD}},
    {"email", {0, ZWP_TEXT_INPUT_V3_CONTENT_PURPOSE_EMAIL}},
    {"digits", {0, ZWP_TEXT_INPUT_V3_CONTENT_PURPOSE_DIGITS}},
    {"terminal", {0, ZWP_TEXT_INPUT_V3_CONTENT_PURPOSE_TERMINAL}},
};

bool is_trail(char c) {
  return (static_cast<unsigned char>(c) & 0xc0) == 0x80;
}
bool is_boundary(std::string_view text, std::size_t at) {
  return at <= text.size() && (at == text.size() || !is_trail(text[at]));
}
std::size_t chars_in(std::string_view text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return !is_trail(c); }));
}
std::size_t byte_of_char(std::string_view text, std::size_t chars) {
  std::size_t at = 0;
  for (; at < text.size(); ++at) {
    if (!is_trail(text[at]) && chars-- == 0) return at;
  }
  return at;
}
std::size_t previous_boundary(std::string_view text, std::size_t at) {
  if (at == 0) return 0;
  do {
    --at;
  } while (at > 0 && is_trail(text[at]));
  return at;
}
std::size_t next_boundary(std::string_view text, std::size_t at) {
  if (at >= text.size()) return text.size();
  do {
    ++at;
  } while (at < text.size() && is_trail(text[at]));
  return at;
}

struct Window {
  wl_surface* surface = nullptr;
  xdg_surface* xdg = nullptr;
  xdg_toplevel* toplevel = nullptr;
  wl_buffer* buffer = nullptr;
  bool mapped = false;
};

// The input method's double-buffered requests, applied on done.
struct Pending {
  std::string preedit;
  std::int32_t preedit_cursor = -1;
  std::string commit;
  std::uint32_t delete_before = 0;
  std::uint32_t delete_after = 0;
};

// A sync the compositor answers after everything the application sent before it.
struct SyncWait {
  struct App* app;
  wl_callback* callback;
  std::string line;      // written when answered
  bool barrier = false;  // sent again while reports went out after it
  std::uint64_t reports_at = 0;
};

struct App {
  wl_display* display = nullptr;
  wl_compositor* compositor = nullptr;
  wl_shm* shm = nullptr;
  xdg_wm_base* wm = nullptr;
  wl_seat* seat = nullptr;
  zwp_text_input_manager_v3* text_input_manager = nullptr;
  zwp_text_input_v3* text_input = nullptr;
  wl_keyboard* keyboard = nullptr;
  wl_surface* key_focus = nullptr;
  xkb_context* xkb = nullptr;
  xkb_keymap* keymap = nullptr;
  xkb_state* key_state = nullptr;
  Window main;
  Window second;

  std::string text;
  std::size_t cursor = 0;  // bytes
  std::string preedit;
  Pending pending;
  ContentType content = CONTENT_TYPES.at("normal");
  bool enabled = false;
  std::uint64_t seq = 0;
  std::uint64_t reports = 0;  // requests sent to the compositor that a barrier must see taken
  std::optional<std::string> pending_window_answer;
  std::string app_id = "lmr-e2e-app";
};

// --- Syncs -------------------------------------------------------------------------------------------

void send_sync(App& app, std::unique_ptr<SyncWait> wait);

void on_sync_done(void* data, wl_callback* callback, std::uint32_t) {
  std::unique_ptr<SyncWait> wait(static_cast<SyncWait*>(data));
  wl_callback_destroy(callback);
  App& app = *wait->app;
  if (wait->barrier && wait->reports_at != app.reports) {
    send_sync(app, std::move(wait));
    return;
  }
  emit(wait->line);
}
constexpr wl_callback_listener SYNC_LISTENER = {on_sync_done};

void send_sync(App& app, std::unique_ptr<SyncWait> wait) {
  wait->app = &app;
  wait->reports_at = app.reports;
  wait->callback = wl_display_sync(app.display);
  wl_callback_add_listener(wait->callback, &SYNC_LISTENER, wait.get());
  wait.release();
}

// Answers `line` once the compositor has taken every report sent until then, so the input method has
// them before any key the harness sends next.
void barrier(App& app, std::string line) {
  auto wait = std::make_unique<SyncWait>();
  wait->line = std::move(line);
  wait->barrier = true;
  send_sync(app, std::move(wait));
}

// --- The text field ----------------------------------------------------------------------------------

void send_state(App& app, std::uint32_t cause) {
  if (!app.enabled) return;
  std::size_t from = 0;
  std::size_t to = app.text.size();
  if (to > SURROUNDING_MAX_BYTES) {
    from = app.cursor > SURROUNDING_MAX_BYTES / 2 ? app.cursor - SURROUNDING_MAX_BYTES / 2 : 0;
    while (!is_boundary(app.text, from))
      ++from;
    to = std::min(app.text.size(), app.cursor + SURROUNDING_MAX_BYTES / 2);
    while (!is_boundary(app.text, to))
      --to;
  }
  const std::string window = app.text.substr(from, to - from);
  const auto cursor = static_cast<std::int32_t>(app.cursor - from);
  zwp_text_input_v3_set_surrounding_text(app.text_input, window.c_str(), cursor, cursor);
  zwp_text_input_v3_set_text_change_cause(app.text_input, cause);
  zwp_text_input_v3_commit(app.text_input);
  ++app.reports;
}

// Reports the change to the input method and logs it once the compositor has the report.
void changed(App& app, std::int64_t at_ns, const char* source, std::uint32_t cause) {
  send_state(app, cause);
  auto wait = std::make_unique<SyncWait>();
  wait->line = "state\t" + std::to_string(++app.seq) + "\t" + std::to_string(at_ns) + "\t" + source + "\t" +
               std::to_string(chars_in(std::string_view(app.text).substr(0, app.cursor))) + "\t" +
               escape(app.preedit) + "\t" + escape(app.text);
  send_sync(app, std::move(wait));
}

void insert(App& app, std::string_view s) {
  app.text.insert(app.cursor, s);
  app.cursor += s.size();
}

void enable(App& app) {
  app.enabled = true;
  zwp_text_input_v3_enable(app.text_input);
  zwp_text_input_v3_set_content_type(app.text_input, app.content.hint, app.content.purpose);
  zwp_text_input_v3_set_cursor_rectangle(app.text_input, 0, 0, 1, 20);
  send_state(app, ZWP_TEXT_INPUT_V3_CHANGE_CAUSE_OTHER);  // also commits
  barrier(app, "enabled");
}

// --- Text input events -------------------------------------------------------------------------------

void on_enter(void* data, zwp_text_input_v3*, wl_surface* surface) {
  App& app = *static_cast<App*>(data);
  if (surface != app.main.surface) return;  // the second window has no text field
  emit("enter");
  enable(app);
}

void on_leave(void* data, zwp_text_input_v3*, wl_surface* surface) {
  App& app = *static_cast<App*>(data);
  if (surface != app.main.surface) return;
  emit("leave");
  app.enabled = false;
  app.pending = {};
  zwp_text_input_v3_disable(app.text_input);
  zwp_text_input_v3_commit(app.text_input);
  ++app.reports;
  if (!app.preedit.empty()) {
    app.preedit.clear();
    changed(app, monotonic_ns(), "im", ZWP_TEXT_INPUT_V3_CHANGE_CAUSE_OTHER);
  }
}

void on_preedit_string(void* data, zwp_text_input_v3*, const char* text, std::int32_t begin, std::int32_t) {
  App& app = *static_cast<App*>(data);
  app.pending.preedit = text ? text : "";
  app.pending.preedit_cursor = begin;
}

void on_commit_string(void* data, zwp_text_input_v3*, const char* text) {
  static_cast<App*>(data)->pending.commit = text ? text : "";
}

void on_delete_surrounding_text(void* data, zwp_text_input_v3*, std::uint32_t before, std::uint32_t after) {
  App& app = *static_cast<App*>(data);
  app.pending.delete_before = before;
  app.pending.delete_after = after;
}

void on_done(void* data, zwp_text_input_v3*, std::uint32_t) {
  App& app = *static_cast<App*>(data);
  const std::int64_t now = monotonic_ns();
  Pending p = std::exchange(app.pending, {});
  // 1. The pre-edit is kept apart from the text, so replacing it by the cursor changes nothing here.
  // 2. Delete around the cursor; an input method that cuts a character or reaches past the text is wrong.
  if (p.delete_before > 0 || p.delete_after > 0) {
    std::size_t from = app.cursor >= p.delete_before ? app.cursor - p.delete_before : 0;
    std::size_t to = std::min(app.text.size(), app.cursor + p.delete_after);
    if (app.cursor < p.delete_before || app.cursor + p.delete_after > app.text.size() ||
        !is_boundary(app.text, from) || !is_boundary(app.text, to)) {
      emit("warn\tdelete_surrounding_text " + std::to_string(p.delete_before) + "," +
           std::to_string(p.delete_after) + " does not fit the text around the cursor: " + escape(app.text));
      while (!is_boundary(app.text, from))
        ++from;
      while (!is_boundary(app.text, to))
        --to;
    }
    app.text.erase(from, to - from);
    app.cursor = from;
  }
  // 3. Insert the committed text, the cursor after it.
  insert(app, p.commit);
  // 5 and 6. The new pre-edit stands at the cursor.
  app.preedit = p.preedit;
  changed(app, now, "im", ZWP_TEXT_INPUT_V3_CHANGE_CAUSE_INPUT_METHOD);
}

constexpr zwp_text_input_v3_listener TEXT_INPUT_LISTENER = {
    on_enter, on_leave, on_preedit_string, on_commit_string, on_delete_surrounding_text, on_done};

// --- Keyboard: the keys the input method passes on ---------------------------------------------------

void on_keymap(void* data, wl_keyboard*, std::uint32_t format, std::int32_t fd, std::uint32_t size) {
  App& app = *static_cast<App*>(data);
  if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0) {
    void* mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (mapped != MAP_FAILED) {
      xkb_keymap* keymap = xkb_keymap_new_from_buffer(app.xkb, static_cast<const char*>(mapped), size - 1,
                                                      XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
      munmap(mapped, size);
      if (keymap) {
        if (app.key_state) xkb_state_unref(app.key_state);
        if (app.keymap) xkb_keymap_unref(app.keymap);
        app.keymap = keymap;
        app.key_state = xkb_state_new(keymap);
      }
    }
  }
  close(fd);
}

void on_keyboard_enter(void* data, wl_keyboard*, std::uint32_t, wl_surface* surface, wl_array*) {
  static_cast<App*>(data)->key_focus = surface;
}
void on_keyboard_leave(void* data, wl_keyboard*, std::uint32_t, wl_surface*) {
  static_cast<App*>(data)->key_focus = nullptr;
}

void on_key(void* data, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t code, std::uint32_t state) {
  App& app = *static_cast<App*>(data);
  // Keys typed into the second window do not belong to the field.
  if (state != WL_KEYBOARD_KEY_STATE_PRESSED || app.key_state == nullptr ||
      app.key_focus != app.main.surface) {
    return;
  }
  const std::int64_t now = monotonic_ns();
  const xkb_keycode_t key = code + 8;
  const xkb_keysym_t sym = xkb_state_key_get_one_sym(app.key_state, key);
  const std::string before = app.text;
  const std::size_t cursor_before = app.cursor;
  switch (sym) {
    case XKB_KEY_BackSpace: {
      const std::size_t from = previous_boundary(app.text, app.cursor);
      app.text.erase(from, app.cursor - from);
      app.cursor = from;
      break;
    }
    case XKB_KEY_Delete:
      app.text.erase(app.cursor, next_boundary(app.text, app.cursor) - app.cursor);
      break;
    case XKB_KEY_Return:
    case XKB_KEY_KP_Enter:
      insert(app, "\n");
      break;
    case XKB_KEY_Left:
      app.cursor = previous_boundary(app.text, app.cursor);
      break;
    case XKB_KEY_Right:
      app.cursor = next_boundary(app.text, app.cursor);
      break;
    case XKB_KEY_Home:
      app.cursor = 0;
      break;
    case XKB_KEY_End:
      app.cursor = app.text.size();
      break;
    default: {
      // A key held with Control, Alt or Super is a shortcut, not text.
      const auto held = [&](const char* name) {
        return xkb_state_mod_name_is_active(app.key_state, name, XKB_STATE_MODS_EFFECTIVE) > 0;
      };
      if (held(XKB_MOD_NAME_CTRL) || held(XKB_MOD_NAME_ALT) || held(XKB_MOD_NAME_LOGO)) break;
      char utf8[16];
      const int n = xkb_state_key_get_utf8(app.key_state, key, utf8, sizeof utf8);
      const bool printable = n > 0 && static_cast<std::size_t>(n) < sizeof utf8 &&
                             (static_cast<unsigned char>(utf8[0]) >= 0x20 || utf8[0] == '\t') &&
                             utf8[0] != 0x7f;
      if (printable) insert(app, std::string_view(utf8, static_cast<std::size_t>(n)));
    }
  }
  if (app.text != before || app.cursor != cursor_before) {
    changed(app, now, "key", ZWP_TEXT_INPUT_V3_CHANGE_CAUSE_OTHER);
  }
}

void on_modifiers(void* data, wl_keyboard*, std::uint32_t, std::uint32_t depressed, std::uint32_t latched,
                  std::uint32_t locked, std::uint32_t group) {
  App& app = *static_cast<App*>(data);
  if (app.key_state) xkb_state_update_mask(app.key_state, depressed, latched, locked, 0, 0, group);
}

// The application makes no repeats: a key is as many presses as the harness sends.
void on_repeat_info(void*, wl_keyboard*, std::int32_t, std::int32_t) {}

constexpr wl_keyboard_listener KEYBOARD_LISTENER = {on_keymap, on_keyboard_enter, on_keyboard_leave,
                                                    on_key,    on_modifiers,      on_repeat_info};

// The seat has no keyboard until a virtual keyboard joins it, and may lose it again.
void on_capabilities(void* data, wl_seat* seat, std::uint32_t caps) {
  App& app = *static_cast<App*>(data);
  const bool has = caps & WL_SEAT_CAPABILITY_KEYBOARD;
  if (has && app.keyboard == nullptr) {
    app.keyboard = wl_seat_get_keyboard(seat);
    wl_keyboard_add_listener(app.keyboard, &KEYBOARD_LISTENER, &app);
    emit("keyboard on");
  } else if (!has && app.keyboard != nullptr) {
    wl_keyboard_release(app.keyboard);
    app.keyboard = nullptr;
    emit("keyboard off");
  }
}
void on_seat_name(void*, wl_seat*, const char*) {}
constexpr wl_seat_listener SEAT_LISTENER = {on_capabilities, on_seat_name};

// --- Windows ----------------------------------------------------------------------------------------

void on_ping(void*, xdg_wm_base* wm, std::uint32_t serial) {
  xdg_wm_base_pong(wm, serial);
}
constexpr xdg_wm_base_listener WM_LISTENER = {on_ping};

struct WindowOwner {
  App* app;
  Window* window;
};

void on_xdg_configure(void* data, xdg_surface* surface, std::uint32_t serial) {
  auto& owner = *static_cast<WindowOwner*>(data);
  xdg_surface_ack_configure(surface, serial);
  Window& w = *owner.window;
  if (w.mapped) return;
  w.mapped = true;
  wl_surface_attach(w.surface, w.buffer, 0, 0);
  wl_surface_damage(w.surface, 0, 0, WIDTH, HEIGHT);
  wl_surface_commit(w.surface);
  if (&w == &owner.app->main) {
    barrier(*owner.app, "mapped");
  } else if (owner.app->pending_window_answer) {
    barrier(*owner.app, *std::exchange(owner.app->pending_window_answer, std::nullopt));
  }
}
constexpr xdg_surface_listener XDG_SURFACE_LISTENER = {on_xdg_configure};

void on_toplevel_configure(void*, xdg_toplevel*, std::int32_t, std::int32_t, wl_array*) {}
void on_toplevel_close(void*, xdg_toplevel*) {}
void on_toplevel_bounds(void*, xdg_toplevel*, std::int32_t, std::int32_t) {}
void on_toplevel_capabilities(void*, xdg_toplevel*, wl_array*) {}
constexpr xdg_toplevel_listener TOPLEVEL_LISTENER = {on_toplevel_configure, on_toplevel_close,
                                                     on_toplevel_bounds, on_toplevel_capabilities};

wl_buffer* make_buffer(App& app, std::uint32_t colour) {
  const int stride = WIDTH * 4;
  const int size = stride * HEIGHT;
  const int fd = memfd_create("lmr-e2e-app-buffer", MFD_CLOEXEC);
  if (fd < 0 || ftruncate(fd, size) < 0) return nullptr;
  void* pixels = mmap(nullptr, static_cast<std::size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (pixels == MAP_FAILED) {
    close(fd);
    return nullptr;
  }
  std::fill_n(static_cast<std::uint32_t*>(pixels), WIDTH * HEIGHT, colour);
  munmap(pixels, static_cast<std::size_t>(size));
  wl_shm_pool* pool = wl_shm_create_pool(app.shm, fd, size);
  wl_buffer* buffer = wl_shm_pool_create_buffer(pool, 0, WIDTH, HEIGHT, stride, WL_SHM_FORMAT_XRGB8888);
  wl_shm_pool_destroy(pool);
  close(fd);
  return buffer;
}

void open_window(App& app, Window& w, WindowOwner& owner, const char* title, std::uint32_t colour) {
  w.buffer = make_buffer(app, colour);
  w.surface = wl_compositor_create_surface(app.compositor);
  w.xdg = xdg_wm_base_get_xdg_surface(app.wm, w.surface);
  xdg_surface_add_listener(w.xdg, &XDG_SURFACE_LISTENER, &owner);
  w.toplevel = xdg_surface_get_toplevel(w.xdg);
  xdg_toplevel_add_listener(w.toplevel, &TOPLEVEL_LISTENER, &owner);
  xdg_toplevel_set_title(w.toplevel, title);
  xdg_toplevel_set_app_id(w.toplevel, app.app_id.c_str());
  wl_surface_commit(w.surface);  // the first configure answers this bare commit
}

void close_window(Window& w) {
  if (w.toplevel) xdg_toplevel_destroy(w.toplevel);
  if (w.xdg) xdg_surface_destroy(w.xdg);
  if (w.surface) wl_surface_destroy(w.surface);
  if (w.buffer) wl_buffer_destroy(w.buffer);
  w = {};
}

// --- Globals and commands ----------------------------------------------------------------------------

void on_global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
               std::uint32_t version) {
  App& app = *static_cast<App*>(data);
  const auto bind = [&](const wl_interface& i, std::uint32_t max) {
    return wl_registry_bind(registry, name, &i, std::min(version, max));
  };
  if (std::strcmp(interface, wl_compositor_interface.name) == 0) {
    app.compositor = static_cast<wl_compositor*>(bind(wl_compositor_interface, 4));
  } else if (std::strcmp(interface, wl_shm_interface.name) == 0) {
    app.shm = static_cast<wl_shm*>(bind(wl_shm_interface, 1));
  } else if (std::strcmp(interface, xdg_wm_base_interface.name) == 0) {
    app.wm = static_cast<xdg_wm_base*>(bind(xdg_wm_base_interface, 1));
    xdg_wm_base_add_listener(app.wm, &WM_LISTENER, &app);
  } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && app.seat == nullptr) {
    app.seat = static_cast<wl_seat*>(bind(wl_seat_interface, 5));
    wl_seat_add_listener(app.seat, &SEAT_LISTENER, &app);
  } else if (std::strcmp(interface, zwp_text_input_manager_v3_interface.name) == 0) {
    app.text_input_manager =
        static_cast<zwp_text_input_manager_v3*>(bind(zwp_text_input_manager_v3_interface, 1));
  }
}
void on_global_remove(void*, wl_registry*, std::uint32_t) {}
constexpr wl_registry_listener REGISTRY_LISTENER = {on_global, on_global_remove};

std::optional<std::string> command(App& app, WindowOwner& second_owner, std::string_view line) {
  if (line == "sync") {
    barrier(app, "ok sync");
  } else if (line.starts_with("content ")) {
    const auto found = CONTENT_TYPES.find(line.substr(8));
    if (found == CONTENT_TYPES.end()) return "unknown content type";
    app.content = found->second;
    if (app.enabled) {
      zwp_text_input_v3_set_content_type(app.text_input, app.content.hint, app.content.purpose);
      zwp_text_input_v3_commit(app.text_input);
      ++app.reports;
    }
    barrier(app, "ok content");
  } else if (line.starts_with("click ")) {
    const std::size_t chars = std::strtoul(std::string(line.substr(6)).c_str(), nullptr, 10);
    app.cursor = byte_of_char(app.text, chars);
    changed(app, monotonic_ns(), "click", ZWP_TEXT_INPUT_V3_CHANGE_CAUSE_OTHER);
    barrier(app, "ok click");
  } else if (line == "window open") {
    if (app.second.surface) return "the second window is open already";
    app.pending_window_answer = "ok window";
    open_window(app, app.second, second_owner, "lmr-e2e-app second window", 0xff406080);
  } else if (line == "window close") {
    close_window(app.second);
    barrier(app, "ok window");
  } else {
    return "unknown command";
  }
  return std::nullopt;
}

int fail(const char* message) {
  std::fprintf(stderr, "lmr-e2e-app: %s\n", message);
  return 1;
}

int run(std::string_view content, std::string_view app_id) {
  App app;
  app.app_id = app_id;
  if (const auto found = CONTENT_TYPES.find(content); found != CONTENT_TYPES.end()) {
    app.content = found->second;
  } else {
    return fail("unknown content type");
  }
  app.xkb = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  app.display = wl_display_connect(nullptr);
  if (app.display == nullptr) return fail("cannot connect to the compositor");
  wl_registry* registry = wl_display_get_registry(app.display);
  wl_registry_add_listener(registry, &REGISTRY_LISTENER, &app);
  if (wl_display_roundtrip(app.display) < 0) return fail("registry round trip failed");
  if (!app.compositor || !app.shm || !app.wm || !app.seat || !app.text_input_manager) {
    return fail("the compositor lacks a global the application needs");
  }
  // The text input exists before the window can have focus, so the first enter reaches it.
  app.text_input = zwp_text_input_manager_v3_get_text_input(app.text_input_manager, app.seat);
  zwp_text_input_v3_add_listener(app.text_input, &TEXT_INPUT_LISTENER, &app);
  WindowOwner main_owner{&app, &app.main};
  WindowOwner second_owner{&app, &app.second};
  open_window(app, app.main, main_owner, "lmr-e2e-app", 0xffe0e0d0);

  fcntl(STDIN_FILENO, F_SETFL, fcntl(STDIN_FILENO, F_GETFL) | O_NONBLOCK);
  LineReader input(STDIN_FILENO);
  const int fd = wl_display_get_fd(app.display);
  while (true) {
    while (wl_display_prepare_read(app.display) != 0) {
      if (wl_display_dispatch_pending(app.display) < 0) return fail("connection lost");
    }
    if (wl_display_flush(app.display) < 0 && errno != EAGAIN) {
      wl_display_cancel_read(app.display);
      return fail("connection lost");
    }
    pollfd fds[2] = {{fd, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) {
      wl_display_cancel_read(app.display);
      return fail("poll failed");
    }
    if (fds[0].revents & POLLIN) {
      if (wl_display_read_events(app.display) < 0) return fail("connection lost");
    } else {
      wl_display_cancel_read(app.display);
      if (fds[0].revents & (POLLHUP | POLLERR)) return fail("connection lost");
    }
    if (wl_display_dispatch_pending(app.display) < 0) return fail("connection lost");
    if (fds[1].revents & (POLLIN | POLLHUP)) {
      const bool open = input.fill();
      while (const auto line = input.next()) {
        if (const auto error = command(app, second_owner, *line)) emit("error\t" + *error + ": " + *line);
      }
      if (!open) break;  // the harness is done with us
    }
  }
  close_window(app.second);
  close_window(app.main);
  if (app.key_state) xkb_state_unref(app.key_state);
  if (app.keymap) xkb_keymap_unref(app.keymap);
  xkb_context_unref(app.xkb);
  wl_display_disconnect(app.display);
  return 0;
}

}  // namespace
}  // namespace lumaret::e2e

int main(int argc, char** argv) {
  std::string_view content = "normal";
  std::string_view app_id = "lmr-e2e-app";
  for (int i = 1; i < argc; i += 2) {
    const std::string_view option = argv[i];
    if (i + 1 < argc && option == "--content") {
      content = argv[i + 1];
    } else if (i + 1 < argc && option == "--app-id") {
      app_id = argv[i + 1];
    } else {
      std::fprintf(
          stderr, "usage: lmr-e2e-app [--content normal|url|password|email|digits|terminal] [--app-id ID]\n");
      return 2;
    }
  }
  return lumaret::e2e::run(content, app_id);
}
