// A server in this process with its controls listening on free loopback
// ports, and callers connected to its lines.
#pragma once

#include <memory>
#include <vector>

#include "support/loopback_client.h"
#include "support/server_fixture.h"

namespace tellarium::testing {

class ConnectedServerTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    server.lineBreak = "\r\n";
    server.stationNumber = "07";
    server.stationPrefix = "-=> QVS-07: ";
    server.config.maxLines = 7;
    server.config.mainPort = static_cast<int16_t>(FreePort());
    server.config.line0Port = static_cast<int16_t>(FreePort());
    server.currentLine = 8;
    server.CreateControls();
    server.OpenListeners();
  }

  // A caller on the lowest free main port, greeted and with nothing left to
  // read; the line is then `line`.
  LoopbackClient& Connect(int16_t line) {
    callers_.push_back(std::make_unique<LoopbackClient>(server.config.mainPort));
    LoopbackClient& caller = *callers_.back();
    EXPECT_TRUE(caller.connected());
    const std::string greeting = caller.ReadThrough("Press <ENTER> To Login.\r\n");
    EXPECT_NE(greeting.find("Press <ENTER> To Login.\r\n"), std::string::npos) << greeting;
    EXPECT_EQ(server.lines[static_cast<std::size_t>(line)].status, kLoggingIn) << "line " << line;
    return caller;
  }

 private:
  std::vector<std::unique_ptr<LoopbackClient>> callers_;
};

}  // namespace tellarium::testing
