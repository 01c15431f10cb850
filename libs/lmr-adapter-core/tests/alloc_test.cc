// The surrounding-text functions run on every key, so they must not allocate: this program replaces the
// global allocation functions with counting ones and counts what each call costs.
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "lumaret/adapter/plan.h"
#include "lumaret/adapter/surrounding.h"

namespace {
std::atomic<std::size_t> allocation_count{0};

void* counted_alloc(std::size_t size) {
  allocation_count.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  std::abort();
}
}  // namespace

void* operator new(std::size_t size) {
  return counted_alloc(size);
}
void* operator new[](std::size_t size) {
  return counted_alloc(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return counted_alloc(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return counted_alloc(size);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}

namespace lumaret::adapter {
namespace {

// Allocations made between construction and `count()`.
class AllocationCounter {
 public:
  AllocationCounter() : start_(allocation_count.load()) {}
  std::size_t count() const { return allocation_count.load() - start_; }

 private:
  std::size_t start_;
};

// The longest text a std::string holds without allocating.
const std::size_t SHORT_TEXT_BYTES = std::string().capacity();

const std::vector<std::string> TEXTS = {
    "",
    "xin chao ban",
    "vi\u1ec7t nam",
    "vie\u0323\u0302t",
    "a\U0001F600b\U00020000",
    "\u4e2d\u6587 \u0111\u01b0\u1eddng",
    "a\xff\xe1\xbb",  // ill-formed
    std::string(300, 'x') + "\u1ec7\U0001F600",
};

TEST(NoAllocation, TextArithmeticAllocatesNothing) {
  std::size_t results = 0;  // used afterwards, so no call can be dropped
  const AllocationCounter counter;
  for (const std::string& text : TEXTS) {
    for (std::uint32_t n = 0; n <= utf16_length(text) + 2; ++n) {
      results += char_suffix(text, n).has_value();
      results += utf16_prefix(text, n).has_value();
      results += utf16_suffix(text, n).has_value();
      results += next_codepoint(text, n).has_value();
    }
  }
  for (char32_t c = 0; c <= 0x110000; ++c)
    results += is_word_char(c);
  const std::size_t allocations = counter.count();
  EXPECT_EQ(allocations, 0u);
  EXPECT_GT(results, 0u);
}

TEST(NoAllocation, CheckReplaceAllocatesOnlyTheDeletedCopy) {
  const std::string long_word = std::string(40, 'x');
  const std::string text = "abc " + long_word;
  const auto cursor_units = utf16_length(text);
  const SurroundingView view{text, cursor_units, cursor_units};
  const struct {
    const char* name;
    std::string_view expected;
    std::uint32_t units;
    bool accepted;
  } cases[] = {
      {"refused", "abc", 3, false},
      {"short deletion", long_word, 3, true},
      {"long deletion", long_word, 40, true},
  };
  for (const auto& c : cases) {
    const AllocationCounter counter;
    const std::optional<ReplaceCheck> check = check_replace(c.expected, c.units, view);
    const std::size_t allocations = counter.count();
    ASSERT_EQ(check.has_value(), c.accepted) << c.name;
    const std::size_t copies = check && check->deleted.size() > SHORT_TEXT_BYTES ? 1 : 0;
    EXPECT_EQ(allocations, copies) << c.name;
  }
}

// plan_action allocates once when the action's text is too long to be held inline, and never otherwise:
// not for Pass or Fallback plans, and not for the check behind a verified replacement, however long the
// deleted text.
TEST(NoAllocation, PlanActionAllocatesOnlyTheCopyOfItsText) {
  const std::string short_text = "vi\u1ec7t";
  const std::string long_text = "nghi\u00eang nghi\u00eang nghi\u00eang";
  ASSERT_LE(short_text.size(), SHORT_TEXT_BYTES);
  ASSERT_GT(long_text.size(), SHORT_TEXT_BYTES);

  const std::string long_word(40, 'x');
  const std::string app_text = "abc " + long_word + " ";
  const SurroundingView after_long_word{app_text, 44, 44};
  const PlanContext verified{.expected = long_word, .surrounding = after_long_word};
  const PlanContext trusted{.expected = long_word, .trusted = true};
  const PlanContext password{.expected = long_word, .field_kind = engine::FieldKind::Password};
  const PlanContext out_of_range{.expected = "ab"};
  const PlanContext mismatch{.expected = "abc", .surrounding = after_long_word};

  const struct {
    const char* name;
    AdapterAction action;
    const PlanContext& context;
    PlanKind kind;
    std::size_t allocations;
  } cases[] = {
      {"pass", Pass{}, verified, PlanKind::Pass, 0},
      {"disabled field", Commit{long_text, false}, password, PlanKind::Pass, 0},
      {"fallback, out of range", Replace{long_text, 3, false}, out_of_range, PlanKind::Fallback, 0},
      {"fallback, mismatch", Replace{long_text, 3, false}, mismatch, PlanKind::Fallback, 0},
      {"short preedit", Preedit{short_text, 4}, verified, PlanKind::Preedit, 0},
      {"long preedit", Preedit{long_text, 4}, verified, PlanKind::Preedit, 1},
      {"short commit", Commit{short_text, true}, verified, PlanKind::Commit, 0},
      {"long commit", Commit{long_text, true}, verified, PlanKind::Commit, 1},
      {"short verified replace of a long word", Replace{short_text, 40, false}, verified, PlanKind::Replace,
       0},
      {"long verified replace", Replace{long_text, 40, false}, verified, PlanKind::Replace, 1},
      {"short trusted replace", Replace{short_text, 40, false}, trusted, PlanKind::Replace, 0},
      {"long trusted replace", Replace{long_text, 40, false}, trusted, PlanKind::Replace, 1},
      {"long replace, nothing to delete", Replace{long_text, 0, false}, verified, PlanKind::Commit, 1},
  };
  const engine::AppProfile profile;
  for (const auto& c : cases) {
    const AllocationCounter counter;
    const DeliveryPlan plan = plan_action(c.action, c.context, profile);
    const std::size_t allocations = counter.count();
    ASSERT_EQ(plan.kind, c.kind) << c.name << ": " << plan.reason;
    EXPECT_EQ(allocations, c.allocations) << c.name;
  }
}

}  // namespace
}  // namespace lumaret::adapter
