#include "telnetctl/engine/session_log.h"

#include <algorithm>
#include <cstdio>

namespace korvatel {

void SessionLog::Append(std::string_view line) {
  if (LineCount() > kMaxLines) {
    text_.clear();
    line_breaks_ = 0;
  }
  text_.append(line);
  text_.append("\r\n");
  line_breaks_ += 1 + static_cast<int>(std::count(line.begin(), line.end(), '\n'));
  if (shown_) std::fprintf(stderr, "[%s] %.*s\n", label_.c_str(), static_cast<int>(line.size()), line.data());
}

}  // namespace korvatel
