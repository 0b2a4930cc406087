// The backlog: one message from one line to the others. Chat users get it
// through their held output, released by BOut; D-Dial links get it at once in
// their line-code form.
#include <algorithm>
#include <array>
#include <optional>

#include "server/core/server.h"

namespace tellarium {
namespace {

// What the sender's place means for the chat users it reaches.
enum class ChatRoute { kChannel, kConference, kPrivateChat, kNone };

// Channel marks of a multi-channel link by the channel's position in its
// linkChannels; the first position has none.
constexpr std::array<std::string_view, 9> kChannelMarks = {"", "~", "!", "@", "$", "%", "^", "&", "("};

bool IsLink(const LineState& line) { return line.status == kDDialLink || line.status == kQvsLink; }

// A D-Dial link on its own kinds (DDL, DCL, QVL) relays chat into the channel
// its inbound handler set, so it sends as a user on an ordinary channel.
ChatRoute RouteOf(const LineState& sender) {
  if (sender.status == kDDialLink && sender.substate <= kQvlLink) return ChatRoute::kChannel;
  switch (sender.substate) {
    case kOnChannel: return ChatRoute::kChannel;
    case kInConference: return ChatRoute::kConference;
    case kInPrivateChat: return ChatRoute::kPrivateChat;
    default: return ChatRoute::kNone;
  }
}

// True when the link's channel at `position` (from 1) is the sender's channel.
bool CarriesAt(const LineState& link, std::size_t position, const std::string& channel) {
  return link.linkChannels.Raw().substr(position - 1, 1) == channel;
}

// Position (from 1) of the sender's channel among the link's channels, one
// character each; 0 when the link does not carry it. A channel of several
// digits (a conference) is carried by no link.
std::size_t LinkChannelPosition(const LineState& link, const std::string& channel) {
  if (channel.size() != 1) return 0;
  const std::size_t at = link.linkChannels.Raw().find(channel[0]);
  return at == std::string::npos ? 0 : at + 1;
}

struct Distribution {
  int16_t cmd;
  int16_t sender;
  std::string text;
  int32_t channel;
  std::string channelText;  // the sender's channel in decimal, as links carry it
  ChatRoute route;
  bool guestSender;      // a guest's chat is not relayed to other stations
  std::string linkText;  // the text with its line codes in D-Dial form
  bool privateChatDelivered = false;
};

// The text up to and including the character after its first "#" (the first
// character when it has none) goes into line codes: "#A" becomes "#10".
std::string DDialText(Server& server, const std::string& a) {
  const std::size_t hash = a.find('#');
  const std::size_t cut = std::min(a.size(), hash == std::string::npos ? 1 : hash + 2);
  return server.LTrans2(a.substr(0, cut)) + a.substr(cut);
}

Distribution DescribeDistribution(Server& server, int16_t cmd, std::string a, int16_t curlin) {
  const LineState& sender = server.LineAt(curlin);
  Distribution message{cmd,
                       curlin,
                       std::move(a),
                       sender.channel,
                       std::to_string(sender.channel),
                       RouteOf(sender),
                       sender.status == kChatUser && !sender.accountFlags[kFlagInUse],
                       {}};
  message.linkText = DDialText(server, message.text);
  return message;
}

// The partner and the sender each get the message once, however many chat
// users are online.
void DeliverPrivateChat(Server& server, Distribution& message) {
  message.privateChatDelivered = true;
  const std::string held = message.text + server.lineBreak + HeldOutput::kEndMark;
  const int16_t partner = server.LineAt(message.sender).pairedLine;
  if (partner < 0 || partner >= kLineCount) Raise(ErrorNumber::kSubscriptOutOfRange);
  server.heldOutput[static_cast<std::size_t>(partner)].Append(held);
  if (partner != message.sender) server.heldOutput[static_cast<std::size_t>(message.sender)].Append(held);
}

// True when a chat line from the sender's place reaches line t: the same
// ordinary channel, or the same conference.
bool SharesPlace(const Distribution& message, const LineState& t) {
  const bool inConference = t.substate == kInConference;
  if (t.substate == kInPrivateChat || inConference != (message.route == ChatRoute::kConference)) return false;
  return t.channel == message.channel;
}

// Chat lines stay in the sender's place; every other message (posts, notices)
// reaches every chat user, also from private chat or a conference.
void DeliverToChatUser(Server& server, Distribution& message, int16_t t) {
  if (message.route == ChatRoute::kNone) return;
  if (message.route == ChatRoute::kPrivateChat && message.cmd == kChatMode) {
    if (!message.privateChatDelivered) DeliverPrivateChat(server, message);
    return;
  }
  if (message.cmd != kChatMode || SharesPlace(message, server.LineAt(t))) {
    server.heldOutput[static_cast<std::size_t>(t)].Append(
        server.FormatOutput(t, message.cmd, HeldOutput::Ended(message.text)));
  }
}

// Private chat and conferences never leave the station.
void DeliverToDDialLink(Server& server, const Distribution& message, int16_t t) {
  if (message.guestSender || message.cmd != kChatMode || message.route == ChatRoute::kPrivateChat ||
      message.route == ChatRoute::kConference) {
    return;
  }
  const LineState& link = server.LineAt(t);
  const std::string& text = message.linkText;
  const std::string& br = server.lineBreak;
  switch (link.substate) {
    case kDdlLink:
      if (CarriesAt(link, 1, message.channelText)) server.SendDirect(t, text + br);
      break;
    case kDclLink:
      if (CarriesAt(link, 1, message.channelText)) server.SendDirect(t, text + br);
      if (CarriesAt(link, 2, message.channelText)) server.SendDirect(t, "~" + text + br);
      break;
    case kQvlLink: {
      const std::size_t position = LinkChannelPosition(link, message.channelText);
      if (position >= 1 && position <= kChannelMarks.size()) {
        server.SendDirect(t, std::string(kChannelMarks[position - 1]) + text + br);
      }
      break;
    }
    default: break;
  }
}

void DeliverTo(Server& server, Distribution& message, int16_t t) {
  const LineState& line = server.LineAt(t);
  if (t == message.sender && IsLink(server.LineAt(message.sender))) return;
  if (line.status == kChatUser) DeliverToChatUser(server, message, t);
  if (line.status == kDDialLink) DeliverToDDialLink(server, message, t);
}

}  // namespace

void Server::backlog(int16_t cmd, std::string a, int16_t curlin) {
  const ErrorTrap trap = Trap("BackLog");
  std::optional<Distribution> message;
  trap([&] { message = DescribeDistribution(*this, cmd, std::move(a), curlin); });
  if (!message) return;
  for (int16_t t = 0; t <= config.maxLines; ++t) trap([&] { DeliverTo(*this, *message, t); });
}

}  // namespace tellarium
