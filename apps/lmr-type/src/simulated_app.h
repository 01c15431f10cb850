// A well-behaved text field standing in for the compositor and the application: it receives the
// controller's requests, applies them to its text, handles forwarded keys, and reports its text back.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "held_key.h"
#include "lumaret/engine/session.h"
#include "lumaret/wayland/controller.h"

namespace lumaret::type {

// How the simulated application tells the input method about its text.
enum class Reporting : std::uint8_t {
  Immediate = 0,  // after every change, before the next key
  Lagging = 1,    // what a key changed is reported only after the next key
  Never = 2,      // like a terminal: no surrounding text at all
};

// Evdev codes for named keys; a character key gets a code of its own above the real ones.
std::uint32_t key_code(const engine::Key& key);

// The modifier state of a key held with Control, Alt or Super.
wayland::Modifiers modifiers_of(const engine::KeyInput& key);

class SimulatedApp final : public wayland::Backend {
 public:
  explicit SimulatedApp(Reporting reporting, std::FILE* trace = nullptr)
      : reporting_(reporting), trace_(trace) {}

  // Backend
  void commit(std::string_view text, std::uint32_t serial) override;
  void clear_preedit(std::uint32_t serial) override;
  void show_preedit(std::string_view text, std::int32_t caret_bytes, std::uint32_t serial) override;
  void replace_before_cursor(std::uint32_t delete_bytes, std::string_view text,
                             std::uint32_t serial) override;
  void forward_key_event(std::uint32_t code, std::uint32_t time, bool pressed,
                         const wayland::Modifiers& modifiers) override;

  // The user clicks before character `chars` (the end when beyond), or selects characters from..to.
  void click(std::uint32_t chars);
  void select(std::uint32_t from_chars, std::uint32_t to_chars);

  // Sends what the controller should hear about the text now: called after each key, click or selection.
  // `at_once` reports the current state even when reports lag.
  void report(wayland::Controller& controller, bool at_once = false);

  void clear();
  Reporting reporting() const { return reporting_; }
  const std::string& text() const { return text_; }
  const std::string& preedit() const { return preedit_; }
  std::uint32_t cursor_bytes() const { return cursor_bytes_; }
  std::uint32_t anchor_bytes() const { return anchor_bytes_; }

 private:
  struct State {
    std::string text;
    std::uint32_t cursor_bytes = 0;
    std::uint32_t anchor_bytes = 0;
    friend bool operator==(const State&, const State&) = default;
  };

  void insert(std::string_view utf8);
  void erase_selection();
  void send(wayland::Controller& controller, const State& state);
  State state() const { return {text_, cursor_bytes_, anchor_bytes_}; }

  Reporting reporting_;
  std::FILE* trace_;
  std::string text_;
  std::uint32_t cursor_bytes_ = 0;
  std::uint32_t anchor_bytes_ = 0;
  std::string preedit_;
  std::optional<State> reported_;  // what the controller last heard
  std::optional<State> held_;      // a change not yet reported, when reports lag
};

// Presses `input` through the controller and releases it, as a keyboard does. In between, the application
// repeats a held key `repeats` times through `held`; the input method never sees the repeats. The
// application reports its text as it does after every key. `time` counts the events' milliseconds.
void press_key(wayland::Controller& controller, SimulatedApp& app, HeldKey& held,
               const engine::KeyInput& input, std::uint32_t repeats, std::uint32_t& time,
               std::FILE* trace = nullptr);

}  // namespace lumaret::type
