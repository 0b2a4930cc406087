// init: a new data directory, made by the station's own first-start routines,
// with the default screens beside its files.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
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

constexpr int16_t kFirstUnprivilegedPort = 1024;

struct PortChoice {
  std::string_view option;
  std::string_view field;
  int16_t ServerConfig::*stored;
  int16_t unprivileged;  // taken instead of a default this process may not open
  std::optional<std::string> value;
};

// Whether this process may open ports below 1024 is the system's to say (root,
// a capability, or a system that lets everyone): it is asked by a bind.
bool MayOpenLowPorts(int16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool allowed = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 || errno != EACCES;
  ::close(fd);
  return allowed;
}

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

// The ports chosen, and in place of a default this process may not open, the
// unprivileged one.
void SetPorts(std::array<PortChoice, 2>& ports, std::ostream& out) {
  ServerConfig config;
  std::vector<StoredRecord> records{Stored<PortsRecord>(kConfigFile, kPortsRecordNumber, config)};
  for (PortChoice& port : ports) {
    const int16_t preset = config.*port.stored;
    if (!port.value && preset < kFirstUnprivilegedPort && !MayOpenLowPorts(preset)) {
      port.value = std::to_string(port.unprivileged);
      out << "Port " << preset << " needs a privilege this user lacks: " << port.field << " is " << *port.value
          << ".\n";
    }
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
  std::array<PortChoice, 2> ports{{{"--main-port", "mainPort", &ServerConfig::mainPort, 2323, {}},
                                   {"--line0-port", "line0Port", &ServerConfig::line0Port, 2420, {}}}};
  ReadPortOptions(call.args, ports);
  if (platform::LockFileHeld(kStationLockFile)) {
    throw AdminError("A station is running in " + call.directory + "; init only makes a new data directory.");
  }
  const bool newConfiguration = !FileExists(kConfigFile.name);
  if (!newConfiguration && (ports[0].value || ports[1].value)) {
    throw AdminError(kConfigFile.name + " is there already; change its ports with config set.");
  }
  WriteFirstStartFiles();
  if (newConfiguration) SetPorts(ports, call.console.out);
  WriteDefaultScreens(call.console.out);
}

}  // namespace tellarium::admin
