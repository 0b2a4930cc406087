// The per-session debug file: every block sent or received, in arrival order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace korvatel {

class DebugFile {
 public:
  DebugFile() = default;
  ~DebugFile() { Close(); }
  DebugFile(const DebugFile&) = delete;
  DebugFile& operator=(const DebugFile&) = delete;

  // The first of KVNT0.DBG .. KVNT99.DBG in the current directory that does not
  // exist; KVNT99.DBG when all of them do.
  static std::string ChooseName();

  // Creates (or truncates) `name`. False when it cannot be created.
  bool Open(const std::string& name);
  void Close();
  bool is_open() const { return fd_ >= 0; }
  // Full path of the open file.
  const std::string& path() const { return path_; }

  // Writes "\r\n---> " (sent) or "\r\n<--- " (received) and the bytes; returns
  // the number of data bytes written.
  size_t WriteSent(const uint8_t* bytes, size_t length) { return WriteBlock("\r\n---> ", bytes, length); }
  size_t WriteReceived(const uint8_t* bytes, size_t length) { return WriteBlock("\r\n<--- ", bytes, length); }

 private:
  size_t WriteBlock(const char* marker, const uint8_t* bytes, size_t length);

  int fd_ = -1;
  std::string path_;
};

}  // namespace korvatel
