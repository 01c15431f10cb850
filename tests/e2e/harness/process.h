// One program of an end-to-end run: started with a clean environment (as the run's own user when the
// harness is root), its standard output and error collected in memory as it writes them, and stopped
// for certain when the run ends.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumaret::e2e {

// The unprivileged user the programs of a run act as when the harness itself is root.
struct User {
  uid_t uid;
  gid_t gid;
  std::string name;
};

class Process {
 public:
  struct Options {
    std::string name;  // in messages: "sway", "lumaret-wayland", ...
    std::vector<std::string> argv;
    std::vector<std::string> env;  // the whole environment, NAME=value
    std::optional<User> user;      // switch to this user (through setpriv) before running argv
    bool input = false;            // give it a pipe on standard input
  };

  explicit Process(Options options);
  // Kills the process if it still runs and reaps it: nothing outlives the run.
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  const std::string& name() const { return options_.name; }
  pid_t pid() const { return pid_; }
  // Sends one line on its standard input.
  void send(std::string_view line);
  void close_input();

  // The descriptor to poll for output; -1 once it has closed.
  int output_fd() const { return output_; }
  // Takes what is waiting on the output without blocking.
  void read_output();
  const std::string& output() const { return text_; }
  std::size_t count(std::string_view needle) const;

  // Reaps the process when it has ended; true from then on.
  bool ended();
  // The raw wait status once it has ended.
  std::optional<int> status() const { return status_; }
  // "running", "exited with status N" or "killed by signal N".
  std::string state();
  void kill(int signal);
  // The last `lines` lines of its output, indented, for failure messages.
  std::string tail(std::size_t lines) const;

 private:
  Options options_;
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  std::string text_;
  std::optional<int> status_;
};

}  // namespace lumaret::e2e
