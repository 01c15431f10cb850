// Typing random steps into the simulated application through the real controller and session, and
// watching every request that deletes text. The input method may delete only characters of the word it
// edits: its own word while that word truly stands right before the cursor, or the letters right before
// the cursor when it takes them up as a word. Everything else in the field is the user's and must stay
// exactly as the user's keys and the input method's commits left it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "lumaret/engine/ports.h"
#include "lumaret/engine/session.h"
#include "simulated_app.h"

namespace lumaret::type {

// One thing the user or the application does.
struct DamageStep {
  enum class Kind : std::uint8_t {
    Key = 0,        // the user presses and releases `key`
    Click = 1,      // the user clicks: the cursor goes to `at` (a fraction of the text, 0..255)
    ClickWord = 2,  // the user clicks right after a word, or after the character that follows it
    Select = 3,     // the user selects from `at` to `to` (fractions of the text, 0..255)
    Repeat = 4,     // the key just pressed was held: the application repeats it `at` times
  };
  Kind kind = Kind::Key;
  engine::KeyInput key{};
  std::uint8_t at = 0;
  std::uint8_t to = 0;
};

// How the application reports, the settings, and what happens.
struct DamageScenario {
  Reporting reporting = Reporting::Immediate;
  engine::Config config = engine::Config::defaults();
  std::vector<DamageStep> steps;
};

struct DamageReport {
  // What went wrong first, with the steps up to it; nothing when the field came through intact.
  std::optional<std::string> damage;
  std::uint64_t steps = 0;
  std::uint64_t replacements = 0;  // deletions the input method made in the field
  std::uint64_t given_up = 0;      // letters that reached the application as typed instead of editing
};

// Two bytes of settings (method, output form, take-up, macros and reporting in the first; other options in
// the second), then the steps:
//   0..159    a character key; printable characters stand for themselves
//   160..199  a named key: 160..167 Backspace, 168..169 Enter, 170 Escape, 171..172 Left, 173 Right,
//             174 Home, 175 End, 176 Delete, 177 Tab, 178 Up, 179 Shift, and so on again from 180
//   200..203  the switch, Alt+comma; 204..207 Control with a, x, c or v
//   208..218  a click at the fraction of the text the next byte gives
//   219..229  a click right after a word, the next byte choosing which (top bit: one character further)
//   230..243  a selection between the fractions the next two bytes give
//   244..255  the key before is held: the application repeats it 1 to 6 times
DamageScenario decode_scenario(const std::uint8_t* data, std::size_t size);

// Types the scenario into a fresh field. Without lag, a letter typed where a word can be edited must
// edit it; an edit is given up only with a selection or a letter right after the cursor.
DamageReport check_damage(const DamageScenario& scenario);

}  // namespace lumaret::type
