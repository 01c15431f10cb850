#include "lumaret/core/rules.h"

namespace lumaret::core {

const InputMethodSpec& method_by_name(std::string_view name) {
  if (name == VNI.name) return VNI;
  if (name == VIQR.name) return VIQR;
  if (name == SIMPLE_TELEX.name) return SIMPLE_TELEX;
  return TELEX;
}

std::optional<char32_t> mark_key(std::span<const MarkKey> mark_keys, char32_t base, Mark mark) {
  for (const MarkKey& entry : mark_keys) {
    for (const MarkRule& rule : entry.rules) {
      if (rule.mark == mark && !rule.pair && rule.targets.find(base) != std::u32string_view::npos) {
        return entry.key;
      }
    }
  }
  return std::nullopt;
}

}  // namespace lumaret::core
