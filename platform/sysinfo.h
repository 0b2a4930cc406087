// What the system reports about itself.
#pragma once

#include <string>

namespace platform {

struct SystemInfo {
  std::string platform;  // the kernel's name, such as "Linux"
  std::string release;   // the kernel release
  std::string version;   // the kernel's version text
};

SystemInfo QuerySystemInfo();

}  // namespace platform
