#include "lumaret/syllable/syllable.h"

#include <array>

#include "lumaret/syllable/letters.h"

namespace lumaret::syllable {

const std::u32string_view ONSETS[27] = {
    U"ngh", U"ng", U"nh", U"gh", U"kh", U"ph", U"th", U"tr", U"ch", U"b", U"c", U"d",  U"đ",  U"g",
    U"h",   U"k",  U"l",  U"m",  U"n",  U"p",  U"r",  U"s",  U"t",  U"v", U"x", U"gi", U"qu",
};

const std::u32string_view OPEN_NUCLEI[45] = {
    U"a",   U"e",   U"ê",   U"i",   U"o",   U"ô",   U"ơ",   U"u",   U"ư",   U"y",    //
    U"ai",  U"ao",  U"au",  U"ay",  U"âu",  U"ây",  U"eo",  U"êu",  U"ia",  U"iu",   //
    U"oa",  U"oe",  U"oi",  U"ôi",  U"ơi",  U"ua",  U"uê",  U"ui",  U"uy",  U"ưa",   //
    U"ưi",  U"ưu",  U"uơ",                                                           //
    U"iêu", U"yêu", U"oai", U"oay", U"oao", U"oeo", U"uây", U"uôi", U"ươi", U"ươu",  //
    U"uya", U"uyu",
};

const std::u32string_view CLOSED_NUCLEI[23] = {
    U"a",   U"ă",  U"â",  U"e",  U"ê",  U"i",  U"o",  U"ô",  U"ơ",  U"u",  U"ư",   //
    U"oa",  U"oă", U"oe", U"uâ", U"uê", U"uy", U"iê", U"yê", U"uô", U"ươ", U"oo",  //
    U"uyê",
};

const std::u32string_view CODAS[8] = {U"c", U"ch", U"m", U"n", U"ng", U"nh", U"p", U"t"};

namespace {

constexpr std::array<std::u32string_view, 6> CH_NH_NUCLEI = {U"a", U"ê", U"i", U"oa", U"uê", U"uy"};
constexpr std::array<std::u32string_view, 8> TWO_LETTER_ONSETS = {U"ng", U"nh", U"gh", U"kh",
                                                                  U"ph", U"th", U"tr", U"ch"};

constexpr char32_t unmarked(char32_t c) {
  switch (c) {
    case U'â':
    case U'ă':
      return U'a';
    case U'ê':
      return U'e';
    case U'ô':
    case U'ơ':
      return U'o';
    case U'ư':
      return U'u';
    default:
      return c;
  }
}

constexpr bool is_one_of(char32_t c, std::u32string_view set) {
  return set.find(c) != std::u32string_view::npos;
}

std::u32string_view onset_of(std::u32string_view w) {
  if (w.starts_with(U"gi") && w.size() > 2 && is_vowel(w[2])) return w.substr(0, 2);
  if (w.starts_with(U"qu")) return w.substr(0, 2);
  if (w.starts_with(U"ngh")) return w.substr(0, 3);
  for (std::u32string_view two : TWO_LETTER_ONSETS) {
    if (w.starts_with(two)) return w.substr(0, 2);
  }
  if (!w.empty() && is_one_of(w[0], U"bcdđghklmnprstvx")) return w.substr(0, 1);
  return w.substr(0, 0);
}

Tables build_tables() {
  Tables t;
  for (std::u32string_view onset : ONSETS) {
    for (std::u32string& p : prefixes(onset))
      t.onset_prefixes.insert(std::move(p));
  }
  t.open_nuclei.insert(std::begin(OPEN_NUCLEI), std::end(OPEN_NUCLEI));
  t.closed_nuclei.insert(std::begin(CLOSED_NUCLEI), std::end(CLOSED_NUCLEI));
  t.ch_nh_nuclei.insert(CH_NH_NUCLEI.begin(), CH_NH_NUCLEI.end());

  const auto add_nucleus_prefixes = [&](std::u32string_view nucleus) {
    for (const std::u32string& p : prefixes(nucleus))
      t.nucleus_prefixes.merge(relax(p));
  };
  for (std::u32string_view n : OPEN_NUCLEI)
    add_nucleus_prefixes(n);
  for (std::u32string_view n : CLOSED_NUCLEI)
    add_nucleus_prefixes(n);

  for (std::u32string_view coda : CODAS) {
    const bool ch_nh = coda == U"ch" || coda == U"nh";
    for (std::u32string_view nucleus : CLOSED_NUCLEI) {
      if (ch_nh && !t.ch_nh_nuclei.contains(nucleus)) continue;
      const std::set<std::u32string> forms = relax(nucleus);
      for (const std::u32string& p : prefixes(coda))
        t.coda_nuclei[p].insert(forms.begin(), forms.end());
    }
  }

  t.coda_nuclei_k = t.coda_nuclei;
  StringSet& k = t.coda_nuclei_k[U"k"];
  for (std::u32string_view nucleus : CLOSED_NUCLEI)
    k.merge(relax(nucleus));
  return t;
}

}  // namespace

Syllable parse(std::u32string_view word) {
  Syllable s;
  s.onset = onset_of(word);
  s.onset_len = static_cast<std::uint32_t>(s.onset.size());
  const std::u32string_view rest = word.substr(s.onset.size());
  std::size_t n = 0;
  while (n < rest.size() && is_vowel(rest[n]))
    ++n;
  s.nucleus = rest.substr(0, n);
  s.coda = rest.substr(n);
  return s;
}

std::vector<std::u32string> prefixes(std::u32string_view s) {
  std::vector<std::u32string> out;
  out.reserve(s.size());
  for (std::size_t len = 1; len <= s.size(); ++len)
    out.emplace_back(s.substr(0, len));
  return out;
}

std::set<std::u32string> relax(std::u32string_view s) {
  std::set<std::u32string> forms = {std::u32string()};
  for (char32_t c : s) {
    const char32_t plain = unmarked(c);
    std::set<std::u32string> next;
    for (const std::u32string& form : forms) {
      next.insert(form + c);
      if (plain != c) next.insert(form + plain);
    }
    forms = std::move(next);
  }
  return forms;
}

const Tables& tables() {
  static const Tables instance = build_tables();
  return instance;
}

}  // namespace lumaret::syllable
