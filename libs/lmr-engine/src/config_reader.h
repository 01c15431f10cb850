// Inside the engine library: the strict reader shared by the configuration file and the built-in profile
// data.
#pragma once

#include <string_view>
#include <variant>

#include "lumaret/engine/config_file.h"
#include "lumaret/engine/ports.h"

namespace lumaret::engine::internal {

// Reads the built-in profile data by the configuration file's rules; both of its members are required.
std::variant<AppProfileData, ConfigError> read_app_profile_data(std::string_view text);

}  // namespace lumaret::engine::internal
