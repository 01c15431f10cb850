// The built lumaret-wayland typing into the applications people use, each under its own headless Sway:
// a terminal (foot), GTK 4 and GTK 3 text fields, and a textarea in Chromium and in Firefox. Every
// scenario ends with the exact text the user meant, or, where the application does not tell the input
// method its text, with the keys as typed: never with a lost or changed character. Each run adds a line
// to a table of applications and features (see `make test-apps`).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "io.h"
#include "session.h"
#include "targets.h"

namespace lumaret::e2e {
namespace {

// How far an application tells the input method its text.
enum class Reports {
  Always,
  Never,
  Sometimes,
  Unused,  // it reports, but its reports lag behind its edits: the input method does not use them
};

struct App {
  const char* kind;
  Reports reports;
  // When a keyboard joins the seat, the compositor sends the focus again; these applications then turn
  // their text input off and on, and keys typed before it is on again would bypass the input method.
  bool refocuses;
};

const App APPS[] = {
    {"foot", Reports::Never, false},         // a terminal: no surrounding text, deletions ignored
    {"gtk4", Reports::Always, true},         // GTK 4.8 counts deletion lengths in characters
    {"gtk3", Reports::Always, true},         //
    {"chromium", Reports::Sometimes, true},  // rarely, and one step behind
    {"firefox", Reports::Unused, true},      // irregular, often stale
};

struct Scenario {
  const char* name;
  const char* keys;
  const char* edited;    // what the user meant
  const char* fallback;  // the keys as typed, where the application reports no text
  const char* terminal;  // what reaches a terminal: its erase applied, other keys as escape sequences
};

// "chào" is 5 bytes and 4 characters: replacing it shows whether an application counts deletions in
// bytes or characters.
const Scenario SCENARIOS[] = {
    {"TelexSentence", "Tieengs Vieetj laf ngoon nguwx cuar nguwowif Vieetj Nam, ddepj vaf phong phus! ",
     "Tiếng Việt là ngôn ngữ của người Việt Nam, đẹp và phong phú! ",
     "Tiếng Việt là ngôn ngữ của người Việt Nam, đẹp và phong phú! ",
     "Tiếng Việt là ngôn ngữ của người Việt Nam, đẹp và phong phú! "},
    {"BackspaceInsideWord", "vieet<BS>ts ", "viết ", "viết ", "viết "},
    // Backspace right after a word takes it up again; the tone key then changes it in place.
    {"TakeUpAfterWord", "xin chaof <BS>s ban ", "xin cháo ban ", "xin chàos ban ", "xin chàos ban "},
    // The cursor goes back to stand right after "chào"; the tone key reads the word from the field.
    {"PreviousWordEdited", "xin chaof ban <Left><Left><Left><Left><Left>s<End>ddi ", "xin cháo ban đi ",
     "xin chàos ban đi ", "xin chào ban \x1b[D\x1b[D\x1b[D\x1b[D\x1b[Ds\x1b[Fđi "},
    {"EnterAndKeysInOrder", "chaof<Enter>banj<Enter>ddi<BS><BS>ij ", "chào\nbạn\nị ", "chào\nbạn\nị ",
     "chào\nbạn\nị "},
    // A tone key on a new line is a word of its own: a report of the text from before Enter would make it
    // edit the word above.
    {"NewLineStartsAWord", "ban<Enter>s ", "ban\ns ", "ban\ns ", "ban\ns "},
};

std::string quoted(const std::string& text) {
  return "\"" + escape(text) + "\"";
}

// One line per run in the table's file: application, row, scenario, outcome.
void record(const std::string& app, const std::string& scenario, const std::string& outcome) {
  const char* path = std::getenv("LUMARET_E2E_APP_TABLE");
  const std::string line = app + "\t" + scenario + "\t" + outcome + "\n";
  const int fd =
      open(path != nullptr ? path : LUMARET_E2E_APP_TABLE, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  if (write(fd, line.data(), line.size()) < 0) {  // a line lost costs the table a cell, not the test
  }
  close(fd);
}

void PrintTo(const App& app, std::ostream* out) {
  *out << app.kind;
}
void PrintTo(const Scenario& scenario, std::ostream* out) {
  *out << scenario.name;
}

using Param = std::tuple<App, Scenario>;

class Apps : public ::testing::TestWithParam<Param> {};

TEST_P(Apps, TextArrivesIntact) {
  const auto& [app, scenario] = GetParam();
  struct Outcome {
    std::string text;
    std::string name;
  };
  std::vector<Outcome> accepted;
  if (app.reports == Reports::Never) {
    accepted.push_back(
        {scenario.terminal, scenario.terminal == std::string(scenario.edited) ? "works" : "falls back"});
  } else if (app.reports == Reports::Unused) {
    accepted.push_back(
        {scenario.fallback, scenario.fallback == std::string(scenario.edited) ? "works" : "falls back"});
  } else {
    accepted.push_back({scenario.edited, "works"});
    if (app.reports == Reports::Sometimes && scenario.fallback != std::string(scenario.edited)) {
      accepted.push_back({scenario.fallback, "falls back"});
    }
  }

  Session::Options options;
  options.name = std::string(app.kind) + "-" + scenario.name;
  const std::string kind = app.kind;
  options.target = [kind] { return make_app_target(kind); };
  Session session(options);
  session.start();
  if (app.refocuses) {
    session.wait_for(std::string(app.kind) + " to turn its text input off and on after the keyboard joined",
                     [&] {
                       return session.service_lines("] input method deactivate") >= 1 &&
                              session.service_lines("] input method activate") >= 2;
                     });
  }
  session.type(scenario.keys);
  std::string expected;
  for (const Outcome& o : accepted)
    expected += (expected.empty() ? "" : " or ") + quoted(o.text);
  const Outcome* reached = nullptr;
  session.wait_for(std::string(app.kind) + " to hold " + expected, [&] {
    const std::string text = session.text();
    for (const Outcome& o : accepted) {
      if (o.text == text) reached = &o;
    }
    return reached != nullptr;
  });
  session.check_health();
  // The scenario's place in the table keeps its rows in this order, however the runs finish.
  std::size_t row = 0;
  while (std::string_view(SCENARIOS[row].name) != scenario.name)
    ++row;
  record(app.kind, std::to_string(row) + "\t" + scenario.name, reached->name);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, Apps,
                         ::testing::Combine(::testing::ValuesIn(APPS), ::testing::ValuesIn(SCENARIOS)),
                         [](const ::testing::TestParamInfo<Param>& info) {
                           return std::string(std::get<0>(info.param).kind) + "_" +
                                  std::get<1>(info.param).name;
                         });

// GTK 4.8 takes the length of a deletion in characters. The first in-place edit of a word with accents
// ("chào": its changed end "ào" is 3 bytes, 2 characters) makes it cut the letter before; the input method
// sees that in the text the field reports, puts the letter back, and from then on sends lengths in
// characters: the next edit of the same kind (x on the same word) cuts nothing.
TEST(Gtk4, CharacterCountedDeletionIsFoundAndRepaired) {
  Session::Options options;
  options.name = "gtk4-char-counted";
  options.target = [] { return make_app_target("gtk4"); };
  Session session(options);
  session.start();
  session.wait_for("gtk4 to turn its text input off and on after the keyboard joined", [&] {
    return session.service_lines("] input method deactivate") >= 1 &&
           session.service_lines("] input method activate") >= 2;
  });
  const auto cut_shown = [&](const std::string& cut) {
    const std::vector<std::string> seen = texts_seen(session.target());
    return std::count(seen.begin(), seen.end(), cut);
  };
  session.type("xin chaof <BS>s");
  session.wait_for("gtk4 to hold \"xin cháo\"", [&] { return session.text() == "xin cháo"; });
  EXPECT_EQ(cut_shown("xin cáo"), 1) << "GTK 4.8 no longer cuts a letter here: is this a newer GTK?\n"
                                     << session.report();
  session.type("x ");
  session.wait_for("gtk4 to hold \"xin chão \"", [&] { return session.text() == "xin chão "; });
  EXPECT_EQ(cut_shown("xin cão"), 0) << "the second edit cut a letter again\n" << session.report();
  session.check_health();
}

}  // namespace
}  // namespace lumaret::e2e
