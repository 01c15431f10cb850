// Applications people type into, as targets of the end-to-end runs: a terminal (foot), GTK 4 and GTK 3
// text fields, and a textarea in Chromium and in Firefox. Each shows its text to the harness in its own
// way; none of them can move its cursor or change its content type on request.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "session.h"

namespace lumaret::e2e {

// The application kinds, by name: "foot", "gtk4", "gtk3", "chromium", "firefox".
std::unique_ptr<Target> make_app_target(const std::string& kind);

// Every text a GTK or browser target has shown so far, in order (nothing for other targets).
std::vector<std::string> texts_seen(const Target& target);

}  // namespace lumaret::e2e
