// Resource use of the running service: types many keys through the test compositor and reads the
// service's resident memory and CPU time from /proc. Not a timed test; it prints its figures.
//
//   lumaret-service-bench [--keys N]              N keystrokes (press and release), 100000 by default
//   lumaret-service-bench --keys N --valgrind V   the service under valgrind V; fails on a definite leak
//                                                 or a memory error
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "compositor/test_compositor.h"

namespace lumaret::wayland::testing {
namespace {

// Telex for ordinary Vietnamese sentences, each word ended by a space.
constexpr std::string_view TEXT =
    "xin chaof cacs banj tooi laf nguwowif vieejt nam tooi ddang hocj cachs gox tieengs vieejt "
    "tren mays tinhs trong nhaf cos mootj conf meof nhor vaf hai con chos lown hoom nay trowif "
    "ddepj quas chungs ta ddi chowi coong vieen nhes ";

struct Usage {
  long rss_kb = 0;
  long hwm_kb = 0;
  double cpu_seconds = 0;
};

Usage usage_of(pid_t pid) {
  Usage usage;
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) usage.rss_kb = std::strtol(line.c_str() + 6, nullptr, 10);
    if (line.rfind("VmHWM:", 0) == 0) usage.hwm_kb = std::strtol(line.c_str() + 6, nullptr, 10);
  }
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  // Fields after the command name, which is in parentheses and may hold blanks: utime and stime are
  // the 14th and 15th fields of the whole line.
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  long ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i >= 14) ticks += std::strtol(field.c_str(), nullptr, 10);
  }
  usage.cpu_seconds = static_cast<double>(ticks) / static_cast<double>(::sysconf(_SC_CLK_TCK));
  return usage;
}

// Types `keys` keystrokes of the text, settling after each word; returns the commits seen, or -1.
long drive(TestCompositor& c, long keys) {
  long commits = 0;
  std::size_t at = 0;
  std::string word;
  for (long typed = 0; typed < keys; ++typed) {
    const char key = TEXT[at];
    at = (at + 1) % TEXT.size();
    c.type(std::string_view(&key, 1));
    if (key != ' ' && typed + 1 < keys) continue;
    std::vector<std::string> got;
    if (const auto settled = c.settle(got); !settled) {
      std::fprintf(stderr, "%s\n", settled.message());
      return -1;
    }
    for (const std::string& request : got)
      commits += request.rfind("commit_string(", 0) == 0;
  }
  return commits;
}

int run(long keys, const std::string& valgrind) {
  const bool checked = !valgrind.empty();
  // Under valgrind everything is many times slower; the deadline only matters when something hangs.
  TestCompositor c(Globals{}, checked ? std::chrono::minutes(3) : std::chrono::seconds(30));
  const std::vector<std::string> wrapper =
      checked ? std::vector<std::string>{valgrind, "--leak-check=full", "--errors-for-leak-kinds=definite",
                                         "--error-exitcode=3", "--quiet"}
              : std::vector<std::string>{};
  if (const auto started = c.start_service({"--config", (c.dir() / "none.json").string()}, {}, wrapper);
      !started) {
    std::fprintf(stderr, "%s\n", started.message());
    return 1;
  }
  c.activate();
  c.done();
  if (const auto grabbed = c.wait_for([&] { return c.grab_count() > 0; }, "a keyboard grab"); !grabbed) {
    std::fprintf(stderr, "%s\n", grabbed.message());
    return 1;
  }

  const long warm_up = std::min(keys / 10, 10000L);
  if (drive(c, warm_up) < 0) return 1;
  const Usage before = usage_of(c.service_pid());
  const long commits = drive(c, keys - warm_up);
  if (commits < 0) return 1;
  const Usage after = usage_of(c.service_pid());

  std::printf("keystrokes: %ld after %ld to warm up (%ld words committed)\n", keys - warm_up, warm_up,
              commits);
  std::printf("resident memory: %ld kB after warm-up, %ld kB at the end, peak %ld kB\n", before.rss_kb,
              after.rss_kb, after.hwm_kb);
  const double per_key_us =
      (after.cpu_seconds - before.cpu_seconds) * 1e6 / static_cast<double>(keys - warm_up);
  std::printf("service CPU time: %.2f s in all, %.2f s for the keystrokes, %.1f µs per keystroke\n",
              after.cpu_seconds, after.cpu_seconds - before.cpu_seconds, per_key_us);

  // The service ends when its connection closes; under valgrind that is when leaks are reported.
  c.disconnect_service();
  Exit exit;
  if (const auto ended = c.wait_service_exit(exit); !ended) {
    std::fprintf(stderr, "%s\n", ended.message());
    return 1;
  }
  if (exit.status != 1 || exit.signal != 0) {
    std::fprintf(stderr, "the service did not end as it should when its connection closed: %s\n",
                 describe(exit).c_str());
    return 1;
  }
  if (checked) std::printf("valgrind: no definite leak and no memory error\n");
  return 0;
}

}  // namespace
}  // namespace lumaret::wayland::testing

int main(int argc, char** argv) {
  long keys = 100000;
  std::string valgrind;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--keys" && i + 1 < argc) {
      keys = std::strtol(argv[++i], nullptr, 10);
    } else if (arg == "--valgrind" && i + 1 < argc) {
      valgrind = argv[++i];
    } else {
      std::fprintf(stderr, "usage: %s [--keys N] [--valgrind PATH]\n", argv[0]);
      return 2;
    }
  }
  if (keys < 10) keys = 10;
  return lumaret::wayland::testing::run(keys, valgrind);
}
