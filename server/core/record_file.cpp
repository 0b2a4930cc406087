#include "server/core/record_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "server/core/error_trap.h"

namespace tellarium {
namespace {

// Closes a descriptor when the record access is done, whatever happens.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

off_t RecordOffset(const DataFile& file, int32_t record) {
  if (record < 1) Raise(ErrorNumber::kBadRecordNumber);
  return static_cast<off_t>(record - 1) * static_cast<off_t>(file.recordLength);
}

void WriteAt(const std::string& name, int openFlags, std::string_view data, off_t offset) {
  FileDescriptor fd(::open(name.c_str(), openFlags | O_CLOEXEC, 0644));
  if (fd.get() < 0) RaiseFromErrno(errno);
  std::size_t put = 0;
  while (put < data.size()) {
    const ssize_t n = ::pwrite(fd.get(), data.data() + put, data.size() - put, offset + static_cast<off_t>(put));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) RaiseFromErrno(n < 0 ? errno : ENOSPC);
    put += static_cast<std::size_t>(n);
  }
}

}  // namespace

bool FileExists(const std::string& name) {
  struct stat info {};
  return !name.empty() && ::stat(name.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string ReadRecord(const DataFile& file, int32_t record) {
  const off_t offset = RecordOffset(file, record);
  FileDescriptor fd(::open(file.name.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    if (errno == ENOENT) return {};
    RaiseFromErrno(errno);
  }
  std::string bytes(file.recordLength, '\0');
  std::size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::pread(fd.get(), bytes.data() + got, bytes.size() - got, offset + static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) RaiseFromErrno(errno);
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

void WriteRecord(const DataFile& file, int32_t record, std::string_view data) {
  if (data.size() > file.recordLength) Raise(ErrorNumber::kBadRecordNumber);
  const off_t offset = RecordOffset(file, record);
  WriteAt(file.name, O_WRONLY | O_CREAT, data, offset);
}

void ReplaceFile(const std::string& name, std::string_view text) {
  const std::string fresh = name + ".new";
  try {
    WriteAt(fresh, O_WRONLY | O_CREAT | O_TRUNC, text, 0);
    if (::rename(fresh.c_str(), name.c_str()) != 0) RaiseFromErrno(errno);
  } catch (...) {
    ::unlink(fresh.c_str());
    throw;
  }
}

TextFileReader::TextFileReader(const std::string& name) {
  errno = 0;
  in_.open(name, std::ios::binary);
  if (!in_) RaiseFromErrno(errno != 0 ? errno : ENOENT);
}

std::optional<std::string> TextFileReader::NextLine() {
  std::string line;
  if (!std::getline(in_, line)) {
    if (in_.bad()) Raise(ErrorNumber::kDeviceIoError);
    return std::nullopt;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace tellarium
