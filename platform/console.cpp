#include "platform/console.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cerrno>
#include <map>
#include <utility>

#include "platform/loop_internal.h"

namespace platform::console {
namespace {

std::string window_title;

// The terminal's settings before raw mode, restored before the program ends.
termios saved_terminal{};
volatile sig_atomic_t terminal_saved = 0;

void RestoreTerminal() {
  if (terminal_saved) ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_terminal);
}

void WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return;
    }
    text.remove_prefix(static_cast<size_t>(written));
  }
}

void EndAtOnce(int) {
  RestoreTerminal();
  ::_exit(0);
}

// Signals reach the loop through a pipe written by the handler.
int signal_pipe[2] = {-1, -1};
std::map<int, std::pair<TargetId, uint32_t>> signal_targets;

void ForwardSignal(int signal_number) {
  int saved = errno;
  unsigned char byte = static_cast<unsigned char>(signal_number);
  [[maybe_unused]] ssize_t written = ::write(signal_pipe[1], &byte, 1);
  errno = saved;
}

void DeliverSignals() {
  unsigned char bytes[64];
  ssize_t count = ::read(signal_pipe[0], bytes, sizeof bytes);
  for (ssize_t i = 0; i < count; ++i) {
    auto it = signal_targets.find(bytes[i]);
    if (it != signal_targets.end()) PostMessage(it->second.first, it->second.second, bytes[i], 0);
  }
}

void DeliverKeys(TargetId target, uint32_t message) {
  unsigned char keys[64];
  ssize_t count = ::read(STDIN_FILENO, keys, sizeof keys);
  if (count <= 0) {
    detail::RemoveReadableSource(STDIN_FILENO);  // end of input: stop watching
    return;
  }
  for (ssize_t i = 0; i < count; ++i) PostMessage(target, message, keys[i], 0);
}

}  // namespace

bool IsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

void Write(std::string_view text) { WriteAll(STDOUT_FILENO, text); }

void SetTitle(const std::string& title) {
  window_title = title;
  if (IsTerminal()) Write("\033]0;" + title + "\007");
}

const std::string& Title() { return window_title; }

void MessageBox(std::string_view text) {
  WriteAll(STDERR_FILENO, text);
  WriteAll(STDERR_FILENO, "\n");
}

void InstallEndSignals() {
  struct sigaction action{};
  action.sa_handler = EndAtOnce;
  sigemptyset(&action.sa_mask);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal_number, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

void EndProgram(int status) {
  RestoreTerminal();
  ::_exit(status);
}

void WatchKeys(TargetId target, uint32_t message) {
  if (::isatty(STDIN_FILENO) != 1) return;
  if (!terminal_saved && ::tcgetattr(STDIN_FILENO, &saved_terminal) == 0) {
    termios raw = saved_terminal;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);  // ISIG stays: Ctrl-C ends the program
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    terminal_saved = 1;
    std::atexit(RestoreTerminal);
  }
  detail::AddReadableSource(STDIN_FILENO, [target, message] { DeliverKeys(target, message); });
}

void WatchSignal(int signal_number, TargetId target, uint32_t message) {
  if (signal_pipe[0] < 0) {
    if (::pipe2(signal_pipe, O_NONBLOCK | O_CLOEXEC) != 0) return;
    detail::AddReadableSource(signal_pipe[0], DeliverSignals);
  }
  signal_targets[signal_number] = {target, message};
  struct sigaction action{};
  action.sa_handler = ForwardSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(signal_number, &action, nullptr);
}

}  // namespace platform::console
