#include "server/core/held_output.h"

#include <utility>

namespace tellarium {

namespace {

// A line break before and after, and a caret mark's spaces.
constexpr std::size_t kFormattingRoom = 8;

}  // namespace

std::string HeldOutput::Ended(std::string_view text) {
  std::string ended;
  ended.reserve(text.size() + 1 + kFormattingRoom);
  ended.append(text).push_back(kEndMark);
  return ended;
}

void HeldOutput::Append(std::string formatted) {
  const std::size_t mark = formatted.rfind(kEndMark);
  if (mark == std::string::npos) {
    carried_.append(formatted);
    return;
  }
  // The message is made in the formatted text's own buffer.
  std::string message = std::move(formatted);
  std::string after = message.substr(mark + 1);
  message.resize(mark);
  message.insert(0, carried_);
  carried_ = std::move(after);
  bytes_ += message.size();
  messages_.push_back(std::move(message));
  if (whenHolding_) whenHolding_();
}

std::string HeldOutput::TakeFirst() {
  std::string first = std::move(messages_.front());
  messages_.pop_front();
  bytes_ -= first.size();
  return first;
}

void HeldOutput::Clear() {
  messages_.clear();
  carried_.clear();
  bytes_ = 0;
}

}  // namespace tellarium
