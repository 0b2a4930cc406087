#include "platform/lock_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

LockOutcome HoldLockFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return LockOutcome::kNotMade;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return LockOutcome::kTaken;
  }
  // The descriptor stays open: the lock ends with the process. The id only
  // helps a SysOp's tools; the lock holds whether or not it is written.
  const std::string id = std::to_string(::getpid()) + "\n";
  const bool idWritten = ::ftruncate(fd, 0) == 0 && ::pwrite(fd, id.data(), id.size(), 0) > 0;
  static_cast<void>(idWritten);
  return LockOutcome::kHeld;
}

bool LockFileHeld(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0;
  ::close(fd);
  return held;
}

}  // namespace platform
