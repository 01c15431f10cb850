// The engine's records and its ports to the outside world: the configuration and per-application
// profiles, the field kind the frontend reports, and the four small interfaces the session calls.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lumaret/syllable/letters.h"

namespace lumaret::engine {

using syllable::ToneStyle;

// How an application wants text delivered; kept with a profile and written back, nothing acts on it.
enum class OutputMode : std::uint8_t { Preedit = 0, Replace = 1 };

// The normalisation form of every text the engine hands out.
enum class UnicodeForm : std::uint8_t { Nfc = 0, Nfd = 1 };

// The kind of the focused text field, derived by the frontend from the content type.
enum class FieldKind : std::uint8_t {
  Normal = 0,
  Password = 1,
  Numeric = 2,
  Email = 3,
  Url = 4,
  Terminal = 5
};

// Per-application overrides. Unset optionals leave the configuration's value in force.
struct AppProfile {
  std::optional<OutputMode> output_mode;
  std::uint32_t backspace_delay_ms = 0;
  std::uint32_t delay_per_char_ms = 0;
  bool wait_ack = false;
  std::optional<bool> edit_previous_word;
  std::optional<bool> restore_after_space;
  std::optional<bool> vietnamese;
  std::optional<std::string> input_method;
  std::optional<ToneStyle> tone_style;
  std::optional<bool> spell_check;
  std::optional<std::string> charset;

  friend bool operator==(const AppProfile&, const AppProfile&) = default;
};

using AppProfiles = std::map<std::string, AppProfile, std::less<>>;

// The whole configuration, in the order its keys are written to the file.
struct Config {
  std::string input_method = "telex";
  ToneStyle tone_style = ToneStyle::New;
  bool spell_check = true;
  bool w_as_u = false;
  bool bracket_keys = false;
  bool quick_telex = false;
  bool allow_coda_k = false;
  bool macro_enabled = true;
  bool macro_digits = false;
  bool macro_undo = true;
  bool macro_in_off_mode = false;
  std::map<std::string, std::string, std::less<>> macros;
  bool auto_capitalize = false;
  std::vector<std::string> excluded_apps;
  std::map<std::string, bool, std::less<>> app_modes;
  bool default_vietnamese = true;
  bool edit_previous_word = true;
  AppProfiles app_profiles;  // default() fills in the built-in profiles
  bool restore_after_space = true;
  bool smart_caps = false;
  UnicodeForm unicode_form = UnicodeForm::Nfc;
  std::uint32_t schema_version = 1;

  // The default configuration, with a fresh copy of the built-in profiles.
  static Config defaults();

  friend bool operator==(const Config&, const Config&) = default;
};

// The built-in per-application data shipped inside the program.
struct AppProfileData {
  std::map<std::string, std::string, std::less<>> aliases;
  AppProfiles profiles;
};

// The process-wide built-in data, parsed once on first use.
const AppProfileData& app_profile_data();

// Turns a platform's application identifier into the key profiles and remembered states are stored under.
std::string normalize_app_id(std::optional<std::string_view> app_id);

// Persistence of the configuration. Loading never fails; saving swallows failures.
class ConfigStore {
 public:
  virtual ~ConfigStore() = default;
  virtual Config load() = 0;
  virtual void save(const Config& config) = 0;
};

// Which application has the focus, as the platform reports it (not normalised).
class AppContext {
 public:
  virtual ~AppContext() = default;
  virtual std::optional<std::string> current_app() = 0;
};

// The application's text before the cursor, as far as the frontend knows it.
class SurroundingText {
 public:
  virtual ~SurroundingText() = default;
  // The last `max_chars` characters before the cursor (all when shorter); nothing when unknown.
  virtual std::optional<std::string> before_cursor(std::uint32_t max_chars) = 0;
  // True while the application has not yet answered a key sent on to it: what is known of its text may
  // be out of date, so a word standing there must not be edited.
  virtual bool awaiting_answer() const { return false; }
};

// Word lists; callers lowercase the word first.
class Dictionary {
 public:
  virtual ~Dictionary() = default;
  virtual bool is_english(std::string_view word) const = 0;
  virtual bool is_vietnamese(std::string_view word) const = 0;
};

}  // namespace lumaret::engine
