// The curve fitter from a script: the shipped examples recover their hidden values (the
// defect density alone; the doping and the defect density together from a light I-V and a dark
// C-V of one cell, both read from the program's own result files), and the fit commands refuse
// what they cannot do.
#include <gtest/gtest.h>

#include <sstream>

#include "app/main_program.hpp"
#include "app/program_run.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

struct Outcome {
  int status;
  std::string out, err;
  std::vector<RecordingUserInterface::Popup> popups;
};

Outcome Zoniq(std::vector<std::string> args) {
  args.insert(args.begin(), "zoniq");
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  std::ostringstream out, err;
  RecordingUserInterface ui;
  RunOptions options;
  options.out = &out;
  options.err = &err;
  options.programFolder = test::HomeFolder();
  const int status = RunZoniq(static_cast<int>(argv.size()), argv.data(),
                              std::make_unique<test::ForwardingUserInterface>(ui), options);
  return {status, out.str(), err.str(), ui.popups};
}

// The value of a script letter in the "show" table ("  x       3.68e+14 ...").
double Shown(const std::string& out, char letter) {
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line))
    if (line.size() > 3 && line[0] == ' ' && line[1] == ' ' && line[2] == letter && line[3] == ' ')
      return std::stod(line.substr(4));
  return -1.0;
}

TEST(FitScriptTest, ShippedExampleRecoversTheHiddenDefectDensity) {
  // The measured-like curve was simulated with the absorber defect density at 3.7e14 cm⁻³
  // (and 1 % noise on J): the fit from 1e14 must come within 2 %.
  test::TempDir out;
  const Outcome o = Zoniq({"CIGS.def", "fit_example.script", "--output", out.path().string()});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_TRUE(o.popups.empty());
  EXPECT_CLOSE(Shown(o.out, 'x'), 3.7e14, 0.02, 0);
  EXPECT_LT(Shown(o.out, 'y'), 1e-4);  // the chi-square of 1 % noise is about 1e-4 or below
  EXPECT_NE(o.err.find("fit iteration 1/25: chi-square"), std::string::npos);
  const std::string table = test::ReadWholeFile(out.file("CIGS_fit_example.xls"));
  EXPECT_NE(table.find("lowest Chi square at iteration"), std::string::npos);
}

TEST(FitTwoExampleTest, ShippedExampleRecoversDopingAndDefectDensityTogether) {
  // The measured-like curves were simulated with NA = 3.2e16 and Nt = 4.5e14 cm⁻³ (the cell's
  // own 2e16 and 1e14, where the fit starts) and 1 % noise on J and C: within 5 % each.
  test::TempDir out;
  const Outcome o = Zoniq({"CIGS.def", "fit_two_example.script", "--output", out.path().string()});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_TRUE(o.popups.empty());
  EXPECT_CLOSE(Shown(o.out, 'x'), 3.2e16, 0.05, 0);
  EXPECT_CLOSE(Shown(o.out, 'y'), 4.5e14, 0.05, 0);
  // The average of two chi-squares of 1 % noise: about 1e-4 or below.
  EXPECT_LT(Shown(o.out, 'z'), 2e-4);
  const std::string table = test::ReadWholeFile(out.file("CIGS_fit_two_example.xls"));
  EXPECT_NE(table.find("lowest Chi square at iteration"), std::string::npos);
}

TEST(FitScriptTest, FitCommandsRefuseWhatTheyCannotDo) {
  test::TempDir dir;
  const std::string script = dir.file("refusals.script");
  test::WriteWholeFile(script,
                       "get fit.chisq xvalue\n"       // no fit ran
                       "calculate fit\n"              // no parameters
                       "load fit no_such_file.scf\n"  // missing file
                       "set fit.maxsteps 2.5\n"       // not whole
                       "set fit.sideways 1\n");       // unknown option
  const Outcome o = Zoniq({"CIGS.def", script});
  const std::vector<std::string> expected = {
      "No curve fitting calculatieons done", "No curve fitting parameters are set",
      "Curve Fitting Settings File not found", "Value not recognised as a whole number",
      "Curve fitting option not recognised"};
  ASSERT_EQ(o.popups.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i)
    EXPECT_NE(o.popups[i].message.find(expected[i]), std::string::npos) << o.popups[i].message;
}

}  // namespace
}  // namespace zoniq
