// The login dialogue.
#include "server/core/server.h"

namespace tellarium {

// Not built yet: a line that answers the password prompt stays logging in.
void Server::LoginControl(int16_t) {}

}  // namespace tellarium
