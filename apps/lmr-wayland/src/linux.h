// The service on a Wayland compositor: the connection, the single-threaded loop, the input-method and
// keyboard-grab handlers, and the backend that turns the controller's requests into protocol requests.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace lumaret::wayland {

// Runs the input method until it stops; returns why it stopped.
std::string run_inner(std::filesystem::path config_path, bool debug);

// What the compositor announces, as probe mode reports it.
struct Probe {
  std::vector<std::string> interfaces;
  std::string error;  // empty when the connection and the registry worked
};

Probe probe();

}  // namespace lumaret::wayland
