// A server in this process with its controls listening on free loopback
// ports, and callers connected to its lines.
#pragma once

#include <memory>
#include <vector>

#include "support/scratch_directory.h"
#include "support/station_client.h"

namespace tellarium::testing {

template <class StationServer = Server>
class ConnectedServerTestOf : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch_.Enter();
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

  std::string ErrorLog() const { return ReadFile("error.log"); }

  // A caller on the lowest free main port, greeted and with nothing left to
  // read; the line is then `line`. The caller's loop runs this server.
  Caller& Connect(int16_t line, int receiveBuffer = 0) {
    callers_.push_back(std::make_unique<Caller>(server.config.mainPort, true, receiveBuffer));
    Caller& caller = *callers_.back();
    EXPECT_TRUE(caller.connected());
    EXPECT_NE(caller.ReadUntil("Press <ENTER> To Login.\r\n", std::chrono::seconds(10)), "");
    EXPECT_EQ(server.lines[static_cast<std::size_t>(line)].status, kLoggingIn) << "line " << line;
    return caller;
  }

  ScratchDirectory scratch_;
  StationServer server;

 private:
  std::vector<std::unique_ptr<Caller>> callers_;
};

using ConnectedServerTest = ConnectedServerTestOf<>;

}  // namespace tellarium::testing
