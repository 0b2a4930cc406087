// One queued Send: its unsent bytes, its data tag and whether it is urgent.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace korvatel {

class CSendPacket {
 public:
  // Packets up to this size keep their bytes inline; larger ones get a block.
  static constexpr size_t kInlineSize = 516;

  CSendPacket(const uint8_t* bytes, size_t length, uint32_t data_tag, bool urgent)
      : length_(length), data_tag_(data_tag), urgent_(urgent), inline_(length <= kInlineSize) {
    if (inline_) {
      if (length > 0) std::memcpy(inline_data_.data(), bytes, length);
    } else {
      block_.assign(bytes, bytes + length);
    }
  }

  const uint8_t* unsent() const { return data() + sent_; }
  size_t unsent_length() const { return length_ - sent_; }
  bool complete() const { return sent_ == length_; }
  void MarkSent(size_t count) { sent_ += count; }

  uint32_t data_tag() const { return data_tag_; }
  bool urgent() const { return urgent_; }

 private:
  const uint8_t* data() const { return inline_ ? inline_data_.data() : block_.data(); }

  size_t sent_ = 0;
  size_t length_;
  std::vector<uint8_t> block_;
  uint32_t data_tag_;
  bool urgent_;
  bool inline_;
  std::array<uint8_t, kInlineSize> inline_data_;
};

}  // namespace korvatel
