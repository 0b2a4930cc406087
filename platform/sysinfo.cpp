#include "platform/sysinfo.h"

#include <sys/utsname.h>

namespace platform {

SystemInfo QuerySystemInfo() {
  utsname names{};
  if (::uname(&names) != 0) return {};
  return {names.sysname, names.release, names.version};
}

}  // namespace platform
