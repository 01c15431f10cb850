// lumaret-type: types lines of keys through the real engine and output controller into a simulated text
// field, and prints what the field ends up holding. For trying settings without a compositor, for bug
// reports (--trace) and for our own tests and benchmarks.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "held_key.h"
#include "lumaret/core/utf8.h"
#include "lumaret/engine/defaults.h"
#include "lumaret/engine/notation.h"
#include "lumaret/engine/session.h"
#include "lumaret/wayland/controller.h"
#include "simulated_app.h"

namespace lumaret::type {
namespace {

constexpr std::string_view HELP =
    "Cách dùng: lumaret-type [--config PATH] [--trace] [--no-surrounding] [--lag]\n"
    "\n"
    "Gõ thử bộ gõ Lumaret không cần compositor. Mỗi dòng đọc từ stdin là một lần gõ độc lập\n"
    "(phiên mới, ô nhập trống); sau các phím, ô nhập mất focus (từ đang gõ được commit) và một\n"
    "dòng được in ra: nội dung cuối của ô nhập, với xuống dòng viết \\n, tab \\t, gạch chéo ngược \\\\.\n"
    "\n"
    "Phím: ký tự in được là chính nó. Phím có tên: <BS> <Enter> <Esc> <Tab> <Left> <Right> <Up>\n"
    "<Down> <Home> <End> <Del> <PgUp> <PgDn> <Shift>; giữ phím: <C-x> (Control), <A-x> (Alt),\n"
    "<M-x> (Super), ví dụ <A-,> là phím bật/tắt; <lt> là dấu '<'.\n"
    "Ứng dụng: <click:N> đặt con trỏ trước ký tự thứ N (đếm từ 0), <select:A,B> chọn ký tự A..B,\n"
    "<repeat:N> ngay sau một phím: giữ phím đó, ứng dụng tự lặp nó N lần (bộ gõ không thấy).\n"
    "\n"
    "Tùy chọn:\n"
    "  --config PATH      đọc cấu hình từ PATH (một lần, lúc bắt đầu); mặc định: cấu hình mặc định\n"
    "  --trace            in ra stderr từng phím và các yêu cầu nó tạo (preedit, commit, delete, forward)\n"
    "  --no-surrounding   ứng dụng không báo văn bản quanh con trỏ (như terminal)\n"
    "  --lag              ứng dụng báo văn bản trễ một phím (click và chọn được báo ngay)\n"
    "  -h, --help         in trợ giúp này\n"
    "\n"
    "Ví dụ: printf 'vieets \\n' | lumaret-type   in ra: viết \n"
    "Mã thoát: 0 khi ổn; 2 khi dòng lệnh hoặc một dòng phím sai (dòng đó không được in).\n";

struct Options {
  std::optional<std::string> config_path;
  bool trace = false;
  Reporting reporting = Reporting::Immediate;
};

// One step of a line: a key, a click, a selection or the application repeating a held key.
struct Click {
  std::uint32_t chars;
};
struct Select {
  std::uint32_t from_chars;
  std::uint32_t to_chars;
};
struct Repeat {
  std::uint32_t times;
};
constexpr std::uint32_t MAX_REPEATS = 10000;  // a key held for minutes
using Step = std::variant<engine::KeyInput, Click, Select, Repeat>;

struct LineError {
  std::size_t column;
  std::string message;
};

std::optional<std::uint32_t> parse_number(std::string_view digits) {
  if (digits.empty() || digits.size() > 9) return std::nullopt;
  std::uint32_t n = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + static_cast<std::uint32_t>(c - '0');
  }
  return n;
}

// The application's own commands, <click:N>, <select:A,B> and <repeat:N>; nothing when `text` starts with
// none of them.
std::optional<std::variant<Step, LineError>> parse_command(std::string_view text, std::size_t& bytes) {
  for (std::string_view name :
       {std::string_view("<click:"), std::string_view("<select:"), std::string_view("<repeat:")}) {
    if (!text.starts_with(name)) continue;
    const std::size_t close = text.find('>');
    if (close == std::string_view::npos) return LineError{0, "thiếu '>'"};
    const std::string_view args = text.substr(name.size(), close - name.size());
    bytes = close + 1;
    if (name == "<click:") {
      if (const std::optional<std::uint32_t> n = parse_number(args)) return Step{Click{*n}};
      return LineError{0, "click cần một số: <click:N>"};
    }
    if (name == "<repeat:") {
      if (const std::optional<std::uint32_t> n = parse_number(args)) return Step{Repeat{*n}};
      return LineError{0, "repeat cần một số: <repeat:N>"};
    }
    const std::size_t comma = args.find(',');
    const std::optional<std::uint32_t> from = parse_number(args.substr(0, comma));
    const std::optional<std::uint32_t> to =
        comma == std::string_view::npos ? std::nullopt : parse_number(args.substr(comma + 1));
    if (from && to) return Step{Select{*from, *to}};
    return LineError{0, "select cần hai số: <select:A,B>"};
  }
  return std::nullopt;
}

std::variant<std::vector<Step>, LineError> parse_line(std::string_view line) {
  std::vector<Step> steps;
  std::size_t column = 1;
  while (!line.empty()) {
    std::size_t bytes = 0;
    if (auto command = parse_command(line, bytes)) {
      if (auto* error = std::get_if<LineError>(&*command)) return LineError{column, error->message};
      steps.push_back(std::get<Step>(*command));
    } else {
      auto parsed = engine::parse_key(line);
      if (auto* error = std::get_if<engine::NotationError>(&parsed)) return LineError{column, error->message};
      steps.push_back(std::get<engine::ParsedKey>(parsed).input);
      bytes = std::get<engine::ParsedKey>(parsed).bytes;
    }
    column += core::count_chars(line.substr(0, bytes));
    line.remove_prefix(bytes);
  }
  return steps;
}

// The configuration read once at start, handed to every line's fresh session.
class FixedConfigStore final : public engine::ConfigStore {
 public:
  explicit FixedConfigStore(const engine::Config& config) : config_(config) {}
  engine::Config load() override { return config_; }
  void save(const engine::Config&) override {}

 private:
  const engine::Config& config_;
};

// The word lists are built once; every line's session reads them through this.
class SharedDictionary final : public engine::Dictionary {
 public:
  explicit SharedDictionary(const engine::Dictionary& d) : d_(d) {}
  bool is_english(std::string_view word) const override { return d_.is_english(word); }
  bool is_vietnamese(std::string_view word) const override { return d_.is_vietnamese(word); }

 private:
  const engine::Dictionary& d_;
};

void append_escaped(std::string& out, std::string_view text) {
  for (char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\\') {
      out += "\\\\";
    } else {
      out += c;
    }
  }
}

class Runner {
 public:
  Runner(const Options& options, engine::Config config)
      : options_(options),
        config_(std::move(config)),
        dictionary_(engine::WordListDictionary::defaults()),
        app_(options.reporting, options.trace ? stderr : nullptr),
        held_(app_) {}

  // Types one line's steps into a fresh field and returns the field's text.
  const std::string& run(const std::vector<Step>& steps) {
    app_.clear();
    held_.next_key();
    wayland::Controller controller(held_,
                                   engine::Ports{std::make_unique<FixedConfigStore>(config_),
                                                 std::make_unique<engine::StaticAppContext>(), nullptr,
                                                 std::make_unique<SharedDictionary>(dictionary_)},
                                   std::nullopt);
    controller.activate();
    app_.report(controller, true);
    for (std::size_t i = 0; i < steps.size(); ++i) {
      const Step& step = steps[i];
      if (const auto* click = std::get_if<Click>(&step)) {
        if (options_.trace) std::fprintf(stderr, "click %u\n", click->chars);
        app_.click(click->chars);
        app_.report(controller, true);
      } else if (const auto* select = std::get_if<Select>(&step)) {
        if (options_.trace) std::fprintf(stderr, "select %u,%u\n", select->from_chars, select->to_chars);
        app_.select(select->from_chars, select->to_chars);
        app_.report(controller, true);
      } else if (std::holds_alternative<engine::KeyInput>(step)) {
        // The repeats written after a key happen while it is held down, before its release; after
        // anything else nothing is held and they do nothing.
        std::uint32_t repeats = 0;
        for (; i + 1 < steps.size() && std::holds_alternative<Repeat>(steps[i + 1]); ++i)
          repeats = std::min(repeats + std::get<Repeat>(steps[i + 1]).times, MAX_REPEATS);
        type_key(controller, std::get<engine::KeyInput>(step), repeats);
      }
    }
    // The field loses focus: the pending word is committed first.
    const std::string shown = controller.session().out(controller.session().text());
    controller.apply_action(controller.session().flush(), shown, std::nullopt);
    controller.deactivate();
    return app_.text();
  }

 private:
  void type_key(wayland::Controller& controller, const engine::KeyInput& input, std::uint32_t repeats) {
    press_key(controller, app_, held_, input, repeats, time_, options_.trace ? stderr : nullptr);
  }

  const Options& options_;
  engine::Config config_;
  engine::WordListDictionary dictionary_;
  SimulatedApp app_;
  HeldKey held_;
  std::uint32_t time_ = 0;
};

int run(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fwrite(HELP.data(), 1, HELP.size(), stdout);
      return 0;
    }
    if (arg == "--trace") {
      options.trace = true;
    } else if (arg == "--lag") {
      options.reporting = Reporting::Lagging;
    } else if (arg == "--no-surrounding") {
      options.reporting = Reporting::Never;
    } else if (arg == "--config" && i + 1 < argc) {
      options.config_path = argv[++i];
    } else {
      std::fprintf(stderr, "lumaret-type: tham số không hợp lệ: %s\n(xem lumaret-type --help)\n", argv[i]);
      return 2;
    }
  }
  engine::Config config = options.config_path ? engine::JsonFileConfigStore(*options.config_path).load()
                                              : engine::Config::defaults();
  Runner runner(options, std::move(config));

  std::ios::sync_with_stdio(false);
  std::string line;
  std::string out;
  int status = 0;
  for (std::size_t line_number = 1; std::getline(std::cin, line); ++line_number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    auto steps = parse_line(line);
    if (const auto* error = std::get_if<LineError>(&steps)) {
      std::fwrite(out.data(), 1, out.size(), stdout);
      out.clear();
      std::fflush(stdout);
      std::fprintf(stderr, "lumaret-type: dòng %zu, cột %zu: %s\n", line_number, error->column,
                   error->message.c_str());
      status = 2;
      continue;
    }
    append_escaped(out, runner.run(std::get<std::vector<Step>>(steps)));
    out += '\n';
    if (out.size() >= 1 << 16) {
      std::fwrite(out.data(), 1, out.size(), stdout);
      out.clear();
    }
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return status;
}

}  // namespace
}  // namespace lumaret::type

int main(int argc, char** argv) {
  return lumaret::type::run(argc, argv);
}
