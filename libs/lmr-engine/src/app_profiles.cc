// The built-in application profiles and the normalisation of application identifiers.
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>

#include "config_reader.h"
#include "lumaret/engine/ports.h"

namespace lumaret::engine {
namespace {

// Terminals get pre-edit output and keep their previous words alone (their surrounding text cannot be
// trusted); browsers get a per-character delay with acknowledgement; one game gets no Vietnamese at all.
// Aliases map a second identifier of an application onto the one its profile is kept under.
constexpr std::string_view BUILTIN_PROFILES = R"json({"aliases":{
"code-url-handler":"code",
"gnome-terminal-server":"gnome-terminal",
"google-chrome":"chrome",
"google-chrome-beta":"chrome",
"google-chrome-stable":"chrome",
"microsoft-edge":"msedge",
"microsoft-edge-stable":"msedge",
"soffice.bin":"libreoffice",
"vscode":"code"},
"profiles":{
"alacritty":{"output_mode":"preedit","edit_previous_word":false},
"brave":{"delay_per_char_ms":2,"wait_ack":true},
"chrome":{"delay_per_char_ms":2,"wait_ack":true},
"chromium":{"delay_per_char_ms":2,"wait_ack":true},
"code":{"output_mode":"preedit","backspace_delay_ms":3},
"discord":{"output_mode":"preedit","backspace_delay_ms":3},
"firefox":{"output_mode":"preedit","backspace_delay_ms":4,"edit_previous_word":false},
"gnome-terminal":{"output_mode":"preedit","edit_previous_word":false,"restore_after_space":false},
"iterm2":{"output_mode":"preedit","edit_previous_word":false},
"kitty":{"output_mode":"preedit","edit_previous_word":false},
"konsole":{"output_mode":"preedit","edit_previous_word":false,"restore_after_space":false},
"minecraft":{"vietnamese":false},
"msedge":{"delay_per_char_ms":2,"wait_ack":true},
"notion":{"output_mode":"preedit","backspace_delay_ms":5},
"ptyxis":{"output_mode":"preedit","edit_previous_word":false,"restore_after_space":false},
"rxvt":{"output_mode":"preedit","edit_previous_word":false,"restore_after_space":false},
"slack":{"output_mode":"preedit","backspace_delay_ms":3},
"terminal":{"output_mode":"preedit","edit_previous_word":false},
"terminator":{"output_mode":"preedit","edit_previous_word":false,"restore_after_space":false},
"tilix":{"output_mode":"preedit","edit_previous_word":false,"restore_after_space":false},
"urxvt":{"output_mode":"preedit","edit_previous_word":false,"restore_after_space":false},
"wezterm":{"output_mode":"preedit","edit_previous_word":false},
"windowsterminal":{"output_mode":"preedit","edit_previous_word":false},
"xfce4-terminal":{"output_mode":"preedit","edit_previous_word":false,"restore_after_space":false},
"xterm":{"output_mode":"preedit","edit_previous_word":false,"restore_after_space":false}}})json";

AppProfileData parse_builtin_profiles() {
  std::variant<AppProfileData, ConfigError> read = internal::read_app_profile_data(BUILTIN_PROFILES);
  if (AppProfileData* data = std::get_if<AppProfileData>(&read)) return std::move(*data);
  // Only a damaged build gets here; there is nothing sensible to carry on with.
  std::fputs("app_profiles.json không hợp lệ\n", stderr);
  std::abort();
}

// Suffixes a platform may leave on an identifier, removed in this order, each at most once.
bool remove_suffix(std::string& text, std::string_view suffix) {
  if (!text.ends_with(suffix)) return false;
  text.resize(text.size() - suffix.size());
  return true;
}

bool is_white_space(UChar32 c) {
  return u_isUWhiteSpace(c) != 0;
}

// The identifier with Unicode white space trimmed off both ends and fully lowercased.
std::string trimmed_lowercase(std::string_view app_id) {
  const icu::UnicodeString text =
      icu::UnicodeString::fromUTF8(icu::StringPiece(app_id.data(), static_cast<std::int32_t>(app_id.size())));
  std::int32_t start = 0;
  std::int32_t end = text.length();
  while (start < end && is_white_space(text.char32At(start)))
    start = text.moveIndex32(start, 1);
  while (end > start) {
    const std::int32_t before = text.moveIndex32(end, -1);
    if (!is_white_space(text.char32At(before))) break;
    end = before;
  }
  icu::UnicodeString inner(text, start, end - start);
  inner.toLower(icu::Locale::getRoot());
  std::string out;
  inner.toUTF8String(out);
  return out;
}

}  // namespace

const AppProfileData& app_profile_data() {
  static const AppProfileData data = parse_builtin_profiles();
  return data;
}

std::string normalize_app_id(std::optional<std::string_view> app_id) {
  if (!app_id) return {};
  std::string id = trimmed_lowercase(*app_id);

  // Paths, from either kind of system: only the last component names the application.
  for (char& c : id) {
    if (c == '\\') c = '/';
  }
  if (const std::size_t slash = id.rfind('/'); slash != std::string::npos) id.erase(0, slash + 1);

  if (remove_suffix(id, ".exe") && id.empty()) return {};  // ".exe" alone names nothing
  remove_suffix(id, ".app");
  remove_suffix(id, ".desktop");

  // Instance numbers and the like follow a colon.
  if (const std::size_t colon = id.find(':'); colon != std::string::npos) id.resize(colon);

  // Reverse-domain identifiers keep their last component.
  const std::string_view head = std::string_view(id).substr(0, id.find('.'));
  if (head == "io" || head == "com" || head == "org" || head == "net" || head == "app") {
    if (const std::size_t dot = id.rfind('.'); dot != std::string::npos) id.erase(0, dot + 1);
  }

  const auto& aliases = app_profile_data().aliases;
  if (const auto alias = aliases.find(id); alias != aliases.end()) return alias->second;
  return id;
}

}  // namespace lumaret::engine
