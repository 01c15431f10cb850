// Ports for tests: a configuration in memory, a fixed application, and a text field whose text the
// test (or a simulated application) changes.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "lumaret/core/utf8.h"
#include "lumaret/engine/defaults.h"
#include "lumaret/engine/notation.h"
#include "lumaret/engine/session.h"

namespace lumaret::engine::testing {

// What the session's ports read and write, held by the test.
struct World {
  Config config = Config::defaults();
  int saves = 0;
  std::optional<std::string> app;
  std::optional<std::string> before_cursor;  // the application's text before the cursor, when reported
  bool awaiting_answer = false;
};

class MemoryConfigStore final : public ConfigStore {
 public:
  explicit MemoryConfigStore(World& w) : world_(w) {}
  Config load() override { return world_.config; }
  void save(const Config& config) override {
    world_.config = config;
    ++world_.saves;
  }

 private:
  World& world_;
};

class WorldAppContext final : public AppContext {
 public:
  explicit WorldAppContext(World& w) : world_(w) {}
  std::optional<std::string> current_app() override { return world_.app; }

 private:
  World& world_;
};

class WorldSurrounding final : public SurroundingText {
 public:
  explicit WorldSurrounding(World& w) : world_(w) {}
  std::optional<std::string> before_cursor(std::uint32_t max_chars) override {
    if (!world_.before_cursor) return std::nullopt;
    std::u32string chars = core::to_chars(*world_.before_cursor).value_or(std::u32string());
    if (chars.size() > max_chars) chars.erase(0, chars.size() - max_chars);
    return core::to_utf8(chars);
  }
  bool awaiting_answer() const override { return world_.awaiting_answer; }

 private:
  World& world_;
};

inline Ports world_ports(World& w) {
  return Ports{std::make_unique<MemoryConfigStore>(w), std::make_unique<WorldAppContext>(w),
               std::make_unique<WorldSurrounding>(w),
               std::make_unique<WordListDictionary>(WordListDictionary::defaults())};
}

// Types keys written in the key notation and returns the readable form of every action.
inline std::vector<std::string> type(ImeSession& session, std::string_view keys) {
  std::vector<std::string> actions;
  auto parsed = parse_keys(keys);
  if (auto* error = std::get_if<NotationError>(&parsed)) {
    actions.push_back("bad keys at column " + std::to_string(error->column));
    return actions;
  }
  for (const KeyInput& key : std::get<std::vector<KeyInput>>(parsed)) {
    actions.push_back(to_string(session.process_key(key)));
  }
  return actions;
}

// The last `n` actions joined by " | ".
inline std::string last_actions(const std::vector<std::string>& actions, std::size_t n) {
  std::string joined;
  for (std::size_t i = actions.size() > n ? actions.size() - n : 0; i < actions.size(); ++i) {
    if (!joined.empty()) joined += " | ";
    joined += actions[i];
  }
  return joined;
}

}  // namespace lumaret::engine::testing
