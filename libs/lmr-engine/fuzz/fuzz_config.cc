// Reads arbitrary bytes as a configuration file and stops at the first broken promise.
//
// Whatever the reader accepts must be written and read back to the same record (with the built-in profiles
// underneath, as for any file that names `app_profiles`), and the file store must give exactly that record
// for the same bytes on disk, or the defaults when the reader refuses them.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>

#include "lumaret/core/utf8.h"
#include "lumaret/engine/config_file.h"
#include "lumaret/engine/defaults.h"

namespace {

using lumaret::engine::AppProfiles;
using lumaret::engine::Config;
using lumaret::engine::ConfigError;

void require(bool ok, const char* promise) {
  if (ok) return;
  std::fprintf(stderr, "fuzz-config: broken: %s\n", promise);
  std::abort();
}

// One file in memory, rewritten for every input; the store opens it by path like any file on disk.
struct MemoryFile {
  int fd = ::memfd_create("fuzz-config", MFD_CLOEXEC);
  std::string path = "/proc/self/fd/" + std::to_string(fd);

  void put(std::string_view bytes) const {
    require(::ftruncate(fd, 0) == 0, "the in-memory file can be emptied");
    for (std::size_t done = 0; done < bytes.size();) {
      const ssize_t written =
          ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
      require(written > 0, "the in-memory file can be written");
      done += static_cast<std::size_t>(written);
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const MemoryFile file;
  require(file.fd >= 0, "an in-memory file can be made");
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const std::variant<Config, ConfigError> read = lumaret::engine::read_config(text);
  if (const Config* config = std::get_if<Config>(&read)) {
    require(lumaret::core::is_utf8(text), "only UTF-8 text is accepted");
    const std::string written = lumaret::engine::write_config(*config);
    const std::variant<Config, ConfigError> again = lumaret::engine::read_config(written);
    require(std::holds_alternative<Config>(again), "what is written is accepted");
    // A written file always holds `app_profiles`, so reading it lays the built-in profiles underneath.
    Config expected = *config;
    AppProfiles builtins = lumaret::engine::app_profile_data().profiles;
    expected.app_profiles.merge(builtins);
    require(std::get<Config>(again) == expected, "what is written reads back equal");
  } else {
    const std::string& message = std::get<ConfigError>(read).message;
    require(message.find('\n') == std::string::npos, "an error is one line");
    require(message.find(" at line ") != std::string::npos && message.find(" column ") != std::string::npos,
            "an error names its line and column");
  }

  const std::variant<AppProfiles, ConfigError> profiles = lumaret::engine::deserialize_app_profiles(text);
  if (const AppProfiles* merged = std::get_if<AppProfiles>(&profiles)) {
    for (const auto& [id, profile] : lumaret::engine::app_profile_data().profiles) {
      require(merged->contains(id), "merged profiles keep every built-in application");
    }
  }

  file.put(text);
  const Config loaded = lumaret::engine::JsonFileConfigStore(file.path).load();
  const Config* accepted = std::get_if<Config>(&read);
  require(loaded == (accepted != nullptr ? *accepted : Config::defaults()),
          "loading gives the record read, or the defaults when the text is refused");
  return 0;
}
