// The station's own link protocol: its hooks have no effect.
#include "server/core/server.h"

namespace tellarium {

void Server::FromQVS(std::string, int16_t, int16_t) {}

void Server::ToQVS(int16_t, std::string) {}

}  // namespace tellarium
