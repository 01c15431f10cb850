// The built lumaret-wayland's command line: help, version, refused arguments, where the configuration is
// looked for, check mode, probe mode, and what happens with no compositor to talk to.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <variant>

#include "compositor/process.h"
#include "compositor/test_compositor.h"
#include "lumaret/engine/config_file.h"

namespace lumaret::wayland::testing {
namespace {

namespace fs = std::filesystem;

Exit run(const std::vector<std::string>& args, const EnvChanges& env = {},
         const std::optional<fs::path>& cwd = std::nullopt) {
  return run_to_end(LUMARET_WAYLAND_BINARY, args, env, cwd);
}

std::string joined(const std::vector<std::string>& args) {
  std::string text;
  for (const std::string& arg : args)
    text += (text.empty() ? "[" : ", [") + arg + "]";
  return text.empty() ? "(no arguments)" : text;
}

void write_file(const fs::path& path, std::string_view text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string missing_line(const std::string& path) {
  return "config chưa có (" + path + "): dùng default (" + std::strerror(ENOENT) + ")\n";
}

constexpr std::string_view HELP =
    "lumaret-wayland [--config PATH] [--debug] [--check] [--probe]\n"
    "\n"
    "Adapter Wayland standalone cho Lumaret.\n"
    "Cần compositor hỗ trợ zwp_input_method_v2 + zwp_virtual_keyboard_v1\n"
    "(Sway, Hyprland, niri, wlroots khác).\n";

TEST(CommandLine, HelpAndVersionPrintAndStopTheScan) {
  const std::string version = "lumaret-wayland 0.1.2\n";
  const struct {
    std::vector<std::string> args;
    std::string_view out;
  } cases[] = {
      {{"--help"}, HELP},
      {{"-h"}, HELP},
      {{"--help", "--no-such-option"}, HELP},  // the scan stops at help
      {{"--debug", "--check", "-h"}, HELP},    // flags before it change nothing
      {{"--version"}, version},
      {{"--version", "--help"}, version},
      {{"--help", "--version"}, HELP},
  };
  for (const auto& c : cases) {
    const Exit exit = run(c.args);
    EXPECT_EQ(exit.status, 0) << joined(c.args) << "\n" << describe(exit);
    EXPECT_EQ(exit.out, c.out) << joined(c.args);
    EXPECT_EQ(exit.err, "") << joined(c.args);
  }
}

TEST(CommandLine, AnUnrecognisedArgumentIsReportedWithStatus2) {
  const struct {
    std::vector<std::string> args;
    std::string reported;
  } cases[] = {
      {{"--debug=1"}, "--debug=1"},
      {{"--Debug"}, "--Debug"},
      {{"-d"}, "-d"},
      {{"-H"}, "-H"},
      {{""}, ""},  // the message ends right after the colon and blank
      {{"--config=x"}, "--config=x"},
      {{"check"}, "check"},
      {{"--no-such-option", "--help"}, "--no-such-option"},  // reported before help is reached
      {{"--check", "--what"}, "--what"},                     // before any mode runs
  };
  for (const auto& c : cases) {
    const Exit exit = run(c.args);
    EXPECT_EQ(exit.status, 2) << joined(c.args) << "\n" << describe(exit);
    EXPECT_EQ(exit.err, "tham số không hợp lệ: " + c.reported + "\n") << joined(c.args);
    EXPECT_EQ(exit.out, "") << joined(c.args);
  }
}

// --config rules, seen through the path that check mode names.
TEST(CommandLine, ConfigOptionTakesTheNextArgumentWhateverItIs) {
  const ScratchDir dir;
  const std::string a = (dir.path() / "a.json").string(), b = (dir.path() / "b.json").string();
  write_file(a, "{}");
  write_file(b, "{}");
  const std::string default_path = (dir.path() / "xdg" / "lumaret" / "config.json").string();
  const EnvChanges env{{"XDG_CONFIG_HOME", (dir.path() / "xdg").string()}};
  const struct {
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{"--config", a, "--check"}, "config OK: " + a + "\n"},
      {{"--config", a, "--config", b, "--check"}, "config OK: " + b + "\n"},  // the later one wins
      {{"--config", "--debug", "--check"}, missing_line("--debug")},          // a path, not the flag
      {{"--check", "--config"}, missing_line(default_path)},                  // trailing: nothing changes
      {{"--check", "--config", a, "--config"}, "config OK: " + a + "\n"},
      {{"--check"}, missing_line(default_path)},
      // Check mode wins over probe mode in either order: no compositor is needed.
      {{"--probe", "--check", "--config", a}, "config OK: " + a + "\n"},
      {{"--config", a, "--check", "--probe"}, "config OK: " + a + "\n"},
  };
  for (const auto& c : cases) {
    const Exit exit = run(c.args, env, dir.path());
    EXPECT_EQ(exit.status, 0) << joined(c.args) << "\n" << describe(exit);
    EXPECT_EQ(exit.out, c.out) << joined(c.args);
    EXPECT_EQ(exit.err, "") << joined(c.args);
  }
}

TEST(CommandLine, DefaultConfigPathFromTheEnvironment) {
  const ScratchDir dir;
  const std::string xdg = (dir.path() / "xdg").string(), home = (dir.path() / "home").string();
  const struct {
    const char* name;
    EnvChanges env;
    std::string path;
  } cases[] = {
      {"XDG_CONFIG_HOME first", {{"XDG_CONFIG_HOME", xdg}, {"HOME", home}}, xdg + "/lumaret/config.json"},
      {"empty XDG_CONFIG_HOME falls through",
       {{"XDG_CONFIG_HOME", ""}, {"HOME", home}},
       home + "/.config/lumaret/config.json"},
      {"XDG_CONFIG_HOME not UTF-8 falls through",
       {{"XDG_CONFIG_HOME", "\xff\xfe"}, {"HOME", home}},
       home + "/.config/lumaret/config.json"},
      {"HOME alone",
       {{"XDG_CONFIG_HOME", std::nullopt}, {"HOME", home}},
       home + "/.config/lumaret/config.json"},
      {"relative XDG_CONFIG_HOME", {{"XDG_CONFIG_HOME", "rel"}, {"HOME", home}}, "rel/lumaret/config.json"},
      {"empty HOME is a relative path",
       {{"XDG_CONFIG_HOME", std::nullopt}, {"HOME", ""}},
       ".config/lumaret/config.json"},
      {"neither: the working directory",
       {{"XDG_CONFIG_HOME", std::nullopt}, {"HOME", std::nullopt}},
       "lumaret.json"},
  };
  for (const auto& c : cases) {
    const Exit exit = run({"--check"}, c.env, dir.path());
    EXPECT_EQ(exit.status, 0) << c.name << "\n" << describe(exit);
    EXPECT_EQ(exit.out, missing_line(c.path)) << c.name;
  }
  // The relative default is taken against the working directory.
  write_file(dir.path() / "lumaret.json", "{}");
  const Exit exit = run({"--check"}, {{"XDG_CONFIG_HOME", std::nullopt}, {"HOME", std::nullopt}}, dir.path());
  EXPECT_EQ(exit.out, "config OK: lumaret.json\n") << describe(exit);
}

TEST(CommandLine, CheckModeReportsTheFileWithTheServicesOwnReader) {
  const ScratchDir dir;
  // What the service's reader says about a text: check mode must use the very same parse.
  const auto reader_error = [](std::string_view text) {
    const auto read = engine::read_config(text);
    const auto* error = std::get_if<engine::ConfigError>(&read);
    return error ? error->message : std::string("(the reader accepts this text)");
  };
  enum class Kind { Missing, File, Directory };
  const struct {
    const char* name;
    Kind kind;
    std::string text;
    int status;
    std::string out;  // with PATH standing for the file's path
    std::string err;
  } cases[] = {
      {"missing", Kind::Missing, "", 0, missing_line("PATH"), ""},
      {"valid", Kind::File, R"({"input_method": "vni", "macros": {"ko": "không"}})", 0, "config OK: PATH\n",
       ""},
      {"valid, blank lines after", Kind::File, "{}\n\n\r\n\t \n", 0, "config OK: PATH\n", ""},
      {"trailing comma", Kind::File, "{\"spell_check\": true,}", 1, "",
       "config lỗi PATH: " + reader_error("{\"spell_check\": true,}") + "\n"},
      {"trailing text", Kind::File, "{}\nx", 1, "", "config lỗi PATH: " + reader_error("{}\nx") + "\n"},
      {"wrong case of an enumeration", Kind::File, R"({"tone_style": "Old"})", 1, "",
       "config lỗi PATH: " + reader_error(R"({"tone_style": "Old"})") + "\n"},
      {"a directory", Kind::Directory, "", 1, "",
       "config lỗi PATH: " + std::string(std::strerror(EISDIR)) + "\n"},
  };
  for (const auto& c : cases) {
    const fs::path path = dir.path() / (std::string(c.name) + ".json");
    if (c.kind == Kind::File) write_file(path, c.text);
    if (c.kind == Kind::Directory) fs::create_directory(path);
    const auto with_path = [&](std::string text) {
      for (std::size_t at; (at = text.find("PATH")) != std::string::npos;)
        text.replace(at, 4, path.string());
      return text;
    };
    const Exit exit = run({"--config", path.string(), "--check"});
    EXPECT_EQ(exit.status, c.status) << c.name << "\n" << describe(exit);
    EXPECT_EQ(exit.out, with_path(c.out)) << c.name;
    EXPECT_EQ(exit.err, with_path(c.err)) << c.name;
  }
}

// A file that exists but cannot be used is an error, not "no configuration yet": the service would
// silently fall back to defaults while the user believes the file is in force.
TEST(CommandLine, CheckModeRefusesAFileThatExistsButCannotBeRead) {
  const ScratchDir dir;
  const struct {
    const char* name;
    std::string text;
    fs::perms perms;
  } cases[] = {
      {"not UTF-8", "{\"macros\": {\"ko\": \"kh\xf4ng\"}}", fs::perms::owner_read | fs::perms::owner_write},
      {"unreadable", "{}", fs::perms::none},
  };
  for (const auto& c : cases) {
    // Root reads a file whatever its permissions: that case shows nothing there.
    if (c.perms == fs::perms::none && ::geteuid() == 0) continue;
    const fs::path path = dir.path() / (std::string(c.name) + ".json");
    write_file(path, c.text);
    fs::permissions(path, c.perms);
    const Exit exit = run({"--config", path.string(), "--check"});
    EXPECT_EQ(exit.status, 1) << c.name << "\n" << describe(exit);
    EXPECT_EQ(exit.out, "") << c.name;
    const std::string prefix = "config lỗi " + path.string() + ": ";
    EXPECT_EQ(exit.err.rfind(prefix, 0), 0u) << c.name << "\n" << describe(exit);
    EXPECT_GT(exit.err.size(), prefix.size() + 1) << c.name << ": the error has no text";
  }
}

TEST(Probe, ReportsWhichGlobalsTheCompositorOffers) {
  const struct {
    const char* name;
    Globals globals;
    int status;
  } cases[] = {
      {"all three", {true, true, true}, 0},
      {"all three and the window list", {true, true, true, true}, 0},
      {"no virtual keyboard manager", {true, true, false}, 0},
      {"no seat", {false, true, true}, 0},
      {"the window list without an input-method manager", {true, false, true, true}, 1},
      {"nothing", {false, false, false}, 1},
  };
  const auto answer = [](bool offered) { return offered ? std::string("true") : std::string("false"); };
  for (const auto& c : cases) {
    TestCompositor compositor(c.globals);
    Exit exit;
    ASSERT_TRUE(compositor.run({"--probe"}, exit)) << c.name;
    EXPECT_EQ(exit.status, c.status) << c.name << "\n" << describe(exit);
    EXPECT_EQ(exit.out, "WAYLAND_DISPLAY=" + compositor.display_name() + "\n" +
                            "zwp_input_method_manager_v2: " + answer(c.globals.input_method_manager) + "\n" +
                            "zwp_virtual_keyboard_manager_v1: " + answer(c.globals.virtual_keyboard_manager) +
                            "\n" + "wl_seat: " + answer(c.globals.seat) + "\n" +
                            "zwlr_foreign_toplevel_manager_v1: " + answer(c.globals.toplevel_manager) + "\n")
        << c.name;
    EXPECT_EQ(exit.err,
              c.status == 0 ? "" : "probe lỗi: compositor không hỗ trợ zwp_input_method_manager_v2\n")
        << c.name;
    EXPECT_EQ(compositor.take(), std::vector<std::string>()) << c.name << ": probe mode binds nothing";
  }
}

TEST(NoCompositor, ProbeAndServiceFailWithStatus1) {
  const ScratchDir dir;
  const EnvChanges env{{"XDG_RUNTIME_DIR", dir.path().string()},
                       {"WAYLAND_DISPLAY", "wayland-nobody-listens"},
                       {"WAYLAND_SOCKET", std::nullopt},
                       {"XDG_CONFIG_HOME", (dir.path() / "xdg").string()}};
  const struct {
    std::vector<std::string> args;
    std::string prefix;
  } cases[] = {
      {{"--probe"}, "probe lỗi: "},
      {{}, "lumaret-wayland lỗi: "},
      {{"--debug"}, "lumaret-wayland lỗi: "},
  };
  for (const auto& c : cases) {
    const Exit exit = run(c.args, env);
    EXPECT_EQ(exit.status, 1) << joined(c.args) << "\n" << describe(exit);
    EXPECT_EQ(exit.out, "") << joined(c.args);
    // The last line is the error: a prefix and the connection's own error text.
    ASSERT_FALSE(exit.err.empty()) << joined(c.args);
    ASSERT_EQ(exit.err.back(), '\n') << joined(c.args);
    const std::size_t start = exit.err.rfind('\n', exit.err.size() - 2);
    const std::string last = exit.err.substr(start == std::string::npos ? 0 : start + 1);
    EXPECT_EQ(last.rfind(c.prefix, 0), 0u) << joined(c.args) << "\n" << describe(exit);
    EXPECT_GT(last.size(), c.prefix.size() + 1) << joined(c.args) << ": the error has no text";
  }
}

}  // namespace
}  // namespace lumaret::wayland::testing
