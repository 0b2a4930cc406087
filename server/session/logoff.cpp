// Logoff: the single exit of every line.
#include "server/core/server.h"

namespace tellarium {

// Not built yet.
void Server::lgoff(int16_t) {}

}  // namespace tellarium
