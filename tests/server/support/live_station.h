// A running station binary in a scratch directory, with members seeded before
// it starts and callers brought to the password prompt.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "server/core/server.h"
#include "support/scratch_directory.h"
#include "support/server_fixture.h"
#include "support/station_client.h"

namespace tellarium::testing {

inline const std::string kTelnetOffers = std::string("\xff\xfb\x01\xff\xfa", 5) + std::string("\x00\x01\x01\x01", 4) +
                                         std::string("\xff\xf0", 2);
inline const std::string kPressEnter = "Press <ENTER> To Login.\r\n";
inline const std::string kPasswordPrompt = "Welcome to Tellarium QVS-00\r\nEnter PASSWORD or <RETURN>\r\n-->";

inline std::string Greeting(int line) {
  return kTelnetOffers + "\r\nWelcome to QVS-00:Tellarium\r\nRunning QVS V1.40M\r\nYou are connected to port #" +
         std::to_string(line) + "\r\n" + kPressEnter;
}

class LiveStationTest : public ::testing::Test {
 protected:
  void SetUp() override { scratch_.Enter(); }

  // Seeds an account file before the station starts.
  void AddMember(const Member& member) {
    Server writer;
    writer.Startup();
    WriteMember(writer, member);
  }

  // Starts the station with `maxLines` main lines (config.qvs is rewritten).
  void StartStation(int maxLines = 7) {
    WriteStationConfig(ports_, maxLines);
    station_ = std::make_unique<Station>(TELLARIUM_BINARY, scratch_.path().string());
  }

  // A caller greeted on `line` (line 0 has its own port).
  std::unique_ptr<Caller> Greeted(int line) {
    auto caller = CallWhenListening(line == 0 ? ports_.line0 : ports_.main);
    EXPECT_EQ(caller->ReadUntil(kPressEnter), Greeting(line));
    return caller;
  }

  // Starts the station under a clock running `speed` times as fast (its
  // timers with it); false when the clock tool is not installed.
  bool StartStationSpedUp(int maxLines, int speed) {
    const char* const libraries[] = {"/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1",
                                     "/usr/lib/aarch64-linux-gnu/faketime/libfaketime.so.1",
                                     "/usr/lib/faketime/libfaketime.so.1"};
    std::string library;
    for (const char* candidate : libraries) {
      if (std::filesystem::exists(candidate)) library = candidate;
    }
    if (library.empty()) return false;
    WriteStationConfig(ports_, maxLines);
    // The station itself is preloaded (no wrapper process in between), so
    // ending the Station ends the station.
    const std::filesystem::path launcher = scratch_.path() / "sped_up.sh";
    {
      std::ofstream script(launcher);
      script << "#!/bin/sh\nexport FAKETIME='+0 x" << speed << "'\nexport LD_PRELOAD='" << library
             << "'\nexec '" << TELLARIUM_BINARY << "'\n";
    }
    std::filesystem::permissions(launcher, std::filesystem::perms::owner_all);
    station_ = std::make_unique<Station>(launcher.string(), scratch_.path().string());
    return true;
  }

  // A guest logged in by a bare ENTER on `line`, read up to its own login
  // announcement.
  std::unique_ptr<Caller> GuestLoggedIn(int line) {
    auto caller = Prompted(line);
    caller->Send("\r");
    const std::string tag = "#" + std::to_string(line) + "(C1]:?) ";
    EXPECT_NE(caller->ReadUntil("\x07Login\r\n " + tag + "\r\n"), "") << "guest on line " << line;
    return caller;
  }

  // A caller on `line` at the password prompt.
  std::unique_ptr<Caller> Prompted(int line) {
    auto caller = Greeted(line);
    caller->Send("\r\n");
    EXPECT_EQ(caller->ReadUntil("-->"), kPasswordPrompt);
    return caller;
  }

  std::string File(const std::string& name) const { return ReadFile(scratch_.path() / name); }

  ScratchDirectory scratch_;
  StationPorts ports_;
  std::unique_ptr<Station> station_;
};

}  // namespace tellarium::testing
