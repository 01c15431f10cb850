#include "lumaret/syllable/letters.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <array>
#include <string>

#include "lumaret/syllable/syllable.h"

namespace lumaret::syllable {
namespace {

const icu::Normalizer2& nfc() {
  static const icu::Normalizer2* const instance = [] {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* n = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status) || n == nullptr) std::abort();  // ICU's own data is missing
    return n;
  }();
  return *instance;
}

// The lowercase letter, composed through the normaliser: base, then mark, then tone.
char32_t compose_lower(char32_t base, std::optional<Mark> mark, Tone tone) {
  if (mark == Mark::Stroke) {
    if (base == U'd') base = U'đ';
    mark.reset();
  }
  const auto mark_slot = mark ? static_cast<std::size_t>(*mark) : std::size(MARK_COMBINING);
  const auto tone_slot = static_cast<std::size_t>(tone);
  const char32_t mark_char = mark_slot < std::size(MARK_COMBINING) ? MARK_COMBINING[mark_slot] : 0;
  const char32_t tone_char = tone_slot < std::size(TONE_COMBINING) ? TONE_COMBINING[tone_slot] : 0;
  if (mark_char == 0 && tone_char == 0 && nfc().isInert(static_cast<UChar32>(base))) return base;

  icu::UnicodeString seq(static_cast<UChar32>(base));
  if (mark_char != 0) seq.append(static_cast<UChar32>(mark_char));
  if (tone_char != 0) seq.append(static_cast<UChar32>(tone_char));
  UErrorCode status = U_ZERO_ERROR;
  const icu::UnicodeString composed = nfc().normalize(seq, status);
  if (U_FAILURE(status) || composed.isEmpty()) return base;
  return static_cast<char32_t>(composed.char32At(0));
}

// Every (letter a..z, mark or none, tone) the composer can produce, composed once.
constexpr std::size_t kMarkSlots = 5;  // none + four marks
constexpr std::size_t kToneSlots = 6;
using AsciiTable = std::array<char32_t, 26 * kMarkSlots * kToneSlots>;

constexpr std::size_t ascii_index(char32_t base, std::optional<Mark> mark, Tone tone) {
  const std::size_t mark_slot = mark ? static_cast<std::size_t>(*mark) + 1 : 0;
  return (static_cast<std::size_t>(base - U'a') * kMarkSlots + mark_slot) * kToneSlots +
         static_cast<std::size_t>(tone);
}

const AsciiTable& ascii_table() {
  static const AsciiTable table = [] {
    AsciiTable t{};
    for (char32_t base = U'a'; base <= U'z'; ++base) {
      for (std::size_t m = 0; m < kMarkSlots; ++m) {
        const std::optional<Mark> mark =
            m == 0 ? std::nullopt : std::optional<Mark>(static_cast<Mark>(m - 1));
        for (std::size_t tone = 0; tone < kToneSlots; ++tone) {
          t[ascii_index(base, mark, static_cast<Tone>(tone))] =
              compose_lower(base, mark, static_cast<Tone>(tone));
        }
      }
    }
    return t;
  }();
  return table;
}

char32_t to_upper(char32_t c) {
  if (c >= U'a' && c <= U'z') return c & ~char32_t{0x20};
  if (c > U'\u00B4') return static_cast<char32_t>(u_toupper(static_cast<UChar32>(c)));
  return c;
}

}  // namespace

char32_t compose_char(char32_t base, std::optional<Mark> mark, Tone tone, bool upper) {
  // A byte outside the tables writes nothing, like a level tone or no mark.
  if (static_cast<std::size_t>(tone) >= kToneSlots) tone = Tone::Level;
  if (mark && static_cast<std::size_t>(*mark) + 1 >= kMarkSlots) mark.reset();
  char32_t c;
  if (base >= U'a' && base <= U'z') {
    c = ascii_table()[ascii_index(base, mark, tone)];
  } else if (!mark && tone == Tone::Level && base < U'\u0300') {
    c = base;  // nothing below the combining marks changes under NFC
  } else {
    c = compose_lower(base, mark, tone);
  }
  return upper ? to_upper(c) : c;
}

std::optional<std::size_t> tone_position(std::span<const MarkedBase> letters, ToneStyle style) {
  // The toneless lowercase word, without touching the heap for words of ordinary length.
  std::array<char32_t, 32> small;
  std::u32string large;
  std::u32string_view word;
  if (letters.size() <= small.size()) {
    for (std::size_t i = 0; i < letters.size(); ++i) {
      small[i] = compose_char(letters[i].base, letters[i].mark, Tone::Level, false);
    }
    word = std::u32string_view(small.data(), letters.size());
  } else {
    for (const MarkedBase& l : letters)
      large.push_back(compose_char(l.base, l.mark, Tone::Level, false));
    word = large;
  }

  const Syllable syl = parse(word);
  if (syl.nucleus.empty()) {
    for (std::size_t i = letters.size(); i-- > 0;) {
      if (is_vowel(letters[i].base)) return i;
    }
    return std::nullopt;
  }

  const std::u32string_view n = syl.nucleus;
  const auto at = [&](std::size_t i) -> std::optional<std::size_t> { return syl.onset_len + i; };
  if (const auto horn_o = n.find(U'ơ'); horn_o != std::u32string_view::npos) return at(horn_o);
  for (std::size_t i = 0; i < n.size(); ++i) {
    if (is_marked_vowel(n[i])) return at(i);
  }
  if (!syl.coda.empty()) return at(n.size() - 1);
  if (n.size() == 1) return at(0);
  if (n.size() == 3) return at(1);
  if (n == U"oa" || n == U"oe" || n == U"uy") return at(style == ToneStyle::Old ? 0 : 1);
  return at(0);
}

}  // namespace lumaret::syllable
