// Child processes for the tests that run the built service: its standard output and error go to files
// the test reads at any time, and its environment is the test's own with a few changes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace lumaret::wayland::testing {

// Changes to the inherited environment: a value sets the variable, nothing removes it.
using EnvChanges = std::map<std::string, std::optional<std::string>>;

// How a child ended and what it wrote.
struct Exit {
  int status = -1;  // the exit status, when it exited
  int signal = 0;   // the signal that ended it, 0 when it exited
  std::string out;
  std::string err;
};

std::string read_file(const std::filesystem::path& path);

// A private scratch folder, removed with everything in it when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

class Child {
 public:
  // Starts `program` with `args`; its output goes to `<dir>/<name>.out` and `<dir>/<name>.err`. `cwd`,
  // when given, is its working directory.
  Child(const std::filesystem::path& program, const std::vector<std::string>& args, const EnvChanges& env,
        const std::filesystem::path& dir, const std::string& name,
        const std::optional<std::filesystem::path>& cwd = std::nullopt);
  // Kills the child if it is still running: a test that failed half-way must not leave it behind.
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t pid() const { return pid_; }
  // Reaps the child when it has ended; true from then on.
  bool poll();
  bool ended() const { return ended_; }
  // The exit with what the child has written so far.
  Exit exit() const;
  std::string out() const { return read_file(out_path_); }
  std::string err() const { return read_file(err_path_); }

 private:
  pid_t pid_ = -1;
  bool ended_ = false;
  int status_ = -1;
  int signal_ = 0;
  std::filesystem::path out_path_;
  std::filesystem::path err_path_;
};

// Runs `program` to its end without a compositor; on reaching the deadline the child is killed and the
// exit says so (signal SIGKILL).
Exit run_to_end(const std::filesystem::path& program, const std::vector<std::string>& args,
                const EnvChanges& env, const std::optional<std::filesystem::path>& cwd = std::nullopt,
                std::chrono::milliseconds deadline = std::chrono::seconds(20));

// A readable account of an exit, for failure messages.
std::string describe(const Exit& exit);

}  // namespace lumaret::wayland::testing
