// The curve fitter from a script: the shipped examples recover their hidden values (the
// defect density alone; the doping and the defect density together from a light I-V and a dark
// C-V of one cell, both read from the program's own result files), and the fit commands refuse
// what they cannot do.
#include <gtest/gtest.h>

#include "app/program_run.hpp"

namespace zoniq {
namespace {

class FitScriptTest : public test::ProgramRun {
 protected:
  void SetUp() override {
    ProgramRun::SetUp();
    home_ = test::HomeFolder();
  }
  // The value of a script letter in the "show" table ("  x       3.68e+14 ...").
  double Shown(char letter) const {
    std::istringstream lines(out_.str());
    for (std::string line; std::getline(lines, line);)
      if (line.size() > 3 && line.rfind(std::string("  ") + letter + " ", 0) == 0) return std::stod(line.substr(4));
    return -1.0;
  }
  std::string Table(const std::string& name) const { return test::ReadWholeFile((tmp_.path() / name).string()); }
};

TEST_F(FitScriptTest, ShippedExampleRecoversTheHiddenDefectDensity) {
  // The measured-like curve was simulated with the absorber defect density at 3.7e14 cm⁻³
  // (and 1 % noise on J): the fit from 1e14 must come within 2 %.
  EXPECT_EQ(Zoniq({"CIGS.def", "fit_example.script", "--output", tmp_.path().string()}), 0) << err_.str();
  EXPECT_TRUE(ui_.popups.empty());
  EXPECT_CLOSE(Shown('x'), 3.7e14, 0.02, 0);
  EXPECT_LT(Shown('y'), 1e-4);  // the chi-square of 1 % noise is about 1e-4 or below
  EXPECT_NE(err_.str().find("fit iteration 1/25: chi-square"), std::string::npos);
  EXPECT_NE(Table("CIGS_fit_example.xls").find("lowest Chi square at iteration"), std::string::npos);
}

TEST_F(FitScriptTest, ShippedExampleRecoversDopingAndDefectDensityTogether) {
  // The measured-like curves were simulated with NA = 3.2e16 and Nt = 4.5e14 cm⁻³ (the cell's
  // own 2e16 and 1e14, where the fit starts) and 1 % noise on J and C: within 5 % each.
  ASSERT_EQ(Zoniq({"CIGS.def", "fit_two_example.script", "--output", tmp_.path().string()}), 0) << err_.str();
  EXPECT_TRUE(ui_.popups.empty());
  EXPECT_CLOSE(Shown('x'), 3.2e16, 0.05, 0);
  EXPECT_CLOSE(Shown('y'), 4.5e14, 0.05, 0);
  EXPECT_LT(Shown('z'), 2e-4);  // the average of two chi-squares of 1 % noise
  EXPECT_NE(Table("CIGS_fit_two_example.xls").find("lowest Chi square at iteration"), std::string::npos);
}

TEST_F(FitScriptTest, FitCommandsRefuseWhatTheyCannotDo) {
  const std::string script = (tmp_.path() / "refusals.script").string();
  test::WriteWholeFile(script,
                       "get fit.chisq xvalue\n"       // no fit ran
                       "calculate fit\n"              // no parameters
                       "load fit no_such_file.scf\n"  // missing file
                       "set fit.maxsteps 2.5\n"       // not whole
                       "set fit.sideways 1\n");       // unknown option
  Zoniq({"CIGS.def", script});
  const std::vector<std::string> expected = {
      "No curve fitting calculatieons done", "No curve fitting parameters are set",
      "Curve Fitting Settings File not found", "Value not recognised as a whole number",
      "Curve fitting option not recognised"};
  ASSERT_EQ(ui_.popups.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i)
    EXPECT_NE(ui_.popups[i].message.find(expected[i]), std::string::npos) << ui_.popups[i].message;
}

}  // namespace
}  // namespace zoniq
