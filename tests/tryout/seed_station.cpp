// Prepares a station data directory for a first start on free ports: writes
// config.qvs there (through the server's own configuration packet) naming two
// ports below 32768 that nothing listens on, and prints "ports <main> <line0>"
// after the start-up lines.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/station_client.h"

int main(int argc, char** argv) {
  if (argc != 3 || ::chdir(argv[1]) != 0) {
    std::fprintf(stderr, "usage: %s <data directory> <lines>\n", argv[0]);
    return 2;
  }
  const tellarium::testing::StationPorts ports;
  tellarium::testing::WriteStationConfig(ports, std::atoi(argv[2]));
  std::printf("ports %d %d\n", ports.main, ports.line0);
  return 0;
}
