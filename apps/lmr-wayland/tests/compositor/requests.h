// The requests the test compositor writes down, spelled as it writes them, and the sequences the
// service answers common situations with; shared by the scenario tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lumaret::wayland::testing {

// Requests in the order the compositor received them; a failure prints one per line.
struct Requests : std::vector<std::string> {
  using vector::vector;
  Requests(std::vector<std::string> requests) : vector(std::move(requests)) {}
};

inline void PrintTo(const Requests& requests, std::ostream* out) {
  *out << requests.size() << " requests";
  for (const std::string& r : requests)
    *out << "\n      " << r;
}

inline Requests operator+(Requests a, const Requests& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline const std::string CLEAR = R"(set_preedit_string("", -1, -1))";

inline std::string preedit(std::string_view text) {
  const std::string caret = std::to_string(text.size());  // the caret at the end, in bytes
  return "set_preedit_string(\"" + std::string(text) + "\", " + caret + ", " + caret + ")";
}
inline std::string commit(std::uint32_t serial) {
  return "commit(" + std::to_string(serial) + ")";
}
inline std::string commit_string(std::string_view text) {
  return "commit_string(\"" + std::string(text) + "\")";
}
inline std::string delete_before(std::uint32_t bytes) {
  return "delete_surrounding_text(" + std::to_string(bytes) + ", 0)";
}

// A key reaching the application: the modifiers first, then the key with the grab event's time.
inline Requests forwarded(std::uint32_t time, std::uint32_t code, bool pressed, std::uint32_t depressed = 0) {
  return {
      "vk.modifiers(" + std::to_string(depressed) + ", 0, 0, 0)",
      "vk.key(" + std::to_string(time) + ", " + std::to_string(code) + ", " + (pressed ? "1" : "0") + ")"};
}

// Pre-edit updates for each longer form of a word, all under one serial.
inline Requests preedits(std::initializer_list<std::string_view> shown, std::uint32_t serial) {
  Requests result;
  for (const std::string_view text : shown)
    result = result + Requests{preedit(text), commit(serial)};
  return result;
}

// The pre-edit cleared.
inline Requests cleared(std::uint32_t serial) {
  return {CLEAR, commit(serial)};
}

// A word committed at its end: the pre-edit goes, then the text.
inline Requests committed(std::string_view text, std::uint32_t serial) {
  return {CLEAR, commit(serial), CLEAR, commit_string(text), commit(serial)};
}

}  // namespace lumaret::wayland::testing
