// How each engine output is planned for delivery, and when a replacement falls back.
#include "lumaret/adapter/plan.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <ostream>
#include <string>

namespace lumaret::adapter {

// Readable failures: the plan as its fields.
void PrintTo(const DeliveryPlan& p, std::ostream* os) {
  *os << "{kind " << static_cast<int>(p.kind) << ", \"" << p.text << "\", " << p.reason << ", cursor "
      << p.cursor_units << ", delete " << p.delete_units << " units/" << p.delete_chars << " chars, ack "
      << p.ack_wait_ms << " ms, forward " << p.forward << "}";
}

namespace {

using engine::AppProfile;
using engine::FieldKind;

constexpr std::uint32_t U32_MAX = std::numeric_limits<std::uint32_t>::max();

const SurroundingView XIN_CHAO_BAN{"xin chao ban", 8, 8};  // the cursor right after "chao"

TEST(Plan, EachActionAndSituationHasItsRule) {
  const struct {
    const char* name;
    AdapterAction action;
    PlanContext context;
    DeliveryPlan plan;
  } cases[] = {
      {"pass", Pass{}, {}, {.kind = PlanKind::Pass, .reason = "engine-pass"}},
      {"preedit",
       Preedit{"viết", 3},
       {},
       {.kind = PlanKind::Preedit, .text = "viết", .reason = "preedit", .cursor_units = 3}},
      {"commit",
       Commit{"viết ", true},
       {},
       {.kind = PlanKind::Commit, .text = "viết ", .reason = "commit", .forward = true}},
      {"preedit in a URL field",
       Preedit{"a", 1},
       {.field_kind = FieldKind::Url},
       {.kind = PlanKind::Preedit, .text = "a", .reason = "preedit", .cursor_units = 1}},
      {"commit in a terminal",
       Commit{"a", false},
       {.field_kind = FieldKind::Terminal},
       {.kind = PlanKind::Commit, .text = "a", .reason = "commit"}},
      {"nothing to delete",
       Replace{"chào", 0, true},
       {.expected = "chao"},
       {.kind = PlanKind::Commit, .text = "chào", .reason = "replace-no-delete", .forward = true}},
      {"more to delete than expected holds",
       Replace{"abc", 3, false},
       {.expected = "ab", .surrounding = SurroundingView{"ab", 2, 2}},
       {.kind = PlanKind::Fallback, .reason = "replace-suffix-out-of-range"}},
      {"no expected text, no surrounding text",
       Replace{"a", 1, false},
       {},
       {.kind = PlanKind::Fallback, .reason = "replace-suffix-out-of-range"}},
      {"no expected text, cursor inside a pair",
       Replace{"a", 1, false},
       {.surrounding = SurroundingView{"a\U0001F600", 2, 2}},
       {.kind = PlanKind::Fallback, .reason = "replace-suffix-out-of-range"}},
      {"verified",
       Replace{"chào", 2, true},
       {.expected = "chao", .surrounding = XIN_CHAO_BAN},
       {.kind = PlanKind::Replace,
        .text = "chào",
        .reason = "replace-verified",
        .delete_units = 2,
        .delete_chars = 2,
        .ack_wait_ms = 3,
        .forward = true}},
      {"verified from the text before the cursor",
       Replace{"chào", 2, false},
       {.surrounding = XIN_CHAO_BAN},
       {.kind = PlanKind::Replace,
        .text = "chào",
        .reason = "replace-verified",
        .delete_units = 2,
        .delete_chars = 2,
        .ack_wait_ms = 3}},
      {"selection",
       Replace{"chào", 2, false},
       {.expected = "chao", .surrounding = SurroundingView{"xin chao ban", 8, 6}},
       {.kind = PlanKind::Fallback, .reason = "replace-surrounding-mismatch"}},
      {"word continues after the cursor",
       Replace{"chà", 2, false},
       {.expected = "cha", .surrounding = SurroundingView{"xin chao ban", 7, 7}},
       {.kind = PlanKind::Fallback, .reason = "replace-surrounding-mismatch"}},
      {"application shows other text",
       Replace{"đá", 1, false},
       {.expected = "đ", .surrounding = SurroundingView{"xin d", 5, 5}},
       {.kind = PlanKind::Fallback, .reason = "replace-surrounding-mismatch"}},
      {"no surrounding text",
       Replace{"chào", 2, false},
       {.expected = "chao"},
       {.kind = PlanKind::Fallback, .reason = "replace-no-surrounding"}},
      {"trusted without surrounding text",
       Replace{"chào", 2, false},
       {.expected = "chao", .trusted = true},
       {.kind = PlanKind::Replace,
        .text = "chào",
        .reason = "replace-trusted-direct",
        .delete_units = 2,
        .delete_chars = 2,
        .ack_wait_ms = 3}},
      {"trusted looks neither at the selection nor after the cursor",
       Replace{"chà", 2, true},
       {.expected = "cha", .surrounding = SurroundingView{"xin chao ban", 7, 5}, .trusted = true},
       {.kind = PlanKind::Replace,
        .text = "chà",
        .reason = "replace-trusted-direct",
        .delete_units = 2,
        .delete_chars = 2,
        .ack_wait_ms = 3,
        .forward = true}},
      {"trusted from the text before the cursor",
       Replace{"chào", 2, false},
       {.surrounding = XIN_CHAO_BAN, .trusted = true},
       {.kind = PlanKind::Replace,
        .text = "chào",
        .reason = "replace-trusted-direct",
        .delete_units = 2,
        .delete_chars = 2,
        .ack_wait_ms = 3}},
      {"trusted, more to delete than the base holds",
       Replace{"abc", 3, false},
       {.expected = "ab", .trusted = true},
       {.kind = PlanKind::Fallback, .reason = "replace-suffix-out-of-range"}},
      {"characters and units differ, verified",
       Replace{"b", 2, false},
       {.expected = "xa\U0001F600", .surrounding = SurroundingView{"xa\U0001F600", 4, 4}},
       {.kind = PlanKind::Replace,
        .text = "b",
        .reason = "replace-verified",
        .delete_units = 3,
        .delete_chars = 2,
        .ack_wait_ms = 3}},
      {"characters and units differ, trusted",
       Replace{"b", 2, false},
       {.expected = "xa\U0001F600", .trusted = true},
       {.kind = PlanKind::Replace,
        .text = "b",
        .reason = "replace-trusted-direct",
        .delete_units = 3,
        .delete_chars = 2,
        .ack_wait_ms = 3}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(plan_action(c.action, c.context, AppProfile{}), c.plan) << c.name;
}

TEST(Plan, DisabledFieldsPassEveryAction) {
  const AdapterAction actions[] = {Pass{}, Preedit{"viết", 4}, Commit{"viết", true},
                                   Replace{"chào", 2, true}};
  for (FieldKind field : {FieldKind::Password, FieldKind::Numeric, FieldKind::Email}) {
    for (const AdapterAction& action : actions) {
      const PlanContext context{
          .expected = "chao", .surrounding = XIN_CHAO_BAN, .field_kind = field, .trusted = true};
      EXPECT_EQ(plan_action(action, context, AppProfile{}),
                (DeliveryPlan{.kind = PlanKind::Pass, .reason = "field-disabled"}))
          << "field " << static_cast<int>(field) << ", action " << action.index();
    }
  }
}

TEST(Plan, AckWaitGrowsWithTheDeletionWithinBounds) {
  const struct {
    const char* name;
    bool wait_ack;
    std::uint32_t backspace_delay_ms;
    std::uint32_t delay_per_char_ms;
    std::uint32_t delete_chars;
    std::uint32_t ack_wait_ms;
  } cases[] = {
      {"not waiting ignores the delays", false, 100, 50, 5, 3},
      {"per character", true, 0, 2, 5, 10},
      {"raised to the minimum", true, 0, 2, 1, 3},
      {"no delays at all", true, 0, 0, 5, 3},
      {"just below the maximum", true, 29, 10, 3, 59},
      {"at the maximum", true, 30, 10, 3, 60},
      {"capped at the maximum", true, 100, 2, 5, 60},
      {"product saturates", true, 0, U32_MAX, 2, 60},
      {"sum saturates", true, U32_MAX, U32_MAX, 3, 60},
      {"sum past 32 bits", true, U32_MAX, 1, 1, 60},
  };
  for (const auto& c : cases) {
    AppProfile profile;
    profile.wait_ack = c.wait_ack;
    profile.backspace_delay_ms = c.backspace_delay_ms;
    profile.delay_per_char_ms = c.delay_per_char_ms;
    const std::string word(c.delete_chars, 'a');
    for (bool trusted : {false, true}) {
      const PlanContext context{.expected = word,
                                .surrounding = SurroundingView{word, c.delete_chars, c.delete_chars},
                                .trusted = trusted};
      const DeliveryPlan plan = plan_action(Replace{"b", c.delete_chars, false}, context, profile);
      EXPECT_EQ(plan.kind, PlanKind::Replace) << c.name;
      EXPECT_EQ(plan.ack_wait_ms, c.ack_wait_ms) << c.name << (trusted ? ", trusted" : ", verified");
    }
  }
}

TEST(Plan, OnlyReplacementsWaitForAnAcknowledgement) {
  AppProfile slow;
  slow.wait_ack = true;
  slow.backspace_delay_ms = 40;
  const AdapterAction actions[] = {Pass{}, Preedit{"a", 1}, Commit{"a", false}, Replace{"a", 0, false},
                                   Replace{"a", 5, false}};
  for (const AdapterAction& action : actions) {
    EXPECT_EQ(plan_action(action, PlanContext{.expected = "ab"}, slow).ack_wait_ms, 0u)
        << "action " << action.index();
  }
}

}  // namespace
}  // namespace lumaret::adapter
