// Chat lines and the display tag of a line.
#include "server/core/server.h"

namespace tellarium {

// Not built yet: the tag is the handle as given.
std::string Server::Handle(int16_t, std::string hndl) { return hndl; }

}  // namespace tellarium
