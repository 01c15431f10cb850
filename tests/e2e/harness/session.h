// An end-to-end run: a headless Sway of its own, the input method, an application to type into and a
// keyboard, all started in a private folder as an unprivileged user and all stopped when the run ends.
//
// Everything is awaited, never slept on: each wait watches the programs' logs until what it waits for
// shows or its deadline passes, and then fails with a message that shows every program's log. Typing is
// paced like a person's: each key is sent only once the previous one has been handled all the way
// (the service has taken it, the application has applied what came of it, and the application's report
// of its text has reached the compositor ahead of the next key).
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "process.h"

namespace lumaret::e2e {

using Clock = std::chrono::steady_clock;

// A run cannot go on: a deadline passed, a program died or a request was refused. The text says what
// was awaited and shows the logs.
class Failure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What the application shows: its text, the cursor, and the pre-edit standing at the cursor.
struct Field {
  std::string text;
  std::uint32_t cursor_chars = 0;
  std::string preedit;
  std::uint64_t seq = 0;        // changes so far
  std::int64_t changed_ns = 0;  // monotonic time the event behind the last change arrived
};
// The field as one quoted line: the cursor is "|", a pre-edit stands in brackets at the cursor.
std::string show(const Field& field);

class Session;

// An application the input method types into. The harness starts it, sees its log lines, waits until it
// is ready and reads its text; what it can do beyond that is optional. Our own test application is one;
// others (terminals, toolkits, browsers) plug in the same way.
class Target {
 public:
  virtual ~Target() = default;
  virtual std::string name() const = 0;
  // Its command line and the variables it needs besides the run's own.
  virtual std::vector<std::string> argv(const Session& session) const = 0;
  virtual std::vector<std::string> env() const { return {}; }
  // Each line it writes, as it comes.
  virtual void on_line(std::string_view line) = 0;
  // Its window is up, so the compositor can give it the focus.
  virtual bool shown() const = 0;
  // How often it has enabled its text input so far.
  virtual std::size_t enabled() const = 0;
  virtual Field field() const = 0;
  // Returns once it has handled everything the compositor sent it so far, and the compositor has taken
  // what it reported in return.
  virtual void settle(Session& session) = 0;
  // Problems it noticed in what it was sent (an impossible deletion, ...); none in a good run.
  virtual std::vector<std::string> complaints() const { return {}; }

  // Optional abilities. The defaults refuse.
  virtual bool can_edit() const { return false; }  // click, content types and a second window
  virtual void click(Session& session, std::uint32_t chars);
  virtual void set_content(Session& session, std::string_view purpose);
  virtual void open_second_window(Session& session);
  virtual void close_second_window(Session& session);
};

// One step of typing, in the notation of lumaret-type: characters stand for themselves, named keys are
// <BS> <Enter> <Esc> <Tab> <Left> <Right> <Up> <Down> <Home> <End> <Del> <PgUp> <PgDn>, held modifiers
// <A-x> <C-x> <M-x>, and <lt> is '<'. Two more steps belong to the application: <click:N> moves its
// cursor before character N, <content:PURPOSE> makes its field normal, url, password, email, digits or
// terminal.
struct Step {
  enum class Kind { Key, Click, Content };
  Kind kind = Kind::Key;
  std::string text;         // Key: the injector's command ("type x", "key A+B"); Content: the purpose
  std::uint32_t chars = 0;  // Click: the character the cursor goes before
};
std::vector<Step> parse_steps(std::string_view keys);

class Session {
 public:
  struct Options {
    std::string name = "run";                         // names the run's folder
    std::string config = "{}";                        // the service's configuration file
    bool service_debug = true;                        // --debug: the pacing reads the service's per-key lines
    std::chrono::milliseconds patience{15000};        // the longest any one wait may take
    std::function<std::unique_ptr<Target>()> target;  // our test application when empty
  };

  explicit Session(Options options);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // The usual start: compositor, idle keyboard, then the service and the application in the order
  // asked, then the injector.
  enum class Order { ServiceFirst, ApplicationFirst, NoService };
  void start(Order order = Order::ServiceFirst);
  // The same one piece at a time. Each returns once its program is ready.
  void start_compositor();
  // Sway 1.7 crashes when an input method grabs the keyboard of a seat that has none, so a keyboard
  // that never types joins the seat before anything else.
  void start_idle_keyboard();
  void start_service();
  void start_target();
  // A second application beside the target, for scenarios that move the focus between two programs.
  // It starts like the target: its window takes the focus and the input method is awaited in it. From
  // then on every key is settled in both applications, whichever has the focus.
  Target& start_second_target(std::unique_ptr<Target> second);
  // Gives the focus to the window of application `app_id`, as a click on it would, through the
  // compositor's command socket. Returns once the compositor has done it.
  void focus_window(std::string_view app_id);
  void start_injector();

  // Types `keys` (see Step) one step at a time, each handled all the way before the next.
  void type(std::string_view keys);
  // One key or chord, without waiting for its effect; returns how many key events left and when the
  // first one did (monotonic).
  struct Sent {
    std::uint32_t events;
    std::int64_t sent_ns;
  };
  Sent send_key(const Step& step);
  // Returns once the keys sent so far have been handled all the way.
  void settle();

  Target& target() { return *target_; }
  Process& application() { return *app_; }
  // The program of `target`: the target's or the second application's.
  Process& application(const Target& target);
  Field field() const { return target_->field(); }
  std::string text() const { return target_->field().text; }

  Process& compositor() { return *compositor_; }
  Process& service() { return *service_; }
  bool service_running() const { return service_ != nullptr; }
  // Lines of the service's log containing `needle`.
  std::size_t service_lines(std::string_view needle) const;
  // Replaces the configuration file, with a modification time the service cannot miss.
  void write_config(std::string_view json);
  // Ends the compositor the hard way; every program may end from then on.
  void kill_compositor();
  // Waits for `process` to end and returns its wait status.
  int wait_exit(Process& process);

  // Waits until `done` holds, failing after the session's patience.
  void wait_for(std::string_view what, const std::function<bool()>& done);
  // Watches the programs for `duration`, however busy or quiet they are (a measurement window).
  void observe(std::chrono::milliseconds duration);
  // Throws a Failure naming `what`, with every program's state and the end of its log.
  [[noreturn]] void fail(std::string_view what);
  std::string report();
  // Fails unless the run is healthy: the service and the application are running and nobody logged
  // a complaint.
  void check_health();

  // The run's folder; it is removed at the end unless the run failed or LUMARET_E2E_KEEP is set.
  const std::filesystem::path& dir() const { return dir_; }
  const std::filesystem::path& config_path() const { return config_; }
  const std::optional<User>& user() const { return user_; }
  // A built program, as the run's user can reach it.
  std::filesystem::path program(std::string_view name) const;
  std::vector<std::string> client_env() const;

 private:
  struct Slot;
  // Fills the run's folder: runtime folder, home, configuration files, copies of the programs.
  void prepare();
  Process& launch(std::string name, std::vector<std::string> argv, std::vector<std::string> env, bool input,
                  std::function<void(std::string_view)> on_line);
  void drain();
  // Writes every program's output to the run's folder, and keeps the folder.
  void save_logs();
  void pump(Clock::time_point deadline);
  void check_alive(std::string_view what);
  bool activated() const;
  bool keys_reach_service() const;

  Options options_;
  std::optional<User> user_;
  std::filesystem::path dir_;
  std::filesystem::path runtime_;
  std::filesystem::path config_;
  std::string display_;
  std::vector<std::unique_ptr<Slot>> slots_;
  std::unique_ptr<Target> target_;
  std::unique_ptr<Target> second_;
  Process* second_app_ = nullptr;
  Process* compositor_ = nullptr;
  Process* service_ = nullptr;
  Process* app_ = nullptr;
  Process* injector_ = nullptr;
  std::vector<std::string> injector_answers_;
  std::size_t service_keys_ = 0;           // key lines in the service's log
  std::size_t expected_service_keys_ = 0;  // key events sent while they pass through the service
  std::size_t activations_ = 0;
  int watch_ = -1;  // inotify on the runtime folder while the compositor starts
  bool keep_ = false;
};

}  // namespace lumaret::e2e
