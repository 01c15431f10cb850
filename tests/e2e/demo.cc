// lmr-e2e-demo (`make demo`): the end-to-end harness typing a Vietnamese sentence in Telex into the test
// application under a headless Sway, key by key, and showing the application's text as it arrives.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <thread>

#include "session.h"

namespace lumaret::e2e {
namespace {

constexpr std::string_view SENTENCE =
    "Xin chaof cacs banj! Hoom nay trowif ddepj quas. Chungs ta cungf gox tieengs Vieetj nhes. ";
constexpr std::size_t KEYS_COLUMN = 10;
constexpr std::size_t TEXT_COLUMN = 64;  // the end of a longer text is shown, so a line fits 80 columns
// On a terminal the keys go at a pace a reader can follow. This only paces the show: every key is still
// awaited all the way, as in the tests.
constexpr std::chrono::milliseconds KEY_PAUSE{60};
constexpr std::chrono::milliseconds WORD_PAUSE{300};

std::size_t chars_in(std::string_view text) {
  std::size_t n = 0;
  for (const char c : text)
    n += (static_cast<unsigned char>(c) & 0xc0) != 0x80;
  return n;
}

std::string padded(std::string_view text, std::size_t width) {
  std::string out(text);
  for (std::size_t n = chars_in(text); n < width; ++n)
    out += ' ';
  return out;
}

// The end of the field, with its pre-edit (which stands at the end while typing forward) marked.
std::string shown(const Field& field, bool terminal) {
  std::string_view text = field.text;
  std::string out;
  const std::size_t room = TEXT_COLUMN - std::min(TEXT_COLUMN - 1, chars_in(field.preedit) + 1);
  if (chars_in(text) > room) {
    out = "…";
    for (std::size_t drop = chars_in(text) - room + 1; drop > 0; --drop) {
      text.remove_prefix(1);
      while (!text.empty() && (static_cast<unsigned char>(text[0]) & 0xc0) == 0x80)
        text.remove_prefix(1);
    }
  }
  out += text;
  if (field.preedit.empty()) return out;
  return out + (terminal ? "\033[4m" + field.preedit + "\033[0m" : "[" + field.preedit + "]");
}

int run() {
  const bool terminal = isatty(STDOUT_FILENO);
  std::printf(
      "Lumaret end to end: a headless Sway, the lumaret-wayland input method and a small application with a\n"
      "text field, all started just now. A virtual keyboard types Telex: aa = â, ow = ơ, dd = đ, and the "
      "tone\n"
      "keys s f r x j = sắc huyền hỏi ngã nặng. The word being typed is shown %s; a space commits it.\n\n",
      terminal ? "\033[4munderlined\033[0m" : "[in brackets]");
  Session::Options options;
  options.name = "demo";
  Session session(options);
  session.start();
  std::printf("  %s the application's text\n", padded("keys", KEYS_COLUMN).c_str());

  std::string word;
  for (std::size_t at = 0; at < SENTENCE.size(); ++at) {
    const char key = SENTENCE[at];
    session.type(std::string(1, key));
    word += key;
    const bool word_done = key == ' ';
    if (terminal) {
      std::printf("\r\033[K  %s %s", padded(word, KEYS_COLUMN).c_str(), shown(session.field(), true).c_str());
      std::fflush(stdout);
      std::this_thread::sleep_for(word_done ? WORD_PAUSE : KEY_PAUSE);
    }
    if (word_done) {
      if (!terminal)
        std::printf("  %s %s", padded(word, KEYS_COLUMN).c_str(), shown(session.field(), false).c_str());
      std::printf("\n");
      word.clear();
    }
  }
  session.check_health();
  std::printf("\nThe application holds: %s\n", show(session.field()).c_str());
  return 0;
}

}  // namespace
}  // namespace lumaret::e2e

int main() {
  try {
    return lumaret::e2e::run();
  } catch (const lumaret::e2e::Failure& failure) {
    std::fprintf(stderr, "\nlmr-e2e-demo: %s\n", failure.what());
    return 1;
  }
}
