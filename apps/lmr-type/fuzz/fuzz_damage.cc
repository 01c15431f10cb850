// Arbitrary keys, clicks, selections and held keys typed into the simulated application through the real
// controller and session, with prompt, lagging or no reports of its text. Aborts when the input method
// deletes or changes a character outside the word it edits, or, with prompt reports, gives an edit up.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "damage_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const lumaret::type::DamageReport report =
      lumaret::type::check_damage(lumaret::type::decode_scenario(data, size));
  if (report.damage) {
    std::fprintf(stderr, "damage: %s\n", report.damage->c_str());
    std::abort();
  }
  return 0;
}
