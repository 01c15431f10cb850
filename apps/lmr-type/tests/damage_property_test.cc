// Random typing, clicking, selecting and held keys in the simulated application, in each way an
// application reports its text: the input method never deletes or changes a character outside the word
// it edits, and with prompt reports it never gives an edit up.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string_view>
#include <vector>

#include "damage_check.h"

namespace lumaret::type {
namespace {

const char* name_of(Reporting r) {
  switch (r) {
    case Reporting::Immediate:
      return "immediate";
    case Reporting::Lagging:
      return "lagging";
    case Reporting::Never:
      return "never";
  }
  return "?";
}

// Words as each method types them (Telex, VNI, VIQR, Simple Telex, in the decoder's order), so that
// sequences make real words to end, take up and edit; random keys come in between. Some words begin
// other words ("ban", "bang"), so that a click can land after a word that merely ends like another.
constexpr std::string_view WORDS[4][14] = {
    {"ban", "bang", "vieetj", "chaof", "tooi", "ddi", "hocj", "nguwowif", "xin", "xinh", "cacs", "text",
     "boo", "quas"},
    {"ban", "bang", "vie65t", "chao2", "to6i", "d9i", "hoc5", "ngu7o72i", "xin", "xinh", "cac1", "text",
     "bo6", "qua1"},
    {"ban", "bang", "vie^.t", "chao`", "to^i", "ddi", "hoc.", "ngu+o+`i", "xin", "xinh", "cac'", "text",
     "bo^", "qua'"},
    {"ban", "bang", "vieetj", "chaof", "tooi", "ddi", "hocj", "nguwowif", "xin", "xinh", "cacs", "text",
     "boo", "quas"},
};

// Keys that change a word already typed, per method: tones and marks.
constexpr std::string_view EDITS[4] = {"sfrxjwaoe", "1234567890", "'`?~.^(+", "sfrxjwaoe"};

// The bytes of one step, drawn with weights that make words, separators and Backspace common and
// everything else occasional. The bytes are read by the same decoder the fuzz target uses.
void add_step(std::mt19937& random, std::uint8_t method, std::vector<std::uint8_t>& bytes) {
  static constexpr std::string_view KEYS = "aeiouydbcghklmnpqrstvxwfjz123456789'`?~.^(+[]";
  static constexpr std::string_view SEPARATORS = "     ,.";
  // Enter, Escape, Left, Right, Home, End, Delete in the decoder's table of named keys.
  static constexpr std::uint8_t NAMED[] = {168, 170, 171, 173, 174, 175, 176};
  const auto pick = [&](std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
  };
  const auto any_byte = [&] { return static_cast<std::uint8_t>(pick(256)); };
  const auto word = [&] { return WORDS[method][pick(std::size(WORDS[method]))]; };
  const auto edit = [&] { return static_cast<std::uint8_t>(EDITS[method][pick(EDITS[method].size())]); };
  const std::size_t roll = pick(100);
  if (roll < 35) {
    const std::string_view w = word();
    bytes.insert(bytes.end(), w.begin(), pick(5) == 0 ? w.begin() + 1 + pick(w.size()) : w.end());
    if (pick(10) < 7) bytes.push_back(static_cast<std::uint8_t>(SEPARATORS[pick(SEPARATORS.size())]));
  } else if (roll < 42) {
    bytes.push_back(static_cast<std::uint8_t>(KEYS[pick(KEYS.size())]));
  } else if (roll < 47) {
    bytes.push_back(static_cast<std::uint8_t>(SEPARATORS[pick(SEPARATORS.size())]));
  } else if (roll < 59) {
    // A word ended, taken up again by Backspace, and often edited.
    const std::string_view w = word();
    bytes.insert(bytes.end(), w.begin(), w.end());
    bytes.insert(bytes.end(), {' ', 160});
    if (pick(10) < 7) bytes.push_back(edit());
  } else if (roll < 67) {
    bytes.push_back(160);  // Backspace
  } else if (roll < 71) {
    bytes.push_back(NAMED[pick(std::size(NAMED))]);
  } else if (roll < 84) {
    // Proofreading: a click, mostly right after a word or just past it, often followed by an edit, and
    // now and then a second one close by.
    for (int clicks = pick(3) == 0 ? 2 : 1; clicks > 0; --clicks) {
      bytes.insert(bytes.end(), {static_cast<std::uint8_t>(pick(10) < 7 ? 219 : 208), any_byte()});
      if (pick(10) < 6) bytes.push_back(edit());
    }
  } else if (roll < 88) {
    bytes.insert(bytes.end(), {230, any_byte(), any_byte()});  // a selection
  } else if (roll < 98) {
    bytes.push_back(static_cast<std::uint8_t>(244 + pick(12)));  // the key before is held
  } else if (roll < 99) {
    bytes.push_back(200);  // the switch
  } else {
    bytes.push_back(static_cast<std::uint8_t>(204 + pick(4)));  // a shortcut
  }
}

// Settings: taking words up on, as by default, in most runs; every other option now and then.
std::vector<std::uint8_t> settings(std::mt19937& random) {
  const auto chance = [&](int percent) {
    return std::uniform_int_distribution<int>(0, 99)(random) < percent;
  };
  std::uint8_t first = static_cast<std::uint8_t>(std::uniform_int_distribution<int>(0, 3)(random));
  if (chance(25)) first |= 4;   // decomposed output
  if (chance(15)) first |= 8;   // no take-up on Backspace
  if (chance(15)) first |= 16;  // no take-up on typing
  if (chance(25)) first |= 32;  // macros
  const int reporting = std::uniform_int_distribution<int>(0, 99)(random);
  if (reporting >= 50) first |= reporting < 85 ? 0x80 : 0xC0;  // lagging, or no reports at all
  std::uint8_t second = 0;
  for (int bit = 0; bit < 7; ++bit) {
    if (chance(20)) second |= static_cast<std::uint8_t>(1 << bit);
  }
  return {first, second};
}

TEST(Damage, RandomSequencesLeaveTheUsersTextIntact) {
  constexpr int SEQUENCES = 2000;
  std::mt19937 random(0x6c756d61);
  std::uniform_int_distribution<int> length(8, 40);
  struct Totals {
    std::uint64_t sequences = 0, steps = 0, replacements = 0, given_up = 0;
  } totals[3];

  for (int i = 0; i < SEQUENCES; ++i) {
    std::vector<std::uint8_t> bytes = settings(random);
    for (int n = length(random); n > 0; --n)
      add_step(random, bytes[0] & 3, bytes);
    const DamageScenario scenario = decode_scenario(bytes.data(), bytes.size());
    const DamageReport report = check_damage(scenario);
    ASSERT_FALSE(report.damage) << "sequence " << i << " (" << name_of(scenario.reporting)
                                << " reports): " << *report.damage;
    Totals& t = totals[static_cast<int>(scenario.reporting)];
    ++t.sequences;
    t.steps += report.steps;
    t.replacements += report.replacements;
    t.given_up += report.given_up;
  }
  for (Reporting r : {Reporting::Immediate, Reporting::Lagging, Reporting::Never}) {
    const Totals& t = totals[static_cast<int>(r)];
    std::printf("%s reports: %llu sequences, %llu steps, %llu edits in place, %llu letters given up\n",
                name_of(r), static_cast<unsigned long long>(t.sequences),
                static_cast<unsigned long long>(t.steps), static_cast<unsigned long long>(t.replacements),
                static_cast<unsigned long long>(t.given_up));
  }
  // The check means something only if words were really edited in place where the text is known.
  EXPECT_GT(totals[static_cast<int>(Reporting::Immediate)].replacements, 0u);
  EXPECT_GT(totals[static_cast<int>(Reporting::Lagging)].replacements, 0u);
}

}  // namespace
}  // namespace lumaret::type
