#include "session.h"

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>

#include "io.h"
#include "test_app.h"

namespace lumaret::e2e {
namespace fs = std::filesystem;

namespace {

constexpr const char* RUN_USER = "lumaret-e2e";
constexpr std::chrono::milliseconds RECHECK{50};
constexpr std::size_t LOG_TAIL_LINES = 40;

// No key bindings: every key belongs to the test. No Xwayland: nothing here needs it, and it would
// slow every start.
constexpr std::string_view SWAY_CONFIG =
    "xwayland disable\n"
    "output HEADLESS-1 resolution 1280x720\n";

// The built programs, known at build time.
const std::map<std::string, fs::path, std::less<>> BUILT = {
    {"lumaret-wayland", LUMARET_E2E_SERVICE},
    {"lmr-e2e-app", LUMARET_E2E_APP},
    {"lmr-e2e-inject", LUMARET_E2E_INJECT},
};

// Named keys of the notation and the keysyms the injector presses for them.
const std::map<std::string, std::string, std::less<>> NAMED_KEYS = {
    {"BS", "BackSpace"}, {"Enter", "Return"}, {"Esc", "Escape"}, {"Tab", "Tab"},       {"Left", "Left"},
    {"Right", "Right"},  {"Up", "Up"},        {"Down", "Down"},  {"Home", "Home"},     {"End", "End"},
    {"Del", "Delete"},   {"PgUp", "Prior"},   {"PgDn", "Next"},  {"Shift", "Shift_L"},
};
const std::map<char, std::string> HELD = {{'A', "Alt_L"}, {'C', "Control_L"}, {'M', "Super_L"}};

std::optional<User> lookup_user() {
  const passwd* p = getpwnam(RUN_USER);
  if (p == nullptr) return std::nullopt;
  return User{p->pw_uid, p->pw_gid, RUN_USER};
}

// Sway refuses to run as root. A root harness runs everything as a system user of its own, made the
// first time it is needed; two runs starting together take turns making it.
std::optional<User> run_user() {
  if (geteuid() != 0) return std::nullopt;
  if (auto user = lookup_user()) return user;
  const int lock = open("/tmp/lumaret-e2e-useradd.lock", O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (lock >= 0) flock(lock, LOCK_EX);
  std::string output;
  int status = 0;
  if (!lookup_user()) {
    FILE* pipe = popen(
        "PATH=/usr/sbin:/usr/bin:/sbin:/bin useradd --system --user-group --no-create-home --home-dir "
        "/nonexistent --shell /usr/sbin/nologin "
        "lumaret-e2e 2>&1",
        "r");
    if (pipe != nullptr) {
      char chunk[256];
      while (std::fgets(chunk, sizeof chunk, pipe))
        output += chunk;
      status = pclose(pipe);
    }
  }
  if (lock >= 0) close(lock);
  if (auto user = lookup_user()) return user;
  throw Failure("cannot create the user " + std::string(RUN_USER) + " (useradd status " +
                std::to_string(status) + "): " + output);
}

// Whether a user who owns nothing on the way can run `file`.
bool others_can_run(const fs::path& file) {
  struct stat st {};
  if (stat(file.c_str(), &st) != 0 || (st.st_mode & (S_IROTH | S_IXOTH)) != (S_IROTH | S_IXOTH)) return false;
  for (fs::path dir = file.parent_path(); !dir.empty(); dir = dir.parent_path()) {
    if (stat(dir.c_str(), &st) != 0 || !(st.st_mode & S_IXOTH)) return false;
    if (dir == dir.root_path()) break;
  }
  return true;
}

void give(const fs::path& path, const std::optional<User>& user) {
  if (user && chown(path.c_str(), user->uid, user->gid) != 0) {
    throw Failure("chown " + path.string() + ": " + std::strerror(errno));
  }
}

void write_file(const fs::path& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw Failure("cannot write " + path.string());
}

// The compositor's socket, once it accepts connections.
std::optional<std::string> listening_socket(const fs::path& runtime) {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(runtime, error)) {
    const std::string name = entry.path().filename();
    if (!name.starts_with("wayland-") || name.find('.') != std::string::npos || !entry.is_socket(error))
      continue;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, entry.path().c_str(), sizeof address.sun_path - 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    if (ok) return name;
  }
  return std::nullopt;
}

std::string short_name(std::string_view name) {
  std::string out;
  for (const char c : name.substr(0, 24))
    out += std::isalnum(static_cast<unsigned char>(c)) ? c : '-';
  return out;
}

}  // namespace

std::string show(const Field& field) {
  std::string out = "\"";
  std::size_t chars = 0;
  std::size_t at = 0;
  for (; at < field.text.size() && chars < field.cursor_chars; ++at) {
    if (at + 1 == field.text.size() || (static_cast<unsigned char>(field.text[at + 1]) & 0xc0) != 0x80)
      ++chars;
  }
  out += escape(field.text.substr(0, at));
  out += '|';
  if (!field.preedit.empty()) out += "[" + escape(field.preedit) + "]";
  out += escape(field.text.substr(at));
  return out + "\"";
}

void Target::click(Session&, std::uint32_t) {
  throw Failure(name() + " cannot move its cursor on request");
}
void Target::set_content(Session&, std::string_view) {
  throw Failure(name() + " cannot change its content type on request");
}
void Target::open_second_window(Session&) {
  throw Failure(name() + " cannot open a second window");
}
void Target::close_second_window(Session&) {
  throw Failure(name() + " cannot close a second window");
}

std::vector<Step> parse_steps(std::string_view keys) {
  std::vector<Step> steps;
  while (!keys.empty()) {
    if (keys.front() != '<') {
      // One character, whole: a UTF-8 sequence is never split.
      std::size_t n = 1;
      while (n < keys.size() && (static_cast<unsigned char>(keys[n]) & 0xc0) == 0x80)
        ++n;
      steps.push_back({Step::Kind::Key, "type " + escape(keys.substr(0, n))});
      keys.remove_prefix(n);
      continue;
    }
    const std::size_t end = keys.find('>', 2);  // "<>>" would be no name; '>' may be held: <A->>
    if (end == std::string_view::npos) throw Failure("unclosed < in keys: " + std::string(keys));
    const std::string_view name = keys.substr(1, end - 1);
    keys.remove_prefix(end + 1);
    if (name == "lt") {
      steps.push_back({Step::Kind::Key, "type <"});
    } else if (const auto named = NAMED_KEYS.find(name); named != NAMED_KEYS.end()) {
      steps.push_back({Step::Kind::Key, "key " + named->second});
    } else if (name.size() >= 3 && name[1] == '-' && HELD.contains(name[0])) {
      const std::string_view key = name.substr(2);
      const auto named_key = NAMED_KEYS.find(key);
      steps.push_back(
          {Step::Kind::Key, "key " + HELD.at(name[0]) + "+" +
                                (named_key != NAMED_KEYS.end() ? named_key->second : std::string(key))});
    } else if (name.starts_with("click:")) {
      steps.push_back(
          {Step::Kind::Click, "", static_cast<std::uint32_t>(std::stoul(std::string(name.substr(6))))});
    } else if (name.starts_with("content:")) {
      steps.push_back({Step::Kind::Content, std::string(name.substr(8))});
    } else {
      throw Failure("unknown key <" + std::string(name) + ">");
    }
  }
  return steps;
}

// --- Session -------------------------------------------------------------------------------------------

struct Session::Slot {
  std::unique_ptr<Process> process;
  std::function<void(std::string_view)> on_line;
  std::size_t consumed = 0;  // bytes of output already split into lines
  bool must_run = true;
};

Session::Session(Options options) : options_(std::move(options)), user_(run_user()) {
  std::string pattern = "/tmp/lumaret-e2e-" + short_name(options_.name) + "-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw Failure("mkdtemp: " + std::string(std::strerror(errno)));
  dir_ = pattern;
  try {
    prepare();
  } catch (...) {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
    throw;
  }
  target_ = options_.target ? options_.target() : std::make_unique<TestApp>();
}

void Session::prepare() {
  fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
  give(dir_, user_);
  // The compositor's socket lives here; only the run's user may reach it.
  runtime_ = dir_ / "runtime";
  fs::create_directory(runtime_);
  fs::permissions(runtime_, fs::perms::owner_all);
  give(runtime_, user_);
  fs::create_directory(dir_ / "home");
  give(dir_ / "home", user_);
  config_ = dir_ / "config.json";
  write_file(config_, options_.config);
  give(config_, user_);  // the service may write its configuration back, as it does at home
  write_file(dir_ / "sway.conf", SWAY_CONFIG);
  // The build may sit where the run's user cannot reach it (a root home folder): then it runs copies.
  if (user_) {
    for (const auto& [name, path] : BUILT) {
      if (others_can_run(path)) continue;
      fs::create_directories(dir_ / "bin");
      fs::copy_file(path, dir_ / "bin" / name);
    }
  }
}

Session::~Session() {
  // The keyboard first and the compositor last, each killed and reaped.
  const bool keep = keep_ || std::getenv("LUMARET_E2E_KEEP") != nullptr;
  if (keep && !keep_) save_logs();
  while (!slots_.empty())
    slots_.pop_back();
  if (watch_ >= 0) close(watch_);
  if (keep) return;
  std::error_code ignored;
  fs::remove_all(dir_, ignored);
}

fs::path Session::program(std::string_view name) const {
  const fs::path copy = dir_ / "bin" / name;
  if (std::error_code error; fs::exists(copy, error)) return copy;
  return BUILT.at(std::string(name));
}

std::vector<std::string> Session::client_env() const {
  std::vector<std::string> env = {
      "PATH=/usr/local/bin:/usr/bin:/bin:/usr/local/sbin:/usr/sbin:/sbin",
      "HOME=" + (dir_ / "home").string(),
      "XDG_RUNTIME_DIR=" + runtime_.string(),
      "XDG_CONFIG_HOME=" + (dir_ / "home" / ".config").string(),
      "LANG=C.UTF-8",
  };
  if (!display_.empty()) env.push_back("WAYLAND_DISPLAY=" + display_);
  // The sanitizer build's settings reach the programs it built.
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name)) env.push_back(std::string(name) + "=" + value);
  }
  return env;
}

Process& Session::launch(std::string name, std::vector<std::string> argv, std::vector<std::string> env,
                         bool input, std::function<void(std::string_view)> on_line) {
  auto slot = std::make_unique<Slot>();
  slot->process = std::make_unique<Process>(
      Process::Options{std::move(name), std::move(argv), std::move(env), user_, input});
  slot->on_line = std::move(on_line);
  slots_.push_back(std::move(slot));
  return *slots_.back()->process;
}

void Session::start(Order order) {
  start_compositor();
  start_idle_keyboard();
  if (order == Order::ServiceFirst) start_service();
  start_target();
  if (order == Order::ApplicationFirst) start_service();
  start_injector();
}

void Session::start_compositor() {
  watch_ = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  inotify_add_watch(watch_, runtime_.c_str(), IN_CREATE | IN_ATTRIB);
  std::vector<std::string> env = client_env();
  env.insert(env.end(), {"WLR_BACKENDS=headless", "WLR_RENDERER=pixman", "WLR_LIBINPUT_NO_DEVICES=1"});
  compositor_ = &launch("sway", {"sway", "-c", (dir_ / "sway.conf").string()}, env, false, nullptr);
  wait_for("Sway to accept connections on a Wayland socket in " + runtime_.string(), [&] {
    if (auto socket = listening_socket(runtime_)) display_ = *socket;
    return !display_.empty();
  });
  close(watch_);
  watch_ = -1;
}

void Session::start_idle_keyboard() {
  Process& keyboard =
      launch("idle keyboard", {program("lmr-e2e-inject").string(), "--idle"}, client_env(), true, nullptr);
  wait_for("the idle keyboard to join the seat", [&] { return keyboard.count("ready\n") > 0; });
}

void Session::start_service() {
  std::vector<std::string> argv = {program("lumaret-wayland").string(), "--config", config_.string()};
  if (options_.service_debug) argv.push_back("--debug");
  std::vector<std::string> env = client_env();
  // LUMARET_E2E_WAYLAND_DEBUG=1 logs every request and event of the service.
  if (std::getenv("LUMARET_E2E_WAYLAND_DEBUG") != nullptr) env.push_back("WAYLAND_DEBUG=1");
  service_ = &launch("lumaret-wayland", argv, env, false, [this](std::string_view line) {
    if (line.find("] key code=") != std::string_view::npos) ++service_keys_;
    if (line.ends_with("] input method activate")) ++activations_;
  });
  wait_for("lumaret-wayland to start", [&] { return service_lines("lumaret-wayland đang chạy") > 0; });
  if (app_ != nullptr && target_->shown()) {
    // The compositor holds back the application's focus until an input method exists.
    wait_for("the input method to be activated in the waiting application",
             [&] { return activated() && target_->enabled() > 0; });
  }
}

void Session::start_target() {
  std::vector<std::string> env = client_env();
  for (auto& e : target_->env())
    env.push_back(e);
  // LUMARET_E2E_APP_WAYLAND_DEBUG=1 logs every request and event of the application.
  if (std::getenv("LUMARET_E2E_APP_WAYLAND_DEBUG") != nullptr) env.push_back("WAYLAND_DEBUG=1");
  app_ = &launch(target_->name(), target_->argv(*this), env, true,
                 [this](std::string_view line) { target_->on_line(line); });
  wait_for(target_->name() + " to show its window", [&] { return target_->shown(); });
  if (service_ != nullptr) {
    wait_for("the input method to be activated in " + target_->name(),
             [&] { return activated() && target_->enabled() > 0; });
  }
}

Target& Session::start_second_target(std::unique_ptr<Target> second) {
  if (second_ != nullptr) fail("a second application runs already");
  second_ = std::move(second);
  std::vector<std::string> env = client_env();
  for (auto& e : second_->env())
    env.push_back(e);
  const std::size_t activations = activations_;
  second_app_ = &launch(second_->name(), second_->argv(*this), env, true,
                        [this](std::string_view line) { second_->on_line(line); });
  wait_for(second_->name() + " to show its window", [&] { return second_->shown(); });
  if (service_ != nullptr) {
    wait_for("the input method to be activated in " + second_->name(), [&] {
      return (activations_ > activations || !options_.service_debug) && second_->enabled() > 0;
    });
  }
  return *second_;
}

void Session::focus_window(std::string_view app_id) {
  // Sway makes its command socket next to its Wayland socket: sway-ipc.UID.PID.sock.
  fs::path socket;
  wait_for("Sway's command socket in " + runtime_.string(), [&] {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(runtime_, error)) {
      if (entry.path().filename().string().starts_with("sway-ipc.") && entry.is_socket(error))
        socket = entry.path();
    }
    return !socket.empty();
  });
  const std::string command = "[app_id=\"" + std::string(app_id) + "\"] focus";
  Process& message =
      launch("swaymsg", {"swaymsg", "-s", socket.string(), command}, client_env(), false, nullptr);
  const int status = wait_exit(message);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    fail("Sway refused \"" + command + "\" (swaymsg " + message.state() + "): " + message.output());
  }
}

Process& Session::application(const Target& target) {
  return &target == second_.get() ? *second_app_ : *app_;
}

void Session::start_injector() {
  injector_ = &launch("injector", {program("lmr-e2e-inject").string()}, client_env(), true,
                      [this](std::string_view line) {
                        if (line.starts_with("ok ") || line.starts_with("error "))
                          injector_answers_.emplace_back(line);
                      });
  wait_for("the injector's keyboard to join the seat", [&] { return injector_->count("ready\n") > 0; });
  // Should a new keyboard move the focus around, that is over before the first key.
  if (app_ != nullptr) target_->settle(*this);
}

bool Session::activated() const {
  // Without --debug the service does not log its activation; the application's side must do.
  return activations_ > 0 || !options_.service_debug;
}

bool Session::keys_reach_service() const {
  // Once the service has grabbed the keyboard, every key passes through it, active or not.
  return service_ != nullptr && !service_->status() && activations_ > 0 && options_.service_debug;
}

Session::Sent Session::send_key(const Step& step) {
  const std::size_t before = injector_answers_.size();
  injector_->send(step.text);
  wait_for("the injector to send \"" + step.text + "\"", [&] { return injector_answers_.size() > before; });
  const std::string& answer = injector_answers_.back();
  unsigned events = 0;
  long long sent_ns = 0;
  if (std::sscanf(answer.c_str(), "ok %u %lld", &events, &sent_ns) != 2) {
    fail("the injector refused \"" + step.text + "\": " + answer);
  }
  if (keys_reach_service()) expected_service_keys_ += events;
  return {events, sent_ns};
}

void Session::settle() {
  if (keys_reach_service()) {
    wait_for("lumaret-wayland to take " + std::to_string(expected_service_keys_) + " key events in all",
             [&] { return service_keys_ >= expected_service_keys_; });
  }
  target_->settle(*this);
  if (second_ != nullptr) second_->settle(*this);
}

void Session::type(std::string_view keys) {
  for (const Step& step : parse_steps(keys)) {
    switch (step.kind) {
      case Step::Kind::Key:
        send_key(step);
        settle();
        break;
      case Step::Kind::Click:
        target_->click(*this, step.chars);
        break;
      case Step::Kind::Content:
        target_->set_content(*this, step.text);
        break;
    }
  }
}

std::size_t Session::service_lines(std::string_view needle) const {
  return service_ == nullptr ? 0 : service_->count(needle);
}

void Session::write_config(std::string_view json) {
  std::error_code error;
  const auto before = fs::last_write_time(config_, error);
  write_file(config_, json);
  // A rewrite within the file system's time granularity could keep the old time: move it on.
  if (!error) fs::last_write_time(config_, before + std::chrono::seconds(1), error);
}

void Session::kill_compositor() {
  for (auto& slot : slots_)
    slot->must_run = false;
  compositor_->kill(SIGKILL);
}

int Session::wait_exit(Process& process) {
  for (auto& slot : slots_) {
    if (slot->process.get() == &process) slot->must_run = false;
  }
  wait_for(process.name() + " to end", [&] { return process.ended(); });
  drain();
  return *process.status();
}

void Session::wait_for(std::string_view what, const std::function<bool()>& done) {
  const Clock::time_point deadline = Clock::now() + options_.patience;
  while (true) {
    drain();
    if (done()) return;
    check_alive(what);
    if (Clock::now() >= deadline) {
      fail("timed out after " + std::to_string(options_.patience.count()) + " ms waiting for " +
           std::string(what));
    }
    pump(deadline);
  }
}

void Session::observe(std::chrono::milliseconds duration) {
  const Clock::time_point end = Clock::now() + duration;
  while (Clock::now() < end) {
    pump(end);
    drain();
    check_alive("the observation window to pass");
  }
}

void Session::check_alive(std::string_view what) {
  for (auto& slot : slots_) {
    if (slot->must_run && slot->process->ended()) {
      drain();
      fail(slot->process->name() + " " + slot->process->state() + " while waiting for " + std::string(what));
    }
  }
}

void Session::drain() {
  for (auto& slot : slots_) {
    Process& p = *slot->process;
    p.read_output();
    const std::string& out = p.output();
    while (true) {
      const std::size_t end = out.find('\n', slot->consumed);
      if (end == std::string::npos) break;
      const std::string_view line = std::string_view(out).substr(slot->consumed, end - slot->consumed);
      slot->consumed = end + 1;
      if (slot->on_line) slot->on_line(line);
    }
  }
}

void Session::pump(Clock::time_point deadline) {
  std::vector<pollfd> fds;
  for (auto& slot : slots_) {
    if (slot->process->output_fd() >= 0) fds.push_back({slot->process->output_fd(), POLLIN, 0});
  }
  if (watch_ >= 0) fds.push_back({watch_, POLLIN, 0});
  // Wake at least every RECHECK: a program can end without closing its output first, and a socket can
  // start listening a moment after it appears.
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  const int timeout = static_cast<int>(std::clamp(left, std::chrono::milliseconds(0), RECHECK).count());
  if (poll(fds.data(), fds.size(), timeout) > 0 && watch_ >= 0) {
    char events[4096];
    while (read(watch_, events, sizeof events) > 0) {
    }
  }
}

std::string Session::report() {
  drain();
  std::string out;
  for (auto& slot : slots_) {
    Process& p = *slot->process;
    out += "--- " + p.name() + " (pid " + std::to_string(p.pid()) + ", " + p.state() + "):\n";
    out += p.tail(LOG_TAIL_LINES);
  }
  if (app_ != nullptr) out += "--- the application's field: " + show(target_->field()) + "\n";
  if (second_ != nullptr) out += "--- the second application's field: " + show(second_->field()) + "\n";
  return out;
}

void Session::fail(std::string_view what) {
  std::string message = std::string(what) + "\n" + report();
  save_logs();
  message += "(full logs kept in " + dir_.string() + ")";
  throw Failure(message);
}

void Session::save_logs() {
  keep_ = true;
  drain();
  for (auto& slot : slots_) {
    std::ofstream(dir_ / (short_name(slot->process->name()) + ".log")) << slot->process->output();
  }
}

void Session::check_health() {
  drain();
  std::string problems;
  for (auto& slot : slots_) {
    if (slot->must_run && slot->process->ended())
      problems += slot->process->name() + " " + slot->process->state() + "\n";
  }
  if (service_ != nullptr) {
    std::string_view log = service_->output();
    for (std::size_t at = 0; at < log.size();) {
      const std::size_t end = std::min(log.find('\n', at), log.size());
      const std::string_view line = log.substr(at, end - at);
      if (line.find(" ERROR ") != std::string_view::npos || line.find(" WARN ") != std::string_view::npos) {
        problems += "lumaret-wayland logged: " + std::string(line) + "\n";
      }
      at = end + 1;
    }
  }
  for (const auto& complaint : target_->complaints())
    problems += target_->name() + " complained: " + complaint + "\n";
  if (second_ != nullptr) {
    for (const auto& complaint : second_->complaints())
      problems += second_->name() + " complained: " + complaint + "\n";
  }
  if (!problems.empty()) fail("the run is not healthy:\n" + problems);
}

}  // namespace lumaret::e2e
