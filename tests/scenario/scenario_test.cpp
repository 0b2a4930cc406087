// Every scenario of tests/scenarios as a test of its own.
#include <gtest/gtest.h>

#include "scenario/scenario.h"

namespace tellarium::scenario {
namespace {

class ScenarioTest : public ::testing::TestWithParam<Scenario> {};

TEST_P(ScenarioTest, Runs) { scenario::Run(GetParam(), TELLARIUM_BINARY); }

// "logins.scn" from line 52 makes "logins_52"; a failure names the title.
std::string TestName(const ::testing::TestParamInfo<Scenario>& info) {
  return info.param.file.substr(0, info.param.file.find('.')) + "_" + std::to_string(info.param.line);
}

INSTANTIATE_TEST_SUITE_P(Station, ScenarioTest, ::testing::ValuesIn(LoadScenarios(TELLARIUM_SCENARIOS)), TestName);

}  // namespace
}  // namespace tellarium::scenario
