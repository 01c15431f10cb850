// The built lumaret-type on tables of input lines: what a user pipes in and what the field then holds.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

struct Outcome {
  std::string out;
  std::string err;
  int status = -1;
};

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class Tool : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("lumaret-type-test-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string config(const std::string& json) {
    const std::filesystem::path path = dir_ / "config.json";
    std::ofstream(path, std::ios::binary) << json;
    return "--config " + path.string();
  }

  Outcome run(const std::string& args, const std::string& input) {
    const std::filesystem::path in = dir_ / "in", out = dir_ / "out", err = dir_ / "err";
    std::ofstream(in, std::ios::binary) << input;
    const std::string command = std::string(LUMARET_TYPE) + " " + args + " <" + in.string() + " >" +
                                out.string() + " 2>" + err.string();
    const int raw = std::system(command.c_str());
    return {read_file(out), read_file(err), WIFEXITED(raw) ? WEXITSTATUS(raw) : -1};
  }

  struct Line {
    const char* keys;
    const char* text;
  };

  // Pipes all lines in one run and compares each output line.
  void expect_lines(const std::string& args, std::initializer_list<Line> lines) {
    std::string input;
    for (const Line& l : lines)
      input += std::string(l.keys) + "\n";
    const Outcome r = run(args, input);
    EXPECT_EQ(r.status, 0) << r.err;
    std::istringstream got(r.out);
    std::string line;
    for (const Line& l : lines) {
      std::getline(got, line);
      EXPECT_EQ(line, l.text) << "keys: " << l.keys << " (" << args << ")";
    }
  }

  std::filesystem::path dir_;
};

TEST_F(Tool, TypesTheDefaultConfiguration) {
  expect_lines("", {
                       {"vieets ", "viết "},
                       {"Vieejt Nam ", "Việt Nam "},
                       {"xin chaof cacs banj!", "xin chào các bạn!"},
                       {"text server ", "text server "},      // English words come back as typed
                       {"vieet<Esc>", "vieet"},               // Escape gives the keys
                       {"vieets<Enter>", "viết\\n"},          // Enter commits and goes on
                       {"ddi<A-,>ddi<A-,> ddi", "điddi đi"},  // the switch key
                       {"vieet<BS>ts ", "viết "},             // Backspace inside a word
                       {"ban <BS>f ", "bàn "},                // Backspace after a word takes it up
                       {"xin chao <click:3>f", "xìn chao "},  // typing right after a word edits it
                       {"hoa<Left>f", "hofa"},                // inside a word nothing is edited
                       {"as<Tab>a\\b", "á\\ta\\\\b"},         // tab and backslash are escaped
                       {"<lt>b>", "<b>"},
                       {"", ""},
                       {"abc.as", "abc.as"},  // after a dot words stay as typed
                       {"<C-a>x", "x"},       // shortcuts reach the application
                       {"tieengs vieejt<Home>x", "xtiếng việt"},
                   });
}

// Editing a word that already stands in the application changes that word and nothing else, however
// the user moves around, holds keys or selects, and however the application reports its text.
TEST_F(Tool, EditingInPlaceLeavesTheUsersTextAlone) {
  expect_lines("", {
                       // After a click elsewhere the word there is edited, not the one edited before.
                       {"xin chao ban <click:8>f<click:12>s", "xin chào bán "},
                       // A word in place is not edited after a longer word that merely ends like it.
                       {"boo<Esc> bo <BS><click:3>o", "booo bo"},
                       // Nor after the space that follows it.
                       {"an <click:2>f<click:3>s", "àn s"},
                       // A held Backspace deleted the word taken up; the next keys type a new word.
                       {"xin chao ban <BS><repeat:8>ddi ", "xin đi "},
                       // Typing over a selection replaces it; the selected word is not taken up.
                       {"ban <select:0,3>tooi", "tôi "},
                       // Escape on a word taken up keeps the text it had, then the keys typed since.
                       {"vieetj <BS>s<Esc>", "việts"},
                       // The first word is edited as itself, not as an earlier form of the second.
                       {"ban ban <BS>s<click:3>f", "bàn bán"},
                   });
  // A terminal reports no text: the word standing there is left as it stands, never written twice.
  expect_lines("--no-surrounding", {{"ban <BS><BS>", "ba"}, {"ban <BS>s", "bans"}});
  // Reports one key late: an edit may be given up, and the key then arrives as typed.
  expect_lines("--lag", {
                            {"ban<Enter>s", "ban\\ns"},
                            {"ban<Left><Left>s", "bsan"},
                            {"ban <BS>s", "bans"},
                            // A late report of the text before our own edit does not undo it.
                            {"ban<Esc>sf", "bàn"},
                            {"xin chao ban <BS><repeat:8>ddi ", "xin đi "},
                            {"xin chao ban <click:8>f<click:12>s", "xin chào bán "},
                        });
  // What a word shows is what it commits, also for a VNI word taken up again.
  expect_lines(config(R"({"input_method": "vni"})"), {{"ban1 <BS>1 ", "bán1 "}});
}

TEST_F(Tool, ReadsTheConfigurationOnce) {
  const std::string vni = config(R"({"input_method": "vni", "macros": {"ko": "không"}})");
  expect_lines(vni, {
                        {"Vie65t Nam ", "Việt Nam "},
                        {"ko Ko KO ", "không Không KHÔNG "},
                        {"a11 ", "a1 "},
                    });
  const std::string nfd = config(R"({"unicode_form": "NFD", "auto_capitalize": true})");
  expect_lines(nfd, {{"vieets. vieets", "vie\xcc\x82\xcc\x81t. Vie\xcc\x82\xcc\x81t"}});
}

TEST_F(Tool, ReadmeSentenceInEveryMethod) {
  const char* sentence = "Tiếng Việt có dấu, gõ thật nhanh";
  expect_lines("", {{"Tieengs Vieejt cos daaus, gox thaajt nhanh", sentence}});
  expect_lines(config(R"({"input_method": "vni"})"),
               {{"Tie61ng Vie65t co1 da61u, go4 tha65t nhanh", sentence}});
  expect_lines(config(R"({"input_method": "viqr"})"),
               {{"Tie^'ng Vie^.t co' da^'u, go~ tha^.t nhanh", sentence}});
}

TEST_F(Tool, RefusesMalformedKeys) {
  const Outcome r = run("", "ok \nab<Bogus>c\nvieets \n");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "ok \nviết \n");  // nothing for the bad line
  EXPECT_NE(r.err.find("dòng 2, cột 3"), std::string::npos) << r.err;
  const Outcome repeat = run("", "a<repeat:x>\n");
  EXPECT_EQ(repeat.status, 2);
  EXPECT_NE(repeat.err.find("dòng 1, cột 2: repeat cần một số"), std::string::npos) << repeat.err;
}

TEST_F(Tool, CommandLine) {
  const Outcome help = run("--help", "");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("lumaret-type [--config PATH] [--trace]"), std::string::npos);
  EXPECT_NE(help.out.find("<repeat:N>"), std::string::npos);
  EXPECT_EQ(run("--bogus", "").status, 2);
}

TEST_F(Tool, TraceShowsKeysAndRequests) {
  const Outcome r = run("--trace", "as <BS>\n");
  EXPECT_EQ(r.out, "á\n");
  EXPECT_NE(r.err.find("key a\n  preedit \"a\" caret 1\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("commit \"á \""), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("forward <BS>"), std::string::npos) << r.err;
}

}  // namespace
