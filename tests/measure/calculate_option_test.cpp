// The command-line options that run one simulation of the loaded cell: --light, --iv and
// --calculate, on the shipped CIGS example.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

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

  // The number after "name = " in the report, or NaN.
  double Value(const std::string& name) const {
    const std::string text = out_.str();
    const std::size_t at = text.find("\n" + name);
    if (at == std::string::npos) return std::nan("");
    return std::stod(text.substr(text.find('=', at) + 1));
  }
};

TEST_F(CalculateOption, IlluminatedSweepPrintsTheCellParameters) {
  ASSERT_EQ(Zoniq({"CIGS.def", "--light", "--iv", "-0.2:0.8:41", "--calculate"}), kExitOk) << err_.str();
  EXPECT_NE(out_.str().find("I-V: 41 of 41 points from -0.200 V to 0.800 V"), std::string::npos) << out_.str();
  const double Voc = Value("Voc"), Jsc = Value("Jsc"), FF = Value("FF"), eta = Value("eta");
  const double Vmpp = Value("Vmpp"), Jmpp = Value("Jmpp");
  // A 1.15 eV absorber under AM1.5G: Jsc below q × the photons above 1.15 eV (42.46 mA/cm2,
  // summed from the shipped spectrum file), Voc below the gap; the parameters are those of one
  // curve:
  // η = Vmpp·Jmpp [mW/cm2] / 100.04 mW/cm2 and FF = Vmpp·Jmpp/(Voc·Jsc).
  EXPECT_GT(Jsc, 0.0);
  EXPECT_LT(Jsc, 42.47);
  EXPECT_GT(Voc, 0.0);
  EXPECT_LT(Voc, 1.15);
  EXPECT_LT(Vmpp, Voc);
  EXPECT_LT(Jmpp, Jsc);
  // The printed values carry 4 to 6 decimals: relative rounding up to 1e-5.
  EXPECT_CLOSE(eta, Vmpp * Jmpp * 1000.0 / 1000.371, 1e-5, 0.0);
  EXPECT_CLOSE(FF, Vmpp * Jmpp * 100.0 / (Voc * Jsc), 1e-5, 0.0);
}

TEST_F(CalculateOption, DarkSweepHasNoCellParameters) {
  ASSERT_EQ(Zoniq({"CIGS.def", "--iv=-0.2:0.6:5", "--calculate"}), kExitOk) << err_.str();
  EXPECT_NE(out_.str().find("dark"), std::string::npos);
  EXPECT_NE(out_.str().find("Voc  =   not determined"), std::string::npos) << out_.str();
}

TEST_F(CalculateOption, BadRangesAndAbandonedSimulations) {
  for (const char* range : {"0:1", "0:1:1", "x", "0:1:5000"}) {
    EXPECT_EQ(Zoniq({"CIGS.def", "--iv", range, "--calculate"}), kExitUsage) << range;
    EXPECT_EQ(err_.str(), "zoniq: --iv needs START:STOP:POINTS (volts, volts, 2 to 2001 points), not '" +
                              std::string(range) + "'\nTry 'zoniq --help'.\n");
    EXPECT_EQ(out_.str(), "");  // nothing was loaded or simulated
  }
  EXPECT_EQ(Zoniq({"CIGS.def", "--iv"}), kExitUsage);
  // No cell: the simulation is abandoned.
  EXPECT_EQ(Zoniq({"--light", "--iv", "0:0.5:6", "--calculate"}), kExitSimulationFailed);
  EXPECT_NE(out_.str().find("The simulation was abandoned"), std::string::npos);
}

}  // namespace
}  // namespace zoniq
