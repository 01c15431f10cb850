// The inventory of Vietnamese spelling: onsets, nuclei and codas, and splitting a word into them.
// Everything here works on lowercase text without tone marks.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace lumaret::syllable {

// A word split into its initial consonants, vowel group and the rest. The views point into the parsed word.
struct Syllable {
  std::u32string_view onset;
  std::u32string_view nucleus;
  std::u32string_view coda;     // everything after the nucleus; not necessarily a valid coda
  std::uint32_t onset_len = 0;  // characters of onset: the index where the nucleus starts
};

Syllable parse(std::u32string_view word);

// All non-empty prefixes by characters, shortest first: "ngh" gives "n", "ng", "ngh".
std::vector<std::u32string> prefixes(std::u32string_view s);

// Every string obtained by keeping each character or dropping its vowel mark: "ươ" gives ươ, ưo, uơ, uo.
std::set<std::u32string> relax(std::u32string_view s);

using StringSet = std::set<std::u32string, std::less<>>;
using StringSetMap = std::map<std::u32string, StringSet, std::less<>>;

// Lookup tables derived from the inventory; built once per process and read-only afterwards.
struct Tables {
  StringSet onset_prefixes;
  StringSet open_nuclei;
  StringSet closed_nuclei;
  StringSet ch_nh_nuclei;
  StringSet nucleus_prefixes;  // prefixes of every nucleus, with their marks relaxed
  StringSetMap coda_nuclei;    // coda prefix -> relaxed nuclei that may stand before it
  StringSetMap coda_nuclei_k;  // the same, with "k" admitted as a coda
};

// The shared tables; the first caller builds them, concurrent first callers wait for it.
const Tables& tables();

// The base inventory, in the order the tables are built from.
extern const std::u32string_view ONSETS[27];
extern const std::u32string_view OPEN_NUCLEI[45];
extern const std::u32string_view CLOSED_NUCLEI[23];
extern const std::u32string_view CODAS[8];

}  // namespace lumaret::syllable
