// A lock held on a file for as long as the process runs: a second process
// that wants it learns that the first one is there.
#pragma once

#include <string>

namespace platform {

enum class LockOutcome {
  kHeld,     // by this process, until it ends
  kTaken,    // another process holds it
  kNotMade,  // the file could not be opened or made
};

// Takes the lock on `path` (made when missing) and keeps it until the process
// ends, with this process's id written in the file.
LockOutcome HoldLockFile(const std::string& path);

// True while some process holds the lock on `path`; looking neither makes the
// file nor takes the lock.
bool LockFileHeld(const std::string& path);

}  // namespace platform
