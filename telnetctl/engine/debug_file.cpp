#include "telnetctl/engine/debug_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace korvatel {
namespace {

constexpr int kLastNumber = 99;

std::string NameFor(int number) { return "KVNT" + std::to_string(number) + ".DBG"; }

bool Exists(const std::string& name) {
  struct stat info;
  return ::stat(name.c_str(), &info) == 0;
}

bool WriteAll(int fd, const void* data, size_t length) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (length > 0) {
    ssize_t n = ::write(fd, p, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string DebugFile::ChooseName() {
  for (int number = 0; number < kLastNumber; ++number) {
    std::string name = NameFor(number);
    if (!Exists(name)) return name;
  }
  return NameFor(kLastNumber);
}

bool DebugFile::Open(const std::string& name) {
  Close();
  fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) return false;
  char resolved[PATH_MAX];
  path_ = ::realpath(name.c_str(), resolved) != nullptr ? std::string(resolved) : name;
  return true;
}

void DebugFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  path_.clear();
}

size_t DebugFile::WriteBlock(const char* marker, const uint8_t* bytes, size_t length) {
  if (fd_ < 0) return 0;
  if (!WriteAll(fd_, marker, std::strlen(marker))) return 0;
  return WriteAll(fd_, bytes, length) ? length : 0;
}

}  // namespace korvatel
