// A station on loopback: free ports below 32768, a config.qvs naming them,
// and the station binary as a process.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <utility>

#include "server/core/server.h"
#include "support/caller.h"
#include "support/scratch_directory.h"

namespace tellarium::testing {

inline const std::string kPressEnter = "Press <ENTER> To Login.\r\n";

// What a telnet caller on `line` reads first: the option offers and the greeting.
inline std::string Greeting(int line) {
  return std::string("\xff\xfb\x01\xff\xfb\x03\xff\xfa\x00\x01\x01\x01\xff\xf0", 14) +
         "\r\nWelcome to QVS-00:Tellarium\r\nRunning QVS V1.40M\r\nYou are connected to port #" +
         std::to_string(line) + "\r\n" + kPressEnter;
}

struct StationPorts {
  int main = FreePort();
  int line0 = FreePort();
};

// Writes config.qvs (and the other start files) in the current directory
// with the given ports and number of main lines.
inline void WriteStationConfig(const StationPorts& ports, int maxLines) {
  Server writer;
  writer.Startup();
  writer.cfgparse("\x01" "5|421|" + std::to_string(ports.line0) + "|" + std::to_string(ports.main) + "|" +
                  std::to_string(maxLines) + "|");
}

// The tellarium binary running in a directory. Its output goes either to a
// pipe or nowhere, with standard error kept in "stderr.txt" there.
class Station {
 public:
  enum class Output { kDropped, kPipe };

  Station(const std::string& binary, const std::string& directory, Output output = Output::kDropped) {
    int ends[2] = {-1, -1};
    if (output == Output::kPipe && ::pipe2(ends, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      if (::chdir(directory.c_str()) != 0) ::_exit(126);
      ::dup2(output == Output::kPipe ? ends[1] : ::open("/dev/null", O_WRONLY), STDOUT_FILENO);
      ::dup2(::open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
      ::execl(binary.c_str(), binary.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    if (output == Output::kPipe) {
      ::close(ends[1]);
      output_ = Incoming(ends[0]);
    }
  }
  ~Station() {
    if (pid_ > 0 && !ended_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (output_.fd() >= 0) ::close(output_.fd());
  }
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  pid_t pid() const { return pid_; }
  // The station's standard output, when it goes to a pipe.
  Incoming& output() { return output_; }

  // The exit status once the program ended by itself within the limit, else -1.
  int WaitForExit(std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        ended_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }
  // Sends the signal and returns the exit status (or -1 when it did not exit).
  int EndWith(int signal) {
    ::kill(pid_, signal);
    return WaitForExit();
  }
  // Resident memory in kB, from the process status.
  long ResidentKb() const {
    const std::string status = ReadFile("/proc/" + std::to_string(pid_) + "/status");
    const std::size_t at = status.find("VmRSS:");
    return at == std::string::npos ? -1 : std::stol(status.substr(at + 6));
  }

 private:
  pid_t pid_ = -1;
  bool ended_ = false;
  Incoming output_;
};

}  // namespace tellarium::testing
