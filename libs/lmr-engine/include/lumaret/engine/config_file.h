// The configuration file's text form: a strict reader and a pretty writer.
#pragma once

#include <string>
#include <string_view>
#include <variant>

#include "lumaret/engine/ports.h"

namespace lumaret::engine {

// Why a configuration text was refused: one line that names the line and column.
struct ConfigError {
  std::string message;

  friend bool operator==(const ConfigError&, const ConfigError&) = default;
};

// Reads a whole configuration text. Never throws; a refusal is a ConfigError.
std::variant<Config, ConfigError> read_config(std::string_view text);

// Reads the value of an `app_profiles` member and merges it over the built-in profiles.
std::variant<AppProfiles, ConfigError> deserialize_app_profiles(std::string_view json_value);

// The configuration as the file holds it: two-space indentation, no final newline.
std::string write_config(const Config& config);

}  // namespace lumaret::engine
