// A vector with its capacity inline: copying one is a plain memory copy and never touches the heap.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace lumaret::core {

template <class T, std::size_t N>
class FixedVector {
 public:
  static constexpr std::size_t capacity() { return N; }

  constexpr std::size_t size() const { return size_; }
  constexpr bool empty() const { return size_ == 0; }
  constexpr bool full() const { return size_ == N; }

  constexpr T& operator[](std::size_t i) { return items_[i]; }
  constexpr const T& operator[](std::size_t i) const { return items_[i]; }
  constexpr T& back() { return items_[size_ - 1]; }
  constexpr const T& back() const { return items_[size_ - 1]; }

  constexpr T* begin() { return items_.data(); }
  constexpr T* end() { return items_.data() + size_; }
  constexpr const T* begin() const { return items_.data(); }
  constexpr const T* end() const { return items_.data() + size_; }
  constexpr T* data() { return items_.data(); }
  constexpr const T* data() const { return items_.data(); }

  constexpr operator std::span<const T>() const { return {items_.data(), size_}; }

  // Returns false, leaving the vector unchanged, when it is full.
  constexpr bool push_back(const T& item) {
    if (size_ == N) return false;
    items_[size_++] = item;
    return true;
  }
  constexpr void clear() { size_ = 0; }

  constexpr bool contains(const T& item) const {
    for (const T& x : *this) {
      if (x == item) return true;
    }
    return false;
  }

 private:
  static_assert(N <= UINT8_MAX);
  std::array<T, N> items_{};
  std::uint8_t size_ = 0;
};

// A short run of characters: a word of at most N letters.
template <std::size_t N>
class FixedText : public FixedVector<char32_t, N> {
 public:
  constexpr std::u32string_view view() const { return {this->data(), this->size()}; }
};

}  // namespace lumaret::core
