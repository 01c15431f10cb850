// Readable failure messages: configurations and profiles shown as the file would hold them.
#pragma once

#include <ostream>

#include "lumaret/engine/config_file.h"
#include "lumaret/engine/ports.h"

namespace lumaret::engine {

inline void PrintTo(const Config& config, std::ostream* os) {
  *os << write_config(config);
}

inline void PrintTo(const AppProfile& profile, std::ostream* os) {
  Config holder;
  holder.app_profiles.emplace("", profile);
  const std::string text = write_config(holder);
  // Only the profile's own object, without the configuration around it.
  const std::size_t start = text.find("\"\": ") + 4;
  const std::size_t end = text.find("\n    }", start) + 6;
  *os << text.substr(start, end - start);
}

}  // namespace lumaret::engine
