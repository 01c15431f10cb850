#include "process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace lumaret::e2e {
namespace {

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (auto& s : strings)
    out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

}  // namespace

Process::Process(Options options) : options_(std::move(options)) {
  int out[2];
  int in[2] = {-1, -1};
  if (pipe2(out, O_CLOEXEC) != 0 || (options_.input && pipe2(in, O_CLOEXEC) != 0)) {
    throw std::runtime_error("pipe: " + std::string(std::strerror(errno)));
  }
  std::vector<std::string> argv;
  if (options_.user) {
    // setpriv drops to the user with its own groups and then runs the program in place: the pid we
    // hold is the program's.
    // A harness killed by a test timeout takes the program with it: the parent-death signal is set
    // after the switch, which would clear one set before.
    argv = {"setpriv",
            "--reuid=" + std::to_string(options_.user->uid),
            "--regid=" + std::to_string(options_.user->gid),
            "--init-groups",
            "--pdeathsig=KILL",
            "--"};
  }
  argv.insert(argv.end(), options_.argv.begin(), options_.argv.end());
  auto args = pointers(argv);
  auto env = pointers(options_.env);

  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork: " + std::string(std::strerror(errno)));
  if (pid_ == 0) {
    // A process group of its own, so a signal meant for the harness's terminal does not reach it first.
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (options_.input) {
      dup2(in[0], STDIN_FILENO);
    } else {
      const int null = open("/dev/null", O_RDONLY);
      dup2(null, STDIN_FILENO);
    }
    dup2(out[1], STDOUT_FILENO);
    dup2(out[1], STDERR_FILENO);
    execvpe(args[0], args.data(), env.data());
    const std::string message = "cannot run " + argv[0] + ": " + std::strerror(errno) + "\n";
    (void)!write(STDERR_FILENO, message.data(), message.size());
    _exit(127);
  }
  close(out[1]);
  output_ = out[0];
  fcntl(output_, F_SETFL, O_NONBLOCK);
  if (options_.input) {
    close(in[0]);
    input_ = in[1];
  }
}

Process::~Process() {
  close_input();
  if (!ended()) {
    kill(SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  if (output_ >= 0) close(output_);
}

void Process::send(std::string_view line) {
  if (input_ < 0) throw std::runtime_error(name() + " takes no input");
  std::string whole(line);
  whole += '\n';
  std::string_view rest = whole;
  while (!rest.empty()) {
    const ssize_t n = write(input_, rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw std::runtime_error("cannot write to " + name() + ": " + std::strerror(errno));
    rest.remove_prefix(static_cast<std::size_t>(n));
  }
}

void Process::close_input() {
  if (input_ >= 0) close(input_);
  input_ = -1;
}

void Process::read_output() {
  if (output_ < 0) return;
  char chunk[65536];
  while (true) {
    const ssize_t n = read(output_, chunk, sizeof chunk);
    if (n > 0) {
      text_.append(chunk, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return;
    close(output_);
    output_ = -1;
    return;
  }
}

std::size_t Process::count(std::string_view needle) const {
  std::size_t n = 0;
  for (std::size_t at = text_.find(needle); at != std::string::npos;
       at = text_.find(needle, at + needle.size()))
    ++n;
  return n;
}

bool Process::ended() {
  if (status_) return true;
  int status = 0;
  const pid_t done = waitpid(pid_, &status, WNOHANG);
  if (done != pid_) return false;
  status_ = status;
  read_output();
  return true;
}

std::string Process::state() {
  if (!ended()) return "running";
  if (WIFEXITED(*status_)) return "exited with status " + std::to_string(WEXITSTATUS(*status_));
  return "killed by signal " + std::to_string(WTERMSIG(*status_)) + " (" + strsignal(WTERMSIG(*status_)) +
         ")";
}

void Process::kill(int signal) {
  if (!ended()) ::kill(pid_, signal);
}

std::string Process::tail(std::size_t lines) const {
  std::size_t from = text_.size();
  std::size_t seen = 0;
  while (from > 0 && seen <= lines) {
    from = text_.rfind('\n', from - 1);
    if (from == std::string::npos) {
      from = 0;
      break;
    }
    ++seen;
  }
  std::string_view rest = std::string_view(text_).substr(from);
  if (!rest.empty() && rest.front() == '\n') rest.remove_prefix(1);
  std::string out;
  if (from > 0) out += "    ...\n";
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    out += "    ";
    out += rest.substr(0, end);
    out += '\n';
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return out;
}

}  // namespace lumaret::e2e
