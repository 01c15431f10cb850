// Small pieces the end-to-end programs share: the clock both sides of a latency measurement read, the
// line format of their logs, and a reader for the commands they get on standard input.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumaret::e2e {

// CLOCK_MONOTONIC in nanoseconds: the same clock in every process on the machine, so a time taken by the
// injector and one taken by the application can be subtracted.
std::int64_t monotonic_ns();

// Log fields are separated by tabs; a text field escapes backslash, tab and newline so that one record
// stays on one line.
std::string escape(std::string_view text);
std::string unescape(std::string_view text);
std::vector<std::string_view> split_tabs(std::string_view line);

// Writes one whole line to standard output at once, so lines of several writers never interleave.
void emit(std::string_view line);

// Collects complete lines from a non-blocking descriptor.
class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd) {}
  // Reads what is available. False once the other end has closed and every line has been taken.
  bool fill();
  std::optional<std::string> next();

 private:
  int fd_;
  bool closed_ = false;
  std::string buffer_;
};

}  // namespace lumaret::e2e
