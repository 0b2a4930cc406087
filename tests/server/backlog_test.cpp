// The backlog: chat users through their held output, D-Dial links at once in
// their line-code form.
#include <gtest/gtest.h>

#include <vector>

#include "support/connected_server.h"
#include "support/server_fixture.h"

namespace tellarium {
namespace {

using Messages = std::vector<std::string>;

template <class Fixture>
class BacklogFixture : public Fixture {
 protected:
  using Fixture::server;

  void SetUp() override {
    Fixture::SetUp();
    server.lineBreak = "\r\n";
    server.stationPrefix = "-=> QVS-07: ";
    server.config.maxLines = 7;
  }

  LineState& ChatUser(int16_t line, int32_t channel, int16_t substate = 0, bool member = true) {
    LineState& state = server.lines[static_cast<std::size_t>(line)];
    state.status = kChatUser;
    state.substate = substate;
    state.channel = channel;
    state.lineType = kTelnetLine;
    state.accountFlags[kFlagInUse] = member;
    return state;
  }
  LineState& DDialLink(int16_t line, int16_t kind, const std::string& channels) {
    LineState& state = server.lines[static_cast<std::size_t>(line)];
    state.status = kDDialLink;
    state.substate = kind;
    state.linkChannels = channels;
    state.channel = 1;
    return state;
  }
  // Every message held for the line, oldest first; the line has none afterwards.
  Messages Held(int16_t line) {
    Messages messages;
    HeldOutput& held = server.heldOutput[static_cast<std::size_t>(line)];
    while (held.HasMessage()) messages.push_back(held.TakeFirst());
    return messages;
  }
};

using BacklogTest = BacklogFixture<testing::ServerTest>;

TEST_F(BacklogTest, ChatLineReachesTheChatUsersOfTheSendersChannelOnly) {
  ChatUser(1, 1);
  ChatUser(2, 2);
  ChatUser(4, 1, 5);  // in private chat: still tuned to its channel
  server.lines[5].status = kLoggingIn;
  server.lines[5].channel = 1;
  server.backlog(0, "#1[C1]:Max) hello^there", 1);
  EXPECT_EQ(Held(1), Messages{"#1[C1]:Max) hello\r\n there"});
  EXPECT_EQ(Held(2), Messages{});
  EXPECT_EQ(Held(4), Messages{"#1[C1]:Max) hello\r\n there"});
  EXPECT_EQ(Held(5), Messages{});
  EXPECT_EQ(ErrorLog(), "");
}

TEST_F(BacklogTest, OtherCommandsReachEveryChatUserInTheirOutputMode) {
  ChatUser(1, 1);
  ChatUser(2, 2);
  ChatUser(6, 600, 6);
  server.lines[3].status = kLoggingIn;  // a new connection tells the chat users
  server.backlog(4, "Login #3.\r\n", 3);
  for (int16_t line : {1, 2, 6}) EXPECT_EQ(Held(line), Messages{"-=> QVS-07: Login #3.\r\n"}) << line;
  EXPECT_EQ(Held(3), Messages{});
  server.lines[1].privateMsgBeep = true;
  server.backlog(1, "P#2(C2]:Ann) psst", 2);
  EXPECT_EQ(Held(1), Messages{"\x07P#2(C2]:Ann) psst"});
  EXPECT_EQ(Held(2), Messages{"P#2(C2]:Ann) psst"});
}

TEST_F(BacklogTest, PrivateChatReachesPartnerAndSenderExactlyOnce) {
  for (int16_t line = 0; line <= 7; ++line) ChatUser(line, 1);
  ChatUser(2, 1, 5).pairedLine = 6;
  ChatUser(6, 1, 5).pairedLine = 2;
  server.backlog(0, "#2(CHAT]:Max) just us", 2);
  const Messages once{"#2(CHAT]:Max) just us\r\n"};
  EXPECT_EQ(Held(2), once);
  EXPECT_EQ(Held(6), once);
  for (int16_t line : {0, 1, 3, 4, 5, 7}) EXPECT_EQ(Held(line), Messages{}) << line;
}

TEST_F(BacklogTest, ConferenceChatStaysInTheConference) {
  ChatUser(1, 567, 6);
  ChatUser(2, 567, 6);
  ChatUser(3, 5);
  ChatUser(4, 568, 6);
  server.backlog(0, "#1(CONF]:Max) in here", 1);
  EXPECT_EQ(Held(1), Messages{"#1(CONF]:Max) in here"});
  EXPECT_EQ(Held(2), Messages{"#1(CONF]:Max) in here"});
  EXPECT_EQ(Held(3), Messages{});
  EXPECT_EQ(Held(4), Messages{});
}

TEST_F(BacklogTest, SendersInOtherPlacesReachNoChatUser) {
  ChatUser(1, 1);
  ChatUser(2, 1, 3);  // warned of its time limit
  ChatUser(3, 1, 4);
  server.backlog(0, "#2(C1]:Max) late", 2);
  server.backlog(4, "#3(C1]:Max) relogged", 3);
  EXPECT_EQ(Held(1), Messages{});
}

TEST_F(BacklogTest, DDialLinkSendersReachTheirChannelButNeverThemselves) {
  ChatUser(1, 1);
  ChatUser(2, 2);
  for (int16_t kind : {0, 1, 2}) {
    DDialLink(5, kind, "123456789").channel = 2;
    server.backlog(0, "5#A(C2]:Bob) hi", 5);
    EXPECT_EQ(Held(2), Messages{"5#A(C2]:Bob) hi"}) << kind;
    EXPECT_EQ(Held(1), Messages{}) << kind;
    EXPECT_EQ(Held(5), Messages{}) << kind;
  }
  DDialLink(5, 3, "1").channel = 2;  // warned of its time limit
  server.backlog(0, "5#A(C2]:Bob) late", 5);
  EXPECT_EQ(Held(2), Messages{});
}

// Links on real connections: line 1 DDL, line 2 DCL, line 3 QVL.
class BacklogToLinksTest : public BacklogFixture<testing::ConnectedServerTest> {
 protected:
  void SetUp() override {
    BacklogFixture::SetUp();
    ddl_ = &Connect(1);
    dcl_ = &Connect(2);
    qvl_ = &Connect(3);
    DDialLink(1, 0, "1");
    DDialLink(2, 1, "12");
    DDialLink(3, 2, "123456789");
  }
  std::string AtDdl() { return ddl_->ReadFor(); }
  std::string AtDcl() { return dcl_->ReadFor(); }
  std::string AtQvl() { return qvl_->ReadFor(); }

  testing::Caller* ddl_ = nullptr;
  testing::Caller* dcl_ = nullptr;
  testing::Caller* qvl_ = nullptr;
};

TEST_F(BacklogToLinksTest, ChatOfAMemberGoesToTheLinksCarryingItsChannel) {
  ChatUser(4, 1);
  server.backlog(0, "#4[C1]:Max) hi", 4);
  EXPECT_EQ(AtDdl(), "#4[C1]:Max) hi\r\n");
  EXPECT_EQ(AtDcl(), "#4[C1]:Max) hi\r\n");
  EXPECT_EQ(AtQvl(), "#4[C1]:Max) hi\r\n");
  EXPECT_EQ(Held(4), Messages{"#4[C1]:Max) hi"});

  ChatUser(4, 2);
  server.backlog(0, "#4[C2]:Max) two", 4);
  EXPECT_EQ(AtDdl(), "");
  EXPECT_EQ(AtDcl(), "~#4[C2]:Max) two\r\n");
  EXPECT_EQ(AtQvl(), "~#4[C2]:Max) two\r\n");

  ChatUser(4, 9);
  server.backlog(0, "#4[C9]:Max) nine", 4);
  EXPECT_EQ(AtDcl(), "");
  EXPECT_EQ(AtQvl(), "(#4[C9]:Max) nine\r\n");
}

TEST_F(BacklogToLinksTest, QvlMarksFollowTheChannelsPosition) {
  const std::string marks[] = {"", "~", "!", "@", "$", "%", "^", "&", "("};
  DDialLink(3, 2, "975318642");
  for (int channel = 1; channel <= 9; ++channel) {
    ChatUser(4, channel);
    server.backlog(0, "#4[C]:Max) x", 4);
    const std::size_t position = std::string("975318642").find(static_cast<char>('0' + channel));
    EXPECT_EQ(AtQvl(), marks[position] + "#4[C]:Max) x\r\n") << channel;
  }
}

TEST_F(BacklogToLinksTest, LineCodesAfterTheHashGoIntoDigitsForLinksOnly) {
  DDialLink(2, 1, "12").channel = 1;
  ChatUser(4, 1);
  ChatUser(6, 1);
  // The DDL on line 1 relays a remote caller on line code A.
  server.backlog(0, "1#A(C1]:Bob) hi#B", 1);
  EXPECT_EQ(AtDdl(), "");  // never back to the sending link
  EXPECT_EQ(AtDcl(), "1#10(C1]:Bob) hi#B\r\n");
  EXPECT_EQ(AtQvl(), "1#10(C1]:Bob) hi#B\r\n");
  // Chat users before and after the links see the same text.
  EXPECT_EQ(Held(4), Messages{"1#A(C1]:Bob) hi#B"});
  EXPECT_EQ(Held(6), Messages{"1#A(C1]:Bob) hi#B"});
}

TEST_F(BacklogToLinksTest, GuestsAndConferencesAndOtherCommandsStayOnThisStation) {
  ChatUser(4, 1, 0, /*member=*/false);
  server.backlog(0, "#4(C1]:?) guest", 4);
  ChatUser(4, 567, 6);
  server.backlog(0, "#4(CONF]:Max) conference 567", 4);
  ChatUser(4, 1);
  server.backlog(4, "Login #5.\r\n", 4);
  server.backlog(2, "S#4[C1]:Max) posted\r\n", 4);
  EXPECT_EQ(AtDdl(), "");
  EXPECT_EQ(AtDcl(), "");
  EXPECT_EQ(AtQvl(), "");
  EXPECT_EQ(Held(4).size(), 4u);  // each reached the sender itself
}

TEST_F(BacklogToLinksTest, LinkInItsWarnedStateGetsNothing) {
  DDialLink(1, 3, "1");
  ChatUser(4, 1);
  server.backlog(0, "#4[C1]:Max) hi", 4);
  EXPECT_EQ(AtDdl(), "");
  EXPECT_EQ(AtDcl(), "#4[C1]:Max) hi\r\n");
}

}  // namespace
}  // namespace tellarium
