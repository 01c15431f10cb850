// The default port implementations: the configuration file and the built-in word lists.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <string>
#include <string_view>
#include <variant>

#include "lumaret/core/utf8.h"
#include "lumaret/engine/config_file.h"
#include "lumaret/engine/defaults.h"

namespace lumaret::engine {
namespace {

// ---- The configuration file ----

std::optional<std::string> read_file(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string text;
  std::array<char, 16384> buffer;
  while (true) {
    const ssize_t read_bytes = ::read(fd, buffer.data(), buffer.size());
    if (read_bytes < 0 && errno == EINTR) continue;
    if (read_bytes <= 0) {
      ::close(fd);
      if (read_bytes < 0) return std::nullopt;
      return text;
    }
    text.append(buffer.data(), static_cast<std::size_t>(read_bytes));
  }
}

// Writes all of the text, going on after a signal interrupted a write. A write that moves nothing would
// only repeat itself, so it counts as a failure.
bool write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written_bytes = ::write(fd, text.data(), text.size());
    if (written_bytes < 0 && errno == EINTR) continue;
    if (written_bytes <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(written_bytes));
  }
  return true;
}

// ---- The word lists ----

// Common English words, kept from being read back as Vietnamese after a backspace.
constexpr std::string_view ENGLISH_WORDS =
    R"words(a about after again all also an and any are as at back be because been being but by can case class come
could data day did do does done down each email even every file first fix for from get give go good got
had has have he her here him his how i if in into is it its just know last less like look made make many
may me miss mix more most much must my new no not now of off on one only or other our out over pass people
per plus same say see she should so some status such take test text than that the their them then there
these they thing think this those time to too two up us use user very was way we well were what when where
which who why will with would year yes you your box fax hex max sex six tax vs ok bus visa sofa media idea
area extra boss across access focus server issue rust java python script api json http https www com net
org link view search clear window windows linux docker deploy commit merge branch push pull debug build
run code log admin client google facebook youtube chrome firefox safari excel word office team teams chat
zoom mail inbox send sent reply forward password login logout sign
)words";

// Common Vietnamese syllables, lowercase, in normalisation form C, in byte order.
constexpr std::string_view VIETNAMESE_SYLLABLES =
    R"words(bao biên biến biết biểu biệt buộc bàn báo bãi bên bì bíp bó bù băm bạn bản bảng bảo bấm bất bẫy bậc bật
bắc bắt bằng bệ bị bỏ bổ bộ bởi canh cao chi chiến chiếu chiều cho chung chuyển chuẩn chuỗi chèn chính chú
chúng chưa chương chạy chấm chấp chế chỉ chỉnh chọn chối chớp chờ chủ chứa chức chứng chữ chữa con cung
cuối cuộn cài các cách cái cáo câu cây còn có công cùng cú cũ cũng cơ cạnh cả cải cảm cảnh cấm cấp cấu cần
cầu cập cắm cắt cố cổng cộng cột cờ cỡ cụ cục của cứng cửa danh de di diễn diện do dung duyệt dài dành dãy
dòng dõi dùng dưới dạng dấu dẫn dịch dụng dứt dừng dữ dựa ghi gian giao giá giây giúp giả giải giản giấy
giới giờ giữ giữa gán gây gì góc gói gõ gần gắn gặp gọi gốc gồm gỡ gửi hai hay hiển hiểu hiện hiệu hoà
hoàn hoá hoán hoạt hoặc hàm hàng hành hãy hình hòa hóa hơn hướng hạn hạng hậu hằng hết hệ họa hỏng hồi hỗ
hộp hợp hủy in khai khi khiển kho khoá khoảng khác khóa không khúc khả khẩu khỏi khối khớp khởi kiếm kiến
kiểm kiểu kiện kê kênh kêu kích ký kết kỳ liên liệt liệu loại luồng là làm lên lúc lý lưu lược lượng lại
lấy lần lập lặp lẽ lề lệ lệnh lịch lọc lỗi lớn lớp lời lục miếng miền muốn mà màn màu máy mâu mã móc mô
môi mũi mạng mất mẫu mật mặc mặt mẹ mẹo mềm mọi mỗi một mới mở mục mức mỹ na ngang ngay nghĩa ngoài ngoại
nguyên nguồn ngày ngôn ngăn người ngược ngắn ngắt ngờ ngữ nhanh nhau nhiêu nhiều nhiệm nhánh nhân nhãn
nhóm nhúng như nhưng nhạc nhạy nhấn nhất nhận nhập nhật nhị nhỏ nhớ những nào này nâng nén nên nó nút năng
nạ nằm nếu nền nối nội nữa phiên phong pháp phát phân phép phía phím phóng phông phương phạm phải phần phố
phụ phục qua quan quanh quy quyết quyền quá quả quản quần quốc ra riêng ràng rác rõ rỗng rộng rời sai sang
sao sau sinh siêu sung sàng sách sâu sông sắc sắp sẵn sẽ số sổ sở sức sử sửa sự tay tham thanh thao thay
theo thi thiết thiếu thiểu thoát thoại thu thuẫn thuộc thành thái thêm thì thích thô thông thúc thư thước
thường thượng thấy thẩm thập thẻ thế thể thị thống thời thụy thủ thứ thức thử thực tin tiên tiêu tiến
tiếng tiếp tiết toàn toán tra trang trong trung truy tràn trái trên trình trí trích trùng trúc trước
trường trạng trả trị trọng trỏ trống trộn trợ trừ tuyến tài tác tách tây tên tìm tích tính tô tùy tăng tư
tương tượng tại tạm tạo tả tải tất tập tắc tắt tố tốc tối tồn tổ tổng tới tục tức từ tử tự uỷ vi viết viền
việc viện và vào vá vì vòng vô vùng văn vượt vấn vẫn vậy vẽ về vị vỏ với vụ xa xem xung xuất xác xách xét
xóa xạ xảy xếp xử yêu ánh áp âm ép ô ý đa đang đi điều điểm điện điệp đo đoạn đánh đây đã đích đó đóng
đúng đăng đĩa đơn đưa đường được đảo đầu đầy đẩy đặc đặt đếm đến đề để đệm địa định đọc đối đồ đồng đổi độ
động đột đợi đủ đừng ưu ảnh ổ ở ủy ứng)words";

constexpr bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// Calls `each` with every blank-separated piece of the text.
template <typename Each>
constexpr void for_each_word(std::string_view text, Each each) {
  std::size_t at = 0;
  while (at < text.size()) {
    while (at < text.size() && is_blank(text[at]))
      ++at;
    const std::size_t start = at;
    while (at < text.size() && !is_blank(text[at]))
      ++at;
    if (at > start) each(text.substr(start, at - start));
  }
}

constexpr std::size_t count_words(std::string_view text) {
  std::size_t count = 0;
  for_each_word(text, [&](std::string_view) { ++count; });
  return count;
}

template <std::size_t N>
constexpr bool no_word_twice(std::string_view text) {
  std::array<std::string_view, N> words{};
  std::size_t count = 0;
  for_each_word(text, [&](std::string_view word) { words[count++] = word; });
  for (std::size_t i = 0; i < count; ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (words[i] == words[j]) return false;
    }
  }
  return true;
}

constexpr bool strictly_ascending(std::string_view text) {
  bool ascending = true;
  std::string_view previous;
  for_each_word(text, [&](std::string_view word) {
    if (!previous.empty() && !(previous < word)) ascending = false;
    previous = word;
  });
  return ascending;
}

// The lists are kept by hand; these guard their shape.
static_assert(count_words(ENGLISH_WORDS) == 227);
static_assert(no_word_twice<227>(ENGLISH_WORDS));
static_assert(ENGLISH_WORDS.ends_with("\n") && !ENGLISH_WORDS.ends_with("\n\n"));
static_assert(count_words(VIETNAMESE_SYLLABLES) == 603);
static_assert(strictly_ascending(VIETNAMESE_SYLLABLES));

}  // namespace

Config JsonFileConfigStore::load() {
  // Anything wrong with the file leaves the defaults in force; the check mode is where errors are shown.
  const std::optional<std::string> text = read_file(path_);
  if (!text || !core::is_utf8(*text)) return Config::defaults();
  std::variant<Config, ConfigError> read = read_config(*text);
  if (Config* config = std::get_if<Config>(&read)) return std::move(*config);
  return Config::defaults();
}

void JsonFileConfigStore::save(const Config& config) {
  // Failures are dropped: the session keeps its configuration in memory and the user is not told.
  const std::string text = write_config(config);
  std::error_code error;
  // A symbolic link stays a link: the file it points to is the one replaced.
  std::filesystem::path target = std::filesystem::canonical(path_, error);
  if (error) target = path_;
  struct stat existing {};
  const bool exists = ::stat(target.c_str(), &existing) == 0;
  if (exists && !S_ISREG(existing.st_mode)) {
    // Not a regular file (a pipe, a device): there is nothing to rename over, so write into it.
    const int fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) return;
    write_all(fd, text);
    ::close(fd);
    return;
  }
  // The new text goes to a temporary file beside the target, which then replaces it in one rename: a
  // crash or a full disk leaves the old file or the new one, never a part of either. The directory is
  // not created when it is missing.
  static std::atomic<unsigned> counter{0};
  std::string name(".");
  name += target.filename().string();
  name += ".lumaret-";
  name += std::to_string(::getpid());
  name += '-';
  name += std::to_string(counter++);
  const std::filesystem::path temporary = target.parent_path() / name;
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return;
  bool ok = !exists || ::fchmod(fd, existing.st_mode & 07777) == 0;
  ok = ok && write_all(fd, text) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (!ok || ::rename(temporary.c_str(), target.c_str()) != 0) ::unlink(temporary.c_str());
}

WordListDictionary WordListDictionary::defaults() {
  WordListDictionary dictionary;
  for_each_word(ENGLISH_WORDS, [&](std::string_view word) { dictionary.english_.insert(word); });
  for_each_word(VIETNAMESE_SYLLABLES, [&](std::string_view word) { dictionary.vietnamese_.insert(word); });
  return dictionary;
}

bool WordListDictionary::is_english(std::string_view word) const {
  return english_.contains(word);
}

bool WordListDictionary::is_vietnamese(std::string_view word) const {
  return vietnamese_.contains(word);
}

}  // namespace lumaret::engine
