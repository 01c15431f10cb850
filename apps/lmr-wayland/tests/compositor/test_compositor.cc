// The test compositor: globals, request recording, events and waits.
#include "compositor/test_compositor.h"

#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <wayland-server.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <stdexcept>

#include "input-method-unstable-v2-server-protocol.h"
#include "virtual-keyboard-unstable-v1-server-protocol.h"
#include "wlr-foreign-toplevel-management-unstable-v1-server-protocol.h"

namespace lumaret::wayland::testing {

struct TestCompositor::Grab {
  wl_resource* resource = nullptr;  // null once the service's connection is gone
};

// A window as the compositor knows it, and the handles through which clients were told of it.
struct TestCompositor::Toplevel {
  std::optional<std::string> title, app_id;
  std::vector<std::uint32_t> states;
  bool closed = false;
  std::vector<wl_resource*> handles;  // until each client destroys its handle
};

namespace {

// A key the service never sees pressed: its release is forwarded and marks how far the service has read.
constexpr std::uint32_t BARRIER_KEY = KEY_F24;

TestCompositor& compositor_of(wl_resource* resource) {
  return *static_cast<TestCompositor*>(wl_resource_get_user_data(resource));
}

std::string quoted(std::string_view text) {
  std::string result = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      result += '\\';
      result += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned>(c));
      result += escaped;
    } else {
      result += c;
    }
  }
  return result + "\"";
}

template <typename... Values>
std::string call(std::string_view name, const Values&... values) {
  std::ostringstream text;
  text << name << "(";
  const char* separator = "";
  ((text << separator << values, separator = ", "), ...);
  text << ")";
  return text.str();
}

void forget_resource(wl_resource* resource) {
  compositor_of(resource).forget(resource);
}

void destroy_resource(wl_client*, wl_resource* resource) {
  wl_resource_destroy(resource);
}

// A memory file holding `text` and its terminating NUL, as keymaps travel.
int keymap_fd(std::string_view text) {
  const int fd = ::memfd_create("lumaret-test-keymap", MFD_CLOEXEC);
  if (fd < 0) throw std::runtime_error("memfd_create: " + std::string(strerror(errno)));
  const std::string with_nul = std::string(text) + '\0';
  std::size_t written = 0;
  while (written < with_nul.size()) {
    const ssize_t n = ::write(fd, with_nul.data() + written, with_nul.size() - written);
    if (n <= 0) throw std::runtime_error("write keymap: " + std::string(strerror(errno)));
    written += static_cast<std::size_t>(n);
  }
  return fd;
}

// wl_seat: the service binds it and names it when asking for its input method and virtual keyboard.
// It never asks for the seat's own devices, but they are answered in case.
const struct wl_keyboard_interface KEYBOARD = {.release = destroy_resource};
const struct wl_pointer_interface POINTER = {
    .set_cursor = [](wl_client*, wl_resource*, std::uint32_t, wl_resource*, std::int32_t, std::int32_t) {},
    .release = destroy_resource,
};
const struct wl_touch_interface TOUCH = {.release = destroy_resource};

template <typename Implementation>
void make_device(wl_client* client, wl_resource* seat, std::uint32_t id, const wl_interface* interface,
                 const Implementation* implementation) {
  wl_resource* resource = wl_resource_create(client, interface, wl_resource_get_version(seat), id);
  if (resource == nullptr) {
    wl_client_post_no_memory(client);
    return;
  }
  wl_resource_set_implementation(resource, implementation, nullptr, nullptr);
}

const struct wl_seat_interface SEAT = {
    .get_pointer = [](wl_client* client, wl_resource* seat,
                      std::uint32_t id) { make_device(client, seat, id, &wl_pointer_interface, &POINTER); },
    .get_keyboard =
        [](wl_client* client, wl_resource* seat, std::uint32_t id) {
          make_device(client, seat, id, &wl_keyboard_interface, &KEYBOARD);
        },
    .get_touch = [](wl_client* client, wl_resource* seat,
                    std::uint32_t id) { make_device(client, seat, id, &wl_touch_interface, &TOUCH); },
    .release = destroy_resource,
};

void bind_seat(wl_client* client, void* data, std::uint32_t version, std::uint32_t id) {
  auto* compositor = static_cast<TestCompositor*>(data);
  compositor->record(call("bind", "wl_seat", version));
  wl_resource* resource = wl_resource_create(client, &wl_seat_interface, static_cast<int>(version), id);
  if (resource == nullptr) {
    wl_client_post_no_memory(client);
    return;
  }
  wl_resource_set_implementation(resource, &SEAT, compositor, nullptr);
  wl_seat_send_capabilities(resource, WL_SEAT_CAPABILITY_KEYBOARD);
  if (version >= WL_SEAT_NAME_SINCE_VERSION) wl_seat_send_name(resource, "seat0");
}

// zwp_input_method_keyboard_grab_v2
const struct zwp_input_method_keyboard_grab_v2_interface GRAB = {
    .release =
        [](wl_client*, wl_resource* resource) {
          compositor_of(resource).record("grab.release");
          wl_resource_destroy(resource);
        },
};

// zwp_input_popup_surface_v2: never asked for; answered in case.
const struct zwp_input_popup_surface_v2_interface POPUP = {.destroy = destroy_resource};

// zwp_input_method_v2
const struct zwp_input_method_v2_interface INPUT_METHOD = {
    .commit_string =
        [](wl_client*, wl_resource* resource, const char* text) {
          compositor_of(resource).record(call("commit_string", quoted(text)));
        },
    .set_preedit_string =
        [](wl_client*, wl_resource* resource, const char* text, std::int32_t begin, std::int32_t end) {
          compositor_of(resource).record(call("set_preedit_string", quoted(text), begin, end));
        },
    .delete_surrounding_text =
        [](wl_client*, wl_resource* resource, std::uint32_t before, std::uint32_t after) {
          compositor_of(resource).record(call("delete_surrounding_text", before, after));
        },
    .commit = [](wl_client*, wl_resource* resource,
                 std::uint32_t serial) { compositor_of(resource).record(call("commit", serial)); },
    .get_input_popup_surface =
        [](wl_client* client, wl_resource* resource, std::uint32_t id, wl_resource*) {
          compositor_of(resource).record("get_input_popup_surface");
          wl_resource* popup = wl_resource_create(client, &zwp_input_popup_surface_v2_interface, 1, id);
          if (popup != nullptr) wl_resource_set_implementation(popup, &POPUP, nullptr, nullptr);
        },
    .grab_keyboard =
        [](wl_client* client, wl_resource* resource, std::uint32_t id) {
          TestCompositor& compositor = compositor_of(resource);
          compositor.record("grab_keyboard");
          wl_resource* grab = wl_resource_create(client, &zwp_input_method_keyboard_grab_v2_interface, 1, id);
          if (grab == nullptr) {
            wl_client_post_no_memory(client);
            return;
          }
          wl_resource_set_implementation(grab, &GRAB, &compositor, forget_resource);
          compositor.on_grab(grab);
        },
    .destroy =
        [](wl_client*, wl_resource* resource) {
          compositor_of(resource).record("input_method.destroy");
          wl_resource_destroy(resource);
        },
};

// zwp_input_method_manager_v2
const struct zwp_input_method_manager_v2_interface INPUT_METHOD_MANAGER = {
    .get_input_method =
        [](wl_client* client, wl_resource* resource, wl_resource*, std::uint32_t id) {
          TestCompositor& compositor = compositor_of(resource);
          compositor.record("get_input_method");
          wl_resource* im = wl_resource_create(client, &zwp_input_method_v2_interface, 1, id);
          if (im == nullptr) {
            wl_client_post_no_memory(client);
            return;
          }
          wl_resource_set_implementation(im, &INPUT_METHOD, &compositor, forget_resource);
          compositor.on_input_method(im);
        },
    .destroy =
        [](wl_client*, wl_resource* resource) {
          compositor_of(resource).record("input_method_manager.destroy");
          wl_resource_destroy(resource);
        },
};

void bind_input_method_manager(wl_client* client, void* data, std::uint32_t version, std::uint32_t id) {
  auto* compositor = static_cast<TestCompositor*>(data);
  compositor->record(call("bind", "zwp_input_method_manager_v2", version));
  wl_resource* resource =
      wl_resource_create(client, &zwp_input_method_manager_v2_interface, static_cast<int>(version), id);
  if (resource == nullptr) {
    wl_client_post_no_memory(client);
    return;
  }
  wl_resource_set_implementation(resource, &INPUT_METHOD_MANAGER, compositor, nullptr);
  compositor->on_bind_input_method(client);
}

// zwp_virtual_keyboard_v1
const struct zwp_virtual_keyboard_v1_interface VIRTUAL_KEYBOARD = {
    .keymap =
        [](wl_client*, wl_resource* resource, std::uint32_t format, std::int32_t fd, std::uint32_t size) {
          TestCompositor& compositor = compositor_of(resource);
          compositor.record(call("vk.keymap", format, size));
          std::string text;
          if (size > 0) {
            void* data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
            if (data != MAP_FAILED) {
              text.assign(static_cast<const char*>(data), size);
              ::munmap(data, size);
            }
          }
          ::close(fd);
          if (!text.empty() && text.back() == '\0') text.pop_back();
          compositor.on_virtual_keymap(std::move(text));
        },
    .key =
        [](wl_client*, wl_resource* resource, std::uint32_t time, std::uint32_t key, std::uint32_t state) {
          TestCompositor& compositor = compositor_of(resource);
          compositor.record(call("vk.key", time, key, state));
          // A keyboard without a keymap cannot say what its keys mean; compositors refuse such keys.
          if (!compositor.virtual_has_keymap()) {
            wl_resource_post_error(resource, ZWP_VIRTUAL_KEYBOARD_V1_ERROR_NO_KEYMAP, "key before keymap");
          }
        },
    .modifiers =
        [](wl_client*, wl_resource* resource, std::uint32_t depressed, std::uint32_t latched,
           std::uint32_t locked, std::uint32_t group) {
          TestCompositor& compositor = compositor_of(resource);
          compositor.record(call("vk.modifiers", depressed, latched, locked, group));
          if (!compositor.virtual_has_keymap()) {
            wl_resource_post_error(resource, ZWP_VIRTUAL_KEYBOARD_V1_ERROR_NO_KEYMAP,
                                   "modifiers before keymap");
          }
        },
    .destroy =
        [](wl_client*, wl_resource* resource) {
          compositor_of(resource).record("vk.destroy");
          wl_resource_destroy(resource);
        },
};

// zwp_virtual_keyboard_manager_v1
const struct zwp_virtual_keyboard_manager_v1_interface VIRTUAL_KEYBOARD_MANAGER = {
    .create_virtual_keyboard =
        [](wl_client* client, wl_resource* resource, wl_resource*, std::uint32_t id) {
          TestCompositor& compositor = compositor_of(resource);
          compositor.record("create_virtual_keyboard");
          wl_resource* keyboard = wl_resource_create(client, &zwp_virtual_keyboard_v1_interface, 1, id);
          if (keyboard == nullptr) {
            wl_client_post_no_memory(client);
            return;
          }
          wl_resource_set_implementation(keyboard, &VIRTUAL_KEYBOARD, &compositor, forget_resource);
          compositor.on_virtual_keyboard(keyboard);
        },
};

void bind_virtual_keyboard_manager(wl_client* client, void* data, std::uint32_t version, std::uint32_t id) {
  auto* compositor = static_cast<TestCompositor*>(data);
  compositor->record(call("bind", "zwp_virtual_keyboard_manager_v1", version));
  wl_resource* resource =
      wl_resource_create(client, &zwp_virtual_keyboard_manager_v1_interface, static_cast<int>(version), id);
  if (resource == nullptr) {
    wl_client_post_no_memory(client);
    return;
  }
  wl_resource_set_implementation(resource, &VIRTUAL_KEYBOARD_MANAGER, compositor, nullptr);
}

// zwlr_foreign_toplevel_handle_v1: the service only ever destroys a handle; the rest is written down in
// case it asks for more than it should.
void record_toplevel(wl_resource* resource, const char* name) {
  compositor_of(resource).record(std::string("toplevel.") + name);
}

const struct zwlr_foreign_toplevel_handle_v1_interface TOPLEVEL = {
    .set_maximized = [](wl_client*, wl_resource* r) { record_toplevel(r, "set_maximized"); },
    .unset_maximized = [](wl_client*, wl_resource* r) { record_toplevel(r, "unset_maximized"); },
    .set_minimized = [](wl_client*, wl_resource* r) { record_toplevel(r, "set_minimized"); },
    .unset_minimized = [](wl_client*, wl_resource* r) { record_toplevel(r, "unset_minimized"); },
    .activate = [](wl_client*, wl_resource* r, wl_resource*) { record_toplevel(r, "activate"); },
    .close = [](wl_client*, wl_resource* r) { record_toplevel(r, "close"); },
    .set_rectangle = [](wl_client*, wl_resource* r, wl_resource*, std::int32_t, std::int32_t, std::int32_t,
                        std::int32_t) { record_toplevel(r, "set_rectangle"); },
    .destroy =
        [](wl_client*, wl_resource* r) {
          record_toplevel(r, "destroy");
          wl_resource_destroy(r);
        },
    .set_fullscreen = [](wl_client*, wl_resource* r, wl_resource*) { record_toplevel(r, "set_fullscreen"); },
    .unset_fullscreen = [](wl_client*, wl_resource* r) { record_toplevel(r, "unset_fullscreen"); },
};

// zwlr_foreign_toplevel_manager_v1
const struct zwlr_foreign_toplevel_manager_v1_interface TOPLEVEL_MANAGER = {
    .stop = [](wl_client*,
               wl_resource* resource) { compositor_of(resource).on_toplevel_manager_stop(resource); },
};

void bind_toplevel_manager(wl_client* client, void* data, std::uint32_t version, std::uint32_t id) {
  auto* compositor = static_cast<TestCompositor*>(data);
  compositor->record(call("bind", "zwlr_foreign_toplevel_manager_v1", version));
  wl_resource* resource =
      wl_resource_create(client, &zwlr_foreign_toplevel_manager_v1_interface, static_cast<int>(version), id);
  if (resource == nullptr) {
    wl_client_post_no_memory(client);
    return;
  }
  wl_resource_set_implementation(resource, &TOPLEVEL_MANAGER, compositor, forget_resource);
  compositor->on_bind_toplevel_manager(resource);
}

void send_states(wl_resource* handle, const std::vector<std::uint32_t>& states) {
  wl_array array;
  wl_array_init(&array);
  for (const std::uint32_t state : states) {
    auto* slot = static_cast<std::uint32_t*>(wl_array_add(&array, sizeof state));
    if (slot != nullptr) *slot = state;
  }
  zwlr_foreign_toplevel_handle_v1_send_state(handle, &array);
  wl_array_release(&array);
}

bool is_activated(const std::vector<std::uint32_t>& states) {
  return std::find(states.begin(), states.end(), TestCompositor::TOPLEVEL_ACTIVATED) != states.end();
}

}  // namespace

Keymap Keymap::compile(const char* layout, const char* variant) {
  xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
  if (context == nullptr) throw std::runtime_error("xkb_context_new failed");
  const xkb_rule_names names{
      .rules = "evdev", .model = "pc105", .layout = layout, .variant = variant, .options = nullptr};
  xkb_keymap* keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
  if (keymap == nullptr) {
    xkb_context_unref(context);
    throw std::runtime_error(std::string("cannot compile the system keymap for layout ") + layout);
  }
  char* text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
  Keymap result;
  result.text = text;
  std::free(text);
  const auto mask = [&](const char* name) {
    const xkb_mod_index_t index = xkb_keymap_mod_get_index(keymap, name);
    return index == XKB_MOD_INVALID ? 0u : 1u << index;
  };
  result.shift = mask(XKB_MOD_NAME_SHIFT);
  result.ctrl = mask(XKB_MOD_NAME_CTRL);
  result.alt = mask(XKB_MOD_NAME_ALT);
  xkb_keymap_unref(keymap);
  xkb_context_unref(context);
  return result;
}

std::uint32_t evdev_code(char c) {
  static constexpr std::uint32_t LETTERS[] = {
      KEY_A, KEY_B, KEY_C, KEY_D, KEY_E, KEY_F, KEY_G, KEY_H, KEY_I, KEY_J, KEY_K, KEY_L, KEY_M,
      KEY_N, KEY_O, KEY_P, KEY_Q, KEY_R, KEY_S, KEY_T, KEY_U, KEY_V, KEY_W, KEY_X, KEY_Y, KEY_Z,
  };
  static constexpr std::uint32_t DIGITS[] = {KEY_0, KEY_1, KEY_2, KEY_3, KEY_4,
                                             KEY_5, KEY_6, KEY_7, KEY_8, KEY_9};
  if (c >= 'a' && c <= 'z') return LETTERS[c - 'a'];
  if (c >= '0' && c <= '9') return DIGITS[c - '0'];
  switch (c) {
    case ' ':
      return KEY_SPACE;
    case ',':
      return KEY_COMMA;
    case '.':
      return KEY_DOT;
    case '/':
      return KEY_SLASH;
    case ';':
      return KEY_SEMICOLON;
    case '-':
      return KEY_MINUS;
    case '[':
      return KEY_LEFTBRACE;
    case ']':
      return KEY_RIGHTBRACE;
    case '\n':
      return KEY_ENTER;
    default:
      return 0;
  }
}

TestCompositor::TestCompositor(Globals globals, std::chrono::milliseconds deadline)
    : globals_(globals), deadline_(deadline), display_name_("wayland-lumaret-test") {
  keymap_ = Keymap::compile("us");
  display_ = wl_display_create();
  if (display_ == nullptr) throw std::runtime_error("wl_display_create failed");
  loop_ = wl_display_get_event_loop(display_);

  // Our own listening socket, so the test process's environment stays as it is.
  const std::string socket_path = (dir() / display_name_).string();
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (fd < 0 || socket_path.size() >= sizeof address.sun_path) throw std::runtime_error("socket failed");
  std::memcpy(address.sun_path, socket_path.c_str(), socket_path.size() + 1);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 8) != 0 ||
      wl_display_add_socket_fd(display_, fd) != 0) {
    ::close(fd);
    throw std::runtime_error("cannot listen on " + socket_path + ": " + strerror(errno));
  }

  if (globals_.seat) {
    wl_global_create(display_, &wl_seat_interface, SEAT_VERSION, this, bind_seat);
  }
  if (globals_.input_method_manager) {
    wl_global_create(display_, &zwp_input_method_manager_v2_interface, 1, this, bind_input_method_manager);
  }
  if (globals_.virtual_keyboard_manager) {
    wl_global_create(display_, &zwp_virtual_keyboard_manager_v1_interface, 1, this,
                     bind_virtual_keyboard_manager);
  }
  if (globals_.toplevel_manager) {
    wl_global_create(display_, &zwlr_foreign_toplevel_manager_v1_interface, TOPLEVEL_MANAGER_VERSION, this,
                     bind_toplevel_manager);
  }
}

TestCompositor::~TestCompositor() {
  service_.reset();  // killed if still running, so it does not see the socket go
  wl_display_destroy_clients(display_);
  wl_display_destroy(display_);
}

EnvChanges TestCompositor::client_env(const EnvChanges& extra) const {
  EnvChanges env{
      {"XDG_RUNTIME_DIR", dir().string()},
      {"WAYLAND_DISPLAY", display_name_},
      {"WAYLAND_SOCKET", std::nullopt},
      {"WAYLAND_DEBUG", std::nullopt},
      {"LUMARET_LOG_STYLE", "never"},
      {"SPDLOG_LEVEL", std::nullopt},
      // The configuration is whatever a test passes; never the developer's own.
      {"XDG_CONFIG_HOME", (dir() / "config-home").string()},
  };
  for (const auto& [name, value] : extra)
    env[name] = value;
  return env;
}

::testing::AssertionResult TestCompositor::run(const std::vector<std::string>& args, Exit& exit,
                                               const EnvChanges& extra) {
  Child child(LUMARET_WAYLAND_BINARY, args, client_env(extra), dir(), "run");
  const auto until = std::chrono::steady_clock::now() + deadline_;
  while (!child.poll()) {
    if (std::chrono::steady_clock::now() > until) {
      return ::testing::AssertionFailure()
             << "lumaret-wayland did not end within " << deadline_.count() << " ms\n"
             << describe(child.exit());
    }
    dispatch(5);
  }
  exit = child.exit();
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult TestCompositor::start_service(const std::vector<std::string>& args,
                                                         const EnvChanges& extra,
                                                         const std::vector<std::string>& wrapper) {
  if (wrapper.empty()) {
    service_ = std::make_unique<Child>(LUMARET_WAYLAND_BINARY, args, client_env(extra), dir(), "service");
  } else {
    std::vector<std::string> command(wrapper.begin() + 1, wrapper.end());
    command.push_back(LUMARET_WAYLAND_BINARY);
    command.insert(command.end(), args.begin(), args.end());
    service_ = std::make_unique<Child>(wrapper.front(), command, client_env(extra), dir(), "service");
  }
  const bool with_keyboard = globals_.virtual_keyboard_manager;
  return wait_for(
      [&] { return input_method_ != nullptr && (!with_keyboard || virtual_keyboard_ != nullptr); },
      with_keyboard ? "the service's input method and virtual keyboard" : "the service's input method");
}

::testing::AssertionResult TestCompositor::wait_service_exit(Exit& exit) {
  if (!service_) return ::testing::AssertionFailure() << "no service was started";
  const auto until = std::chrono::steady_clock::now() + deadline_;
  while (!service_->poll()) {
    if (std::chrono::steady_clock::now() > until) {
      return ::testing::AssertionFailure()
             << "the service did not end within " << deadline_.count() << " ms\n"
             << state();
    }
    dispatch(5);
  }
  exit = service_->exit();
  return ::testing::AssertionSuccess();
}

std::string TestCompositor::service_err() const {
  return service_ ? service_->err() : std::string();
}

pid_t TestCompositor::service_pid() const {
  return service_ ? service_->pid() : -1;
}

void TestCompositor::disconnect_service() {
  if (service_client_ != nullptr) wl_client_destroy(service_client_);
  service_client_ = nullptr;
}

void TestCompositor::stop_reading_service() {
  if (service_client_ != nullptr) ::shutdown(wl_client_get_fd(service_client_), SHUT_RD);
}

void TestCompositor::activate() {
  if (input_method_ == nullptr) return ADD_FAILURE() << "activate: the service has no input method";
  zwp_input_method_v2_send_activate(input_method_);
  flush();
}

void TestCompositor::deactivate() {
  if (input_method_ == nullptr) return ADD_FAILURE() << "deactivate: the service has no input method";
  zwp_input_method_v2_send_deactivate(input_method_);
  flush();
}

void TestCompositor::surrounding_text(std::string_view text, std::uint32_t cursor_bytes,
                                      std::uint32_t anchor_bytes) {
  if (input_method_ == nullptr) return ADD_FAILURE() << "surrounding_text: the service has no input method";
  zwp_input_method_v2_send_surrounding_text(input_method_, std::string(text).c_str(), cursor_bytes,
                                            anchor_bytes);
  flush();
}

void TestCompositor::content_type(std::uint32_t hint, std::uint32_t purpose) {
  if (input_method_ == nullptr) return ADD_FAILURE() << "content_type: the service has no input method";
  zwp_input_method_v2_send_content_type(input_method_, hint, purpose);
  flush();
}

void TestCompositor::done() {
  if (input_method_ == nullptr) return ADD_FAILURE() << "done: the service has no input method";
  zwp_input_method_v2_send_done(input_method_);
  flush();
}

void TestCompositor::unavailable() {
  if (input_method_ == nullptr) return ADD_FAILURE() << "unavailable: the service has no input method";
  zwp_input_method_v2_send_unavailable(input_method_);
  flush();
}

wl_resource* TestCompositor::grab_resource(std::optional<std::size_t> grab) {
  if (grabs_.empty()) {
    ADD_FAILURE() << "the service holds no keyboard grab\n" << state();
    return nullptr;
  }
  const std::size_t index = grab.value_or(grabs_.size() - 1);
  if (index >= grabs_.size() || grabs_[index]->resource == nullptr) {
    ADD_FAILURE() << "keyboard grab " << index << " does not exist (any more)\n" << state();
    return nullptr;
  }
  return grabs_[index]->resource;
}

void TestCompositor::send_keymap(std::string_view text, std::optional<std::size_t> grab) {
  send_keymap_fd(KEYMAP_FORMAT_XKB_V1, keymap_fd(text), static_cast<std::uint32_t>(text.size() + 1), grab);
}

void TestCompositor::send_keymap_fd(std::uint32_t format, int fd, std::uint32_t size,
                                    std::optional<std::size_t> grab) {
  if (wl_resource* resource = grab_resource(grab)) {
    zwp_input_method_keyboard_grab_v2_send_keymap(resource, format, fd, size);
    flush();
  }
  ::close(fd);  // the event carries its own copy
}

std::uint32_t TestCompositor::key(std::uint32_t code, bool pressed, std::optional<std::size_t> grab) {
  const std::uint32_t time = time_++;
  if (wl_resource* resource = grab_resource(grab)) {
    zwp_input_method_keyboard_grab_v2_send_key(
        resource, ++serial_, time, code,
        pressed ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
    flush();
  }
  return time;
}

void TestCompositor::modifiers(std::uint32_t depressed, std::uint32_t latched, std::uint32_t locked,
                               std::uint32_t group, std::optional<std::size_t> grab) {
  if (wl_resource* resource = grab_resource(grab)) {
    zwp_input_method_keyboard_grab_v2_send_modifiers(resource, ++serial_, depressed, latched, locked, group);
    flush();
  }
}

void TestCompositor::type(std::string_view keys, std::optional<std::size_t> grab) {
  for (const char c : keys) {
    const std::uint32_t code = evdev_code(c);
    if (code == 0) {
      ADD_FAILURE() << "no key types '" << c << "'";
      continue;
    }
    key(code, true, grab);
    key(code, false, grab);
  }
}

TestCompositor::Toplevel* TestCompositor::toplevel(std::size_t window, std::string_view what) {
  if (window >= toplevels_.size() || toplevels_[window]->closed) {
    ADD_FAILURE() << what << ": window " << window << " does not exist (any more)";
    return nullptr;
  }
  return toplevels_[window].get();
}

wl_resource* TestCompositor::new_handle(Toplevel& window, wl_resource* manager) {
  wl_client* client = wl_resource_get_client(manager);
  wl_resource* handle = wl_resource_create(client, &zwlr_foreign_toplevel_handle_v1_interface,
                                           wl_resource_get_version(manager), 0);
  if (handle == nullptr) {
    wl_client_post_no_memory(client);
    return nullptr;
  }
  wl_resource_set_implementation(handle, &TOPLEVEL, this, forget_resource);
  window.handles.push_back(handle);
  zwlr_foreign_toplevel_manager_v1_send_toplevel(manager, handle);
  return handle;
}

std::size_t TestCompositor::add_toplevel() {
  toplevels_.push_back(std::make_unique<Toplevel>());
  // A new window is announced at once, before anything is known of it.
  for (wl_resource* manager : toplevel_managers_)
    new_handle(*toplevels_.back(), manager);
  flush();
  return toplevels_.size() - 1;
}

void TestCompositor::toplevel_title(std::size_t window, std::string_view title) {
  if (Toplevel* t = toplevel(window, "toplevel_title")) {
    t->title = std::string(title);
    for (wl_resource* handle : t->handles)
      zwlr_foreign_toplevel_handle_v1_send_title(handle, t->title->c_str());
    flush();
  }
}

void TestCompositor::toplevel_app_id(std::size_t window, std::string_view app_id) {
  if (Toplevel* t = toplevel(window, "toplevel_app_id")) {
    t->app_id = std::string(app_id);
    for (wl_resource* handle : t->handles)
      zwlr_foreign_toplevel_handle_v1_send_app_id(handle, t->app_id->c_str());
    flush();
  }
}

void TestCompositor::toplevel_state(std::size_t window, const std::vector<std::uint32_t>& states) {
  if (Toplevel* t = toplevel(window, "toplevel_state")) {
    t->states = states;
    for (wl_resource* handle : t->handles)
      send_states(handle, states);
    flush();
  }
}

void TestCompositor::toplevel_done(std::size_t window) {
  if (Toplevel* t = toplevel(window, "toplevel_done")) {
    for (wl_resource* handle : t->handles)
      zwlr_foreign_toplevel_handle_v1_send_done(handle);
    flush();
  }
}

void TestCompositor::close_toplevel(std::size_t window) {
  if (Toplevel* t = toplevel(window, "close_toplevel")) {
    // The handles stay until their clients destroy them; nothing more is sent on them.
    for (wl_resource* handle : t->handles)
      zwlr_foreign_toplevel_handle_v1_send_closed(handle);
    t->closed = true;
    flush();
  }
}

std::size_t TestCompositor::open_app(std::string_view app_id, const std::vector<std::uint32_t>& states) {
  const std::size_t window = add_toplevel();
  toplevel_app_id(window, app_id);
  toplevel_state(window, states);
  toplevel_done(window);
  return window;
}

void TestCompositor::focus_toplevel(std::size_t window) {
  if (toplevel(window, "focus_toplevel") == nullptr) return;
  for (std::size_t other = 0; other < toplevels_.size(); ++other) {
    const Toplevel& t = *toplevels_[other];
    if (other == window || t.closed || !is_activated(t.states)) continue;
    std::vector<std::uint32_t> states = t.states;
    std::erase(states, TOPLEVEL_ACTIVATED);
    toplevel_state(other, states);
    toplevel_done(other);
  }
  std::vector<std::uint32_t> states = toplevels_[window]->states;
  if (!is_activated(states)) states.push_back(TOPLEVEL_ACTIVATED);
  toplevel_state(window, states);
  toplevel_done(window);
}

std::vector<std::string> TestCompositor::take() {
  std::vector<std::string> got;
  got.swap(requests_);
  return got;
}

::testing::AssertionResult TestCompositor::wait_for(const std::function<bool()>& done_yet,
                                                    std::string_view what) {
  const auto until = std::chrono::steady_clock::now() + deadline_;
  for (;;) {
    dispatch(0);
    if (done_yet()) return ::testing::AssertionSuccess();
    if (service_ && service_->poll()) {
      return ::testing::AssertionFailure() << "waiting for " << what << ": the service ended\n" << state();
    }
    if (std::chrono::steady_clock::now() > until) {
      return ::testing::AssertionFailure()
             << "waiting for " << what << ": nothing within " << deadline_.count() << " ms\n"
             << state();
    }
    dispatch(5);
  }
}

::testing::AssertionResult TestCompositor::wait_requests(std::size_t count, std::vector<std::string>& got) {
  std::ostringstream what;
  what << count << " requests";
  if (auto waited = wait_for([&] { return requests_.size() >= count; }, what.str()); !waited) return waited;
  got.assign(requests_.begin(), requests_.begin() + static_cast<std::ptrdiff_t>(count));
  requests_.erase(requests_.begin(), requests_.begin() + static_cast<std::ptrdiff_t>(count));
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult TestCompositor::settle(std::vector<std::string>& got) {
  if (!globals_.virtual_keyboard_manager) {
    return ::testing::AssertionFailure() << "settle needs the virtual keyboard to forward its marker key";
  }
  const std::uint32_t time = key(BARRIER_KEY, false);
  const std::string marker = call("vk.key", time, BARRIER_KEY, 0);
  auto found = requests_.end();
  auto waited = wait_for(
      [&] {
        found = std::find(requests_.begin(), requests_.end(), marker);
        return found != requests_.end();
      },
      "the marker key " + marker);
  if (!waited) return waited;
  // The forwarded marker is preceded by its modifiers.
  if (found == requests_.begin() || (found - 1)->rfind("vk.modifiers(", 0) != 0) {
    return ::testing::AssertionFailure() << "the marker key came without its modifiers\n" << state();
  }
  got.assign(requests_.begin(), found - 1);
  requests_.erase(requests_.begin(), found + 1);
  return ::testing::AssertionSuccess();
}

void TestCompositor::dispatch(int timeout_ms) {
  wl_display_flush_clients(display_);
  wl_event_loop_dispatch(loop_, timeout_ms);
  wl_display_flush_clients(display_);
}

void TestCompositor::flush() {
  wl_display_flush_clients(display_);
}

std::string TestCompositor::state() const {
  std::ostringstream text;
  text << "requests not yet taken:";
  for (const std::string& request : requests_)
    text << "\n  " << request;
  if (requests_.empty()) text << " none";
  text << "\nservice ";
  if (service_) {
    text << describe(service_->exit());
  } else {
    text << "not started";
  }
  return text.str();
}

void TestCompositor::record(std::string request) {
  requests_.push_back(std::move(request));
}

void TestCompositor::on_bind_input_method(wl_client* client) {
  service_client_ = client;
}

void TestCompositor::on_input_method(wl_resource* resource) {
  input_method_ = resource;
  service_client_ = wl_resource_get_client(resource);
}

void TestCompositor::on_grab(wl_resource* resource) {
  grabs_.push_back(std::make_unique<Grab>(Grab{resource}));
  // A new grab learns the keyboard's keymap and state first, as from a real keyboard.
  send_keymap(keymap_.text);
  zwp_input_method_keyboard_grab_v2_send_repeat_info(resource, 25, 600);
  modifiers(0);
}

void TestCompositor::on_virtual_keyboard(wl_resource* resource) {
  virtual_keyboard_ = resource;
}

void TestCompositor::on_virtual_keymap(std::string text) {
  virtual_keymap_ = std::move(text);
  virtual_has_keymap_ = true;
}

void TestCompositor::on_bind_toplevel_manager(wl_resource* manager) {
  toplevel_managers_.push_back(manager);
  // A client that binds late learns of every window there is: all that is known of it, then done.
  for (const std::unique_ptr<Toplevel>& window : toplevels_) {
    if (window->closed) continue;
    wl_resource* handle = new_handle(*window, manager);
    if (handle == nullptr) continue;
    if (window->title) zwlr_foreign_toplevel_handle_v1_send_title(handle, window->title->c_str());
    if (window->app_id) zwlr_foreign_toplevel_handle_v1_send_app_id(handle, window->app_id->c_str());
    send_states(handle, window->states);
    zwlr_foreign_toplevel_handle_v1_send_done(handle);
  }
}

void TestCompositor::on_toplevel_manager_stop(wl_resource* manager) {
  record("toplevel_manager.stop");
  zwlr_foreign_toplevel_manager_v1_send_finished(manager);
  wl_resource_destroy(manager);  // the protocol has the compositor destroy it right after finished
}

void TestCompositor::forget(wl_resource* resource) {
  std::erase(toplevel_managers_, resource);
  for (const std::unique_ptr<Toplevel>& window : toplevels_)
    std::erase(window->handles, resource);
  if (resource == input_method_) input_method_ = nullptr;
  if (resource == virtual_keyboard_) virtual_keyboard_ = nullptr;
  for (const std::unique_ptr<Grab>& grab : grabs_) {
    if (grab->resource == resource) grab->resource = nullptr;
  }
}

}  // namespace lumaret::wayland::testing
