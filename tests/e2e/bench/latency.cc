// lmr-e2e-latency (`make bench-e2e`): key-to-text latency under a headless Sway, from the moment the
// injector sends a key to the moment the application receives the event that brings its field to what
// that key produces. The same keys are measured twice: through lumaret-wayland, and straight from the
// keyboard to the application with no input method at all.
//
// Through the input method, what each key produces is first learnt in a paced run with the service's
// --debug log; the measured run then starts a fresh service without --debug (no per-key logging on the
// path) and, for each key, waits for that field before sending the next. Both clocks are the machine's
// monotonic clock, so the injector's and the application's times subtract.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "io.h"
#include "session.h"

namespace lumaret::e2e {
namespace {

constexpr std::string_view TELEX =
    "Tieengs Vieetj laf ngoon nguwx cuar nguwowif Vieetj Nam, ddepj vaf phong phus. "
    "Xin chaof cacs banj! Hoom nay trowif ddepj quas. Chungs ta cungf gox tieengs Vieetj nhes. ";

struct Expected {
  std::string text;
  std::string preedit;
};

std::vector<Step> keys(std::size_t count) {
  std::vector<Step> out;
  while (out.size() < count) {
    for (const Step& step : parse_steps(TELEX)) {
      if (out.size() == count) break;
      out.push_back(step);
    }
  }
  return out;
}

Session::Options options(const char* name, bool debug) {
  Session::Options o;
  o.name = name;
  o.service_debug = debug;
  return o;
}

// The field after each key, typed at a person's pace with every key awaited all the way.
std::vector<Expected> learn(const std::vector<Step>& steps) {
  Session session(options("latency-learn", true));
  session.start();
  std::vector<Expected> fields;
  for (const Step& step : steps) {
    session.send_key(step);
    session.settle();
    fields.push_back({session.field().text, session.field().preedit});
  }
  return fields;
}

// Sends each key once the previous one has produced `expected`, and returns the latencies in
// microseconds of the keys that changed the field.
std::vector<double> measure(Session& session, const std::vector<Step>& steps,
                            const std::vector<Expected>& expected) {
  std::vector<double> latencies;
  Expected last{session.field().text, session.field().preedit};
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const Session::Sent sent = session.send_key(steps[i]);
    const Expected& want = expected[i];
    const bool changes = want.text != last.text || want.preedit != last.preedit;
    if (changes) {
      session.wait_for("key " + std::to_string(i) + " (" + steps[i].text + ") to reach the application", [&] {
        return session.field().text == want.text && session.field().preedit == want.preedit;
      });
      latencies.push_back(static_cast<double>(session.field().changed_ns - sent.sent_ns) / 1000.0);
    }
    session.settle();
    last = want;
  }
  return latencies;
}

double percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  const auto rank = static_cast<std::size_t>(p * static_cast<double>(values.size()) + 0.999999);
  return values[std::min(values.size(), std::max<std::size_t>(rank, 1)) - 1];
}

void print(const char* label, const std::vector<double>& us, std::size_t keys) {
  std::printf("  %-28s %6zu %9.0f %9.0f %9.0f\n", label, us.size(), percentile(us, 0.5), percentile(us, 0.99),
              *std::max_element(us.begin(), us.end()));
  if (us.size() != keys)
    std::printf(
        "    (%zu keys changed nothing visible, like the second w of \"nguwowi\", and are not timed)\n",
        keys - us.size());
}

int run(std::size_t count) {
  const std::vector<Step> steps = keys(count);
  std::printf("Key-to-text latency over %zu keys of Telex (monotonic clock, microseconds):\n", count);

  const std::vector<Expected> through = learn(steps);
  Session with(options("latency-im", false));
  with.start();
  const std::vector<double> im = measure(with, steps, through);
  with.check_health();

  // Without an input method every key lands in the field as it is.
  std::vector<Expected> plain;
  std::string typed;
  for (const Step& step : steps) {
    typed += unescape(std::string_view(step.text).substr(5));  // "type x"
    plain.push_back({typed, ""});
  }
  Session without(options("latency-plain", false));
  without.start(Session::Order::NoService);
  const std::vector<double> direct = measure(without, steps, plain);
  without.check_health();

  std::printf("  %-28s %6s %9s %9s %9s\n", "", "keys", "p50", "p99", "max");
  print("through lumaret-wayland", im, count);
  print("without an input method", direct, count);
  return 0;
}

}  // namespace
}  // namespace lumaret::e2e

int main(int argc, char** argv) {
  std::size_t count = 1000;
  if (argc == 3 && std::string_view(argv[1]) == "--keys") {
    count = std::strtoul(argv[2], nullptr, 10);
  } else if (argc != 1) {
    std::fprintf(stderr, "usage: lmr-e2e-latency [--keys N]\n");
    return 2;
  }
  try {
    return lumaret::e2e::run(count);
  } catch (const lumaret::e2e::Failure& failure) {
    std::fprintf(stderr, "lmr-e2e-latency: %s\n", failure.what());
    return 1;
  }
}
