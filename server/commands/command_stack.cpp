// The command interpreter's dispatch.
#include "server/core/server.h"

namespace tellarium {

// Not built yet: "/" lines are taken and do nothing.
void Server::CommandStack(int16_t) {}

}  // namespace tellarium
