// Runs the tellarium binary in a directory, reads its standard output, and
// ends it with a signal.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace tellarium::testing {

class ServerProcess {
 public:
  ServerProcess(const std::string& binary, const std::string& directory) {
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(pipeEnds[1], STDOUT_FILENO);
      ::close(pipeEnds[0]);
      ::close(pipeEnds[1]);
      if (::chdir(directory.c_str()) != 0) ::_exit(126);
      ::execl(binary.c_str(), binary.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(pipeEnds[1]);
    out_ = pipeEnds[0];
  }
  ~ServerProcess() {
    if (pid_ > 0 && !reaped_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
  }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // Reads standard output until it holds `text` or the time is up; true when found.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (output_.find(text) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
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

  // Sends the signal and returns the exit status (or -1 when it did not exit).
  int EndWith(int signal) {
    ::kill(pid_, signal);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    reaped_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  const std::string& output() const { return output_; }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  bool reaped_ = false;
  std::string output_;
};

}  // namespace tellarium::testing
