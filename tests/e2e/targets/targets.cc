#include "targets.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <unistd.h>

#include "io.h"

namespace lumaret::e2e {
namespace fs = std::filesystem;

namespace {

// The run's user must reach the target's files: they are copied into the run's folder.
fs::path copy_in(const Session& session, std::string_view file) {
  const fs::path to = session.dir() / file;
  fs::copy_file(fs::path(LUMARET_E2E_TARGETS) / file, to, fs::copy_options::overwrite_existing);
  fs::permissions(to, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  return to;
}

// foot running `cat` on a raw terminal: everything that reaches the terminal lands in a file. The
// terminal's own erase (a Backspace arrives as DEL) is applied so the text reads as it did on screen;
// other keys (arrows) stay as the escape sequences the terminal sends.
class Foot final : public Target {
 public:
  std::string name() const override { return "foot"; }
  std::vector<std::string> argv(const Session& session) const override {
    out_ = session.dir() / "foot.out";
    return {"foot", "--", "sh", "-c", "stty -icanon -echo && exec cat > '" + out_.string() + "'"};
  }
  // Text typed while foot is still starting up was once lost under load (the beginning of a sentence never
  // reached the terminal). It has started once it has chosen its window decorations, the last thing it
  // logs.
  void on_line(std::string_view line) override {
    if (line.find("] using ") == std::string_view::npos && line.find(": using ") != std::string_view::npos &&
        line.ends_with(" decorations"))
      started_ = true;
  }
  // The shell is up once its output file exists; the input method's activation says the window is.
  bool shown() const override { return started_ && fs::exists(out_); }
  std::size_t enabled() const override { return shown() ? 1 : 0; }
  Field field() const override {
    std::ifstream in(out_, std::ios::binary);
    const std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Field f;
    for (const char c : raw) {
      if (c != '\x7f') {
        f.text += c;
        continue;
      }
      while (!f.text.empty() && (static_cast<unsigned char>(f.text.back()) & 0xc0) == 0x80)
        f.text.pop_back();
      if (!f.text.empty()) f.text.pop_back();
    }
    return f;
  }
  // A terminal reports no text, so there is no answer to wait for; keys come at a fast typist's pace.
  // foot 1.13 drops input-method changes whose serial is older than its own last text-input commit (it
  // commits its cursor position after drawing): a sentence typed in 25 ms into a foot busy drawing the
  // first words lost its end (the compositor had sent those changes before it read that commit).
  void settle(Session& session) override { session.observe(std::chrono::milliseconds(30)); }

 private:
  mutable fs::path out_;
  bool started_ = false;
};

void append_utf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xc0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3f));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xe0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (c & 0x3f));
  } else {
    out += static_cast<char>(0xf0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3f));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (c & 0x3f));
  }
}

// Firefox prints a console string as a JavaScript literal: \t \n \" \\ \xHH \uHHHH (pairs for
// characters beyond the first plane).
std::string js_unescape(std::string_view text) {
  std::string out;
  std::uint32_t high = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char kind = text[++i];
    const std::size_t digits = kind == 'x' ? 2 : kind == 'u' ? 4 : 0;
    if (digits == 0 || i + digits >= text.size()) {
      out += kind == 't' ? '\t' : kind == 'n' ? '\n' : kind;
      continue;
    }
    const std::uint32_t c = std::stoul(std::string(text.substr(i + 1, digits)), nullptr, 16);
    i += digits;
    if (c >= 0xd800 && c < 0xdc00) {
      high = c;
    } else if (c >= 0xdc00 && c < 0xe000) {
      append_utf8(out, 0x10000 + ((high - 0xd800) << 10) + (c - 0xdc00));
    } else {
      append_utf8(out, c);
    }
  }
  return out;
}

// Applications that print "text<TAB>TEXT" on every change (through the harness's escaping).
class LoggedText : public Target {
 public:
  void on_line(std::string_view line) override {
    const std::size_t at = line.find(marker());
    if (at == std::string_view::npos) return;
    line.remove_prefix(at + marker().size());
    ++lines_;
    if (line.starts_with("shown")) shown_ = true;
    if (line.starts_with("ok")) ++answers_;
    for (const std::string_view kind : {"text\t", "key\t"}) {
      if (!line.starts_with(kind)) continue;
      line.remove_prefix(kind.size());
      field_.text = unescape(line.substr(0, std::min(line.size(), line.find(end_marker()))));
      ++field_.seq;
      if (seen_.empty() || seen_.back() != field_.text) seen_.push_back(field_.text);
    }
  }
  bool shown() const override { return shown_; }
  std::size_t enabled() const override { return shown_ ? 1 : 0; }
  Field field() const override { return field_; }
  const std::vector<std::string>& seen() const { return seen_; }

 protected:
  virtual std::string_view marker() const { return ""; }
  virtual std::string_view end_marker() const { return "\x01"; }  // none
  Field field_;
  std::vector<std::string> seen_;
  bool shown_ = false;
  std::size_t lines_ = 0;
  std::size_t answers_ = 0;
};

class Gtk final : public LoggedText {
 public:
  explicit Gtk(std::string version) : version_(std::move(version)) {}
  std::string name() const override { return "gtk" + version_; }
  std::vector<std::string> argv(const Session& session) const override {
    return {"/usr/bin/python3", copy_in(session, "field.py").string(), version_};
  }
  std::vector<std::string> env() const override {
    return {"GDK_BACKEND=wayland", "GSK_RENDERER=cairo", "GTK_A11Y=none", "NO_AT_BRIDGE=1"};
  }
  void settle(Session& session) override {
    const std::size_t before = answers_;
    session.application().send("sync");
    session.wait_for(name() + " to answer sync", [&] { return answers_ > before; });
  }

 private:
  std::string version_;
};

// A textarea that logs its value on every input and after every key that reaches it.
class Browser final : public LoggedText {
 public:
  explicit Browser(std::string kind) : kind_(std::move(kind)) {}
  std::string name() const override { return kind_; }
  std::vector<std::string> argv(const Session& session) const override {
    const std::string page = "file://" + copy_in(session, "page.html").string();
    const fs::path profile = session.dir() / "home" / ("profile-" + kind_);
    if (kind_ == "chromium") {
      return {"chromium",
              "--ozone-platform=wayland",
              "--enable-wayland-ime",
              "--wayland-text-input-version=3",
              "--enable-logging=stderr",
              "--user-data-dir=" + profile.string(),
              "--no-first-run",
              "--no-default-browser-check",
              "--no-sandbox",
              "--disable-gpu",
              "--disable-extensions",
              "--disable-background-networking",
              "--disable-component-update",
              "--disable-sync",
              "--password-store=basic",
              "--app=" + page};
    }
    write_firefox_profile(session, profile);
    // Firefox buffers what it prints to a pipe; line buffering lets each change through as it happens.
    return {"stdbuf",      "-oL",       "firefox-esr",    "--new-instance",
            "--no-remote", "--profile", profile.string(), page};
  }
  std::vector<std::string> env() const override {
    if (kind_ == "chromium") return {};
    std::vector<std::string> env = {"MOZ_ENABLE_WAYLAND=1", "MOZ_CRASHREPORTER_DISABLE=1"};
    if (const char* log = std::getenv("LUMARET_E2E_MOZ_LOG")) env.push_back(std::string("MOZ_LOG=") + log);
    return env;
  }
  // A fresh profile that prints the page's console to standard output and asks nothing at the start.
  static void write_firefox_profile(const Session& session, const fs::path& profile) {
    fs::create_directories(profile);
    std::ofstream(profile / "user.js") << R"(user_pref("devtools.console.stdout.content", true);
user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("browser.aboutwelcome.enabled", false);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
user_pref("app.update.auto", false);
user_pref("browser.tabs.warnOnClose", false);
)";
    if (const auto& user = session.user()) {
      for (const fs::path& p : {profile, profile / "user.js"}) {
        if (chown(p.c_str(), user->uid, user->gid) != 0) throw Failure("chown " + p.string());
      }
    }
  }
  // Every key leaves a line (an input, a key reaching the page); the browser reports its text to the
  // input method right after, so a line with nothing more for a short moment means it is done.
  void settle(Session& session) override {
    constexpr auto FIRST = std::chrono::milliseconds(1500);
    constexpr auto QUIET = std::chrono::milliseconds(60);
    constexpr auto STEP = std::chrono::milliseconds(10);
    const auto give_up = Clock::now() + FIRST;
    while (lines_ == settled_lines_ && Clock::now() < give_up)
      session.observe(STEP);
    for (std::size_t seen = lines_ + 1; seen != lines_;) {
      seen = lines_;
      session.observe(QUIET);
    }
    settled_lines_ = lines_;
  }

 protected:
  std::string_view marker() const override { return "LMR "; }
  // Chromium quotes the message and names its source after it.
  std::string_view end_marker() const override { return kind_ == "chromium" ? "\", source:" : "\x01"; }

 private:
  void on_line(std::string_view line) override {
    constexpr std::string_view FIREFOX_LOG = "console.log: \"";
    const std::size_t at = line.find(FIREFOX_LOG);
    if (kind_ != "firefox" || at == std::string_view::npos || !line.ends_with('"')) {
      LoggedText::on_line(line);
      return;
    }
    line.remove_prefix(at + FIREFOX_LOG.size());
    line.remove_suffix(1);
    LoggedText::on_line(js_unescape(line));
  }

  std::string kind_;
  std::size_t settled_lines_ = 0;
};

}  // namespace

std::vector<std::string> texts_seen(const Target& target) {
  const auto* logged = dynamic_cast<const LoggedText*>(&target);
  return logged != nullptr ? logged->seen() : std::vector<std::string>();
}

std::unique_ptr<Target> make_app_target(const std::string& kind) {
  if (kind == "foot") return std::make_unique<Foot>();
  if (kind == "gtk4") return std::make_unique<Gtk>("4");
  if (kind == "gtk3") return std::make_unique<Gtk>("3");
  if (kind == "chromium" || kind == "firefox") return std::make_unique<Browser>(kind);
  throw Failure("unknown application " + kind);
}

}  // namespace lumaret::e2e
