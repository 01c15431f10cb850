// Writes the sentences file as Telex key lines for lumaret-type, repeated until at least N keys
// (default 1,000,000): `lumaret-telex-input [N] > keys.txt`. Letters are rebuilt into the keys that type
// them; everything else is typed as it is.
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "lumaret/core/rules.h"
#include "lumaret/core/transform.h"
#include "lumaret/core/utf8.h"

int main(int argc, char** argv) {
  using namespace lumaret;
  const std::size_t wanted = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
  std::ifstream in(LUMARET_SENTENCES_FILE, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  const std::string text = all.str();
  if (text.empty()) {
    std::fprintf(stderr, "no sentences file at %s\n", LUMARET_SENTENCES_FILE);
    return 1;
  }
  const core::ComposeOptions opts{.tone_style = core::ToneStyle::New, .spell_check = true};
  std::string out, word;
  std::size_t keys = 0;
  const auto end_word = [&] {
    if (word.empty()) return;
    const auto typed = core::rebuild(word, core::TELEX, opts);
    const std::string k = typed ? core::to_utf8(*typed) : word;
    keys += typed ? typed->size() : core::count_chars(word);
    out += k;
    word.clear();
  };
  while (keys < wanted) {
    for (std::size_t at = 0; at < text.size() && keys < wanted;) {
      const std::size_t start = at;
      UChar32 c;
      U8_NEXT(text.data(), at, text.size(), c);
      if (c < 0) continue;
      if (u_isalpha(c) || u_getCombiningClass(c) != 0) {
        word.append(text, start, at - start);
        continue;
      }
      end_word();
      if (c == '<') {
        out += "<lt>";
      } else {
        out.append(text, start, at - start);
      }
      if (c != '\n') ++keys;
    }
    end_word();
    if (!out.empty() && out.back() != '\n') out += '\n';
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fprintf(stderr, "%zu keys\n", keys);
  return 0;
}
