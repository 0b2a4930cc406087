// The session's log, as its window's text box would hold it: lines separated
// by CR LF, emptied before a line is added once it holds more than 400 lines.
// A shown log is also written to standard error, where a window would show it.
#pragma once

#include <string>
#include <string_view>

namespace korvatel {

class SessionLog {
 public:
  static constexpr int kMaxLines = 400;

  // `label` prefixes the lines copied to standard error.
  explicit SessionLog(std::string label) : label_(std::move(label)) {}

  void Append(std::string_view line);
  void set_shown(bool shown) { shown_ = shown; }

  const std::string& text() const { return text_; }
  // Lines as a text box counts them: one more than the line breaks.
  int LineCount() const { return line_breaks_ + 1; }

 private:
  std::string label_;
  std::string text_;
  int line_breaks_ = 0;
  bool shown_ = false;
};

}  // namespace korvatel
