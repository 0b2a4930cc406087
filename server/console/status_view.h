// Where the status display is shown: the console in the running program,
// nothing when the server runs inside tests.
#pragma once

#include <string>

namespace tellarium {

class StatusView {
 public:
  virtual ~StatusView() = default;
  // The display was rebuilt; `display` is its whole text.
  virtual void Show(const std::string& display) = 0;
};

}  // namespace tellarium
