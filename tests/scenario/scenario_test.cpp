// Every scenario of tests/scenarios as a test of its own.
#include <gtest/gtest.h>

#include <cctype>

#include "scenario/scenario.h"

namespace tellarium::scenario {
namespace {

class ScenarioTest : public ::testing::TestWithParam<Scenario> {};

TEST_P(ScenarioTest, Runs) { scenario::Run(GetParam(), TELLARIUM_BINARY); }

// "sessions.scn" and "A guest logs in" make "sessions_AGuestLogsIn".
std::string TestName(const ::testing::TestParamInfo<Scenario>& info) {
  std::string name = info.param.file.substr(0, info.param.file.find('.')) + "_";
  bool upper = true;
  for (char c : info.param.title) {
    if (!std::isalnum(static_cast<unsigned char>(c))) {
      upper = true;
      continue;
    }
    name += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
    upper = false;
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Station, ScenarioTest, ::testing::ValuesIn(LoadScenarios(TELLARIUM_SCENARIOS)), TestName);

}  // namespace
}  // namespace tellarium::scenario
