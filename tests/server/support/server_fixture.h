// A server object in a scratch directory of its own.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "server/core/server.h"
#include "support/scratch_directory.h"

namespace tellarium::testing {

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override { scratch_.Enter(); }

  std::string ErrorLog() const { return ReadFile("error.log"); }

  ScratchDirectory scratch_;
  std::unique_ptr<Server> owned_ = std::make_unique<Server>();
  Server& server = *owned_;
};

}  // namespace tellarium::testing
