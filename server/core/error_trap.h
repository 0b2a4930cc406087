// Run-time errors and the trap every routine runs in. A trapped statement that
// fails (whatever it throws) is skipped: its entry goes to error.log and the
// routine carries on with its next statement. With debugMode set nothing is
// trapped and the error ends the program.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <type_traits>

namespace tellarium {

// The classic run-time error numbers.
enum class ErrorNumber : int16_t {
  kInvalidCall = 5,
  kOverflow = 6,
  kOutOfMemory = 7,
  kSubscriptOutOfRange = 9,
  kTypeMismatch = 13,
  kBadFileNameOrNumber = 52,
  kFileNotFound = 53,
  kDeviceIoError = 57,
  kDiskFull = 61,
  kBadRecordNumber = 63,
  kPermissionDenied = 70,
  kPathFileAccessError = 75,
};

class RunTimeError : public std::exception {
 public:
  explicit RunTimeError(ErrorNumber number) : number_(number) {}
  ErrorNumber number() const { return number_; }
  std::string_view description() const;
  const char* what() const noexcept override;

 private:
  ErrorNumber number_;
};

[[noreturn]] void Raise(ErrorNumber number);

// Maps a failed system call's errno to the run-time error it stands for.
[[noreturn]] void RaiseFromErrno(int error);

// The run-time error an exception stands for: its own number for a
// RunTimeError, Out of memory for a failed allocation, Subscript out of range
// for an index or position past its end, Invalid procedure call for anything
// else. Call it from inside a catch block.
RunTimeError CurrentRunTimeError();

// "Routine: <name>" and "Error:<description> ( <number>)", each ending in CR LF.
std::string ErrorLogEntry(std::string_view routine, const RunTimeError& error);

// Appends to error.log; a log that cannot be written is passed over.
void AppendToErrorLog(std::string_view entry);

// From inside a catch block: the entry of the error being handled, with
// `details` after it. Throws nothing, even when memory has run out.
void LogCurrentError(std::string_view routine, const std::string& details) noexcept;

class ErrorTrap {
 public:
  ErrorTrap(std::string_view routine, const bool& debugMode) : routine_(routine), debugMode_(&debugMode) {}

  template <class Statement>
  void operator()(Statement&& statement) const {
    Run(statement, [] { return std::string(); });
  }

  // The same, with lines about the routine's arguments after the entry
  // ("Output Line: 3" ...), each ending in CR LF: a text, or what makes it
  // when an error comes (so that a routine on every line formats nothing).
  template <class Details, class Statement>
  void WithDetails(const Details& details, Statement&& statement) const {
    if constexpr (std::is_invocable_v<const Details&>) {
      Run(statement, details);
    } else {
      Run(statement, [&details] { return std::string(details); });
    }
  }

 private:
  template <class Statement, class Details>
  void Run(Statement& statement, const Details& details) const {
    if (*debugMode_) {
      statement();
      return;
    }
    try {
      statement();
    } catch (...) {
      LogCurrentError(routine_, details());
    }
  }

  std::string_view routine_;
  const bool* debugMode_;
};

}  // namespace tellarium
