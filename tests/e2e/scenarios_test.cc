// The built lumaret-wayland typing into our test application under a headless Sway: each scenario runs
// its own compositor, service, application and keyboard, types like a person and checks what the
// application ends up holding.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "io.h"
#include "session.h"
#include "test_app.h"

namespace lumaret::e2e {
namespace {

using namespace std::chrono_literals;

Session::Options options(std::string config = "{}") {
  Session::Options o;
  o.name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  o.config = std::move(config);
  return o;
}

// The field ends as `text`, with the cursor at its end and no pre-edit left, and nothing went wrong
// behind the scenes.
void expect_field(Session& session, const std::string& text, const std::string& what) {
  const Field field = session.field();
  EXPECT_EQ(field.text, text) << what << "\n" << session.report();
  EXPECT_EQ(field.preedit, "") << what << ": a pre-edit is left over\n" << session.report();
  session.check_health();
}

// --- Typing: one table, one line per behaviour ---------------------------------------------------------

struct TypingCase {
  const char* name;
  const char* config;
  const char* keys;  // the notation of lumaret-type, plus <content:PURPOSE>
  const char* text;  // what the application holds at the end
};

const TypingCase TYPING[] = {
    {"TelexSentence", "{}", "Tieengs Vieetj laf ngoon nguwx cuar nguwowif Vieetj Nam, ddepj vaf phong phus! ",
     "Tiếng Việt là ngôn ngữ của người Việt Nam, đẹp và phong phú! "},
    {"VniSentence", R"({"input_method": "vni"})",
     "Tie6ng1 Vie6t5 la2 ngo6n ngu74 cu3a ngu7o7i2 Vie6t5 Nam, d9e5p va2 phong phu1! ",
     "Tiếng Việt là ngôn ngữ của người Việt Nam, đẹp và phong phú! "},
    // Shown as "mĩ", then "mỉe" while typed; no Vietnamese word fits, so the keys come back as typed.
    {"WordRestoredAtItsEnd", "{}", "mixer ", "mixer "},
    {"BackspaceInsideWord", "{}", "vieet<BS>ts ", "viết "},
    // Backspace right after "chao " takes the word up again; the tone key then edits it in place.
    {"BackspaceAfterWordTakesItUp", "{}", "xin chao <BS>f ban ", "xin chào ban "},
    // The cursor goes back to stand right after "chao"; the tone key reads the word from the field.
    {"PreviousWordEditedInPlace", "{}", "xin chao <Left>f<End>ban ", "xin chào ban "},
    {"EscapeGivesTheKeysBack", "{}", "vieetj<Esc> ", "vieetj "},
    {"EnterEndsTheWordAndReachesTheApplication", "{}", "chaof<Enter>banj ", "chào\nbạn "},
    {"AltCommaSwitchesOffAndOn", "{}", "vieetj <A-,>vieetj <A-,>vieetj ", "việt vieetj việt "},
    {"PasswordFieldGetsTheKeysUnchanged", "{}", "<content:password>matkhaus ddi ", "matkhaus ddi "},
    {"UrlFieldExpandsNoMacro", R"({"macros": {"ko": "không"}})", "ko <content:url>ko ", "không ko "},
    // A click moves the cursor between two keys of a word edited in place ("chào"): the next key
    // edits the word at the new cursor and leaves "chào" alone.
    {"ClickBetweenKeysOfAnInPlaceWord", "{}", "xin chao ban <click:8>f<click:12>s", "xin chào bán "},
    // The same with the click inside the word: the key lands where the cursor is, and nothing is deleted.
    {"ClickIntoAnInPlaceWord", "{}", "xin chao ban <click:8>f<click:6>s", "xin chsào ban "},
    {"ClickIntoAWordTakenUpByBackspace", "{}", "ban <BS>s<click:1>f", "bfán"},
};

void PrintTo(const TypingCase& c, std::ostream* out) {
  *out << c.name;
}

class Typing : public ::testing::TestWithParam<TypingCase> {};

TEST_P(Typing, EndsWithTheExpectedText) {
  const TypingCase& c = GetParam();
  Session session(options(c.config));
  session.start();
  session.type(c.keys);
  expect_field(session, c.text, std::string(c.name) + ": keys " + c.keys);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, Typing, ::testing::ValuesIn(TYPING),
                         [](const ::testing::TestParamInfo<TypingCase>& info) { return info.param.name; });

// --- Start order --------------------------------------------------------------------------------------

class StartOrder : public ::testing::TestWithParam<Session::Order> {};

TEST_P(StartOrder, TypesWhicheverStartsFirst) {
  Session session(options());
  session.start(GetParam());
  session.type("Tieengs Vieetj ");
  expect_field(session, "Tiếng Việt ", "typing after the start");
}

INSTANTIATE_TEST_SUITE_P(Scenarios, StartOrder,
                         ::testing::Values(Session::Order::ServiceFirst, Session::Order::ApplicationFirst),
                         [](const ::testing::TestParamInfo<Session::Order>& info) {
                           return info.param == Session::Order::ServiceFirst ? "InputMethodBeforeApplication"
                                                                             : "InputMethodAfterApplication";
                         });

// --- Focus, configuration, compositor ------------------------------------------------------------------

TEST(Scenarios, FocusMovesToASecondWindowAndBack) {
  Session session(options());
  session.start();
  session.type("xin chaof ");
  const std::size_t deactivations = session.service_lines("input method deactivate");
  const std::size_t activations = session.service_lines("input method activate");
  const std::size_t enabled = session.target().enabled();

  session.target().open_second_window(session);
  session.wait_for("the input method to be deactivated when the second window takes the focus",
                   [&] { return session.service_lines("input method deactivate") > deactivations; });
  // Keys typed into the second window pass through the inactive input method and stay there.
  session.type("khoong ");
  EXPECT_EQ(session.text(), "xin chào ") << "keys typed elsewhere reached the field\n" << session.report();

  session.target().close_second_window(session);
  session.wait_for("the input method to be activated again when the field has the focus back", [&] {
    return session.service_lines("input method activate") > activations &&
           session.target().enabled() > enabled;
  });
  session.type("cacs banj ");
  expect_field(session, "xin chào các bạn ", "typing after the focus came back");
}

// The application the service last said has the focus (its --debug line), or none yet.
std::string application_in_use(Session& session) {
  const std::string_view needle = "ứng dụng đang dùng: ";
  const std::string& log = session.service().output();
  const std::size_t at = log.rfind(needle);
  if (at == std::string::npos) return "";
  const std::size_t from = at + needle.size();
  return log.substr(from, log.find('\n', from) - from);
}

// Pre-edits an application was shown, in the order it logged them.
std::vector<std::string> preedits_shown(Session& session, const Target& app) {
  std::vector<std::string> shown;
  std::string_view log = session.application(app).output();
  while (!log.empty()) {
    const std::string_view line = log.substr(0, log.find('\n'));
    log.remove_prefix(std::min(log.size(), line.size() + 1));
    const std::vector<std::string_view> f = split_tabs(line);
    if (f[0] == "state" && f.size() == 7 && !f[5].empty()) shown.push_back(unescape(f[5]));
  }
  return shown;
}

// Two applications side by side, one of them excluded in the configuration: whichever way the focus
// goes, the excluded one gets the keys as typed and the other one gets Vietnamese.
TEST(Scenarios, ExcludedApplicationGetsTheKeysAsTyped) {
  Session::Options o = options(R"({"excluded_apps": ["lmr-excluded"]})");
  o.target = [] { return std::make_unique<TestApp>("normal", "lmr-editor"); };
  Session session(std::move(o));
  Target& editor = session.target();
  // Keys are typed only once the service knows which application has the focus, as a person's would be.
  const auto wait_for_application = [&](const std::string& app_id) {
    session.wait_for("lumaret-wayland to log \"ứng dụng đang dùng: " + app_id + "\"",
                     [&] { return application_in_use(session) == app_id; });
  };
  const auto focus = [&](Target& app, const std::string& app_id) {
    const std::size_t activations = session.service_lines("input method activate");
    const std::size_t enabled = app.enabled();
    session.focus_window(app_id);
    session.wait_for("the input method to be activated in " + app.name(), [&] {
      return session.service_lines("input method activate") > activations && app.enabled() > enabled;
    });
    wait_for_application(app_id);
  };
  // A key passed on reaches the application a moment after the service has logged it.
  const auto wait_for_text = [&](Target& app, const std::string& text) {
    session.wait_for(app.name() + " to hold \"" + text + "\"", [&] { return app.field().text == text; });
  };

  session.start();
  wait_for_application("lmr-editor");
  session.type("vieejt ");
  wait_for_text(editor, "việt ");

  // A new window takes the focus.
  Target& excluded = session.start_second_target(std::make_unique<TestApp>("normal", "lmr-excluded"));
  wait_for_application("lmr-excluded");
  session.type("vieejt ");
  wait_for_text(excluded, "vieejt ");

  focus(editor, "lmr-editor");
  session.type("vieejt ");
  wait_for_text(editor, "việt việt ");
  focus(excluded, "lmr-excluded");
  session.type("ddi ");
  wait_for_text(excluded, "vieejt ddi ");

  EXPECT_EQ(preedits_shown(session, excluded), std::vector<std::string>{})
      << "the excluded application was shown a composition\n"
      << session.report();
  expect_field(session, "việt việt ", "the application that is not excluded");
}

TEST(Scenarios, ConfigurationChangedBetweenWordsAppliesFromTheNextWord) {
  Session session(options());
  session.start();
  session.type("vieetj ");
  session.write_config(R"({"input_method": "vni"})");
  session.type("vie6t5 ");
  EXPECT_EQ(session.text(), "việt việt ") << "VNI from the word after the change\n" << session.report();
  // Changed under a word: that word ends with the typing method it began with.
  session.type("vie");
  session.write_config(R"({"input_method": "telex"})");
  session.type("6t5 vieetj ");
  expect_field(session, "việt việt việt việt ", "Telex again from the word after the change");
}

TEST(Scenarios, CompositorKilledEndsTheServiceWithAnError) {
  Session session(options());
  session.start();
  session.type("xin chaof ");
  session.kill_compositor();
  const int status = session.wait_exit(session.service());
  const std::string log = session.service().output();
  EXPECT_TRUE(WIFEXITED(status)) << "lumaret-wayland " << session.service().state() << "\n" << log;
  EXPECT_EQ(WEXITSTATUS(status), 1) << log;
  EXPECT_NE(log.find("\nlumaret-wayland lỗi: "), std::string::npos) << log;
  // Under the sanitizers a memory error or undefined behaviour counts as a crash too; a leak report at
  // exit does not (it changes neither the status nor the error line).
  for (const char* crash :
       {"ERROR: AddressSanitizer", "runtime error:", "terminate called", "Segmentation"}) {
    EXPECT_EQ(log.find(crash), std::string::npos) << crash << "\n" << log;
  }
}

// --- Keymaps: the compositor echoes our own virtual keyboard's keymap back to the grab -------------------

// CPU time the process has used so far, in clock ticks.
long cpu_ticks(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string content((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  // Fields after the command name, which is in parentheses and may hold blanks.
  std::istringstream rest(content.substr(content.rfind(')') + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int i = 3; rest >> field; ++i) {
    if (i == 14) utime = std::stol(field);
    if (i == 15) {
      stime = std::stol(field);
      break;
    }
  }
  return utime + stime;
}

TEST(Scenarios, NoKeymapFeedbackLoop) {
  constexpr std::size_t MOST_KEYMAPS_WHEN_IDLE = 1;
  constexpr std::size_t MOST_KEYMAPS_IN_ALL = 5;      // a handful: the grab's first, and one per keyboard
  const long most_ticks = sysconf(_SC_CLK_TCK) / 20;  // 50 ms of CPU over two idle seconds
  Session session(options());
  session.start();
  const char* const KEYMAP = "đã nạp keymap";
  for (const char* after : {"start", "typing"}) {
    if (std::string_view(after) == "typing") session.type("Tieengs Vieetj ");
    const std::size_t keymaps = session.service_lines(KEYMAP);
    const long ticks = cpu_ticks(session.service().pid());
    session.observe(2s);
    const std::size_t idle_keymaps = session.service_lines(KEYMAP) - keymaps;
    const long idle_ticks = cpu_ticks(session.service().pid()) - ticks;
    std::cout << "after " << after << ": " << idle_keymaps << " keymaps and " << idle_ticks << " of "
              << sysconf(_SC_CLK_TCK) << " ticks/s CPU over two idle seconds, "
              << session.service_lines(KEYMAP) << " keymaps since the start\n";
    EXPECT_LE(idle_keymaps, MOST_KEYMAPS_WHEN_IDLE) << "after " << after << "\n" << session.report();
    EXPECT_LE(idle_ticks, most_ticks) << "after " << after << "\n" << session.report();
  }
  EXPECT_LE(session.service_lines(KEYMAP), MOST_KEYMAPS_IN_ALL) << session.report();
  expect_field(session, "Tiếng Việt ", "typing between the idle windows");
}

}  // namespace
}  // namespace lumaret::e2e
