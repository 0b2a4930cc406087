// Something a server owns that a copy of its tables must never share, such
// as its connections and timers: a copy starts without one, and assigning to
// a server drops its own.
#pragma once

#include <memory>
#include <utility>

namespace tellarium {

template <class T>
class NotCopied {
 public:
  NotCopied() = default;
  NotCopied(const NotCopied&) {}
  NotCopied& operator=(const NotCopied&) {
    owned_.reset();
    return *this;
  }

  template <class... Args>
  T& Emplace(Args&&... args) {
    owned_ = std::make_unique<T>(std::forward<Args>(args)...);
    return *owned_;
  }
  explicit operator bool() const { return owned_ != nullptr; }
  T* operator->() const { return owned_.get(); }
  T* get() const { return owned_.get(); }

 private:
  std::unique_ptr<T> owned_;
};

}  // namespace tellarium
