// A key held down. The input method sees one press and passes it on; the application itself repeats it
// until the release, and the input method never hears of the repeats. A held Backspace thus deletes text
// the input method knows nothing about.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "lumaret/wayland/controller.h"

namespace lumaret::type {

// Passes the controller's requests on to the application and remembers the key press it passed on last.
class HeldKey final : public wayland::Backend {
 public:
  explicit HeldKey(wayland::Backend& app) : app_(app) {}

  void commit(std::string_view text, std::uint32_t serial) override { app_.commit(text, serial); }
  void clear_preedit(std::uint32_t serial) override { app_.clear_preedit(serial); }
  void show_preedit(std::string_view text, std::int32_t caret_bytes, std::uint32_t serial) override {
    app_.show_preedit(text, caret_bytes, serial);
  }
  void replace_before_cursor(std::uint32_t delete_bytes, std::string_view text,
                             std::uint32_t serial) override {
    app_.replace_before_cursor(delete_bytes, text, serial);
  }
  void forward_key_event(std::uint32_t code, std::uint32_t time, bool pressed,
                         const wayland::Modifiers& modifiers) override {
    if (pressed) last_ = Press{code, modifiers};
    app_.forward_key_event(code, time, pressed, modifiers);
  }

  // A new key goes down: the one before it was released.
  void next_key() { last_.reset(); }
  // The application repeats the key pressed last, as long as it received that press.
  void repeat(std::uint32_t times, std::uint32_t time) {
    if (!last_) return;
    for (std::uint32_t i = 0; i < times; ++i)
      app_.forward_key_event(last_->code, time, true, last_->modifiers);
  }

 private:
  struct Press {
    std::uint32_t code;
    wayland::Modifiers modifiers;
  };

  wayland::Backend& app_;
  std::optional<Press> last_;
};

}  // namespace lumaret::type
