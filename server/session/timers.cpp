// Session timers and time-outs.
#include "server/core/server.h"

namespace tellarium {

// Not built yet: a marked line is not warned.
void Server::TmeOut(int16_t) {}

}  // namespace tellarium
