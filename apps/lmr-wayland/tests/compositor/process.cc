// Child processes with their output in files.
#include "compositor/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace lumaret::wayland::testing {
namespace {

// The child's environment as "NAME=value" texts: ours with the changes applied.
std::vector<std::string> environment_with(const EnvChanges& changes) {
  std::vector<std::string> result;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    const std::string name(text.substr(0, text.find('=')));
    if (changes.count(name) == 0) result.emplace_back(text);
  }
  for (const auto& [name, value] : changes) {
    if (value) result.push_back(name + "=" + *value);
  }
  return result;
}

std::vector<char*> pointers_to(std::vector<std::string>& texts) {
  std::vector<char*> result;
  for (std::string& text : texts)
    result.push_back(text.data());
  result.push_back(nullptr);
  return result;
}

}  // namespace

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "lumaret-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("mkdtemp: " + std::string(strerror(errno)));
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  // A test may have taken permissions away from a file inside; give them back so it can be removed.
  for (const auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored)) {
    std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
  }
  std::filesystem::remove_all(path_, ignored);
}

Child::Child(const std::filesystem::path& program, const std::vector<std::string>& args,
             const EnvChanges& env, const std::filesystem::path& dir, const std::string& name,
             const std::optional<std::filesystem::path>& cwd)
    : out_path_(dir / (name + ".out")), err_path_(dir / (name + ".err")) {
  // Everything the child needs is prepared before fork: after it, only async-signal-safe calls.
  std::vector<std::string> argv_texts{program.string()};
  argv_texts.insert(argv_texts.end(), args.begin(), args.end());
  std::vector<std::string> env_texts = environment_with(env);
  std::vector<char*> argv = pointers_to(argv_texts);
  std::vector<char*> envp = pointers_to(env_texts);
  const std::string out = out_path_.string(), err = err_path_.string(), program_path = program.string();
  const std::string directory = cwd ? cwd->string() : std::string();

  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork: " + std::string(strerror(errno)));
  if (pid_ == 0) {
    const int in_fd = ::open("/dev/null", O_RDONLY);
    const int out_fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err_fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in_fd < 0 || out_fd < 0 || err_fd < 0) ::_exit(126);
    ::dup2(in_fd, 0);
    ::dup2(out_fd, 1);
    ::dup2(err_fd, 2);
    if (!directory.empty() && ::chdir(directory.c_str()) != 0) ::_exit(126);
    ::execve(program_path.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
}

Child::~Child() {
  if (pid_ > 0 && !ended_) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

bool Child::poll() {
  if (ended_) return true;
  int status = 0;
  const pid_t r = ::waitpid(pid_, &status, WNOHANG);
  if (r != pid_) return false;
  ended_ = true;
  if (WIFEXITED(status)) status_ = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) signal_ = WTERMSIG(status);
  return true;
}

Exit Child::exit() const {
  return {ended_ ? status_ : -1, signal_, out(), err()};
}

Exit run_to_end(const std::filesystem::path& program, const std::vector<std::string>& args,
                const EnvChanges& env, const std::optional<std::filesystem::path>& cwd,
                std::chrono::milliseconds deadline) {
  const ScratchDir dir;
  Child child(program, args, env, dir.path(), "run", cwd);
  const auto until = std::chrono::steady_clock::now() + deadline;
  // The program ends on its own; polling with a deadline keeps a hung one from hanging the test.
  while (!child.poll()) {
    if (std::chrono::steady_clock::now() > until) {
      ::kill(child.pid(), SIGKILL);
      while (!child.poll())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return child.exit();
}

std::string describe(const Exit& exit) {
  std::ostringstream text;
  if (exit.signal != 0) {
    text << "ended by signal " << exit.signal << " (" << strsignal(exit.signal) << ")";
  } else if (exit.status >= 0) {
    text << "exited with status " << exit.status;
  } else {
    text << "still running";
  }
  text << "\n--- standard output ---\n" << exit.out << "--- standard error ---\n" << exit.err << "---";
  return text.str();
}

}  // namespace lumaret::wayland::testing
