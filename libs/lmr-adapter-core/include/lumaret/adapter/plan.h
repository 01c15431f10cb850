// Deciding how one engine output reaches the application: pass the key on, show pre-edit text, commit text,
// replace the characters before the cursor, or give up on a replacement that cannot be done safely. Text the
// engine believes stands before the cursor is only deleted after it was checked against the application's
// own surrounding text, or when the frontend vouches for it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "lumaret/adapter/surrounding.h"
#include "lumaret/engine/ports.h"

namespace lumaret::adapter {

// Nothing to output; the key goes to the application.
struct Pass {
  friend bool operator==(const Pass&, const Pass&) = default;
};

// Text shown under the cursor while a word is typed.
struct Preedit {
  std::string text{};
  std::uint32_t cursor_units = 0;  // from the start of text

  friend bool operator==(const Preedit&, const Preedit&) = default;
};

// Text to insert at the cursor.
struct Commit {
  std::string text{};
  bool forward = false;  // the key that caused it must still reach the application

  friend bool operator==(const Commit&, const Commit&) = default;
};

// Text that takes the place of the last delete_chars characters before the cursor.
struct Replace {
  std::string text{};
  std::uint32_t delete_chars = 0;
  bool forward = false;

  friend bool operator==(const Replace&, const Replace&) = default;
};

// The engine's output as the frontend hands it to the planner.
using AdapterAction = std::variant<Pass, Preedit, Commit, Replace>;

// What the frontend knows about the application when it asks for a plan.
struct PlanContext {
  // The text believed to stand right before the cursor; may be empty.
  std::string_view expected{};
  // Absent when the application reported nothing usable.
  std::optional<SurroundingView> surrounding{};
  engine::FieldKind field_kind = engine::FieldKind::Normal;
  // Plan a replacement from expected (or the text before the cursor) alone, without comparing it with the
  // application's text or looking at what follows the cursor.
  bool trusted = false;
};

enum class PlanKind : std::uint8_t { Pass = 0, Preedit = 1, Commit = 2, Replace = 3, Fallback = 4 };

// The decision. Fields a kind does not use are 0, false or empty.
struct DeliveryPlan {
  PlanKind kind = PlanKind::Pass;
  std::string text{};              // to show or insert; a copy of the action's text
  std::string_view reason{};       // a fixed label naming the rule that decided, such as "replace-verified"
  std::uint32_t cursor_units = 0;  // Preedit: the caret within text
  std::uint32_t delete_units = 0;  // Replace: UTF-16 units to delete before the cursor
  std::uint32_t delete_chars = 0;  // Replace: characters to delete before the cursor
  std::uint32_t ack_wait_ms = 0;   // Replace: how long the application may take to acknowledge, 3 to 60
  bool forward = false;

  friend bool operator==(const DeliveryPlan&, const DeliveryPlan&) = default;
};

// How the action is to be delivered. Of the profile only backspace_delay_ms, delay_per_char_ms and wait_ack
// count. The only allocation is the copy of the action's text.
DeliveryPlan plan_action(const AdapterAction& action, const PlanContext& context,
                         const engine::AppProfile& profile);

}  // namespace lumaret::adapter
