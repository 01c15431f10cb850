#include "test_app.h"

#include <cstdlib>

#include "io.h"

namespace lumaret::e2e {

std::vector<std::string> TestApp::argv(const Session& session) const {
  std::vector<std::string> argv = {session.program("lmr-e2e-app").string(), "--content", content_};
  if (!app_id_.empty()) argv.insert(argv.end(), {"--app-id", app_id_});
  return argv;
}

void TestApp::on_line(std::string_view line) {
  const std::vector<std::string_view> f = split_tabs(line);
  if (f[0] == "state" && f.size() == 7) {
    field_.seq = std::strtoull(std::string(f[1]).c_str(), nullptr, 10);
    field_.changed_ns = std::strtoll(std::string(f[2]).c_str(), nullptr, 10);
    field_.cursor_chars = static_cast<std::uint32_t>(std::strtoul(std::string(f[4]).c_str(), nullptr, 10));
    field_.preedit = unescape(f[5]);
    field_.text = unescape(f[6]);
  } else if (f[0] == "mapped") {
    shown_ = true;
  } else if (f[0] == "enabled") {
    ++enabled_;
  } else if (f[0] == "warn") {
    complaints_.emplace_back(line);
  } else if (f[0] == "error") {
    complaints_.emplace_back(line);
    last_error_ = line;
    ++answers_;
  } else if (line.starts_with("ok ")) {
    ++answers_;
  }
}

void TestApp::request(Session& session, const std::string& command) {
  const std::size_t before = answers_;
  last_error_.clear();
  session.application(*this).send(command);
  session.wait_for("the application to answer \"" + command + "\"", [&] { return answers_ > before; });
  if (!last_error_.empty()) session.fail("the application refused \"" + command + "\": " + last_error_);
}

void TestApp::click(Session& session, std::uint32_t chars) {
  request(session, "click " + std::to_string(chars));
}

void TestApp::set_content(Session& session, std::string_view purpose) {
  request(session, "content " + std::string(purpose));
}

}  // namespace lumaret::e2e
