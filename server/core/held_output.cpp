#include "server/core/held_output.h"

#include <utility>

namespace tellarium {

void HeldOutput::Append(std::string_view formatted) {
  const std::size_t mark = formatted.rfind(kEndMark);
  if (mark == std::string_view::npos) {
    carried_.append(formatted);
    return;
  }
  std::string message = std::move(carried_);
  message.append(formatted.substr(0, mark));
  carried_.assign(formatted.substr(mark + 1));
  bytes_ += message.size();
  messages_.push_back(std::move(message));
  while (bytes_ > kCapacityBytes && messages_.size() > 1) {
    bytes_ -= messages_.front().size();
    messages_.pop_front();
  }
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
