#include "lumaret/core/transform.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>

#include "lumaret/core/utf8.h"
#include "lumaret/syllable/syllable.h"

namespace lumaret::core {
namespace {

using syllable::check_with;
using syllable::compose_char;
using syllable::is_vowel;
using syllable::MarkedBase;
using syllable::parse;

char32_t lower_key(char32_t key) {
  if (key >= U'A' && key <= U'Z') return key + 32;
  if (key >= U'\u00C0') return static_cast<char32_t>(u_tolower(static_cast<UChar32>(key)));
  return key;
}

void append(WordState& s, char32_t key) {
  s.letters.push_back(Letter::literal(key));
}

void accept(WordState& s) {
  s.transformed = true;
}

bool is_qu(const Letters& letters) {
  return letters.size() == 2 && letters[0].base == U'q' && letters[1].base == U'u';
}

std::optional<Tone> tone_of_key(const InputMethodSpec& m, char32_t k) {
  for (const ToneKey& t : m.tone_keys) {
    if (t.key == k) return t.tone;
  }
  return std::nullopt;
}

const MarkKey* mark_entry(const InputMethodSpec& m, char32_t k) {
  for (const MarkKey& e : m.mark_keys) {
    if (e.key == k) return &e;
  }
  return nullptr;
}

const LetterKey* letter_entry(std::span<const LetterKey> table, char32_t key) {
  for (const LetterKey& e : table) {
    if (e.key == key) return &e;
  }
  return nullptr;
}

ClusterSpan span_of(const syllable::Syllable& syl) {
  return {syl.onset_len, syl.onset_len + syl.nucleus.size()};
}

// One way a mark key can apply: a single letter, or the u and o of a pair at once.
struct Candidate {
  struct Item {
    std::uint8_t index;
    Mark mark;
    friend bool operator==(const Item&, const Item&) = default;
  };
  FixedVector<Item, 2> items;
  bool pair = false;

  friend bool operator==(const Candidate& a, const Candidate& b) {
    if (a.items.size() != b.items.size()) return false;
    return std::equal(a.items.begin(), a.items.end(), b.items.begin());
  }
};

// A nucleus holds at most the 24 stepped letters: 23 pairs, and singles from at most three rules plus a
// stroke.
using Candidates = FixedVector<Candidate, 128>;

Candidate single(std::size_t index, Mark mark) {
  Candidate c;
  c.items.push_back({static_cast<std::uint8_t>(index), mark});
  return c;
}

Candidates candidates(const Letters& letters, ClusterSpan span, const MarkKey& entry) {
  Candidates pairs;
  Candidates singles;
  for (const MarkRule& rule : entry.rules) {
    if (rule.mark == Mark::Stroke) {
      if (letters.empty()) continue;
      if (letters[0].base == U'd' && span.start < span.end) {
        singles.push_back(single(0, Mark::Stroke));
      } else if (letters.back().base == U'd') {
        singles.push_back(single(letters.size() - 1, Mark::Stroke));
      }
    } else if (rule.pair) {
      for (std::size_t i = span.start; i + 1 < span.end; ++i) {
        if (letters[i].base == U'u' && letters[i + 1].base == U'o') {
          Candidate c;
          c.pair = true;
          c.items.push_back({static_cast<std::uint8_t>(i), Mark::Horn});
          c.items.push_back({static_cast<std::uint8_t>(i + 1), Mark::Horn});
          pairs.push_back(c);
        }
      }
    } else {
      for (std::size_t i = span.start; i < span.end; ++i) {
        if (rule.targets.find(letters[i].base) != std::u32string_view::npos) {
          singles.push_back(single(i, rule.mark));
        }
      }
    }
  }
  std::stable_sort(singles.begin(), singles.end(), [](const Candidate& a, const Candidate& b) {
    return a.items[0].index > b.items[0].index;
  });

  Candidates all;
  for (const Candidates* list : {&pairs, &singles}) {
    for (const Candidate& c : *list) {
      if (!all.contains(c)) all.push_back(c);
    }
  }
  return all;
}

bool is_applied(const Letters& letters, const Candidate& c) {
  return std::all_of(c.items.begin(), c.items.end(),
                     [&](const Candidate::Item& it) { return letters[it.index].mark == it.mark; });
}

// After these onsets a horned "uo" that ends the word is written uơ (thuở, huơ, quở).
bool onset_keeps_plain_u(std::u32string_view onset) {
  return onset.empty() || onset == U"c" || onset == U"h" || onset == U"k" || onset == U"kh" ||
         onset == U"qu" || onset == U"th";
}

// Puts the candidate's marks on the letters; true when it stays (free stroke or accepted spelling).
// `onset` is the word's onset before the key: marks never change it.
bool try_candidate(WordState& s, const Candidate& c, std::u32string_view onset, const ComposeOptions& o) {
  struct Saved {
    std::optional<Mark> mark;
    bool horn_o_only;
  };
  std::array<Saved, 2> saved{};
  for (std::size_t j = 0; j < c.items.size(); ++j) {
    const Letter& l = s.letters[c.items[j].index];
    saved[j] = {l.mark, l.horn_o_only};
  }

  bool free_stroke = false;
  for (const Candidate::Item& it : c.items) {
    Letter& l = s.letters[it.index];
    if (c.pair && l.base == U'u' && l.mark != it.mark) l.horn_o_only = onset_keeps_plain_u(onset);
    l.mark = it.mark;
    if (it.mark == Mark::Stroke && !s.free_stroke) {
      const std::size_t i = it.index;
      const bool alone = i > 0 ? !is_vowel(s.letters[i - 1].base)
                               : std::none_of(s.letters.begin() + 1, s.letters.end(),
                                              [](const Letter& x) { return is_vowel(x.base); });
      if (alone) {
        s.free_stroke = true;
        s.stroke_index = static_cast<std::uint8_t>(i);
        free_stroke = true;
      }
    }
  }
  if (free_stroke || !o.spell_check) return true;
  if (check_with(toneless_lower(s.letters).view(), s.tone, o.allow_coda_k) != Status::Invalid) return true;

  for (std::size_t j = 0; j < c.items.size(); ++j) {
    Letter& l = s.letters[c.items[j].index];
    l.mark = saved[j].mark;
    l.horn_o_only = saved[j].horn_o_only;
  }
  return false;
}

// A repeated mark key takes its mark back and becomes a letter.
void undo(WordState& s, const Candidate& a, char32_t key, char32_t k) {
  if (a.pair) {
    const Letter& u = s.letters[a.items[0].index];
    if (u.horn_o_only && a.items[1].index + 1u == s.letters.size()) {
      s.letters[a.items[0].index].horn_o_only = false;  // uơ becomes ươ
      return;
    }
  }
  s.undone = true;
  s.last_undo_key = k;
  if (!s.undone_keys.contains(k)) s.undone_keys.push_back(k);

  if (!a.pair) {
    const std::size_t i = a.items[0].index;
    Letter& l = s.letters[i];
    if (l.from_shortcut) {
      l.base = k;
      l.from_shortcut = false;
      l.horn_o_only = false;
      l.mark.reset();
      s.literal = true;
      if (i + 1 != s.letters.size()) append(s, key);
      return;
    }
  }
  for (const Candidate::Item& it : a.items)
    s.letters[it.index].mark.reset();
  append(s, key);
}

// Mark keys: true when the key was used up here, false when it goes on as an ordinary key.
bool apply_mark_key(WordState& s, const syllable::Syllable& before, const MarkKey& entry, char32_t key,
                    char32_t k, const ComposeOptions& o) {
  const Candidates all = candidates(s.letters, span_of(before), entry);
  const Candidate* first_applied = nullptr;
  for (const Candidate& c : all) {
    if (is_applied(s.letters, c)) {
      if (first_applied == nullptr) first_applied = &c;
      continue;
    }
    if (try_candidate(s, c, before.onset, o)) {
      accept(s);
      return true;
    }
  }
  if (first_applied == nullptr) return false;
  undo(s, *first_applied, key, k);
  return true;
}

std::u32string lowered(std::u32string_view keys) {
  std::u32string out(keys);
  for (char32_t& c : out)
    c = lower_key(c);
  return out;
}

// The repeated key that undid a mark or tone still stands doubled (or tripled) in the keys.
bool ends_doubled(std::u32string_view raw, char32_t undo_key) {
  const std::u32string keys = lowered(raw);
  const char32_t k = lower_key(undo_key);
  const std::u32string twice(2, k);
  const std::u32string thrice(3, k);
  return std::u32string_view(keys).ends_with(twice) || keys.find(thrice) != std::u32string::npos;
}

bool ends_with_horned_uo(std::u32string_view word) {
  return word.ends_with(U"ươ") || word.ends_with(U"uơ");
}

constexpr bool is_digit(char32_t c) {
  return c >= U'0' && c <= U'9';
}

}  // namespace

Letter Letter::literal(char32_t key) {
  Letter l;
  l.base = lower_key(key);
  l.upper = l.base != key;
  return l;
}

Display display(const Letters& letters) {
  Display items;
  for (const Letter& l : letters)
    items.push_back({l.base, l.mark, l.upper});
  for (std::size_t j = 1; j < items.size(); ++j) {
    if (items[j - 1].base == U'u' && items[j - 1].mark == Mark::Horn && items[j].base == U'o' &&
        !items[j].mark) {
      items[j].mark = Mark::Horn;
    }
  }
  const std::size_t n = items.size();
  if (n >= 2 && items[n - 2].base == U'u' && items[n - 2].mark == Mark::Horn && items[n - 1].base == U'o' &&
      items[n - 1].mark == Mark::Horn && letters[n - 2].horn_o_only) {
    items[n - 2].mark.reset();
  }
  return items;
}

WordText toneless_lower(const Letters& letters) {
  WordText word;
  for (const DisplayItem& d : display(letters))
    word.push_back(compose_char(d.base, d.mark, Tone::Level, false));
  return word;
}

ClusterSpan cluster_span(const Letters& letters) {
  const WordText word = toneless_lower(letters);
  return span_of(parse(word.view()));
}

Status status(const Letters& letters, Tone tone, bool allow_coda_k) {
  return check_with(toneless_lower(letters).view(), tone, allow_coda_k);
}

void step(WordState& s, char32_t key, const InputMethodSpec& m, const ComposeOptions& o) {
  const char32_t k = lower_key(key);
  const std::optional<char32_t> prev = s.prev_key;
  s.prev_key = k;

  if (s.literal || s.undone_keys.contains(k)) return append(s, key);

  // The word before this key, rendered and parsed once for every rule below.
  const WordText word = toneless_lower(s.letters);
  const syllable::Syllable syl = parse(word.view());
  const ClusterSpan span = span_of(syl);
  const bool has_vowel = span.start < span.end || is_qu(s.letters);

  if (o.quick_telex && s.letters.size() == 1 && !s.transformed) {
    const Letter only = s.letters[0];
    const std::optional<char32_t> second = quick_telex(k);
    if (only.base == k && !only.mark && second) {
      const bool key_upper = Letter::literal(key).upper;
      s.letters.clear();
      s.letters.push_back({.base = k, .upper = only.upper, .mark = std::nullopt});
      s.letters.push_back({.base = *second, .upper = only.upper && key_upper, .mark = std::nullopt});
      return accept(s);
    }
  }

  if (const std::optional<Tone> t = tone_of_key(m, k); t && has_vowel) {
    if (*t != s.tone) {
      if (!o.spell_check || (syllable::tone_allowed_with(word.view(), *t, o.allow_coda_k) &&
                             check_with(word.view(), *t, o.allow_coda_k) != Status::Invalid)) {
        s.tone = *t;
        return accept(s);
      }
      return append(s, key);  // the tone cannot stand here: the key is a letter
    }
    if (prev == k) {
      s.tone = Tone::Level;
      s.undone = true;
      s.literal = true;
      s.last_undo_key = k;
      return append(s, key);
    }
    return;  // the word already has this tone
  }

  if (k == m.remove_tone_key && has_vowel) {
    if (s.tone != Tone::Level) {
      s.tone = Tone::Level;
      return;
    }
    if (s.transformed) {
      for (Letter& l : s.letters) {
        if (l.mark != Mark::Stroke) l.mark.reset();
      }
      return;
    }
  }

  if (const MarkKey* entry = mark_entry(m, k)) {
    if (apply_mark_key(s, syl, *entry, key, k, o)) return;
  }

  if (o.bracket_keys) {
    if (const LetterKey* e = letter_entry(m.bracket_letters, key)) {
      s.letters.push_back({.base = e->base, .from_shortcut = true, .mark = e->mark});
      return accept(s);
    }
  }
  if (o.w_as_u) {
    if (const LetterKey* e = letter_entry(m.w_letters, k)) {
      Letters with = s.letters;
      with.push_back({.base = e->base, .upper = key != k, .from_shortcut = true, .mark = e->mark});
      if (!o.spell_check || status(with, s.tone, o.allow_coda_k) != Status::Invalid) {
        s.letters = with;
        return accept(s);
      }
    }
  }
  append(s, key);
}

TransformResult result(const WordState& s, std::u32string_view raw, const ComposeOptions& o,
                       bool at_word_end) {
  const Display items = display(s.letters);
  WordText toneless;
  std::array<char32_t, MAX_LETTERS> shown{};
  FixedVector<MarkedBase, MAX_LETTERS> marked;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const DisplayItem& d = items[i];
    toneless.push_back(compose_char(d.base, d.mark, Tone::Level, false));
    shown[i] = compose_char(d.base, d.mark, Tone::Level, d.upper);
    marked.push_back({d.base, d.mark});
  }
  if (s.tone != Tone::Level) {
    if (const std::optional<std::size_t> at = syllable::tone_position(marked, o.tone_style)) {
      shown[*at] = compose_char(items[*at].base, items[*at].mark, s.tone, items[*at].upper);
    }
  }
  std::string text = to_utf8(std::u32string_view(shown.data(), items.size()));

  const syllable::Syllable syl = parse(toneless.view());
  Status st = check_with(toneless.view(), s.tone, o.allow_coda_k);
  if (at_word_end && st == Status::Valid && syllable::is_stop_coda(syl.coda, o.allow_coda_k) &&
      s.tone != Tone::Sac && s.tone != Tone::Nang) {
    st = Status::Invalid;  // cac, hoc: a stop needs sắc or nặng to end a word
  }

  if (!o.spell_check || !s.transformed) return {std::move(text), {}, false, st};

  const bool doubled = s.undone && s.last_undo_key && ends_doubled(raw, *s.last_undo_key);
  const bool open = at_word_end && st == Status::Incomplete && !syl.onset.empty() && !syl.nucleus.empty() &&
                    !ends_with_horned_uo(toneless.view());
  bool restore = !doubled && (st == Status::Invalid || open);
  if (s.free_stroke && std::none_of(s.letters.begin() + s.stroke_index + 1, s.letters.end(),
                                    [](const Letter& l) { return is_vowel(l.base); })) {
    restore = false;  // a standalone đ (đc, đt) stays
  }

  if (s.undone && s.literal && !text.empty()) return {text, text, false, st};
  if (restore) return {to_utf8(raw), {}, true, st};
  return {std::move(text), {}, false, st};
}

std::optional<std::string> vni_literal(std::u32string_view raw, bool digit_keys) {
  if (!digit_keys || std::none_of(raw.begin(), raw.end(), is_digit)) return std::nullopt;

  const auto doubled_digit = [&](std::size_t i) {
    return is_digit(raw[i]) && i + 1 < raw.size() && raw[i + 1] == raw[i];
  };
  bool pair_seen = false;
  for (std::size_t i = 0; i < raw.size() && !pair_seen; ++i)
    pair_seen = doubled_digit(i);
  if (pair_seen) {
    std::u32string copied;
    for (std::size_t i = 0; i < raw.size(); ++i) {
      copied.push_back(raw[i]);
      if (doubled_digit(i)) ++i;  // the pair collapses to one literal digit
    }
    return to_utf8(copied);
  }

  std::size_t tone_digits = 0;
  for (std::size_t i = raw.size(); i-- > 0 && is_digit(raw[i]);) {
    if (raw[i] <= U'5') ++tone_digits;
  }
  if (tone_digits >= 2) return to_utf8(raw);
  return std::nullopt;
}

Composer::Composer(const InputMethodSpec& method, const ComposeOptions& opts) : spec_(&method), opts_(opts) {
  raw_.reserve(MAX_STEPPED_KEYS + 1);
  states_.reserve(MAX_STEPPED_KEYS + 1);
  states_.emplace_back();
}

Composer Composer::with_raw(const InputMethodSpec& method, const ComposeOptions& opts,
                            std::u32string_view keys) {
  Composer c(method, opts);
  for (char32_t key : keys)
    c.push(key);
  return c;
}

void Composer::push(char32_t key) {
  raw_.push_back(key);
  if (raw_.size() > MAX_STEPPED_KEYS) return;  // the word result shows the raw keys from now on
  WordState next = states_.back();
  step(next, key, *spec_, opts_);
  states_.push_back(next);
}

TransformResult Composer::result(bool at_word_end) const {
  if (raw_.size() > MAX_STEPPED_KEYS) return {to_utf8(raw_), {}, false, Status::Invalid};
  if (std::optional<std::string> digits = vni_literal(raw_, spec_->digit_keys)) {
    return {std::move(*digits), {}, true, Status::Invalid};
  }
  if (states_.empty()) {
    std::fputs("states luôn có ít nhất 1 phần tử\n", stderr);
    std::abort();
  }
  return core::result(states_.back(), raw_, opts_, at_word_end);
}

std::optional<std::u32string> rebuild(std::string_view word, const InputMethodSpec& m,
                                      const ComposeOptions& o) {
  UErrorCode error = U_ZERO_ERROR;
  const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(error);
  if (U_FAILURE(error)) return std::nullopt;

  std::u32string keys;
  Tone word_tone = Tone::Level;
  char32_t prev_plain_base = 0;  // base of the previous character when it had no mark, else 0
  for (std::size_t at = 0; at < word.size();) {
    UChar32 c;
    U8_NEXT(word.data(), at, word.size(), c);
    if (c < 0) return std::nullopt;
    const char32_t lower = static_cast<char32_t>(u_tolower(c));
    const bool upper = lower != static_cast<char32_t>(c);

    char32_t base = lower;
    std::optional<Mark> mark;
    if (lower == U'đ') {
      base = U'd';
      mark = Mark::Stroke;
    } else if (icu::UnicodeString parts; nfd->getDecomposition(static_cast<UChar32>(lower), parts)) {
      base = static_cast<char32_t>(parts.char32At(0));
      for (int32_t i = parts.moveIndex32(0, 1); i < parts.length(); i = parts.moveIndex32(i, 1)) {
        const auto c = static_cast<char32_t>(parts.char32At(i));
        if (const std::optional<Mark> m = syllable::mark_of_combining(c)) mark = m;
        if (const std::optional<Tone> t = syllable::tone_of_combining(c)) word_tone = *t;
      }
    }
    if (base < U'a' || base > U'z') return std::nullopt;

    const char32_t shown_base = upper ? base - 32 : base;
    keys.push_back(shown_base);
    if (mark) {
      const std::optional<char32_t> key = mark_key(m.mark_keys, base, *mark);
      if (!key) return std::nullopt;
      keys.push_back(upper && *key >= U'a' && *key <= U'z' ? *key - 32 : *key);
      prev_plain_base = 0;
    } else {
      // A doubled a, e or o in Telex would become â, ê, ô: type it a third time to undo (xoong).
      if (prev_plain_base == base && mark_key(m.mark_keys, base, Mark::Circumflex) == base) {
        keys.push_back(shown_base);
      }
      prev_plain_base = base;
    }
  }
  if (word_tone != Tone::Level) {
    const auto it = std::find_if(m.tone_keys.begin(), m.tone_keys.end(),
                                 [&](const ToneKey& t) { return t.tone == word_tone; });
    if (it == m.tone_keys.end()) return std::nullopt;
    keys.push_back(it->key);
  }

  if (Composer::with_raw(m, o, keys).result(false).text != word) return std::nullopt;
  return keys;
}

}  // namespace lumaret::core
