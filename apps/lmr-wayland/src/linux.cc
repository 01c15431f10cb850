// The service on a Wayland compositor.
#include "linux.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

#include "input-method-unstable-v2-client-protocol.h"
#include "keys.h"
#include "logging.h"
#include "lumaret/engine/defaults.h"
#include "lumaret/wayland/controller.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

namespace lumaret::wayland {
namespace {

constexpr std::uint32_t KEYMAP_FORMAT_NO_KEYMAP = 0;
constexpr std::uint32_t KEYMAP_FORMAT_XKB_V1 = 1;
constexpr std::uint32_t SEAT_MAX_VERSION = 9;
constexpr std::uint32_t TOPLEVEL_MANAGER_MAX_VERSION = 3;
constexpr std::uint32_t TOPLEVEL_STATE_ACTIVATED = 2;

struct Global {
  std::uint32_t name;
  std::string interface;
  std::uint32_t version;
};

void on_global(void* data, wl_registry*, std::uint32_t name, const char* interface, std::uint32_t version) {
  static_cast<std::vector<Global>*>(data)->push_back({name, interface, version});
}
void on_global_remove(void*, wl_registry*, std::uint32_t) {}
constexpr wl_registry_listener REGISTRY_LISTENER = {on_global, on_global_remove};

std::string connection_error(wl_display* display) {
  const int error = wl_display_get_error(display);
  return std::strerror(error != 0 ? error : errno);
}

wl_display* connect(std::string& error) {
  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr) {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    error = std::string("không kết nối được compositor Wayland (WAYLAND_DISPLAY=") + (name ? name : "") +
            "): " + std::strerror(errno);
  }
  return display;
}

// Requests go to the input method; forwarded keys to the virtual keyboard when there is one.
class WaylandBackend final : public Backend {
 public:
  WaylandBackend(zwp_input_method_v2* im, zwp_virtual_keyboard_v1* keyboard) : im_(im), keyboard_(keyboard) {}

  void commit(std::string_view text, std::uint32_t serial) override {
    zwp_input_method_v2_set_preedit_string(im_, "", -1, -1);
    zwp_input_method_v2_commit_string(im_, std::string(text).c_str());
    zwp_input_method_v2_commit(im_, serial);
  }
  void clear_preedit(std::uint32_t serial) override {
    zwp_input_method_v2_set_preedit_string(im_, "", -1, -1);
    zwp_input_method_v2_commit(im_, serial);
  }
  void show_preedit(std::string_view text, std::int32_t caret_bytes, std::uint32_t serial) override {
    zwp_input_method_v2_set_preedit_string(im_, std::string(text).c_str(), caret_bytes, caret_bytes);
    zwp_input_method_v2_commit(im_, serial);
  }
  void replace_before_cursor(std::uint32_t delete_bytes, std::string_view text,
                             std::uint32_t serial) override {
    zwp_input_method_v2_set_preedit_string(im_, "", -1, -1);
    zwp_input_method_v2_delete_surrounding_text(im_, delete_bytes, 0);
    zwp_input_method_v2_commit_string(im_, std::string(text).c_str());
    zwp_input_method_v2_commit(im_, serial);
  }
  void forward_key_event(std::uint32_t code, std::uint32_t time, bool pressed, const Modifiers& m) override {
    if (keyboard_ == nullptr) {
      log().debug("forward key {} bỏ qua: compositor không có virtual-keyboard-v1", code);
      return;
    }
    zwp_virtual_keyboard_v1_modifiers(keyboard_, m.depressed, m.latched, m.locked, m.group);
    zwp_virtual_keyboard_v1_key(keyboard_, time, code, pressed ? 1 : 0);
  }

 private:
  zwp_input_method_v2* im_;
  zwp_virtual_keyboard_v1* keyboard_;
};

// The activated window's application, as the compositor's toplevel list tells it. Shared between the
// tracker that writes it and the session's application port that reads it.
using ActivatedApp = std::shared_ptr<std::optional<std::string>>;

class ActivatedAppContext final : public engine::AppContext {
 public:
  explicit ActivatedAppContext(ActivatedApp app) : app_(std::move(app)) {}
  std::optional<std::string> current_app() override { return *app_; }

 private:
  ActivatedApp app_;
};

struct App;

// One toplevel window: its application id and whether it is activated, as of its last done. Titles are
// neither kept nor logged.
struct Toplevel {
  App* app = nullptr;
  zwlr_foreign_toplevel_handle_v1* handle = nullptr;
  std::optional<std::string> app_id, pending_app_id;
  bool activated = false, pending_activated = false;
};

// Everything the handlers touch. Proxies are released locally when the service stops; no destroy
// or release request is sent.
struct App {
  wl_display* display = nullptr;
  wl_registry* registry = nullptr;
  wl_seat* seat = nullptr;
  zwp_input_method_manager_v2* im_manager = nullptr;
  zwp_virtual_keyboard_manager_v1* keyboard_manager = nullptr;
  zwp_input_method_v2* im = nullptr;
  zwp_virtual_keyboard_v1* keymap_keyboard = nullptr;  // the backend's virtual keyboard, for keymaps
  zwp_input_method_keyboard_grab_v2* grab = nullptr;
  // Grabs forgotten on deactivate. The compositor may keep sending keys on them, so they keep their
  // handlers until the service ends; destroying one would lose every later key.
  std::vector<zwp_input_method_keyboard_grab_v2*> forgotten_grabs;
  zwlr_foreign_toplevel_manager_v1* toplevel_manager = nullptr;
  std::vector<std::unique_ptr<Toplevel>> toplevels;
  ActivatedApp activated_app = std::make_shared<std::optional<std::string>>();
  xkb_context* xkb = nullptr;
  xkb_state* keyboard_state = nullptr;
  std::string passed_keymap;  // the keymap text last handed to the virtual keyboard
  std::unique_ptr<WaylandBackend> backend;
  std::unique_ptr<Controller> controller;
  std::optional<std::string> stop_reason;
  bool debug = false;

  App() = default;
  App(const App&) = delete;
  App& operator=(const App&) = delete;
  ~App() {
    controller.reset();
    backend.reset();
    if (keyboard_state) xkb_state_unref(keyboard_state);
    if (xkb) xkb_context_unref(xkb);
    for (auto* g : forgotten_grabs)
      wl_proxy_destroy(reinterpret_cast<wl_proxy*>(g));
    for (const auto& t : toplevels)
      wl_proxy_destroy(reinterpret_cast<wl_proxy*>(t->handle));
    for (wl_proxy* p :
         {reinterpret_cast<wl_proxy*>(grab), reinterpret_cast<wl_proxy*>(keymap_keyboard),
          reinterpret_cast<wl_proxy*>(im), reinterpret_cast<wl_proxy*>(keyboard_manager),
          reinterpret_cast<wl_proxy*>(im_manager), reinterpret_cast<wl_proxy*>(toplevel_manager),
          reinterpret_cast<wl_proxy*>(seat), reinterpret_cast<wl_proxy*>(registry)}) {
      if (p) wl_proxy_destroy(p);
    }
    if (display) wl_display_disconnect(display);
  }
};

void flush_after_key(App& app) {
  if (wl_display_flush(app.display) < 0 && errno != EAGAIN) {
    log().error("flush Wayland lỗi: {}", std::strerror(errno));
    app.stop_reason = "không flush được Wayland";
  }
}

// Keyboard grab events.

void on_keymap(void* data, zwp_input_method_keyboard_grab_v2*, std::uint32_t format, std::int32_t fd,
               std::uint32_t size) {
  App& app = *static_cast<App*>(data);
  const auto load = [&]() {
    if (format > KEYMAP_FORMAT_XKB_V1) {
      log().warn("keymap format không hợp lệ");
      return;
    }
    if (format == KEYMAP_FORMAT_NO_KEYMAP) {
      log().warn("bỏ qua keymap không phải XKB");
      return;
    }
    if (size == 0) {
      log().warn("keymap rỗng/không compile được");
      return;
    }
    const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (copy < 0) {
      log().warn("không clone được keymap fd");
      return;
    }
    void* mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, copy, 0);
    const int map_error = errno;
    close(copy);
    if (mapped == MAP_FAILED) {
      log().warn("không đọc được keymap: {}", std::strerror(map_error));
      return;
    }
    const std::string_view text(static_cast<const char*>(mapped), size - 1);
    xkb_keymap* keymap = xkb_keymap_new_from_buffer(app.xkb, text.data(), text.size(),
                                                    XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (keymap == nullptr) {
      munmap(mapped, size);
      log().warn("keymap rỗng/không compile được");
      return;
    }
    if (app.keyboard_state) xkb_state_unref(app.keyboard_state);
    app.keyboard_state = xkb_state_new(keymap);
    // The compositor sends the grab the keymap of the seat's active keyboard, which is our own virtual
    // keyboard after keys we forward: passing the same keymap on again would make it come straight back.
    if (app.keymap_keyboard && text != app.passed_keymap) {
      zwp_virtual_keyboard_v1_keymap(app.keymap_keyboard, KEYMAP_FORMAT_XKB_V1, fd, size);
      app.passed_keymap = text;
    }
    log().debug("đã nạp keymap {} byte", size);
    xkb_keymap_unref(keymap);
    munmap(mapped, size);
  };
  load();
  close(fd);
}

void on_key(void* data, zwp_input_method_keyboard_grab_v2*, std::uint32_t, std::uint32_t time,
            std::uint32_t code, std::uint32_t state) {
  App& app = *static_cast<App*>(data);
  if (app.keyboard_state == nullptr) {
    log().debug("bỏ qua key {}: chưa có keymap", code);
    return;
  }
  const xkb_keycode_t xkb_code = code + 8;
  const xkb_keysym_t sym = xkb_state_key_get_one_sym(app.keyboard_state, xkb_code);
  char utf8[64];
  const int len = xkb_state_key_get_utf8(app.keyboard_state, xkb_code, utf8, sizeof utf8);
  const std::string_view text(utf8, len > 0 && static_cast<std::size_t>(len) < sizeof utf8 ? len : 0);
  const auto active = [&](const char* name) {
    return xkb_state_mod_name_is_active(app.keyboard_state, name, XKB_STATE_MODS_EFFECTIVE) > 0;
  };
  const KeyEvent event{
      key_of(sym, text),        code, time, state == 1, active(XKB_MOD_NAME_CTRL), active(XKB_MOD_NAME_ALT),
      active(XKB_MOD_NAME_LOGO)};
  if (app.debug && log().should_log(spdlog::level::debug)) {
    log().debug("key code={} {} pressed={} ctrl={} alt={} meta={}", code, engine::to_string(event.key),
                event.pressed, event.ctrl, event.alt, event.meta);
  }
  app.controller->key(event);
  flush_after_key(app);
}

void on_modifiers(void* data, zwp_input_method_keyboard_grab_v2*, std::uint32_t, std::uint32_t depressed,
                  std::uint32_t latched, std::uint32_t locked, std::uint32_t group) {
  App& app = *static_cast<App*>(data);
  app.controller->set_modifiers({depressed, latched, locked, group});
  if (app.keyboard_state) xkb_state_update_mask(app.keyboard_state, depressed, latched, locked, 0, 0, group);
}

void on_repeat_info(void*, zwp_input_method_keyboard_grab_v2*, std::int32_t, std::int32_t) {}

constexpr zwp_input_method_keyboard_grab_v2_listener GRAB_LISTENER = {on_keymap, on_key, on_modifiers,
                                                                      on_repeat_info};

// Toplevel windows.

// The application of the window activated now; when it changes, its settings apply.
void update_activated_app(App& app) {
  std::optional<std::string> now;
  for (const auto& t : app.toplevels) {
    if (t->activated) now = t->app_id;
  }
  if (now == *app.activated_app) return;
  *app.activated_app = now;
  const bool lags = now && reports_lag_behind(engine::normalize_app_id(*now));
  log().debug("ứng dụng đang dùng: {}{}", now.value_or("(không rõ)"),
              lags ? " (không sửa từ tại chỗ: văn bản ứng dụng báo về chậm)" : "");
  if (app.controller) app.controller->app_changed(now);
}

void on_toplevel_title(void*, zwlr_foreign_toplevel_handle_v1*, const char*) {}
void on_toplevel_app_id(void* data, zwlr_foreign_toplevel_handle_v1*, const char* app_id) {
  static_cast<Toplevel*>(data)->pending_app_id = app_id ? std::optional<std::string>(app_id) : std::nullopt;
}
void on_toplevel_output(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
void on_toplevel_state(void* data, zwlr_foreign_toplevel_handle_v1*, wl_array* states) {
  bool activated = false;
  const auto* state = static_cast<const std::uint32_t*>(states->data);
  for (std::size_t i = 0; i < states->size / sizeof(std::uint32_t); ++i) {
    if (state[i] == TOPLEVEL_STATE_ACTIVATED) activated = true;
  }
  static_cast<Toplevel*>(data)->pending_activated = activated;
}
void on_toplevel_done(void* data, zwlr_foreign_toplevel_handle_v1*) {
  Toplevel& t = *static_cast<Toplevel*>(data);
  t.app_id = t.pending_app_id;
  t.activated = t.pending_activated;
  update_activated_app(*t.app);
}
void on_toplevel_closed(void* data, zwlr_foreign_toplevel_handle_v1* handle) {
  App& app = *static_cast<Toplevel*>(data)->app;
  zwlr_foreign_toplevel_handle_v1_destroy(handle);
  std::erase_if(app.toplevels, [&](const auto& t) { return t->handle == handle; });
  update_activated_app(app);
}
void on_toplevel_parent(void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {}

constexpr zwlr_foreign_toplevel_handle_v1_listener TOPLEVEL_LISTENER = {
    on_toplevel_title, on_toplevel_app_id, on_toplevel_output, on_toplevel_output,
    on_toplevel_state, on_toplevel_done,   on_toplevel_closed, on_toplevel_parent};

void on_toplevel(void* data, zwlr_foreign_toplevel_manager_v1*, zwlr_foreign_toplevel_handle_v1* handle) {
  App& app = *static_cast<App*>(data);
  auto t = std::make_unique<Toplevel>();
  t->app = &app;
  t->handle = handle;
  zwlr_foreign_toplevel_handle_v1_add_listener(handle, &TOPLEVEL_LISTENER, t.get());
  app.toplevels.push_back(std::move(t));
}
void on_toplevel_manager_finished(void*, zwlr_foreign_toplevel_manager_v1*) {}

constexpr zwlr_foreign_toplevel_manager_v1_listener TOPLEVEL_MANAGER_LISTENER = {
    on_toplevel, on_toplevel_manager_finished};

// Input method events.

void on_activate(void* data, zwp_input_method_v2*) {
  App& app = *static_cast<App*>(data);
  log().debug("input method activate");
  app.controller->activate(*app.activated_app);
  if (app.grab == nullptr) {
    app.grab = zwp_input_method_v2_grab_keyboard(app.im);
    zwp_input_method_keyboard_grab_v2_add_listener(app.grab, &GRAB_LISTENER, &app);
  }
}

void on_deactivate(void* data, zwp_input_method_v2*) {
  App& app = *static_cast<App*>(data);
  log().debug("input method deactivate");
  app.controller->deactivate();
  if (app.grab) app.forgotten_grabs.push_back(std::exchange(app.grab, nullptr));
}

void on_surrounding_text(void* data, zwp_input_method_v2*, const char* text, std::uint32_t cursor,
                         std::uint32_t anchor) {
  static_cast<App*>(data)->controller->surrounding_text(text ? text : "", cursor, anchor);
}

void on_text_change_cause(void*, zwp_input_method_v2*, std::uint32_t) {}

void on_content_type(void* data, zwp_input_method_v2*, std::uint32_t hint, std::uint32_t purpose) {
  static_cast<App*>(data)->controller->content_type(hint, purpose);
}

void on_done(void* data, zwp_input_method_v2*) {
  static_cast<App*>(data)->controller->done();
}

void on_unavailable(void* data, zwp_input_method_v2*) {
  log().error("compositor không cung cấp input-method-v2 cho seat này");
  static_cast<App*>(data)->stop_reason = "input-method-v2 unavailable";
}

constexpr zwp_input_method_v2_listener IM_LISTENER = {
    on_activate,     on_deactivate, on_surrounding_text, on_text_change_cause,
    on_content_type, on_done,       on_unavailable};

// The first global with that interface, bound at `version` (capped at what it announces).
template <typename T>
T* bind_global(App& app, const std::vector<Global>& globals, const wl_interface& interface,
               std::uint32_t version, std::string& error) {
  for (const Global& g : globals) {
    if (g.interface != interface.name) continue;
    if (g.version == 0) {
      error = std::string("global ") + interface.name + " phiên bản 0 không được hỗ trợ";
      return nullptr;
    }
    return static_cast<T*>(wl_registry_bind(app.registry, g.name, &interface, std::min(version, g.version)));
  }
  error = std::string("compositor không có global ") + interface.name;
  return nullptr;
}

std::string loop(App& app) {
  const int fd = wl_display_get_fd(app.display);
  while (true) {
    const int dispatched = wl_display_dispatch_pending(app.display);
    if (dispatched < 0) return connection_error(app.display);
    if (app.stop_reason) return *app.stop_reason;
    if (dispatched > 0) continue;
    if (wl_display_prepare_read(app.display) != 0) continue;  // events arrived meanwhile
    if (wl_display_flush(app.display) < 0 && errno != EAGAIN) {
      const std::string error = connection_error(app.display);
      wl_display_cancel_read(app.display);
      return error;
    }
    pollfd readable{fd, POLLIN, 0};
    while (poll(&readable, 1, -1) < 0) {
      if (errno != EINTR) {
        const std::string error = std::strerror(errno);
        wl_display_cancel_read(app.display);
        return error;
      }
    }
    if (wl_display_read_events(app.display) < 0) return connection_error(app.display);
    if (wl_display_dispatch_pending(app.display) < 0) return connection_error(app.display);
    if (app.stop_reason) return *app.stop_reason;
  }
}

}  // namespace

std::string run_inner(std::filesystem::path config_path, bool debug) {
  App app;
  app.debug = debug;
  std::string error;
  app.display = connect(error);
  if (app.display == nullptr) return error;

  std::vector<Global> globals;
  app.registry = wl_display_get_registry(app.display);
  wl_registry_add_listener(app.registry, &REGISTRY_LISTENER, &globals);
  if (wl_display_roundtrip(app.display) < 0) return connection_error(app.display);

  app.seat = bind_global<wl_seat>(app, globals, wl_seat_interface, SEAT_MAX_VERSION, error);
  if (app.seat == nullptr) return error;
  app.im_manager =
      bind_global<zwp_input_method_manager_v2>(app, globals, zwp_input_method_manager_v2_interface, 1, error);
  if (app.im_manager == nullptr) return error;
  app.keyboard_manager = bind_global<zwp_virtual_keyboard_manager_v1>(
      app, globals, zwp_virtual_keyboard_manager_v1_interface, 1, error);
  if (app.keyboard_manager == nullptr) {
    log().warn(
        "compositor không có zwp_virtual_keyboard_manager_v1: phím pass-through/Backspace sẽ không tới app");
  }

  std::string no_toplevels;
  app.toplevel_manager = bind_global<zwlr_foreign_toplevel_manager_v1>(
      app, globals, zwlr_foreign_toplevel_manager_v1_interface, TOPLEVEL_MANAGER_MAX_VERSION, no_toplevels);
  if (app.toplevel_manager) {
    zwlr_foreign_toplevel_manager_v1_add_listener(app.toplevel_manager, &TOPLEVEL_MANAGER_LISTENER, &app);
  }

  app.im = zwp_input_method_manager_v2_get_input_method(app.im_manager, app.seat);
  zwp_input_method_v2_add_listener(app.im, &IM_LISTENER, &app);
  if (app.keyboard_manager) {
    app.keymap_keyboard =
        zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(app.keyboard_manager, app.seat);
  }

  app.backend = std::make_unique<WaylandBackend>(app.im, app.keymap_keyboard);
  engine::Ports ports{std::make_unique<engine::JsonFileConfigStore>(config_path),
                      std::make_unique<ActivatedAppContext>(app.activated_app), nullptr,
                      std::make_unique<engine::WordListDictionary>(engine::WordListDictionary::defaults())};
  app.controller = std::make_unique<Controller>(*app.backend, std::move(ports), config_path);

  app.xkb = xkb_context_new(XKB_CONTEXT_NO_DEFAULT_INCLUDES);
  if (app.xkb == nullptr) return "không tạo được XKB context";

  log().info("lumaret-wayland đang chạy (config {})", config_path.string());
  log().info(
      app.toplevel_manager
          ? "biết ứng dụng đang dùng (zwlr_foreign_toplevel_manager_v1): cấu hình theo ứng dụng có hiệu lực"
          : "compositor không có zwlr_foreign_toplevel_manager_v1: chỉ dùng cấu hình chung");
  return loop(app);
}

Probe probe() {
  Probe result;
  wl_display* display = connect(result.error);
  if (display == nullptr) return result;
  std::vector<Global> globals;
  wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &REGISTRY_LISTENER, &globals);
  if (wl_display_roundtrip(display) < 0) {
    result.error = connection_error(display);
  } else {
    for (const Global& g : globals)
      result.interfaces.push_back(g.interface);
  }
  wl_registry_destroy(registry);
  wl_display_disconnect(display);
  return result;
}

}  // namespace lumaret::wayland
