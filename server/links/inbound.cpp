// Text arriving on a D-Dial link.
#include "server/core/server.h"

namespace tellarium {

// Not built yet: link text is taken and dropped.
void Server::FromDDL(std::string, int16_t, int16_t) {}

}  // namespace tellarium
