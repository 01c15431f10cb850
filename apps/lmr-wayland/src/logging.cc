// The service's log.
#include "logging.h"

#include <spdlog/cfg/env.h>
#include <spdlog/sinks/stdout_color_sinks.h>

#include <cstdlib>
#include <ctime>
#include <iterator>
#include <string_view>

namespace lumaret::wayland {
namespace {

constexpr const char* TARGET = "lumaret_wayland::linux";

std::string_view level_name(spdlog::level::level_enum level) {
  switch (level) {
    case spdlog::level::trace:
      return "TRACE";
    case spdlog::level::debug:
      return "DEBUG";
    case spdlog::level::info:
      return "INFO ";
    case spdlog::level::warn:
      return "WARN ";
    default:
      return "ERROR";
  }
}

// "[2026-12-11T14:00:00Z INFO  lumaret_wayland::linux] message", further lines indented by four blanks.
class LineFormatter final : public spdlog::formatter {
 public:
  void format(const spdlog::details::log_msg& msg, spdlog::memory_buf_t& dest) override {
    const std::time_t seconds = spdlog::log_clock::to_time_t(msg.time);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char time[32];
    const std::size_t time_len = std::strftime(time, sizeof time, "%Y-%m-%dT%H:%M:%SZ", &utc);
    dest.push_back('[');
    dest.append(time, time + time_len);
    dest.push_back(' ');
    msg.color_range_start = dest.size();
    const std::string_view level = level_name(msg.level);
    dest.append(level.data(), level.data() + level.size());
    msg.color_range_end = dest.size();
    dest.push_back(' ');
    dest.append(msg.logger_name.data(), msg.logger_name.data() + msg.logger_name.size());
    dest.append(std::string_view("] "));
    for (const char c : std::string_view(msg.payload.data(), msg.payload.size())) {
      dest.push_back(c);
      if (c == '\n') dest.append(std::string_view("    "));
    }
    dest.push_back('\n');
  }
  std::unique_ptr<spdlog::formatter> clone() const override { return std::make_unique<LineFormatter>(); }
};

spdlog::color_mode color_mode() {
  const char* style = std::getenv("LUMARET_LOG_STYLE");
  const std::string_view s = style ? style : "";
  if (s == "always") return spdlog::color_mode::always;
  if (s == "never") return spdlog::color_mode::never;
  return spdlog::color_mode::automatic;
}

}  // namespace

void setup_logging(bool debug) {
  auto sink = std::make_shared<spdlog::sinks::stderr_color_sink_st>(color_mode());
  auto logger = std::make_shared<spdlog::logger>(TARGET, std::move(sink));
  logger->set_formatter(std::make_unique<LineFormatter>());
  logger->set_level(debug ? spdlog::level::debug : spdlog::level::info);
  logger->flush_on(spdlog::level::trace);
  spdlog::set_default_logger(logger);
  spdlog::set_level(logger->level());
  // A filter in the environment replaces the default one.
  if (std::getenv("SPDLOG_LEVEL") != nullptr) spdlog::cfg::load_env_levels();
}

spdlog::logger& log() {
  return *spdlog::default_logger_raw();
}

}  // namespace lumaret::wayland
