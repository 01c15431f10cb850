// The service's log: one leveled logger on standard error.
#pragma once

#include <spdlog/spdlog.h>

namespace lumaret::wayland {

// Installs the process-wide logger: info by default, debug with `debug`; SPDLOG_LEVEL replaces that
// filter, LUMARET_LOG_STYLE ("always", "never") chooses colour, which is otherwise used on a terminal.
void setup_logging(bool debug);

// The logger every service line goes through, named after its target.
spdlog::logger& log();

}  // namespace lumaret::wayland
