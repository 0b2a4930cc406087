// The console that stands in for the server window: text to standard output,
// the window title, message boxes to standard error, key input and signals.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/loop.h"

namespace platform::console {

// True when standard output is a terminal.
bool IsTerminal();

// Writes text to standard output as it is and flushes it.
void Write(std::string_view text);

// The window title; on a terminal it is also shown as the terminal's title.
void SetTitle(const std::string& title);
const std::string& Title();

// A message box: its text, one line, on standard error.
void MessageBox(std::string_view text);

// SIGINT, SIGTERM and SIGHUP end the program at once with status 0, writing
// nothing (closing the window).
void InstallEndSignals();

// Ends the program at once with `status`; nothing is saved or flushed.
[[noreturn]] void EndProgram(int status);

// Each key typed on a terminal's standard input is posted to `target` as
// `message` with wparam = the key's byte. The terminal is put in raw mode
// (without echo) and restored at exit. Does nothing when standard input is
// not a terminal. Ctrl-C still arrives as SIGINT.
void WatchKeys(TargetId target, uint32_t message);

// Posts `message` to `target` each time signal `signal_number` arrives.
void WatchSignal(int signal_number, TargetId target, uint32_t message);

}  // namespace platform::console
