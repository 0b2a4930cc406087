// Something a server owns that a copy of its tables must never share, such
// as its connections and timers: a copy starts without one, and assigning to
// a server drops its own. The owned type may be declared only, and defined in
// the one file that makes it.
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

  // The deleter is taken here, where T is complete.
  template <class... Args>
  T& Emplace(Args&&... args) {
    owned_ = Owned(new T(std::forward<Args>(args)...), [](T* owned) { delete owned; });
    return *owned_;
  }
  // The one owned now, else a new one.
  template <class... Args>
  T& GetOrEmplace(Args&&... args) {
    return owned_ ? *owned_ : Emplace(std::forward<Args>(args)...);
  }
  explicit operator bool() const { return owned_ != nullptr; }
  T* operator->() const { return owned_.get(); }
  T* get() const { return owned_.get(); }

 private:
  using Owned = std::unique_ptr<T, void (*)(T*)>;
  Owned owned_{nullptr, nullptr};
};

}  // namespace tellarium
