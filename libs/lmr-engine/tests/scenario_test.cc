// Whole scenarios: keys typed into a simple text field that applies every action the way an application
// does and reports its text before the cursor back to the session.
#include <gtest/gtest.h>

#include "fakes.h"
#include "lumaret/core/utf8.h"
#include "lumaret/engine/session.h"

namespace lumaret::engine {
namespace {

using testing::World;
using testing::world_ports;

// A text field: characters, a cursor, and a pre-edit shown apart from the text.
class Field {
 public:
  explicit Field(World& world, std::u32string text = {}) : world_(world), text_(std::move(text)) {
    cursor_ = text_.size();
    report();
  }

  void type(ImeSession& session, std::string_view keys) {
    auto parsed = parse_keys(keys);
    ASSERT_TRUE(std::holds_alternative<std::vector<KeyInput>>(parsed)) << keys;
    for (const KeyInput& key : std::get<std::vector<KeyInput>>(parsed)) {
      if (key.alt && key.key == Key::character(U',')) {
        apply(session.toggle_vietnamese(), std::nullopt);
      } else {
        apply(session.process_key(key), key);
      }
    }
  }

  void apply(const Action& a, std::optional<KeyInput> key) {
    if (std::holds_alternative<action::Pass>(a)) {
      if (key) press(*key);
    } else if (const auto* p = std::get_if<action::Preedit>(&a)) {
      preedit_ = p->text;
    } else if (const auto* r = std::get_if<action::Replace>(&a)) {
      preedit_.clear();
      const std::size_t n = std::min<std::size_t>(r->delete_chars, cursor_);
      text_.erase(cursor_ - n, n);
      cursor_ -= n;
      insert(r->text);
      if (r->forward && key) press(*key);
    } else if (const auto* c = std::get_if<action::Commit>(&a)) {
      preedit_.clear();
      insert(c->text);
      if (c->forward && key) press(*key);
    }
    report();
  }

  std::string text() const { return core::to_utf8(text_); }
  const std::string& preedit() const { return preedit_; }

 private:
  void insert(std::string_view utf8) {
    const std::u32string chars = core::to_chars(utf8).value_or(U"?");
    text_.insert(cursor_, chars);
    cursor_ += chars.size();
  }

  void press(const KeyInput& key) {
    switch (key.key.kind) {
      case KeyKind::Char:
        if (!key.ctrl && !key.alt && !key.meta) text_.insert(cursor_++, 1, key.key.ch);
        break;
      case KeyKind::Backspace:
        if (cursor_ > 0) text_.erase(--cursor_, 1);
        break;
      case KeyKind::Enter:
        text_.insert(cursor_++, 1, U'\n');
        break;
      case KeyKind::Left:
        if (cursor_ > 0) --cursor_;
        break;
      case KeyKind::Right:
        if (cursor_ < text_.size()) ++cursor_;
        break;
      default:
        break;
    }
  }

  void report() { world_.before_cursor = core::to_utf8(std::u32string_view(text_).substr(0, cursor_)); }

  World& world_;
  std::u32string text_;
  std::size_t cursor_ = 0;
  std::string preedit_;
};

TEST(Scenario, SentenceWithAutomaticCapitals) {
  World world;
  world.config.auto_capitalize = true;
  ImeSession session(world_ports(world));
  Field field(world);
  field.type(session, "xin chaof. tooi ddi hocj<Enter>banj nhes! ");
  EXPECT_EQ(field.text(), "xin chào. Tôi đi học\nBạn nhé! ");
}

TEST(Scenario, EnglishWordsComeBackAsTyped) {
  World world;
  ImeSession session(world_ports(world));
  Field field(world);
  field.type(session, "text fix windows server, vieets ");
  EXPECT_EQ(field.text(), "text fix windows server, viết ");
}

TEST(Scenario, MacroCarriesTheTypedCapitals) {
  World world;
  world.config.macros = {{"ko", "không"}, {"vn", "Việt Nam"}};
  ImeSession session(world_ports(world));
  Field field(world);
  field.type(session, "ko Ko KO kO vn VN<Enter>");
  EXPECT_EQ(field.text(), "không Không KHÔNG không Việt Nam VIỆT NAM\n");
}

TEST(Scenario, BackspaceInsideAndAfterAWord) {
  World world;
  ImeSession session(world_ports(world));
  Field field(world);
  field.type(session, "vieet<BS>ts");
  EXPECT_EQ(field.preedit(), "viết");
  field.type(session, " <BS>");
  EXPECT_EQ(field.text(), "viết");
  ASSERT_TRUE(session.in_place());
  field.type(session, "j nam ");
  EXPECT_EQ(field.text(), "việt nam ");
}

TEST(Scenario, PreviousWordIsTakenUpFromTheApplication) {
  World world;
  ImeSession session(world_ports(world));
  Field field(world, U"xin chao");
  field.type(session, "f ban");
  EXPECT_EQ(field.text(), "xin chào ");
  field.type(session, "j ");
  EXPECT_EQ(field.text(), "xin chào bạn ");
}

TEST(Scenario, DecomposedOutput) {
  World world;
  world.config.unicode_form = UnicodeForm::Nfd;
  ImeSession session(world_ports(world));
  Field field(world);
  field.type(session, "vieetj nam <BS>");
  field.type(session, "f ");
  EXPECT_EQ(field.text(), "vie\xcc\xa3\xcc\x82t na\xcc\x80m ");  // "việt nàm" decomposed
}

TEST(Scenario, ToggleAndReloadWithAPendingWord) {
  World world;
  ImeSession session(world_ports(world));
  Field field(world);
  field.type(session, "vieet<A-,>as<A-,> as ");
  EXPECT_EQ(field.text(), "viêtas á ");

  world.config.input_method = "vni";
  field.type(session, "tiee");
  field.apply(session.reload_config(), std::nullopt);
  EXPECT_EQ(field.text(), "viêtas á tiê");
  field.type(session, " a1 ");
  EXPECT_EQ(field.text(), "viêtas á tiê á ");
}

TEST(Scenario, EscapeOnATakenUpWordKeepsItsText) {
  World world;
  ImeSession session(world_ports(world));
  Field field(world, U"việt");
  field.type(session, "s");
  EXPECT_EQ(field.text(), "viết");
  field.type(session, "<Esc>");
  EXPECT_EQ(field.text(), "việts");  // the text it had, then the key typed since
}

TEST(Scenario, VniWordTakenUpShowsAndCommitsTheSame) {
  World world;
  world.config.input_method = "vni";
  ImeSession session(world_ports(world));
  Field field(world);
  field.type(session, "ban1 <BS>1");
  EXPECT_EQ(field.text(), "bán1");
  field.type(session, " ");
  EXPECT_EQ(field.text(), "bán1 ");
}

}  // namespace
}  // namespace lumaret::engine
