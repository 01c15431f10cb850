// Our own test application as a target: it logs every change of its field and answers commands, so
// everything a scenario needs can be awaited exactly.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "session.h"

namespace lumaret::e2e {

class TestApp final : public Target {
 public:
  // `content`: the field's purpose when it is first enabled (see Step). `app_id`: the application id
  // its window gives the compositor; empty for the application's own.
  explicit TestApp(std::string content = "normal", std::string app_id = "")
      : content_(std::move(content)), app_id_(std::move(app_id)) {}

  std::string name() const override { return app_id_.empty() ? "lmr-e2e-app" : "lmr-e2e-app " + app_id_; }
  std::vector<std::string> argv(const Session& session) const override;
  void on_line(std::string_view line) override;
  bool shown() const override { return shown_; }
  std::size_t enabled() const override { return enabled_; }
  Field field() const override { return field_; }
  void settle(Session& session) override { request(session, "sync"); }
  std::vector<std::string> complaints() const override { return complaints_; }

  bool can_edit() const override { return true; }
  void click(Session& session, std::uint32_t chars) override;
  void set_content(Session& session, std::string_view purpose) override;
  void open_second_window(Session& session) override { request(session, "window open"); }
  void close_second_window(Session& session) override { request(session, "window close"); }

 private:
  void request(Session& session, const std::string& command);

  std::string content_;
  std::string app_id_;
  Field field_;
  bool shown_ = false;
  std::size_t enabled_ = 0;
  std::size_t answers_ = 0;
  std::string last_error_;
  std::vector<std::string> complaints_;
};

}  // namespace lumaret::e2e
