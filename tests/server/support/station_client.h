// A station on loopback: free ports below 32768, a config.qvs naming them,
// and the station binary as a process.
#pragma once

#include <fcntl.h>
#include <poll.h>
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
  return std::string("\xff\xfb\x01\xff\xfa\x00\x01\x01\x01\xff\xf0", 11) +
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

// The tellarium binary (or a launcher of it) running in a directory. Its
// output goes either to a pipe or nowhere, with standard error kept in
// "stderr.txt" there.
class Station {
 public:
  enum class Output { kDropped, kPipe };

  Station(const std::string& binary, const std::string& directory, Output output = Output::kDropped) {
    int ends[2] = {-1, -1};
    if (output == Output::kPipe && ::pipe(ends) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      if (::chdir(directory.c_str()) != 0) ::_exit(126);
      if (output == Output::kDropped) {
        ::dup2(::open("/dev/null", O_WRONLY), STDOUT_FILENO);
        ::dup2(::open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
      } else if (output == Output::kPipe) {
        ::dup2(ends[1], STDOUT_FILENO);
        ::close(ends[0]);
        ::close(ends[1]);
      }
      ::execl(binary.c_str(), binary.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    if (output == Output::kPipe) {
      ::close(ends[1]);
      out_ = ends[0];
    }
  }
  ~Station() {
    if (pid_ > 0 && !ended_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
  }
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  pid_t pid() const { return pid_; }

  // Reads the output until it holds `text`; true when it did in time.
  bool WaitForOutput(const std::string& text) { return Await(text, 0); }
  // Reads until `text` has arrived since the last call; returns what arrived
  // up to and including it (everything, when it never came).
  std::string ReadThrough(const std::string& text) {
    Await(text, taken_);
    const std::size_t at = output_.find(text, taken_);
    const std::size_t end = at == std::string::npos ? output_.size() : at + text.size();
    const std::size_t from = std::exchange(taken_, end);
    return output_.substr(from, end - from);
  }
  const std::string& output() const { return output_; }

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
  bool Await(const std::string& text, std::size_t from) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (output_.find(text, from) == std::string::npos) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd watch{out_, POLLIN, 0};
      if (::poll(&watch, 1, static_cast<int>(left.count())) <= 0) continue;
      char buffer[4096];
      const ssize_t n = ::read(out_, buffer, sizeof buffer);
      if (n <= 0) return false;
      output_.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  bool ended_ = false;
  std::string output_;
  std::size_t taken_ = 0;
};

}  // namespace tellarium::testing
