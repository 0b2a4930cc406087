#include "server/core/server.h"

#include <utility>

#include "platform/console.h"
#include "platform/loop.h"
#include "telnetctl/korvatel.h"

namespace tellarium {
namespace {

template <class Table>
auto& EntryAt(Table& table, int index) {
  if (index < 0 || index >= static_cast<int>(table.size())) Raise(ErrorNumber::kSubscriptOutOfRange);
  return table[static_cast<std::size_t>(index)];
}

}  // namespace

Server::Server() : Server([] { return std::unique_ptr<platform::Component>(KorvatelCreateControl()); }) {}

Server::Server(ControlFactory controlFactory) : controlFactory_(std::move(controlFactory)) {
  for (HeldOutput& held : heldOutput) held.WhenHolding([this] { KeepReleasing(); });
}

Server::~Server() = default;

LineState& Server::LineAt(int line) { return EntryAt(lines, line); }

ChannelInfo& Server::ChannelAt(int channel) { return EntryAt(channels, channel - 1); }

std::string& Server::InputLineAt(int line) { return EntryAt(inputLine, line); }

LineConnection& Server::ConnectionAt(int line) { return EntryAt(connections, line); }

void Server::ShowProgress(std::string_view message) {
  platform::console::Write(std::string(message) + lineBreak);
  platform::Pump();
}

}  // namespace tellarium
