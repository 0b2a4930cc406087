// A line's identity as the system log writes it.
#include "server/core/server.h"

namespace tellarium {

// The handle without surrounding blanks, ":" and the account: "Max:012".
std::string Server::LogId(int16_t anal) {
  std::string id;
  Trap("LogID")([&] {
    const LineState& line = LineAt(anal);
    id = line.handle.Trimmed() + ":" + line.account.Raw();
  });
  return id;
}

}  // namespace tellarium
