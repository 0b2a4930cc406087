// callers and log: the last callers (lastcalls.qvs) and the system log
// (qvtalk.log, written whole after every entry).
#include <chrono>
#include <fstream>
#include <iterator>
#include <optional>
#include <ostream>
#include <thread>

#include "admin/record_fields.h"
#include "server/core/record_file.h"

namespace tellarium::admin {
namespace {

constexpr auto kFollowInterval = std::chrono::milliseconds(500);

// The log's lines, or nothing while the station is writing it (every line it
// writes ends in CR LF, and it writes the file whole).
std::optional<std::vector<std::string>> SystemLogLines() {
  std::vector<std::string> lines;
  if (!FileExists(kSystemLogFile)) return lines;
  std::ifstream file(kSystemLogFile, std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  if (!file.eof() && file.fail()) throw AdminError(std::string(kSystemLogFile) + " cannot be read.");
  if (!text.empty() && text.back() != '\n') return std::nullopt;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find('\n', start);
    std::string_view line(text.data() + start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    start = end + 1;
  }
  return lines;
}

// The log drops its oldest lines as it grows: the lines new since `seen` are
// those after the longest run of `seen`'s last lines that `now` begins with.
std::size_t FirstNewLine(const std::vector<std::string>& seen, const std::vector<std::string>& now) {
  for (std::size_t overlap = std::min(seen.size(), now.size()); overlap > 0; --overlap) {
    if (std::equal(now.begin(), now.begin() + static_cast<std::ptrdiff_t>(overlap),
                   seen.end() - static_cast<std::ptrdiff_t>(overlap))) {
      return overlap;
    }
  }
  return 0;
}

void ShowLines(std::ostream& out, const std::vector<std::string>& lines, std::size_t first) {
  for (std::size_t i = first; i < lines.size(); ++i) out << lines[i] << '\n';
  out << std::flush;
}

}  // namespace

void CallersCommand(const CommandCall& call) {
  if (!call.args.empty()) throw UsageError("callers takes nothing.");
  if (!FileExists(kLastCallsFile.name)) return;  // nobody has called yet
  for (int32_t entry = 1; entry <= kLastCallerCount; ++entry) {
    LastCallerRecord caller;
    ReadStored<LastCallerLayout>(kLastCallsFile, entry, caller, PastEnd::kBlank);
    if (!caller.inUse) continue;
    call.console.out << caller.date.Trimmed() << '\t' << caller.time.Trimmed() << '\t' << caller.lineCode.Trimmed()
                     << '\t' << caller.account.Trimmed() << '\t' << caller.handle.Trimmed() << '\n';
  }
}

void LogCommand(const CommandCall& call) {
  const bool follow = call.args.size() == 1 && call.args[0] == "--follow";
  if (!call.args.empty() && !follow) throw UsageError("log takes nothing, or --follow.");
  std::optional<std::vector<std::string>> seen = SystemLogLines();
  while (!seen) {
    std::this_thread::sleep_for(kFollowInterval);
    seen = SystemLogLines();
  }
  ShowLines(call.console.out, *seen, 0);
  while (follow && call.console.out) {
    std::this_thread::sleep_for(kFollowInterval);
    std::optional<std::vector<std::string>> now = SystemLogLines();
    if (!now || now->empty()) continue;  // a log made anew shows from its first entry
    ShowLines(call.console.out, *now, FirstNewLine(*seen, *now));
    seen = std::move(now);
  }
}

}  // namespace tellarium::admin
