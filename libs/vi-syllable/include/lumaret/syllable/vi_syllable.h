// The syllable model: letters, marks and tones; syllable tables and parsing; spelling validity.
#pragma once

#include "lumaret/syllable/letters.h"
#include "lumaret/syllable/spelling.h"
#include "lumaret/syllable/syllable.h"
