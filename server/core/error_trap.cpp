#include "server/core/error_trap.h"

#include <cerrno>
#include <fstream>
#include <new>
#include <stdexcept>
#include <string>

namespace tellarium {

std::string_view RunTimeError::description() const {
  switch (number_) {
    case ErrorNumber::kInvalidCall: return "Invalid procedure call or argument";
    case ErrorNumber::kOverflow: return "Overflow";
    case ErrorNumber::kOutOfMemory: return "Out of memory";
    case ErrorNumber::kSubscriptOutOfRange: return "Subscript out of range";
    case ErrorNumber::kTypeMismatch: return "Type mismatch";
    case ErrorNumber::kBadFileNameOrNumber: return "Bad file name or number";
    case ErrorNumber::kFileNotFound: return "File not found";
    case ErrorNumber::kDeviceIoError: return "Device I/O error";
    case ErrorNumber::kDiskFull: return "Disk full";
    case ErrorNumber::kBadRecordNumber: return "Bad record number";
    case ErrorNumber::kPermissionDenied: return "Permission denied";
    case ErrorNumber::kPathFileAccessError: return "Path/File access error";
  }
  return "Application-defined or object-defined error";
}

const char* RunTimeError::what() const noexcept { return description().data(); }

void Raise(ErrorNumber number) { throw RunTimeError(number); }

void RaiseFromErrno(int error) {
  switch (error) {
    case ENOENT: Raise(ErrorNumber::kFileNotFound);
    case EACCES:
    case EPERM:
    case EROFS: Raise(ErrorNumber::kPermissionDenied);
    case ENOSPC:
    case EDQUOT: Raise(ErrorNumber::kDiskFull);
    case ENAMETOOLONG: Raise(ErrorNumber::kBadFileNameOrNumber);
    case EISDIR:
    case ENOTDIR:
    case EBUSY: Raise(ErrorNumber::kPathFileAccessError);
    default: Raise(ErrorNumber::kDeviceIoError);
  }
}

RunTimeError CurrentRunTimeError() {
  try {
    throw;
  } catch (const RunTimeError& error) {
    return error;
  } catch (const std::bad_alloc&) {
    return RunTimeError(ErrorNumber::kOutOfMemory);
  } catch (const std::out_of_range&) {
    return RunTimeError(ErrorNumber::kSubscriptOutOfRange);
  } catch (...) {
    return RunTimeError(ErrorNumber::kInvalidCall);
  }
}

std::string ErrorLogEntry(std::string_view routine, const RunTimeError& error) {
  const int number = static_cast<int>(error.number());
  // Non-negative numbers are written with the leading blank that marks them.
  const std::string numberText = (number >= 0 ? " " : "") + std::to_string(number);
  std::string entry = "Routine: ";
  entry.append(routine).append("\r\n");
  entry.append("Error:").append(error.description()).append(" (").append(numberText).append(")\r\n");
  return entry;
}

void AppendToErrorLog(std::string_view entry) {
  std::ofstream log("error.log", std::ios::binary | std::ios::app);
  log.write(entry.data(), static_cast<std::streamsize>(entry.size()));
}

void LogCurrentError(std::string_view routine, const std::string& details) noexcept {
  try {
    AppendToErrorLog(ErrorLogEntry(routine, CurrentRunTimeError()) + details);
  } catch (...) {
    // Nothing is left to report it with.
  }
}

}  // namespace tellarium
