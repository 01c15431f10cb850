// The spelling inventory: splitting a word into onset, nucleus and coda, and the tables built from it.
#include "lumaret/syllable/syllable.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "test_text.h"

namespace lumaret::syllable {
namespace {

template <typename Strings>
std::string utf8_list(const Strings& strings) {
  std::string out = "{";
  for (const auto& s : strings)
    out += (out.size() > 1 ? ", " : "") + utf8(s);
  return out + "}";
}

TEST(SyllableTest, ParseSplitsOnsetNucleusAndCoda) {
  const struct {
    std::u32string_view word;
    std::u32string_view onset;
    std::u32string_view nucleus;
    std::u32string_view coda;
    std::uint32_t onset_len;
  } cases[] = {
      {U"nghiêng", U"ngh", U"iê", U"ng", 3},
      {U"nghieng", U"ngh", U"ie", U"ng", 3},
      {U"ngh", U"ngh", U"", U"", 3},
      {U"ngo", U"ng", U"o", U"", 2},
      {U"nhanh", U"nh", U"a", U"nh", 2},
      {U"ghe", U"gh", U"e", U"", 2},
      {U"khuya", U"kh", U"uya", U"", 2},
      {U"phơ", U"ph", U"ơ", U"", 2},
      {U"thương", U"th", U"ươ", U"ng", 2},
      {U"trăng", U"tr", U"ă", U"ng", 2},
      {U"chuyên", U"ch", U"uyê", U"n", 2},
      // gi is an onset only when a vowel follows it.
      {U"gia", U"gi", U"a", U"", 2},
      {U"giương", U"gi", U"ươ", U"ng", 2},
      {U"gi", U"g", U"i", U"", 1},
      {U"gin", U"g", U"i", U"n", 1},
      {U"gic", U"g", U"i", U"c", 1},
      // qu is always an onset, even alone; q without u is not.
      {U"quy", U"qu", U"y", U"", 2},
      {U"quyêt", U"qu", U"yê", U"t", 2},
      {U"qua", U"qu", U"a", U"", 2},
      {U"qu", U"qu", U"", U"", 2},
      {U"qa", U"", U"", U"qa", 0},
      {U"đuong", U"đ", U"uo", U"ng", 1},
      {U"bac", U"b", U"a", U"c", 1},
      {U"xin", U"x", U"i", U"n", 1},
      {U"oanh", U"", U"oa", U"nh", 0},
      {U"ăn", U"", U"ă", U"n", 0},
      // The coda is whatever follows the vowels, vowels included.
      {U"ana", U"", U"a", U"na", 0},
      {U"html", U"h", U"", U"tml", 1},
      {U"f", U"", U"", U"f", 0},
      {U"w", U"", U"", U"w", 0},
      {U"", U"", U"", U"", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(utf8(c.word));
    const Syllable s = parse(c.word);
    EXPECT_EQ(utf8(s.onset), utf8(c.onset));
    EXPECT_EQ(utf8(s.nucleus), utf8(c.nucleus));
    EXPECT_EQ(utf8(s.coda), utf8(c.coda));
    EXPECT_EQ(s.onset_len, c.onset_len);
  }
}

TEST(SyllableTest, PrefixesByCharactersShortestFirst) {
  const struct {
    std::u32string_view text;
    std::vector<std::u32string> expected;
  } cases[] = {
      {U"ngh", {U"n", U"ng", U"ngh"}},
      {U"uyê", {U"u", U"uy", U"uyê"}},
      {U"ươ", {U"ư", U"ươ"}},
      {U"a", {U"a"}},
      {U"", {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(prefixes(c.text), c.expected) << utf8(c.text) << " gave " << utf8_list(prefixes(c.text));
  }
}

TEST(SyllableTest, RelaxDropsVowelMarksInEveryCombination) {
  const struct {
    std::u32string_view text;
    std::set<std::u32string> expected;
  } cases[] = {
      {U"ươ", {U"ươ", U"ưo", U"uơ", U"uo"}},
      {U"uyê", {U"uyê", U"uye"}},
      {U"ăâ", {U"ăâ", U"ăa", U"aâ", U"aa"}},
      {U"ô", {U"ô", U"o"}},
      {U"đâ", {U"đâ", U"đa"}},  // the stroke of đ is not a vowel mark
      {U"a", {U"a"}},
      {U"", {U""}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(relax(c.text), c.expected) << utf8(c.text) << " gave " << utf8_list(relax(c.text));
  }
}

TEST(SyllableTest, TablesHoldTheInventory) {
  const Tables& t = tables();
  EXPECT_EQ(t.open_nuclei.size(), 45u);
  EXPECT_EQ(t.closed_nuclei.size(), 23u);
  EXPECT_EQ(t.ch_nh_nuclei, (StringSet{U"a", U"ê", U"i", U"oa", U"uê", U"uy"}));
  // n, ng, ngh, nh, g, gh, gi, k, kh, p, ph, t, th, tr, c, ch, q, qu and ten single letters.
  EXPECT_EQ(t.onset_prefixes.size(), 28u);
}

TEST(SyllableTest, TablesMembership) {
  const Tables& t = tables();
  const struct {
    const StringSet& set;
    const char* set_name;
    std::u32string_view item;
    bool member;
  } cases[] = {
      {t.onset_prefixes, "onset_prefixes", U"q", true},
      {t.onset_prefixes, "onset_prefixes", U"qu", true},
      {t.onset_prefixes, "onset_prefixes", U"gi", true},
      {t.onset_prefixes, "onset_prefixes", U"ngh", true},
      {t.onset_prefixes, "onset_prefixes", U"đ", true},
      {t.onset_prefixes, "onset_prefixes", U"f", false},
      {t.onset_prefixes, "onset_prefixes", U"pt", false},
      {t.onset_prefixes, "onset_prefixes", U"", false},
      {t.open_nuclei, "open_nuclei", U"uơ", true},
      {t.open_nuclei, "open_nuclei", U"uya", true},
      {t.open_nuclei, "open_nuclei", U"ia", true},
      {t.open_nuclei, "open_nuclei", U"ă", false},
      {t.open_nuclei, "open_nuclei", U"iê", false},
      {t.open_nuclei, "open_nuclei", U"oo", false},
      {t.closed_nuclei, "closed_nuclei", U"ă", true},
      {t.closed_nuclei, "closed_nuclei", U"oo", true},
      {t.closed_nuclei, "closed_nuclei", U"uyê", true},
      {t.closed_nuclei, "closed_nuclei", U"ia", false},
      {t.closed_nuclei, "closed_nuclei", U"y", false},
      {t.nucleus_prefixes, "nucleus_prefixes", U"ưo", true},  // a relaxed prefix of ươ
      {t.nucleus_prefixes, "nucleus_prefixes", U"uo", true},
      {t.nucleus_prefixes, "nucleus_prefixes", U"ie", true},
      {t.nucleus_prefixes, "nucleus_prefixes", U"uye", true},
      {t.nucleus_prefixes, "nucleus_prefixes", U"yeu", true},
      {t.nucleus_prefixes, "nucleus_prefixes", U"â", true},
      {t.nucleus_prefixes, "nucleus_prefixes", U"oâ", false},
      {t.nucleus_prefixes, "nucleus_prefixes", U"ae", false},
      {t.nucleus_prefixes, "nucleus_prefixes", U"ou", false},
      {t.nucleus_prefixes, "nucleus_prefixes", U"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.set.contains(c.item), c.member) << c.set_name << " / " << utf8(c.item);
  }
}

std::set<std::u32string> keys_of(const StringSetMap& map) {
  std::set<std::u32string> keys;
  for (const auto& [key, nuclei] : map)
    keys.insert(key);
  return keys;
}

TEST(SyllableTest, CodaNucleiMapsEveryCodaPrefix) {
  const Tables& t = tables();
  EXPECT_EQ(keys_of(t.coda_nuclei),
            (std::set<std::u32string>{U"c", U"ch", U"m", U"n", U"ng", U"nh", U"p", U"t"}));

  // Only six nuclei stand before ch and nh, each also without its marks.
  const StringSet ch_nh = {U"a", U"e", U"ê", U"i", U"oa", U"ue", U"uê", U"uy"};
  EXPECT_EQ(utf8_list(t.coda_nuclei.at(U"ch")), utf8_list(ch_nh));
  EXPECT_EQ(utf8_list(t.coda_nuclei.at(U"nh")), utf8_list(ch_nh));

  // A key that starts longer codas collects their nuclei too: n covers n, ng and nh.
  const struct {
    std::u32string_view coda;
    std::u32string_view nucleus;
    bool member;
  } cases[] = {
      {U"n", U"uo", true},  {U"n", U"ie", true},  {U"n", U"uye", true}, {U"n", U"ươ", true},
      {U"n", U"oo", true},  {U"c", U"ưo", true},  {U"t", U"oă", true},  {U"t", U"oa", true},
      {U"m", U"uyê", true}, {U"ch", U"o", false}, {U"nh", U"ơ", false}, {U"n", U"ia", false},
      {U"c", U"y", false},  {U"ng", U"uơ", true},  // uơ relaxes ươ
  };
  for (const auto& c : cases) {
    EXPECT_EQ(t.coda_nuclei.at(std::u32string(c.coda)).contains(c.nucleus), c.member)
        << utf8(c.nucleus) << " before " << utf8(c.coda);
  }
}

TEST(SyllableTest, CodaNucleiWithKAddsOnlyK) {
  const Tables& t = tables();
  EXPECT_FALSE(t.coda_nuclei.contains(U"k"));
  ASSERT_TRUE(t.coda_nuclei_k.contains(U"k"));
  // k takes every closed nucleus, like m does.
  EXPECT_EQ(utf8_list(t.coda_nuclei_k.at(U"k")), utf8_list(t.coda_nuclei.at(U"m")));
  StringSetMap without_k = t.coda_nuclei_k;
  without_k.erase(U"k");
  EXPECT_TRUE(without_k == t.coda_nuclei);
}

TEST(SyllableTest, TablesAreOneInstance) {
  EXPECT_EQ(&tables(), &tables());
}

}  // namespace
}  // namespace lumaret::syllable
