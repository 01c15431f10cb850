// The syllable tables are built once, by whichever thread asks first, and shared by all.
// This test must be the first use of the tables in its process, so it runs in an executable of its own.
#include <gtest/gtest.h>

#include <array>
#include <latch>
#include <thread>
#include <vector>

#include "lumaret/syllable/spelling.h"
#include "lumaret/syllable/syllable.h"

namespace lumaret::syllable {
namespace {

constexpr std::u32string_view WORDS[] = {U"thương", U"thuong", U"hoc", U"ngh",
                                         U"ana",    U"quyêt",  U"ech", U"f"};

struct Seen {
  const Tables* tables = nullptr;
  std::array<Status, std::size(WORDS)> statuses{};
};

TEST(TablesOnceTest, ConcurrentFirstCallersShareOneInstance) {
  constexpr int kThreads = 8;
  std::vector<Seen> seen(kThreads);
  std::latch start(kThreads);
  {
    std::vector<std::jthread> threads;
    for (int i = 0; i < kThreads; ++i) {
      threads.emplace_back([&, i] {
        start.arrive_and_wait();  // all threads reach the first use together
        // Half of them go through the spell check first, the others ask for the tables directly.
        if (i % 2 == 0) {
          for (std::size_t w = 0; w < std::size(WORDS); ++w) {
            seen[i].statuses[w] = check_with(WORDS[w], Tone::Sac, false);
          }
          seen[i].tables = &tables();
        } else {
          seen[i].tables = &tables();
          for (std::size_t w = 0; w < std::size(WORDS); ++w) {
            seen[i].statuses[w] = check_with(WORDS[w], Tone::Sac, false);
          }
        }
      });
    }
  }

  const std::array<Status, std::size(WORDS)> expected = {
      Status::Valid,   Status::Incomplete, Status::Valid,      Status::Incomplete,
      Status::Invalid, Status::Valid,      Status::Incomplete, Status::Invalid,
  };
  for (int i = 0; i < kThreads; ++i) {
    SCOPED_TRACE("thread " + std::to_string(i));
    EXPECT_EQ(seen[i].tables, &tables());
    EXPECT_EQ(seen[i].statuses, expected);
  }
  EXPECT_EQ(tables().open_nuclei.size(), 45u);
}

}  // namespace
}  // namespace lumaret::syllable
