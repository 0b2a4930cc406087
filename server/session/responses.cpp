// The standard answers to a line's commands.
#include <array>
#include <string>
#include <string_view>

#include "server/core/server.h"

namespace tellarium {
namespace {

// By ResponseCode.
constexpr std::array<std::string_view, 9> kResponses = {
    "Unrecognized Command. /? For Menu.",
    "Insufficient Security Clearance.",
    "Incomplete Function.",
    "Invalid Format.",
    "Done.",
    "Invalid Line.",
    "Message Not Enabled.",
    "Invalid User Account.",
    "Not Online.",
};

}  // namespace

// The answer ends the command: the answered line's input is cleared. A mode
// outside the table answers nothing.
void Server::Response(int16_t Mode, int16_t lne) {
  Trap("Response")([&] {
    if (Mode < 0 || Mode >= static_cast<int16_t>(kResponses.size())) return;
    const std::string answer(kResponses[static_cast<std::size_t>(Mode)]);
    InputLineAt(lne).clear();
    send(lne, kStationMode, answer + lineBreak);
  });
}

}  // namespace tellarium
