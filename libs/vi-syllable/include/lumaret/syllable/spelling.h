// Whether a word being typed is, or can still become, one correctly spelled Vietnamese syllable.
#pragma once

#include <cstdint>
#include <string_view>

#include "lumaret/syllable/letters.h"

namespace lumaret::syllable {

enum class Status : std::uint8_t {
  Valid = 0,       // a complete, correctly spelled syllable with this tone
  Incomplete = 1,  // more letters or marks can still make it one
  Invalid = 2,     // no further typing can make it one
};

// Classifies a lowercase word without tone marks (vowel marks and đ allowed) under a tone.
Status check_with(std::u32string_view word, Tone tone, bool allow_coda_k);

// Whether the tone may stand with the word's final consonant: stop codas take only level, sắc and nặng.
bool tone_allowed_with(std::u32string_view word, Tone tone, bool allow_coda_k);

// Whether the coda is one that stops the syllable (c, ch, p, t, and k when admitted).
bool is_stop_coda(std::u32string_view coda, bool allow_coda_k);

}  // namespace lumaret::syllable
