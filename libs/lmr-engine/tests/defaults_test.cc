// The default ports: the configuration file on disk, the fixed application identity and the word lists.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "lumaret/engine/config_file.h"
#include "lumaret/engine/defaults.h"
#include "test_config.h"

namespace lumaret::engine {
namespace {

namespace fs = std::filesystem;

// A fresh directory per test, removed afterwards.
class ConfigFile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::path(::testing::TempDir()) / "lumaret-config-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  fs::path path() const { return dir_ / "config.json"; }

  void put(std::string_view bytes) const {
    std::ofstream out(path(), std::ios::binary | std::ios::trunc);
    out << bytes;
  }

  std::string contents() const {
    std::ifstream in(path(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  fs::path dir_;
};

Config customised() {
  Config config = Config::defaults();
  config.input_method = "vni";
  config.macros = {{"vn", "Việt Nam"}, {"q\"", "a\\b\n"}};
  config.app_modes = {{"kitty", false}};
  config.app_profiles["gedit"].wait_ack = true;
  config.schema_version = 7;
  return config;
}

// A save cut short at any byte (a full disk, simulated with a file-size limit in a child process) leaves
// the old file or the new one, and no temporary file.
TEST_F(ConfigFile, InterruptedSaveLeavesOldOrNewFile) {
  Config old_config = Config::defaults();
  old_config.input_method = "viqr";
  JsonFileConfigStore(path()).save(old_config);
  const std::string old_text = contents();
  const std::string new_text = write_config(customised());
  for (const rlim_t limit : {rlim_t{0}, rlim_t{1}, rlim_t{100}, rlim_t{new_text.size() / 2},
                             rlim_t{new_text.size() - 1}, rlim_t{new_text.size()}}) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails instead of ending the process
      const rlimit size_limit{limit, limit};
      ::setrlimit(RLIMIT_FSIZE, &size_limit);
      JsonFileConfigStore(path()).save(customised());
      std::_Exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    const std::string now = contents();
    EXPECT_TRUE(now == old_text || now == new_text) << "limit " << limit << ": " << now.size() << " bytes";
    EXPECT_EQ(now == new_text, limit >= new_text.size()) << "limit " << limit;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1) << "limit " << limit;
    JsonFileConfigStore(path()).save(old_config);
  }
}

TEST_F(ConfigFile, SymlinkStaysALinkToTheUpdatedFile) {
  const fs::path real = dir_ / "real.json";
  std::ofstream(real) << "{}";
  ::chmod(real.c_str(), 0640);
  fs::create_symlink(real, path());
  JsonFileConfigStore(path()).save(customised());
  EXPECT_TRUE(fs::is_symlink(path()));
  EXPECT_EQ(fs::read_symlink(path()), real);
  EXPECT_EQ(JsonFileConfigStore(real).load(), JsonFileConfigStore(path()).load());
  EXPECT_EQ(JsonFileConfigStore(real).load().input_method, "vni");
  struct stat st {};
  ASSERT_EQ(::stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);  // the file keeps its permission bits
}

TEST_F(ConfigFile, WhatIsSavedLoadsBackEqual) {
  JsonFileConfigStore store(path());
  store.save(customised());
  EXPECT_EQ(contents(), write_config(customised()));
  EXPECT_EQ(store.load(), customised());
}

TEST_F(ConfigFile, AnythingWrongWithTheFileGivesTheDefaults) {
  const struct {
    const char* name;
    std::optional<std::string_view> bytes;  // nothing: no file at all
  } cases[] = {
      {"no file", std::nullopt},
      {"an empty file", ""},
      {"not JSON", "spell_check = false"},
      {"a wrong type", R"({"spell_check": "no"})"},
      {"a duplicate key", R"({"w_as_u": true, "w_as_u": true})"},
      {"a tone style in capitals", R"({"tone_style": "New", "w_as_u": true})"},
      {"trailing characters", R"({"w_as_u": true} x)"},
      {"bytes that are not UTF-8", "{\"input_method\": \"vni\xC3\"}"},
      {"Latin-1 text", "{\"input_method\": \"t\xE9lex\"}"},
  };
  for (const auto& c : cases) {
    std::error_code ignored;
    fs::remove(path(), ignored);
    if (c.bytes) put(*c.bytes);
    EXPECT_EQ(JsonFileConfigStore(path()).load(), Config::defaults()) << c.name;
  }
}

TEST_F(ConfigFile, ADirectoryInPlaceOfTheFileGivesTheDefaults) {
  EXPECT_EQ(JsonFileConfigStore(dir_).load(), Config::defaults());
}

TEST_F(ConfigFile, AReadableFileWithoutProfilesAppliesNone) {
  put("{}\n");
  Config expected = Config::defaults();
  expected.app_profiles.clear();
  EXPECT_EQ(JsonFileConfigStore(path()).load(), expected);
}

TEST_F(ConfigFile, SavingIntoAMissingDirectoryLeavesNothingBehind) {
  const fs::path missing = dir_ / "missing";
  JsonFileConfigStore(missing / "config.json").save(customised());
  EXPECT_FALSE(fs::exists(missing));
  EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(ConfigFile, SavingReplacesALongerFileWhole) {
  put(std::string(100'000, ' ') + "garbage");
  JsonFileConfigStore(path()).save(Config::defaults());
  EXPECT_EQ(contents(), write_config(Config::defaults()));
}

TEST_F(ConfigFile, ANewFileGetsReadAndWritePermissionsLessTheUmask) {
  const mode_t previous = ::umask(022);
  JsonFileConfigStore(path()).save(Config::defaults());
  ::umask(previous);
  struct stat status {};
  ASSERT_EQ(::stat(path().c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0644u);
}

volatile std::sig_atomic_t signals_caught = 0;
extern "C" void count_signal(int) {
  signals_caught = signals_caught + 1;
}

// The file is a FIFO whose reader lets the pipe fill up, so the save blocks inside write(); signals then
// interrupt it, without SA_RESTART, once after part of a write and then while nothing has been written.
// Only a writer that carries on after both gets the whole text through.
TEST_F(ConfigFile, SavingCarriesOnWhenASignalInterruptsAWrite) {
  ASSERT_EQ(::mkfifo(path().c_str(), 0600), 0);
  Config config = Config::defaults();
  for (int i = 0; i < 20'000; ++i)
    config.macros["macro" + std::to_string(i)] = std::string(40, 'x');
  const std::string expected = write_config(config);

  struct sigaction action {};
  action.sa_handler = count_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  struct sigaction previous {};
  ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);
  signals_caught = 0;

  const pthread_t saver = ::pthread_self();
  std::string received;
  std::thread reader([&] {
    // Opened without waiting for the writer, so a save that never opens the file fails the test rather
    // than hanging it; the deadline serves the same purpose.
    const int fd = ::open(path().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    const int capacity_bytes = ::fcntl(fd, F_GETPIPE_SZ);
    int queued_bytes = 0;
    for (int signal = 0; signal < 4; ++signal) {
      // A full pipe means the saver is blocked in write() or about to be.
      while (::ioctl(fd, FIONREAD, &queued_bytes) == 0 && queued_bytes < capacity_bytes &&
             std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      ::pthread_kill(saver, SIGUSR1);
    }
    ::fcntl(fd, F_SETFL, 0);
    char buffer[65536];
    while (true) {
      const ssize_t read_bytes = ::read(fd, buffer, sizeof buffer);
      if (read_bytes <= 0) break;
      received.append(buffer, static_cast<std::size_t>(read_bytes));
    }
    ::close(fd);
  });
  JsonFileConfigStore(path()).save(config);
  reader.join();
  ::sigaction(SIGUSR1, &previous, nullptr);

  EXPECT_EQ(signals_caught, 4);
  EXPECT_EQ(received.size(), expected.size());
  EXPECT_TRUE(received == expected);
}

TEST(StaticAppContext, ReportsTheIdentityItWasGiven) {
  EXPECT_EQ(StaticAppContext("org.gnome.Terminal").current_app(), "org.gnome.Terminal");
  EXPECT_EQ(StaticAppContext().current_app(), std::nullopt);
}

TEST(WordListDictionary, KnowsTheBuiltInWordsExactly) {
  const WordListDictionary dictionary = WordListDictionary::defaults();
  const struct {
    std::string_view word;
    bool english;
    bool vietnamese;
  } cases[] = {
      {"a", true, false},  // the first English word
      {"about", true, false},
      {"vs", true, false},
      {"ok", true, false},
      {"https", true, false},
      {"sign", true, false},  // the last one, before the final line feed
      {"không", false, true},
      {"được", false, true},
      {"người", false, true},
      {"tiếng", false, true},
      {"gõ", false, true},
      {"", false, false},     // never a member
      {"The", false, false},  // lookups are case-sensitive
      {"Không", false, false},
      {"signs", false, false},
      {"sign\n", false, false},
      {"a b", false, false},
      {"tie\u0302\u0301ng", false, false},  // the same syllable decomposed
  };
  for (const auto& c : cases) {
    EXPECT_EQ(dictionary.is_english(c.word), c.english) << c.word;
    EXPECT_EQ(dictionary.is_vietnamese(c.word), c.vietnamese) << c.word;
  }
}

}  // namespace
}  // namespace lumaret::engine
