// Properties of the surrounding-text functions over a few thousand generated texts. The generator lays
// texts down from pieces whose characters it knows, so every boundary is known without decoding.
#include "lumaret/adapter/surrounding.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace lumaret::adapter {
namespace {

struct Piece {
  std::string_view utf8;
  char32_t c;
  bool word;  // whether a deletion must not stop right before it
};

constexpr Piece PIECES[] = {
    {"a", U'a', true},
    {"Z", U'Z', true},
    {"7", U'7', true},
    {"_", U'_', true},
    {" ", U' ', false},
    {",", U',', false},
    {"\u0111", 0x0111, true},        // đ
    {"\u01b0", 0x01B0, true},        // ư
    {"\u1ec7", 0x1EC7, true},        // ệ
    {"\u1ea0", 0x1EA0, true},        // Ạ
    {"\u0301", 0x0301, true},        // combining acute
    {"\u0323", 0x0323, true},        // combining dot below
    {"\u4e2d", 0x4E2D, false},       // 中
    {"\u6587", 0x6587, false},       // 文
    {"\U0001F600", 0x1F600, false},  // an emoji, two UTF-16 units
    {"\U00020000", 0x20000, false},  // a CJK extension B ideograph, two UTF-16 units
};

constexpr std::mt19937::result_type SEED = 20240611;
constexpr int SAMPLES = 3000;

struct Sample {
  std::string text;
  std::vector<char32_t> chars;
  std::vector<bool> words;
  std::vector<std::size_t> boundary_bytes;    // where each character begins, then the end of the text
  std::vector<std::uint32_t> boundary_units;  // the same boundaries counted in UTF-16 units

  std::size_t n_chars() const { return chars.size(); }
  std::uint32_t total_units() const { return boundary_units.back(); }

  // The index of the boundary with exactly `units` UTF-16 units before it.
  std::optional<std::size_t> boundary_at(std::uint32_t units) const {
    for (std::size_t i = 0; i < boundary_units.size(); ++i) {
      if (boundary_units[i] == units) return i;
    }
    return std::nullopt;
  }

  // The text between two boundaries.
  std::string_view between(std::size_t from, std::size_t to) const {
    return std::string_view(text).substr(boundary_bytes[from], boundary_bytes[to] - boundary_bytes[from]);
  }
};

class Generator {
 public:
  Generator() : rng_(SEED) {}

  std::size_t below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_); }

  const Piece& piece() { return PIECES[below(std::size(PIECES))]; }

  // A boundary no word character follows: the end of the text or one before a space, comma, CJK or emoji.
  std::size_t end_of_word(const Sample& s) {
    std::vector<std::size_t> ends;
    for (std::size_t i = 0; i < s.n_chars(); ++i) {
      if (!s.words[i]) ends.push_back(i);
    }
    ends.push_back(s.n_chars());
    return ends[below(ends.size())];
  }

  Sample sample() {
    Sample s;
    s.boundary_bytes.push_back(0);
    s.boundary_units.push_back(0);
    for (std::size_t n = below(13); n > 0; --n) {
      const Piece& p = piece();
      s.text += p.utf8;
      s.chars.push_back(p.c);
      s.words.push_back(p.word);
      s.boundary_bytes.push_back(s.text.size());
      s.boundary_units.push_back(s.boundary_units.back() + (p.c >= 0x10000 ? 2 : 1));
    }
    return s;
  }

 private:
  std::mt19937 rng_;
};

bool is_suffix_slice(std::string_view text, std::string_view slice) {
  return slice.data() + slice.size() == text.data() + text.size();
}

TEST(SurroundingProperty, PrefixAndSuffixCutAtTheSameBoundariesAndRebuildTheText) {
  Generator gen;
  for (int i = 0; i < SAMPLES; ++i) {
    const Sample s = gen.sample();
    const std::string_view t = s.text;
    ASSERT_EQ(utf16_length(t), s.total_units()) << '"' << t << '"';
    for (std::uint32_t n = 0; n <= s.total_units() + 2; ++n) {
      const std::optional<std::size_t> at = s.boundary_at(n);
      const std::optional<std::string_view> prefix = utf16_prefix(t, n);
      ASSERT_EQ(prefix.has_value(), at.has_value()) << '"' << t << "\" n=" << n;
      if (prefix) {
        ASSERT_EQ(*prefix, s.between(0, *at)) << '"' << t << "\" n=" << n;
      }
      if (n > s.total_units()) continue;
      const std::optional<std::string_view> suffix = utf16_suffix(t, s.total_units() - n);
      ASSERT_EQ(suffix.has_value(), at.has_value() && !t.empty()) << '"' << t << "\" n=" << n;
      if (prefix && suffix) {
        ASSERT_EQ(std::string(*prefix) + std::string(*suffix), t) << '"' << t << "\" n=" << n;
        ASSERT_TRUE(is_suffix_slice(t, *suffix)) << '"' << t << "\" n=" << n;
      }
    }
  }
}

TEST(SurroundingProperty, CharSuffixNeverSplitsACharacter) {
  Generator gen;
  for (int i = 0; i < SAMPLES; ++i) {
    const Sample s = gen.sample();
    const std::string_view t = s.text;
    for (std::uint32_t k = 0; k <= s.n_chars() + 1; ++k) {
      const std::optional<std::string_view> suffix = char_suffix(t, k);
      ASSERT_EQ(suffix.has_value(), k <= s.n_chars()) << '"' << t << "\" k=" << k;
      if (!suffix) continue;
      ASSERT_TRUE(is_suffix_slice(t, *suffix)) << '"' << t << "\" k=" << k;
      // It starts on the boundary k characters before the end.
      ASSERT_EQ(suffix->size(), t.size() - s.boundary_bytes[s.n_chars() - k]) << '"' << t << "\" k=" << k;
    }
  }
}

TEST(SurroundingProperty, NextCodepointReadsTheCharacterAtEachBoundary) {
  Generator gen;
  for (int i = 0; i < SAMPLES; ++i) {
    const Sample s = gen.sample();
    for (std::uint32_t n = 0; n <= s.total_units() + 1; ++n) {
      const std::optional<std::size_t> at = s.boundary_at(n);
      const std::optional<char32_t> expected =
          at && *at < s.n_chars() ? std::optional<char32_t>(s.chars[*at]) : std::nullopt;
      ASSERT_EQ(next_codepoint(s.text, n), expected) << '"' << s.text << "\" at " << n;
    }
  }
}

// What the generator knows about the expected text it made up for one check.
struct ExpectedText {
  std::string text;
  // Boundary index in the sample from which `text` ends with exactly the sample's text before the cursor;
  // nothing when the generator makes no promise (an unrelated or altered text).
  std::optional<std::size_t> matches_from;
};

ExpectedText make_expected(Generator& gen, const Sample& s, std::optional<std::size_t> cursor) {
  const std::size_t kind = gen.below(5);
  if (kind == 0 || !cursor) return {"", kind == 0 ? std::optional<std::size_t>(0) : std::nullopt};
  const std::size_t from = gen.below(*cursor + 1);
  std::string exact(s.between(from, *cursor));
  switch (kind) {
    case 1:
      return {exact, from};
    case 2:  // a character the application does not show stands before it
      return {std::string(gen.piece().utf8) + exact, from};
    case 3:
      return {gen.sample().text, std::nullopt};
    default:  // the last character swapped for another, perhaps the same one
      if (!exact.empty())
        exact.resize(exact.size() - (s.boundary_bytes[*cursor] - s.boundary_bytes[*cursor - 1]));
      return {exact + std::string(gen.piece().utf8), std::nullopt};
  }
}

TEST(SurroundingProperty, CheckReplaceOnlyDeletesTheVerifiedEndOfAWord) {
  Generator gen;
  int accepted = 0;
  for (int i = 0; i < SAMPLES; ++i) {
    const Sample s = gen.sample();
    for (int round = 0; round < 4; ++round) {
      // Mostly positions that can succeed, so both sides of every rule are reached; sometimes any number.
      const std::uint32_t cursor_units = gen.below(2) == 0
                                             ? s.boundary_units[gen.end_of_word(s)]
                                             : static_cast<std::uint32_t>(gen.below(s.total_units() + 2));
      const std::uint32_t anchor_units =
          gen.below(4) == 0 ? static_cast<std::uint32_t>(gen.below(s.total_units() + 2)) : cursor_units;
      const std::optional<std::size_t> cursor = s.boundary_at(cursor_units);
      const std::uint32_t units = cursor && gen.below(4) != 0
                                      ? cursor_units - s.boundary_units[gen.below(*cursor + 1)]
                                      : static_cast<std::uint32_t>(gen.below(cursor_units + 3));
      const ExpectedText expected = make_expected(gen, s, cursor);
      const SurroundingView view{s.text, cursor_units, anchor_units};
      const std::optional<ReplaceCheck> check = check_replace(expected.text, units, view);

      const std::optional<std::size_t> start =
          units <= cursor_units ? s.boundary_at(cursor_units - units) : std::nullopt;
      const bool word_follows = cursor && *cursor < s.n_chars() && s.words[*cursor];
      const auto name = [&] {
        return '"' + s.text + "\" expected \"" + expected.text + "\" units " + std::to_string(units) +
               " cursor " + std::to_string(cursor_units) + " anchor " + std::to_string(anchor_units);
      };

      if (check) {
        ++accepted;
        ASSERT_EQ(anchor_units, cursor_units) << name();
        ASSERT_TRUE(cursor && start) << name();
        ASSERT_FALSE(word_follows) << name();
        const auto from = start.value_or(0), to = cursor.value_or(0);  // both present, asserted above
        ASSERT_EQ(check->deleted, s.between(from, to)) << name();
        ASSERT_FALSE(check->deleted.empty()) << name();
        if (!expected.text.empty()) {
          ASSERT_TRUE(expected.text.ends_with(check->deleted)) << name();
        }
        ASSERT_EQ(check->units, units) << name();
        ASSERT_EQ(check->chars, to - from) << name();
      }
      // Where the expected text is known to agree with the application, everything else decides alone.
      if (expected.matches_from && (expected.text.empty() || !start || *start >= *expected.matches_from)) {
        const bool allowed = anchor_units == cursor_units && cursor && start && units > 0 && !word_follows;
        ASSERT_EQ(check.has_value(), allowed) << name();
      }
    }
  }
  // The generator must reach the accepting side often enough for the checks above to mean something.
  EXPECT_GT(accepted, SAMPLES / 4);
}

// Random bytes, ill-formed more often than not: nothing reads outside the text (the sanitizers watch), and
// the cuts still agree with each other.
TEST(SurroundingProperty, IllFormedBytesAreCutConsistently) {
  constexpr unsigned char BYTES[] = {'a',  ' ',  0x80, 0x87, 0x90, 0x9F, 0xA0, 0xBB, 0xBF,
                                     0xC0, 0xC4, 0xE1, 0xED, 0xF0, 0xF4, 0xF5, 0xFF};
  Generator gen;
  for (int i = 0; i < SAMPLES; ++i) {
    std::string t;
    for (std::size_t n = gen.below(11); n > 0; --n)
      t += static_cast<char>(BYTES[gen.below(std::size(BYTES))]);
    const std::uint32_t total = utf16_length(t);
    for (std::uint32_t n = 0; n <= total + 1; ++n) {
      const std::optional<std::string_view> prefix = utf16_prefix(t, n);
      const std::optional<std::string_view> suffix = n <= total ? utf16_suffix(t, total - n) : std::nullopt;
      if (!t.empty()) {
        ASSERT_EQ(prefix.has_value(), suffix.has_value()) << testing::PrintToString(t) << " n=" << n;
      }
      if (prefix && suffix) {
        ASSERT_EQ(std::string(*prefix) + std::string(*suffix), t) << testing::PrintToString(t);
      }

      const std::optional<char32_t> c = next_codepoint(t, n);
      if (c) {
        ASSERT_TRUE(*c <= 0x10FFFF && (*c < 0xD800 || *c > 0xDFFF))
            << testing::PrintToString(t) << " at " << n;
      }

      const std::optional<std::string_view> by_chars = char_suffix(t, n);
      if (by_chars) {
        ASSERT_TRUE(is_suffix_slice(t, *by_chars)) << testing::PrintToString(t) << " k=" << n;
        ASSERT_TRUE(utf16_prefix(t, total - utf16_length(*by_chars)).has_value())
            << testing::PrintToString(t) << " k=" << n;
      }

      const auto cursor_units = static_cast<std::uint32_t>(gen.below(total + 2));
      const std::optional<ReplaceCheck> check =
          check_replace(t.substr(0, gen.below(t.size() + 1)), n, {t, cursor_units, cursor_units});
      if (check) {
        ASSERT_TRUE(utf16_prefix(t, cursor_units)->ends_with(check->deleted)) << testing::PrintToString(t);
      }
    }
  }
}

}  // namespace
}  // namespace lumaret::adapter
