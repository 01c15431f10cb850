// The default implementations of the engine's ports.
#pragma once

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "lumaret/engine/ports.h"

namespace lumaret::engine {

// The configuration kept in one JSON file. Holds only the path.
class JsonFileConfigStore final : public ConfigStore {
 public:
  explicit JsonFileConfigStore(std::filesystem::path path) : path_(std::move(path)) {}
  Config load() override;
  void save(const Config& config) override;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// An application identity fixed at construction.
class StaticAppContext final : public AppContext {
 public:
  explicit StaticAppContext(std::optional<std::string> app_id = std::nullopt) : app_id_(std::move(app_id)) {}
  std::optional<std::string> current_app() override { return app_id_; }

 private:
  std::optional<std::string> app_id_;
};

// Built-in word lists: common English words, common Vietnamese syllables.
class WordListDictionary final : public Dictionary {
 public:
  static WordListDictionary defaults();
  bool is_english(std::string_view word) const override;
  bool is_vietnamese(std::string_view word) const override;

 private:
  // Sets over the built-in texts, which live for the whole process.
  std::set<std::string_view, std::less<>> english_;
  std::set<std::string_view, std::less<>> vietnamese_;
};

}  // namespace lumaret::engine
