// The command-line options that run one simulation of the loaded cell (--iv and --calculate) on
// the shipped CIGS example: the sweep range and its refusals (the printed parameters of lit runs
// are pinned by the regression cases).
#include <gtest/gtest.h>

#include <string>

#include "app/main_program.hpp"
#include "app/program_run.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

// Runs in a temporary current folder (counts.txt goes there) with the shipped program folder.
class CalculateOption : public test::ProgramRun {
 protected:
  void SetUp() override {
    ProgramRun::SetUp();
    home_ = test::HomeFolder();
  }
};

TEST_F(CalculateOption, DarkSweepHasNoCellParametersAndBadRangesLoadNothing) {
  ASSERT_EQ(Zoniq({"CIGS.def", "--iv=-0.2:0.6:5", "--calculate"}), kExitOk) << err_.str();
  EXPECT_NE(out_.str().find("I-V: 5 of 5 points from -0.200 V to 0.600 V"), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find("Voc  =   not determined"), std::string::npos) << out_.str();
  // Decimal forms the number reader takes, then ranges that are refused whole.
  ASSERT_EQ(Zoniq({"CIGS.def", "--iv", "1e-1:+.5:7.0", "--calculate"}), kExitOk) << err_.str();
  EXPECT_NE(out_.str().find("I-V: 7 of 7 points from 0.100 V to 0.500 V"), std::string::npos) << out_.str();
  for (const char* range : {"0.8", "0:1", "0:1:1", "0:1:2002", "0:1:x", "a:1:3", "0:1:3:", "nan:1:3", "0:1e999:5",
                            "0;1;5", "0:1:3 ", " 0:1:5", "0: 1:5", "0x1:2:5", "0:1:5.5", "0:1:0x5", "inf:1:3"}) {
    EXPECT_EQ(Zoniq({"CIGS.def", "--iv", range, "--calculate"}), kExitUsage) << range;
    EXPECT_EQ(err_.str(), "zoniq: --iv needs START:STOP:POINTS (volts, volts, 2 to 2001 points), not '" +
                              std::string(range) + "'\nTry 'zoniq --help'.\n");
    EXPECT_EQ(out_.str(), "");  // nothing was loaded or simulated
  }
  EXPECT_EQ(Zoniq({"CIGS.def", "--iv"}), kExitUsage);
}

}  // namespace
}  // namespace zoniq
