#include "io.h"

#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace lumaret::e2e {

std::int64_t monotonic_ns() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

std::string escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string unescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char next = text[++i];
    out += next == 't' ? '\t' : next == 'n' ? '\n' : next;
  }
  return out;
}

std::vector<std::string_view> split_tabs(std::string_view line) {
  std::vector<std::string_view> fields;
  while (true) {
    const std::size_t tab = line.find('\t');
    fields.push_back(line.substr(0, tab));
    if (tab == std::string_view::npos) return fields;
    line.remove_prefix(tab + 1);
  }
}

void emit(std::string_view line) {
  std::string whole(line);
  whole += '\n';
  std::string_view rest = whole;
  while (!rest.empty()) {
    const ssize_t n = write(STDOUT_FILENO, rest.data(), rest.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // the harness has gone; nobody is left to read
    }
    rest.remove_prefix(static_cast<std::size_t>(n));
  }
}

bool LineReader::fill() {
  char chunk[4096];
  while (!closed_) {
    const ssize_t n = read(fd_, chunk, sizeof chunk);
    if (n > 0) {
      buffer_.append(chunk, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) break;
    closed_ = true;
  }
  return !closed_ || buffer_.find('\n') != std::string::npos;
}

std::optional<std::string> LineReader::next() {
  const std::size_t end = buffer_.find('\n');
  if (end == std::string::npos) return std::nullopt;
  std::string line = buffer_.substr(0, end);
  buffer_.erase(0, end + 1);
  return line;
}

}  // namespace lumaret::e2e
