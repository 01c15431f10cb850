// lumaret-wayland: the command line, the configuration check, the compositor probe, and the service.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "linux.h"
#include "logging.h"
#include "lumaret/core/utf8.h"
#include "lumaret/engine/config_file.h"

namespace lumaret::wayland {
namespace {

constexpr std::string_view VERSION = "lumaret-wayland 0.1.2\n";
constexpr std::string_view HELP =
    "lumaret-wayland [--config PATH] [--debug] [--check] [--probe]\n"
    "\n"
    "Adapter Wayland standalone cho Lumaret.\n"
    "Cần compositor hỗ trợ zwp_input_method_v2 + zwp_virtual_keyboard_v1\n"
    "(Sway, Hyprland, niri, wlroots khác).\n";

// An environment variable that is set and valid UTF-8.
std::optional<std::string> env_text(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || !core::is_utf8(value)) return std::nullopt;
  return std::string(value);
}

std::filesystem::path default_config_path() {
  if (const auto xdg = env_text("XDG_CONFIG_HOME"); xdg && !xdg->empty()) {
    return std::filesystem::path(*xdg) / "lumaret" / "config.json";
  }
  if (const auto home = env_text("HOME"))
    return std::filesystem::path(*home) / ".config" / "lumaret" / "config.json";
  return "lumaret.json";
}

struct ReadFailure {
  int error;  // errno, or 0 when the file is not UTF-8
  std::string text;
};

std::variant<std::string, ReadFailure> read_file(const std::filesystem::path& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return ReadFailure{errno, std::strerror(errno)};
  std::string text;
  char buffer[1 << 16];
  while (true) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      close(fd);
      return ReadFailure{error, std::strerror(error)};
    }
    text.append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  if (!core::is_utf8(text)) return ReadFailure{0, "stream did not contain valid UTF-8"};
  return text;
}

int check(const std::filesystem::path& path) {
  auto read = read_file(path);
  if (const auto* failure = std::get_if<ReadFailure>(&read)) {
    // Only a file that is not there yet means defaults; a file the service cannot read is an error.
    if (failure->error == ENOENT) {
      std::printf("config chưa có (%s): dùng default (%s)\n", path.c_str(), failure->text.c_str());
      return 0;
    }
    std::fprintf(stderr, "config lỗi %s: %s\n", path.c_str(), failure->text.c_str());
    return 1;
  }
  const auto config = engine::read_config(std::get<std::string>(read));
  if (const auto* error = std::get_if<engine::ConfigError>(&config)) {
    std::fprintf(stderr, "config lỗi %s: %s\n", path.c_str(), error->message.c_str());
    return 1;
  }
  std::printf("config OK: %s\n", path.c_str());
  return 0;
}

int run_probe() {
  const Probe found = probe();
  if (!found.error.empty()) {
    std::fprintf(stderr, "probe lỗi: %s\n", found.error.c_str());
    return 1;
  }
  const auto offered = [&](std::string_view name) {
    return std::find(found.interfaces.begin(), found.interfaces.end(), name) != found.interfaces.end();
  };
  std::printf("WAYLAND_DISPLAY=%s\n", env_text("WAYLAND_DISPLAY").value_or("").c_str());
  std::printf("zwp_input_method_manager_v2: %s\n", offered("zwp_input_method_manager_v2") ? "true" : "false");
  std::printf("zwp_virtual_keyboard_manager_v1: %s\n",
              offered("zwp_virtual_keyboard_manager_v1") ? "true" : "false");
  std::printf("wl_seat: %s\n", offered("wl_seat") ? "true" : "false");
  std::printf("zwlr_foreign_toplevel_manager_v1: %s\n",
              offered("zwlr_foreign_toplevel_manager_v1") ? "true" : "false");
  if (!offered("zwp_input_method_manager_v2")) {
    std::fflush(stdout);
    std::fprintf(stderr, "probe lỗi: compositor không hỗ trợ zwp_input_method_manager_v2\n");
    return 1;
  }
  return 0;
}

int run(int argc, char** argv) {
  // Writing to a connection the compositor has closed must fail with an error, not end the process.
  std::signal(SIGPIPE, SIG_IGN);
  std::filesystem::path config_path = default_config_path();
  bool debug = false, check_mode = false, probe_mode = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--config") {
      if (i + 1 < argc) config_path = argv[++i];
    } else if (arg == "--debug") {
      debug = true;
    } else if (arg == "--check") {
      check_mode = true;
    } else if (arg == "--probe") {
      probe_mode = true;
    } else if (arg == "--version") {
      std::fwrite(VERSION.data(), 1, VERSION.size(), stdout);
      return 0;
    } else if (arg == "--help" || arg == "-h") {
      std::fwrite(HELP.data(), 1, HELP.size(), stdout);
      return 0;
    } else {
      std::fprintf(stderr, "tham số không hợp lệ: %s\n", argv[i]);
      return 2;
    }
  }
  setup_logging(debug);
  if (check_mode) return check(config_path);
  if (probe_mode) return run_probe();
  const std::string error = run_inner(std::move(config_path), debug);
  std::fprintf(stderr, "lumaret-wayland lỗi: %s\n", error.c_str());
  return 1;
}

}  // namespace
}  // namespace lumaret::wayland

int main(int argc, char** argv) {
  return lumaret::wayland::run(argc, argv);
}
