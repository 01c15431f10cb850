#include "lumaret/adapter/plan.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "text_walk.h"

namespace lumaret::adapter {
namespace {

template <class... F>
struct Overload : F... {
  using F::operator()...;
};
template <class... F>
Overload(F...) -> Overload<F...>;  // clang 14 needs the guide spelled out

constexpr std::uint64_t U32_MAX = std::numeric_limits<std::uint32_t>::max();

// The wait for the application to acknowledge a replacement is never zero and never long enough to hold
// typing up, whatever delays a profile asks for.
constexpr std::uint32_t MIN_ACK_WAIT_MS = 3;
constexpr std::uint32_t MAX_ACK_WAIT_MS = 60;

std::uint32_t ack_wait_ms(const engine::AppProfile& profile, std::uint32_t delete_chars) {
  if (!profile.wait_ack) return MIN_ACK_WAIT_MS;
  const std::uint64_t per_chars_ms = std::min<std::uint64_t>(
      std::uint64_t{profile.delay_per_char_ms} * std::uint64_t{delete_chars}, U32_MAX);
  const std::uint64_t total_ms = std::min<std::uint64_t>(profile.backspace_delay_ms + per_chars_ms, U32_MAX);
  return static_cast<std::uint32_t>(std::clamp<std::uint64_t>(total_ms, MIN_ACK_WAIT_MS, MAX_ACK_WAIT_MS));
}

std::uint32_t saturate_u32(std::size_t n) {
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(n, U32_MAX));
}

DeliveryPlan fallback(std::string_view reason) {
  return {.kind = PlanKind::Fallback, .reason = reason};
}

DeliveryPlan plan_replace(const Replace& action, const PlanContext& context,
                          const engine::AppProfile& profile) {
  // What the deletion is measured on: the frontend's belief first, else whatever the application shows.
  std::string_view base;
  if (!context.expected.empty()) {
    base = context.expected;
  } else if (context.surrounding) {
    base = utf16_prefix(context.surrounding->text, context.surrounding->cursor_units).value_or("");
  }

  const std::optional<std::string_view> tail = char_suffix(base, action.delete_chars);
  if (!tail) return fallback("replace-suffix-out-of-range");
  const std::uint32_t units = utf16_length(*tail);
  if (units == 0) {
    return {.kind = PlanKind::Commit,
            .text = action.text,
            .reason = "replace-no-delete",
            .forward = action.forward};
  }

  DeliveryPlan plan{.kind = PlanKind::Replace, .delete_units = units, .forward = action.forward};
  if (context.trusted) {
    // The tail was cut on a character boundary, so this cut agrees with it; should the two ever disagree,
    // nothing is deleted.
    const std::optional<std::string_view> trusted_tail = utf16_suffix(base, units);
    if (!trusted_tail) return fallback("replace-unverified-suffix");
    plan.reason = "replace-trusted-direct";
    plan.delete_chars = saturate_u32(detail::count_chars(*trusted_tail));
  } else {
    if (!context.surrounding) return fallback("replace-no-surrounding");
    // The check's own result would copy the deleted text; the plan needs only its length.
    const std::optional<std::string_view> verified =
        detail::replaceable_tail(context.expected, units, *context.surrounding);
    if (!verified) return fallback("replace-surrounding-mismatch");
    plan.reason = "replace-verified";
    plan.delete_chars = saturate_u32(detail::count_chars(*verified));
  }
  plan.text = action.text;
  plan.ack_wait_ms = ack_wait_ms(profile, plan.delete_chars);
  return plan;
}

}  // namespace

DeliveryPlan plan_action(const AdapterAction& action, const PlanContext& context,
                         const engine::AppProfile& profile) {
  using engine::FieldKind;
  if (context.field_kind == FieldKind::Password || context.field_kind == FieldKind::Numeric ||
      context.field_kind == FieldKind::Email) {
    return {.kind = PlanKind::Pass, .reason = "field-disabled"};
  }
  return std::visit(
      Overload{
          [](const Pass&) -> DeliveryPlan { return {.kind = PlanKind::Pass, .reason = "engine-pass"}; },
          [](const Preedit& a) -> DeliveryPlan {
            return {.kind = PlanKind::Preedit,
                    .text = a.text,
                    .reason = "preedit",
                    .cursor_units = a.cursor_units};
          },
          [](const Commit& a) -> DeliveryPlan {
            return {.kind = PlanKind::Commit, .text = a.text, .reason = "commit", .forward = a.forward};
          },
          [&](const Replace& a) { return plan_replace(a, context, profile); },
      },
      action);
}

}  // namespace lumaret::adapter
