// The configuration file's text form.
//
// Reading streams through nlohmann's SAX parser, which keeps its nesting in a heap-allocated list, so a
// hostile file nested a million levels deep cannot exhaust the stack; values nobody asked for are skipped
// with a depth counter for the same reason. Writing is done by hand because the layout (two spaces, `null`
// for unset profile fields, no final newline) is part of the file's format.
#include <unicode/utf8.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <iterator>
#include <limits>
#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "config_reader.h"
#include "lumaret/engine/config_file.h"

namespace lumaret::engine {
namespace {

using TextMap = std::map<std::string, std::string, std::less<>>;
using BoolMap = std::map<std::string, bool, std::less<>>;
using TextList = std::vector<std::string>;

// ---- The records' fields, in the order they are written and read from an array ----

template <typename Member>
struct Field {
  std::string_view key;
  Member member;
};

using ConfigMember = std::variant<std::string Config::*, ToneStyle Config::*, bool Config::*,
                                  TextMap Config::*, TextList Config::*, BoolMap Config::*,
                                  AppProfiles Config::*, UnicodeForm Config::*, std::uint32_t Config::*>;

constexpr Field<ConfigMember> CONFIG_FIELDS[] = {
    {"input_method", &Config::input_method},
    {"tone_style", &Config::tone_style},
    {"spell_check", &Config::spell_check},
    {"w_as_u", &Config::w_as_u},
    {"bracket_keys", &Config::bracket_keys},
    {"quick_telex", &Config::quick_telex},
    {"allow_coda_k", &Config::allow_coda_k},
    {"macro_enabled", &Config::macro_enabled},
    {"macro_digits", &Config::macro_digits},
    {"macro_undo", &Config::macro_undo},
    {"macro_in_off_mode", &Config::macro_in_off_mode},
    {"macros", &Config::macros},
    {"auto_capitalize", &Config::auto_capitalize},
    {"excluded_apps", &Config::excluded_apps},
    {"app_modes", &Config::app_modes},
    {"default_vietnamese", &Config::default_vietnamese},
    {"edit_previous_word", &Config::edit_previous_word},
    {"app_profiles", &Config::app_profiles},
    {"restore_after_space", &Config::restore_after_space},
    {"smart_caps", &Config::smart_caps},
    {"unicode_form", &Config::unicode_form},
    {"schema_version", &Config::schema_version},
};

using ProfileMember =
    std::variant<std::optional<OutputMode> AppProfile::*, std::uint32_t AppProfile::*, bool AppProfile::*,
                 std::optional<bool> AppProfile::*, std::optional<std::string> AppProfile::*,
                 std::optional<ToneStyle> AppProfile::*>;

constexpr Field<ProfileMember> PROFILE_FIELDS[] = {
    {"output_mode", &AppProfile::output_mode},
    {"backspace_delay_ms", &AppProfile::backspace_delay_ms},
    {"delay_per_char_ms", &AppProfile::delay_per_char_ms},
    {"wait_ack", &AppProfile::wait_ack},
    {"edit_previous_word", &AppProfile::edit_previous_word},
    {"restore_after_space", &AppProfile::restore_after_space},
    {"vietnamese", &AppProfile::vietnamese},
    {"input_method", &AppProfile::input_method},
    {"tone_style", &AppProfile::tone_style},
    {"spell_check", &AppProfile::spell_check},
    {"charset", &AppProfile::charset},
};

using DataMember = std::variant<TextMap AppProfileData::*, AppProfiles AppProfileData::*>;

constexpr Field<DataMember> DATA_FIELDS[] = {
    {"aliases", &AppProfileData::aliases},
    {"profiles", &AppProfileData::profiles},
};

constexpr std::span<const Field<ConfigMember>> fields_of(const Config*) {
  return CONFIG_FIELDS;
}
constexpr std::span<const Field<ProfileMember>> fields_of(const AppProfile*) {
  return PROFILE_FIELDS;
}
constexpr std::span<const Field<DataMember>> fields_of(const AppProfileData*) {
  return DATA_FIELDS;
}

// Only the built-in data requires its fields, and then all of them; elsewhere an absent key keeps its
// default.
template <typename Record>
constexpr bool ALL_FIELDS_REQUIRED = std::is_same_v<Record, AppProfileData>;

constexpr std::size_t field_index(std::span<const Field<ConfigMember>> fields, std::string_view key) {
  std::size_t i = 0;
  while (fields[i].key != key)
    ++i;
  return i;
}
constexpr std::size_t APP_PROFILES_FIELD = field_index(CONFIG_FIELDS, "app_profiles");

// A record has at most 22 fields, so one bit per field fits.
static_assert(std::size(CONFIG_FIELDS) <= 32);

// ---- Enumerations and their exact spellings ----

template <typename Enum>
struct Spelling {
  std::string_view text;
  Enum value;
};

constexpr Spelling<ToneStyle> TONE_STYLES[] = {{"old", ToneStyle::Old}, {"new", ToneStyle::New}};
constexpr Spelling<UnicodeForm> UNICODE_FORMS[] = {{"NFC", UnicodeForm::Nfc}, {"NFD", UnicodeForm::Nfd}};
constexpr Spelling<OutputMode> OUTPUT_MODES[] = {{"preedit", OutputMode::Preedit},
                                                 {"replace", OutputMode::Replace}};

constexpr std::span<const Spelling<ToneStyle>> spellings_of(ToneStyle) {
  return TONE_STYLES;
}
constexpr std::span<const Spelling<UnicodeForm>> spellings_of(UnicodeForm) {
  return UNICODE_FORMS;
}
constexpr std::span<const Spelling<OutputMode>> spellings_of(OutputMode) {
  return OUTPUT_MODES;
}

template <typename Enum>
std::string_view spelling(Enum value) {
  for (const Spelling<Enum>& s : spellings_of(value)) {
    if (s.value == value) return s.text;
  }
  // Only a value cast from outside the enumeration gets here; a readable file beats an unreadable one.
  return spellings_of(value).front().text;
}

// ---- Texts ----

void append_hex_escape(std::string& out, unsigned char byte) {
  constexpr char HEX[] = "0123456789abcdef";
  out += "\\u00";
  out += HEX[byte >> 4];
  out += HEX[byte & 0x0F];
}

// A string as JSON writes it: quote, backslash and control characters escaped, everything else as it is.
// Bytes that are not UTF-8 cannot come from a file; should a caller build such a text, each ill-formed
// sequence becomes U+FFFD so that the file written stays readable.
void append_quoted(std::string& out, std::string_view text) {
  out += '"';
  for (std::size_t at = 0; at < text.size();) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte >= 0x80) {
      const std::size_t start = at;
      UChar32 c;
      U8_NEXT(text.data(), at, text.size(), c);
      if (c < 0) {
        out += "\xEF\xBF\xBD";
      } else {
        out.append(text.substr(start, at - start));
      }
      continue;
    }
    ++at;
    switch (byte) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (byte < 0x20) {
          append_hex_escape(out, byte);
        } else {
          out += static_cast<char>(byte);
        }
    }
  }
  out += '"';
}

// A text from the file shown inside an error description, which must stay on one line.
std::string shown(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20) {
      append_hex_escape(out, byte);
    } else {
      out += c;
    }
  }
  return out;
}

// ---- Where the parser is ----

struct LineColumn {
  std::size_t line = 1;
  std::size_t column = 0;  // bytes of the line read so far
};

// Counted as nlohmann's lexer pulls bytes, one at a time, so a handler callback sees the position just after
// the token that triggered it. The position before the last byte is kept for numbers: the lexer knows a
// number has ended only once it has read the byte after it.
struct Position {
  std::size_t bytes = 0;
  LineColumn now;
  LineColumn before_last;
  char last_byte = 0;

  void consume(char byte) {
    before_last = now;
    last_byte = byte;
    ++bytes;
    if (byte == '\n') {
      ++now.line;
      now.column = 0;
    } else {
      ++now.column;
    }
  }

  // The place of the last byte read: a line feed belongs to the end of its line, not the next one.
  LineColumn last_read() const {
    if (bytes > 0 && last_byte == '\n') return {before_last.line, before_last.column + 1};
    return now;
  }
};

std::string at(LineColumn where) {
  return " at line " + std::to_string(where.line) + " column " + std::to_string(where.column);
}

// The text as the parser's input: it counts every byte the lexer takes.
class CountingIterator {
 public:
  using iterator_category = std::input_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;

  CountingIterator(const char* at, Position* position) : at_(at), position_(position) {}

  reference operator*() const { return *at_; }
  CountingIterator& operator++() {
    position_->consume(*at_);
    ++at_;
    return *this;
  }
  CountingIterator operator++(int) {
    CountingIterator before = *this;
    ++*this;
    return before;
  }
  friend bool operator==(const CountingIterator& a, const CountingIterator& b) { return a.at_ == b.at_; }

 private:
  const char* at_;
  Position* position_;
};

// ---- Values as the parser delivers them ----

struct Null {};
struct Negative {  // any number written with a minus sign and no fraction or exponent
  std::int64_t value;
};
struct Fraction {  // a number written with a fraction or exponent, or too large for 64 bits
  std::string text;
};
using Scalar = std::variant<Null, bool, Negative, std::uint64_t, Fraction, std::string>;

std::string describe(const Scalar& value) {
  struct {
    std::string operator()(Null) const { return "null"; }
    std::string operator()(bool b) const { return b ? "boolean `true`" : "boolean `false`"; }
    std::string operator()(Negative n) const {
      return "integer `" + (n.value == 0 ? std::string("-0") : std::to_string(n.value)) + "`";
    }
    std::string operator()(std::uint64_t n) const { return "integer `" + std::to_string(n) + "`"; }
    std::string operator()(const Fraction& f) const { return "floating point `" + f.text + "`"; }
    std::string operator()(const std::string& s) const { return "string \"" + shown(s) + "\""; }
  } describe_one;
  return std::visit(describe_one, value);
}

// Where a value goes: a field of a record, an entry of a map or list, or nowhere (skipped).
using Slot = std::variant<std::monostate, std::string*, bool*, std::uint32_t*, ToneStyle*, UnicodeForm*,
                          std::optional<OutputMode>*, std::optional<bool>*, std::optional<std::string>*,
                          std::optional<ToneStyle>*, TextMap*, BoolMap*, TextList*, AppProfiles*, AppProfile*,
                          Config*, AppProfileData*>;

template <typename T>
constexpr bool IS_RECORD =
    std::is_same_v<T, Config> || std::is_same_v<T, AppProfile> || std::is_same_v<T, AppProfileData>;
template <typename T>
constexpr bool IS_MAP =
    std::is_same_v<T, TextMap> || std::is_same_v<T, BoolMap> || std::is_same_v<T, AppProfiles>;
template <typename T>
constexpr bool IS_LIST = std::is_same_v<T, TextList>;

template <typename Enum>
std::string expected_spellings() {
  const auto all = spellings_of(Enum{});
  return "`" + std::string(all[0].text) + "` or `" + std::string(all[1].text) + "`";
}

template <typename T>
constexpr bool IS_OPTIONAL = false;
template <typename T>
constexpr bool IS_OPTIONAL<std::optional<T>> = true;

// What a slot accepts, for error descriptions.
template <typename T>
std::string expected(const T*) {
  if constexpr (IS_OPTIONAL<T>) {
    return expected(static_cast<const typename T::value_type*>(nullptr)) + " or null";
  } else if constexpr (std::is_enum_v<T>) {
    return expected_spellings<T>();
  } else if constexpr (std::is_same_v<T, std::string>) {
    return "a string";
  } else if constexpr (std::is_same_v<T, bool>) {
    return "a boolean";
  } else if constexpr (std::is_same_v<T, std::uint32_t>) {
    return "an unsigned 32-bit integer";
  } else if constexpr (std::is_same_v<T, TextMap>) {
    return "a map of strings";
  } else if constexpr (std::is_same_v<T, BoolMap>) {
    return "a map of booleans";
  } else if constexpr (std::is_same_v<T, AppProfiles>) {
    return "a map of application profiles";
  } else if constexpr (std::is_same_v<T, TextList>) {
    return "a list of strings";
  } else if constexpr (std::is_same_v<T, AppProfile>) {
    return "an application profile";
  } else if constexpr (std::is_same_v<T, Config>) {
    return "a configuration object";
  } else {
    static_assert(std::is_same_v<T, AppProfileData>);
    return "the built-in profile data";
  }
}

template <typename T>
std::string invalid_type(const Scalar& value, const T* target) {
  return "invalid type: " + describe(value) + ", expected " + expected(target);
}

// Stores one scalar value; the result is what was wrong with it, if anything.
using Problem = std::optional<std::string>;

template <typename T>
Problem assign(T* target, Scalar& value) {
  if constexpr (IS_OPTIONAL<T>) {
    if (std::holds_alternative<Null>(value)) {
      target->reset();
      return std::nullopt;
    }
    typename T::value_type read{};
    if (Problem problem = assign(&read, value)) return problem;
    *target = std::move(read);
  } else if constexpr (std::is_same_v<T, std::string> || std::is_same_v<T, bool>) {
    T* given = std::get_if<T>(&value);
    if (given == nullptr) return invalid_type(value, target);
    *target = std::move(*given);
  } else if constexpr (std::is_same_v<T, std::uint32_t>) {
    const std::uint64_t* number = std::get_if<std::uint64_t>(&value);
    if (number == nullptr && !std::holds_alternative<Negative>(value)) return invalid_type(value, target);
    if (number == nullptr || *number > std::numeric_limits<std::uint32_t>::max()) {
      return "invalid value: " + describe(value) + ", expected " + expected(target);
    }
    *target = static_cast<std::uint32_t>(*number);
  } else if constexpr (std::is_enum_v<T>) {
    const std::string* text = std::get_if<std::string>(&value);
    if (text == nullptr) return invalid_type(value, target);
    const auto all = spellings_of(T{});
    const auto found = std::find_if(all.begin(), all.end(), [&](const auto& s) { return s.text == *text; });
    if (found == all.end()) return "unknown variant `" + shown(*text) + "`, expected " + expected(target);
    *target = found->value;
  } else {
    return invalid_type(value, target);  // a record, map or list where a single value stands
  }
  return std::nullopt;
}

template <typename Record, typename Member>
Slot slot_of(Record* record, const Member& member) {
  return std::visit([record](auto field) -> Slot { return &(record->*field); }, member);
}

// The built-in profiles with the entries read laid over them: an entry replaces a built-in one whole.
AppProfiles over_builtins(AppProfiles read) {
  AppProfiles builtins = app_profile_data().profiles;
  read.merge(builtins);  // moves over only the built-in keys the file does not name
  return read;
}

// ---- The SAX handler ----

class Reader {
 public:
  Reader(Slot root, Position& position) : root_(root), position_(position) {}

  const std::optional<std::string>& error() const { return error_; }

  bool null() { return scalar(Null{}, false); }
  bool boolean(bool value) { return scalar(value, false); }
  bool number_integer(std::int64_t value) { return scalar(Negative{value}, true); }
  bool number_unsigned(std::uint64_t value) { return scalar(value, true); }
  bool number_float(double, const std::string& text) { return scalar(Fraction{text}, true); }
  bool string(std::string& value) { return scalar(std::move(value), false); }
  bool binary(nlohmann::json::binary_t&) { return fail("unexpected binary value", false); }
  bool start_object(std::size_t) { return open(false); }
  bool start_array(std::size_t) { return open(true); }
  bool end_object() { return close(); }
  bool end_array() { return close(); }
  bool key(std::string& name);
  bool parse_error(std::size_t byte, const std::string& last_token, const nlohmann::json::exception& error);

 private:
  // A record, map or list being filled.
  struct Frame {
    Slot owner;
    bool in_array = false;       // a record given as an array of its fields in order
    std::size_t next_field = 0;  // in an array: the field the next element fills
    std::uint32_t seen = 0;      // one bit per field already read
    Slot pending;                // in an object: where the value after the last key goes
  };

  bool scalar(Scalar value, bool number);
  bool open(bool array);
  bool close();
  bool take_slot(Slot& slot, bool number);
  template <typename Record>
  bool finish(Record* record, std::uint32_t seen);
  bool fail(std::string message, bool number);

  Slot root_;
  Position& position_;
  std::vector<Frame> frames_;
  std::size_t skip_depth_ = 0;  // nesting inside a value being skipped
  std::optional<std::string> error_;
};

bool Reader::take_slot(Slot& slot, bool number) {
  if (frames_.empty()) {
    slot = root_;
    return true;
  }
  Frame& top = frames_.back();
  return std::visit(
      [&](auto owner) -> bool {
        using T = std::remove_pointer_t<decltype(owner)>;
        if constexpr (IS_LIST<T>) {
          owner->emplace_back();
          slot = &owner->back();
        } else if constexpr (IS_RECORD<T>) {
          if (!top.in_array) {
            slot = top.pending;
            return true;
          }
          const auto fields = fields_of(owner);
          if (top.next_field >= fields.size()) {
            return fail("invalid length: expected at most " + std::to_string(fields.size()) + " elements",
                        number);
          }
          top.seen |= 1u << top.next_field;
          slot = slot_of(owner, fields[top.next_field++].member);
        } else {
          slot = top.pending;
        }
        return true;
      },
      top.owner);
}

bool Reader::scalar(Scalar value, bool number) {
  if (skip_depth_ > 0) return true;
  Slot slot;
  if (!take_slot(slot, number)) return false;
  Problem problem = std::visit(
      [&](auto target) -> Problem {
        if constexpr (std::is_same_v<decltype(target), std::monostate>) {
          return std::nullopt;  // the value of an unknown member
        } else {
          return assign(target, value);
        }
      },
      slot);
  if (problem) return fail(std::move(*problem), number);
  return true;
}

bool Reader::open(bool array) {
  if (skip_depth_ > 0) {
    ++skip_depth_;
    return true;
  }
  Slot slot;
  if (!take_slot(slot, false)) return false;
  return std::visit(
      [&](auto target) -> bool {
        using P = decltype(target);
        if constexpr (std::is_same_v<P, std::monostate>) {
          skip_depth_ = 1;  // the value of an unknown member
          return true;
        } else {
          using T = std::remove_pointer_t<P>;
          if (IS_RECORD<T> || (IS_MAP<T> && !array) || (IS_LIST<T> && array)) {
            Frame frame;
            frame.owner = target;
            frame.in_array = array;
            frames_.push_back(frame);
            return true;
          }
          return fail(
              std::string("invalid type: ") + (array ? "sequence" : "map") + ", expected " + expected(target),
              false);
        }
      },
      slot);
}

bool Reader::key(std::string& name) {
  if (skip_depth_ > 0) return true;
  Frame& top = frames_.back();
  return std::visit(
      [&](auto owner) -> bool {
        using T = std::remove_pointer_t<decltype(owner)>;
        if constexpr (IS_RECORD<T>) {
          const auto fields = fields_of(owner);
          for (std::size_t i = 0; i < fields.size(); ++i) {
            if (fields[i].key != name) continue;
            if ((top.seen & (1u << i)) != 0) return fail("duplicate field `" + name + "`", false);
            top.seen |= 1u << i;
            top.pending = slot_of(owner, fields[i].member);
            return true;
          }
          top.pending = std::monostate{};
        } else if constexpr (IS_MAP<T>) {
          // A repeated name is no error in a map: the later value replaces the earlier one whole.
          const auto entry = owner->insert_or_assign(std::move(name), typename T::mapped_type{}).first;
          top.pending = &entry->second;
        }
        return true;
      },
      top.owner);
}

template <typename Record>
bool Reader::finish(Record* record, std::uint32_t seen) {
  if constexpr (std::is_same_v<Record, Config>) {
    // Without the key a file applies no profiles at all; with it, the built-in ones come back underneath.
    if ((seen & (1u << APP_PROFILES_FIELD)) != 0)
      record->app_profiles = over_builtins(std::move(record->app_profiles));
  }
  if constexpr (ALL_FIELDS_REQUIRED<Record>) {
    const auto fields = fields_of(record);
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if ((seen & (1u << i)) == 0) return fail("missing field `" + std::string(fields[i].key) + "`", false);
    }
  }
  return true;
}

bool Reader::close() {
  if (skip_depth_ > 0) {
    --skip_depth_;
    return true;
  }
  const Frame top = frames_.back();
  frames_.pop_back();
  return std::visit(
      [&](auto owner) -> bool {
        using T = std::remove_pointer_t<decltype(owner)>;
        if constexpr (IS_RECORD<T>) return finish(owner, top.seen);
        return true;
      },
      top.owner);
}

bool Reader::fail(std::string message, bool number) {
  const bool looked_past =
      number && position_.bytes > 0 && (position_.last_byte < '0' || position_.last_byte > '9');
  error_ = std::move(message) + at(looked_past ? position_.before_last : position_.last_read());
  return false;
}

bool Reader::parse_error(std::size_t byte, const std::string& last_token,
                         const nlohmann::json::exception& error) {
  // nlohmann's text reads "[json.exception.parse_error.101] parse error at line 1, column 2: <what>";
  // the position is given again below, in the same words as the handler's own errors.
  std::string what = error.what();
  if (const std::size_t id_end = what.find("] "); id_end != std::string::npos) what.erase(0, id_end + 2);
  if (what.starts_with("parse error")) {
    if (const std::size_t colon = what.find(": "); colon != std::string::npos) what.erase(0, colon + 2);
  }
  // The bytes last read may be a broken sequence, which has no place in a one-line description.
  const std::string last_read = "; last read: '" + last_token + "'";
  if (const std::size_t found = what.find(last_read); found != std::string::npos)
    what.erase(found, last_read.size());
  // The lexer's position is one byte behind ours when it has put back the byte after a number.
  error_ = what + at(byte < position_.bytes ? position_.before_last : position_.last_read());
  return false;
}

// Reads a whole text into the root slot by the rules above; only white space may follow the value.
std::optional<ConfigError> read_into(std::string_view text, Slot root) {
  if (text.starts_with("\xEF\xBB\xBF"))
    return ConfigError{"expected value, found a byte order mark at line 1 column 1"};
  Position position;
  Reader reader(root, position);
  try {
    const CountingIterator first(text.data(), &position);
    const CountingIterator last(text.data() + text.size(), &position);
    if (!nlohmann::json::sax_parse(first, last, &reader, nlohmann::json::input_format_t::json,
                                   /*strict=*/false)) {
      return ConfigError{reader.error().value_or("invalid JSON")};
    }
  } catch (const std::exception& e) {
    // Malformed text is reported through parse_error; only running out of memory throws here.
    return ConfigError{std::string("cannot read the text: ") + e.what()};
  }
  for (std::size_t i = position.bytes; i < text.size(); ++i) {
    const char byte = text[i];
    position.consume(byte);
    if (byte != ' ' && byte != '\t' && byte != '\n' && byte != '\r') {
      return ConfigError{"trailing characters" + at(position.now)};
    }
  }
  return std::nullopt;
}

// ---- The writer ----

class Writer {
 public:
  std::string take() && { return std::move(text_); }

  void value(const std::string& text) { append_quoted(text_, text); }
  void value(bool flag) { text_ += flag ? "true" : "false"; }
  void value(std::uint32_t number) { text_ += std::to_string(number); }
  void value(ToneStyle style) { append_quoted(text_, spelling(style)); }
  void value(UnicodeForm form) { append_quoted(text_, spelling(form)); }
  void value(OutputMode mode) { append_quoted(text_, spelling(mode)); }
  void value(const AppProfile& profile) { record(profile); }
  void value(const Config& config) { record(config); }

  template <typename T>
  void value(const std::optional<T>& optional) {
    if (optional) {
      value(*optional);
    } else {
      text_ += "null";
    }
  }

  void value(const TextList& list) {
    items('[', ']', list, [&](const std::string& text) { value(text); });
  }

  template <typename V>
  void value(const std::map<std::string, V, std::less<>>& map) {
    items('{', '}', map, [&](const auto& entry) {
      key(entry.first);
      value(entry.second);
    });
  }

 private:
  template <typename Record>
  void record(const Record& r) {
    items('{', '}', fields_of(&r), [&](const auto& field) {
      key(field.key);
      std::visit([&](auto member) { value(r.*member); }, field.member);
    });
  }

  void key(std::string_view name) {
    append_quoted(text_, name);
    text_ += ": ";
  }

  // Each member or element on its own line, one level deeper; an empty container stays on one line.
  template <typename Range, typename WriteOne>
  void items(char open, char close, const Range& range, WriteOne write_one) {
    text_ += open;
    bool first = true;
    ++depth_;
    for (const auto& item : range) {
      text_ += first ? "\n" : ",\n";
      first = false;
      text_.append(2 * depth_, ' ');
      write_one(item);
    }
    --depth_;
    if (!first) {
      text_ += '\n';
      text_.append(2 * depth_, ' ');
    }
    text_ += close;
  }

  std::string text_;
  std::size_t depth_ = 0;
};

}  // namespace

Config Config::defaults() {
  Config config;
  config.app_profiles = app_profile_data().profiles;
  return config;
}

std::variant<Config, ConfigError> read_config(std::string_view text) {
  Config config;  // the defaults, but with no profiles: a file without `app_profiles` applies none
  if (std::optional<ConfigError> error = read_into(text, &config)) return *std::move(error);
  return config;
}

std::variant<AppProfiles, ConfigError> deserialize_app_profiles(std::string_view json_value) {
  AppProfiles read;
  if (std::optional<ConfigError> error = read_into(json_value, &read)) return *std::move(error);
  return over_builtins(std::move(read));
}

std::string write_config(const Config& config) {
  Writer writer;
  writer.value(config);
  return std::move(writer).take();
}

namespace internal {

std::variant<AppProfileData, ConfigError> read_app_profile_data(std::string_view text) {
  AppProfileData data;
  if (std::optional<ConfigError> error = read_into(text, &data)) return *std::move(error);
  return data;
}

}  // namespace internal
}  // namespace lumaret::engine
