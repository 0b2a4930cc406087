// Output held back for a line while its caller types, released whole
// messages at a time. Messages are kept as a list, so a byte 255 that a caller typed (the
// end mark of a message) never splits one.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

namespace tellarium {

class HeldOutput {
 public:
  // Ends a message before it is formatted for its output mode.
  static constexpr char kEndMark = '\xFF';
  // Held output past this goes out even while its caller types: a caller
  // who never stops typing cannot make the server hold without end. Far above
  // what a busy channel sends in minutes.
  static constexpr std::size_t kTypingBoundBytes = 256 * 1024;

  // `text` followed by kEndMark, with room for what formatting and release
  // add: one buffer carries the message from the formatter out to the line.
  static std::string Ended(std::string_view text);

  // Takes what the formatter made of a message followed by kEndMark. Whatever
  // the formatter put after the mark (the line break of output mode 0) travels
  // in front of the next message.
  void Append(std::string formatted);
  // Runs after each message taken in: the station releases while any is held.
  void WhenHolding(std::function<void()> notify) { whenHolding_ = std::move(notify); }

  bool HasMessage() const { return !messages_.empty(); }
  // Removes and returns the oldest message.
  std::string TakeFirst();
  std::size_t MessageCount() const { return messages_.size(); }
  std::size_t Bytes() const { return bytes_; }
  void Clear();

 private:
  std::deque<std::string> messages_;
  std::string carried_;  // what followed the last end mark
  std::size_t bytes_ = 0;
  std::function<void()> whenHolding_;
};

}  // namespace tellarium
