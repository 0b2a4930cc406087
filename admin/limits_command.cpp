// limits: the station's defences against abuse, in limits.conf (a text file
// of "key = value" lines; a change rewrites the one line of its key).
#include <cstdio>
#include <optional>
#include <ostream>

#include "admin/tool.h"
#include "server/core/error_trap.h"
#include "server/core/limits.h"
#include "server/core/record_file.h"

namespace tellarium::admin {
namespace {

Limits ReadLimitsFile(const CommandCall& call) {
  std::vector<std::string> unread;
  try {
    Limits limits = ReadLimits(unread);
    for (const std::string& line : unread) call.console.err << kLimitsFile << ' ' << line << ": not read\n";
    return limits;
  } catch (const RunTimeError& error) {
    throw AdminError(std::string(kLimitsFile) + " cannot be read: " + std::string(error.description()) + ".");
  }
}

std::vector<std::string> FileLines() {
  std::vector<std::string> lines;
  if (!FileExists(kLimitsFile)) return lines;
  TextFileReader reader(kLimitsFile);
  while (std::optional<std::string> line = reader.NextLine()) lines.push_back(std::move(*line));
  return lines;
}

// The key's first line becomes "key = value" and its other lines go, so that
// no later line overrides it; a new line goes at the end when there is none.
// Every other line stays as it is.
void WriteLimit(const LimitSetting& setting, const std::string& value) {
  const std::string written = std::string(setting.key) + " = " + value;
  std::vector<std::string> lines;
  bool replaced = false;
  for (std::string& line : FileLines()) {
    std::string_view key, old;
    const bool ofKey = SplitLimitLine(line, key, old) == LimitLine::kSetting && key == setting.key;
    if (!ofKey) lines.push_back(std::move(line));
    if (ofKey && !replaced) lines.push_back(written);
    replaced = replaced || ofKey;
  }
  if (!replaced) lines.push_back(written);
  std::string text;
  for (const std::string& line : lines) text.append(line).push_back('\n');
  try {
    ReplaceFile(kLimitsFile, text);
  } catch (const RunTimeError&) {
    throw AdminError(std::string(kLimitsFile) + " cannot be written.");
  }
}

std::string RangeText(const LimitSetting& setting) {
  if (setting.addresses != nullptr) return "addresses separated by commas";
  return "a whole number from " + std::to_string(setting.low) + " to " + std::to_string(setting.high);
}

}  // namespace

void LimitsCommand(const CommandCall& call) {
  Limits limits = ReadLimitsFile(call);
  if (call.args.empty()) {
    for (const LimitSetting& setting : LimitSettings()) {
      call.console.out << setting.key << '=' << ShowLimit(setting, limits) << '\n';
    }
    return;
  }
  if (call.args.size() != 3 || call.args[0] != "set") throw UsageError("limits takes nothing, or set KEY VALUE.");
  const LimitSetting* setting = FindLimit(call.args[1]);
  if (setting == nullptr) throw UsageError("There is no setting " + call.args[1] + ".");
  if (!ParseLimit(*setting, call.args[2], limits)) {
    throw AdminError(std::string(setting->key) + " takes " + RangeText(*setting) + ", not \"" + call.args[2] + "\".");
  }
  WriteLimit(*setting, ShowLimit(*setting, limits));
  NoteWhileStationRuns(call, "the limits take effect at its next start.");
}

}  // namespace tellarium::admin
