// One queued Send: its unsent bytes, its data tag and whether it is urgent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace korvatel {

class CSendPacket {
 public:
  // A packet the socket took whole at once keeps no bytes: it waits only for
  // its completion notice.
  CSendPacket(const uint8_t* bytes, size_t length, uint32_t data_tag, bool urgent)
      : bytes_(bytes, bytes + length), data_tag_(data_tag), urgent_(urgent) {}

  const uint8_t* unsent() const { return bytes_.data() + sent_; }
  size_t unsent_length() const { return bytes_.size() - sent_; }
  bool complete() const { return sent_ == bytes_.size(); }
  void MarkSent(size_t count) { sent_ += count; }

  uint32_t data_tag() const { return data_tag_; }
  bool urgent() const { return urgent_; }

 private:
  std::vector<uint8_t> bytes_;
  size_t sent_ = 0;
  uint32_t data_tag_;
  bool urgent_;
};

}  // namespace korvatel
