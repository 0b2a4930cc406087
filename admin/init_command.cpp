// init: a new data directory, made by the station's own first-start routines,
// with the default screens beside its files.
#include <fstream>
#include <optional>
#include <ostream>

#include "admin/default_screens.h"
#include "admin/record_fields.h"
#include "platform/lock_file.h"
#include "server/core/record_file.h"
#include "server/core/server.h"

namespace tellarium::admin {
namespace {

struct PortChoice {
  std::string_view option;
  std::string_view field;
  std::optional<std::string> value;
};

void ReadPortOptions(Arguments args, std::array<PortChoice, 2>& ports) {
  for (std::size_t i = 0; i < args.size(); i += 2) {
    const auto port = std::find_if(ports.begin(), ports.end(), [&](const PortChoice& p) { return p.option == args[i]; });
    if (port == ports.end() || i + 1 == args.size()) {
      throw UsageError("init takes --main-port N and --line0-port N, not \"" + args[i] + "\".");
    }
    CheckedNumber(std::string(port->field), args[i + 1], 1, 32767);
    port->value = args[i + 1];
  }
}

void WriteFirstStartFiles() {
  Server server;
  server.debugMode = true;  // an error ends the command instead of going to error.log
  try {
    server.CreateMissingDataFiles(server.Trap("init"));
  } catch (...) {
    throw AdminError("The data files cannot be written: " + std::string(CurrentRunTimeError().description()) + ".");
  }
}

void SetPorts(const std::array<PortChoice, 2>& ports) {
  ServerConfig config;
  std::vector<StoredRecord> records{Stored<PortsRecord>(kConfigFile, kPortsRecordNumber, config)};
  for (const PortChoice& port : ports) {
    if (port.value) SetField(records, {port.field}, port.field, *port.value);
  }
}

void WriteDefaultScreens(std::ostream& out) {
  for (const DefaultScreen& screen : DefaultScreens()) {
    const std::string name(screen.name);
    if (FileExists(name)) continue;
    out << "Writing default screen " << name << "...\n";
    std::ofstream file(name, std::ios::binary);
    file.write(screen.bytes.data(), static_cast<std::streamsize>(screen.bytes.size()));
    file.close();
    if (!file) throw AdminError(name + " cannot be written.");
  }
}

}  // namespace

void InitCommand(const CommandCall& call) {
  std::array<PortChoice, 2> ports{{{"--main-port", "mainPort", {}}, {"--line0-port", "line0Port", {}}}};
  ReadPortOptions(call.args, ports);
  if (platform::LockFileHeld(kStationLockFile)) {
    throw AdminError("A station is running in " + call.directory + "; init only makes a new data directory.");
  }
  const bool newConfiguration = !FileExists(kConfigFile.name);
  if (!newConfiguration && (ports[0].value || ports[1].value)) {
    throw AdminError(kConfigFile.name + " is there already; change its ports with config set.");
  }
  WriteFirstStartFiles();
  if (newConfiguration) SetPorts(ports);
  WriteDefaultScreens(call.console.out);
}

}  // namespace tellarium::admin
