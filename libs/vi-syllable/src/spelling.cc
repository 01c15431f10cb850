#include "lumaret/syllable/spelling.h"

#include <array>

#include "lumaret/syllable/syllable.h"

namespace lumaret::syllable {
namespace {

constexpr std::array<std::u32string_view, 8> CODA_LIST = {U"c", U"ch", U"m", U"n", U"ng", U"nh", U"p", U"t"};
constexpr std::array<std::u32string_view, 4> STOP_CODAS = {U"c", U"ch", U"p", U"t"};

bool is_coda(std::u32string_view coda, bool allow_coda_k) {
  if (allow_coda_k && coda == U"k") return true;
  for (std::u32string_view c : CODA_LIST) {
    if (c == coda) return true;
  }
  return false;
}

bool is_letter(char32_t c) {
  return (c >= U'a' && c <= U'z') || c == U'đ' || is_vowel(c);
}

// e, ê, i and y take the "soft" spellings of k, gh and ngh.
bool is_soft(char32_t c) {
  return c == U'e' || c == U'ê' || c == U'i' || c == U'y';
}

bool tone_refused_by_stop(Tone tone) {
  return tone == Tone::Huyen || tone == Tone::Hoi || tone == Tone::Nga;
}

bool breaks_onset_rule(std::u32string_view onset, char32_t first) {
  const bool soft = is_soft(first);
  if ((onset == U"ngh" || onset == U"gh") && !soft) return true;
  if (onset == U"ng" && soft) return true;
  if (onset == U"c" && soft) return true;
  if (onset == U"k" && !soft) return true;
  if (onset == U"g" && (first == U'e' || first == U'ê')) return true;
  if (onset == U"qu" && (first == U'u' || first == U'ư')) return true;
  return false;
}

}  // namespace

bool is_stop_coda(std::u32string_view coda, bool allow_coda_k) {
  if (allow_coda_k && coda == U"k") return true;
  for (std::u32string_view c : STOP_CODAS) {
    if (c == coda) return true;
  }
  return false;
}

Status check_with(std::u32string_view word, Tone tone, bool allow_coda_k) {
  if (word.empty()) return Status::Incomplete;
  for (char32_t c : word) {
    if (!is_letter(c)) return Status::Invalid;
  }
  const Tables& t = tables();
  const Syllable syl = parse(word);

  if (syl.nucleus.empty()) {
    if (syl.coda.empty()) return Status::Incomplete;
    return t.onset_prefixes.contains(word) ? Status::Incomplete : Status::Invalid;
  }
  for (char32_t c : syl.coda) {
    if (is_vowel(c)) return Status::Invalid;
  }

  // "quy" is onset "qu" with nucleus "uy": the u of the onset is part of the vowel group.
  std::array<char32_t, 33> joined{};
  std::u32string_view n = syl.nucleus;
  if (syl.onset == U"qu" && n.front() == U'y' && n.size() < joined.size()) {
    joined[0] = U'u';
    n.copy(joined.data() + 1, n.size());
    n = std::u32string_view(joined.data(), n.size() + 1);
  }

  if (breaks_onset_rule(syl.onset, syl.nucleus.front())) return Status::Invalid;

  if (!syl.coda.empty()) {
    const bool stop_refuses = is_stop_coda(syl.coda, allow_coda_k) && tone_refused_by_stop(tone);
    const bool ch_nh = syl.coda == U"ch" || syl.coda == U"nh";
    if (is_coda(syl.coda, allow_coda_k) && t.closed_nuclei.contains(n) &&
        (!ch_nh || t.ch_nh_nuclei.contains(n))) {
      return stop_refuses ? Status::Invalid : Status::Valid;
    }
    const StringSetMap& relaxed = allow_coda_k ? t.coda_nuclei_k : t.coda_nuclei;
    if (const auto it = relaxed.find(syl.coda); it != relaxed.end() && it->second.contains(n)) {
      return stop_refuses ? Status::Invalid : Status::Incomplete;
    }
    return Status::Invalid;
  }

  if (t.open_nuclei.contains(n)) return Status::Valid;
  if (t.nucleus_prefixes.contains(n)) return Status::Incomplete;
  return Status::Invalid;
}

bool tone_allowed_with(std::u32string_view word, Tone tone, bool allow_coda_k) {
  const Syllable syl = parse(word);
  return !(is_stop_coda(syl.coda, allow_coda_k) && tone_refused_by_stop(tone));
}

}  // namespace lumaret::syllable
