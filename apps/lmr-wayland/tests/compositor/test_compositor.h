// A compositor for tests: it offers a seat, the input-method manager and (optionally) the virtual keyboard
// manager on a private socket, runs the real lumaret-wayland against it, sends it the events a text field
// and a keyboard would cause, and writes down every request the service makes, in order, as text:
//
//   bind(wl_seat, 7)                         a global bound, with the version asked for
//   get_input_method  create_virtual_keyboard  grab_keyboard
//   set_preedit_string("viết", 6, 6)         commit_string("viết ")   delete_surrounding_text(2, 0)
//   commit(3)
//   vk.keymap(1, 48392)                      vk.modifiers(0, 0, 0, 0)   vk.key(1004, 30, 1)
//   toplevel.destroy                         a handle the service let go of
//
// When asked to, it also keeps a list of toplevel windows (application id, states) and publishes it
// through the toplevel manager, as desktop compositors do for task bars.
//
// Everything runs on the test's thread: a wait dispatches the compositor's event loop until what it waits
// for has happened or its deadline has passed, and then fails with the requests so far and the service's
// standard error.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "compositor/process.h"

struct wl_client;
struct wl_display;
struct wl_event_loop;
struct wl_resource;

namespace lumaret::wayland::testing {

// A keymap compiled from the system's XKB data, as the text a compositor hands out.
struct Keymap {
  std::string text;
  std::uint32_t shift = 0;  // modifier masks in this keymap
  std::uint32_t ctrl = 0;
  std::uint32_t alt = 0;

  static Keymap compile(const char* layout, const char* variant = "");
};

// The evdev code of the key that types `c` on a US keyboard (lower-case letters, digits, space and a
// little punctuation); 0 for any other character.
std::uint32_t evdev_code(char c);

// Which globals the compositor offers.
struct Globals {
  bool seat = true;
  bool input_method_manager = true;
  bool virtual_keyboard_manager = true;
  bool toplevel_manager = false;  // the window list; most tests run without one
};

class TestCompositor {
 public:
  // Protocol values the tests use.
  static constexpr std::uint32_t KEYMAP_FORMAT_NO_KEYMAP = 0;
  static constexpr std::uint32_t KEYMAP_FORMAT_XKB_V1 = 1;
  static constexpr std::uint32_t SEAT_VERSION = 7;
  static constexpr std::uint32_t TOPLEVEL_MANAGER_VERSION = 3;
  static constexpr std::uint32_t TOPLEVEL_MAXIMIZED = 0;
  static constexpr std::uint32_t TOPLEVEL_ACTIVATED = 2;

  explicit TestCompositor(Globals globals = {},
                          std::chrono::milliseconds deadline = std::chrono::seconds(10));
  ~TestCompositor();
  TestCompositor(const TestCompositor&) = delete;
  TestCompositor& operator=(const TestCompositor&) = delete;

  // The socket's name, as WAYLAND_DISPLAY gives it, and the folder that holds it (XDG_RUNTIME_DIR);
  // tests keep their scratch files there too.
  const std::string& display_name() const { return display_name_; }
  const std::filesystem::path& dir() const { return dir_.path(); }
  // The environment a client of this compositor runs with, plus `extra`.
  EnvChanges client_env(const EnvChanges& extra = {}) const;

  // Runs the service binary with `args` to its end (probe mode, for instance) while serving it.
  ::testing::AssertionResult run(const std::vector<std::string>& args, Exit& exit,
                                 const EnvChanges& extra = {});

  // Starts the service and waits until it has made its input method (and virtual keyboard, when offered).
  // A `wrapper` command (a memory checker, say) runs the service as its last argument.
  ::testing::AssertionResult start_service(const std::vector<std::string>& args = {},
                                           const EnvChanges& extra = {},
                                           const std::vector<std::string>& wrapper = {});
  // Waits until the service has ended.
  ::testing::AssertionResult wait_service_exit(Exit& exit);
  std::string service_err() const;
  pid_t service_pid() const;
  // Closes the service's connection from the compositor's side.
  void disconnect_service();
  // Stops reading what the service sends, so that its next write fails; events still reach it.
  void stop_reading_service();

  // Input-method events.
  void activate();
  void deactivate();
  void surrounding_text(std::string_view text, std::uint32_t cursor_bytes, std::uint32_t anchor_bytes);
  void content_type(std::uint32_t hint, std::uint32_t purpose);
  void done();
  void unavailable();

  // Keyboard-grab events. Each goes to the newest grab unless `grab` names one (0 is the first ever made);
  // grabs the service has forgotten are kept, as a compositor may go on using them.
  std::size_t grab_count() const { return grabs_.size(); }
  // The keymap every new grab is sent first; the US layout unless changed.
  const Keymap& keymap() const { return keymap_; }
  void set_keymap(Keymap keymap) { keymap_ = std::move(keymap); }
  void send_keymap(std::string_view text, std::optional<std::size_t> grab = std::nullopt);
  // A keymap event as given: the descriptor is sent as it is and closed here afterwards.
  void send_keymap_fd(std::uint32_t format, int fd, std::uint32_t size,
                      std::optional<std::size_t> grab = std::nullopt);
  // Returns the event's time, which a forwarded key must carry on.
  std::uint32_t key(std::uint32_t code, bool pressed, std::optional<std::size_t> grab = std::nullopt);
  void modifiers(std::uint32_t depressed, std::uint32_t latched = 0, std::uint32_t locked = 0,
                 std::uint32_t group = 0, std::optional<std::size_t> grab = std::nullopt);
  // Presses and releases the key of each character in turn.
  void type(std::string_view keys, std::optional<std::size_t> grab = std::nullopt);

  // Toplevel windows. A window exists from `add_toplevel` to `close_toplevel`; the service is told of
  // every window when it binds the manager and of each event below as it happens. As in the protocol, a
  // client is to take a window's changes as a whole at its `done`. Windows are numbered from 0 in the
  // order they were added.
  std::size_t add_toplevel();
  void toplevel_title(std::size_t window, std::string_view title);
  void toplevel_app_id(std::size_t window, std::string_view app_id);
  void toplevel_state(std::size_t window, const std::vector<std::uint32_t>& states);
  void toplevel_done(std::size_t window);
  void close_toplevel(std::size_t window);
  // A window of `app_id` with `states`, announced complete with its done.
  std::size_t open_app(std::string_view app_id, const std::vector<std::uint32_t>& states = {});
  // Moves the activation to `window` as a compositor does when the user switches windows: the window
  // activated so far loses the state, then `window` gains it, each change ending with its own done.
  void focus_toplevel(std::size_t window);

  // Requests not yet taken by `take`, `settle` or `wait_requests`.
  const std::vector<std::string>& requests() const { return requests_; }
  std::vector<std::string> take();
  // The text of the last keymap the virtual keyboard was given (without the terminating NUL).
  const std::string& virtual_keymap() const { return virtual_keymap_; }

  // Dispatches until `done_yet` holds; fails naming `what` at the deadline or when the service ends.
  ::testing::AssertionResult wait_for(const std::function<bool()>& done_yet, std::string_view what);
  // Waits until `count` requests are pending and takes exactly those.
  ::testing::AssertionResult wait_requests(std::size_t count, std::vector<std::string>& got);
  // Makes sure every event sent so far has been handled, and takes the requests that answered them. The
  // service writes nothing for some events (a swallowed release), so it is sent a release of a key that
  // was never pressed, which it forwards through the virtual keyboard; its two requests are not returned.
  ::testing::AssertionResult settle(std::vector<std::string>& got);

  // Waits a little for the event loop: the body of every wait.
  void dispatch(int timeout_ms);

  // The requests and the service's standard error, for failure messages.
  std::string state() const;

  // Called by the protocol handlers.
  struct Grab;
  void record(std::string request);
  void on_bind_input_method(wl_client* client);
  void on_input_method(wl_resource* resource);
  void on_grab(wl_resource* resource);
  void on_virtual_keyboard(wl_resource* resource);
  void on_virtual_keymap(std::string text);
  void on_bind_toplevel_manager(wl_resource* manager);
  void on_toplevel_manager_stop(wl_resource* manager);
  bool virtual_has_keymap() const { return virtual_has_keymap_; }
  void forget(wl_resource* resource);

 private:
  struct Toplevel;
  wl_resource* grab_resource(std::optional<std::size_t> grab);
  Toplevel* toplevel(std::size_t window, std::string_view what);
  // A handle for `window` made on `manager`'s client and announced to it.
  wl_resource* new_handle(Toplevel& window, wl_resource* manager);
  void flush();

  Globals globals_;
  std::chrono::milliseconds deadline_;
  ScratchDir dir_;
  std::string display_name_;
  wl_display* display_ = nullptr;
  wl_event_loop* loop_ = nullptr;
  Keymap keymap_;
  std::unique_ptr<Child> service_;
  wl_client* service_client_ = nullptr;
  wl_resource* input_method_ = nullptr;
  wl_resource* virtual_keyboard_ = nullptr;
  std::vector<std::unique_ptr<Grab>> grabs_;
  std::vector<wl_resource*> toplevel_managers_;  // bound and not stopped
  std::vector<std::unique_ptr<Toplevel>> toplevels_;
  std::vector<std::string> requests_;
  std::string virtual_keymap_;
  bool virtual_has_keymap_ = false;
  std::uint32_t serial_ = 0;  // of the grab's key and modifiers events
  std::uint32_t time_ = 1000;
};

}  // namespace lumaret::wayland::testing
