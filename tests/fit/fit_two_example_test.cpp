// The shipped joint-fit example: the absorber's doping and defect density from a light I-V and
// a dark C-V of the same cell, both read from the program's own result files.
#include <gtest/gtest.h>

#include <sstream>

#include "app/main_program.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

// Messages are both recorded and counted by the program, so they are forwarded.
class Forwarding : public UserInterface {
 public:
  explicit Forwarding(RecordingUserInterface& to) : to_(to) {}
  void MessagePopup(std::string_view t, std::string_view m) override { to_.MessagePopup(t, m); }
  void StatusMessage(std::string_view) override {}
  bool ConfirmPopup(std::string_view, std::string_view, bool safeDefault) override { return safeDefault; }
  std::optional<std::string> FileSelectPopup(std::string_view, std::string_view, std::string_view, bool) override {
    return std::nullopt;
  }

 private:
  RecordingUserInterface& to_;
};

// The value of a script letter in the "show" table ("  x       3.18e+16 ...").
double Shown(const std::string& out, char letter) {
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line))
    if (line.size() > 3 && line[0] == ' ' && line[1] == ' ' && line[2] == letter && line[3] == ' ')
      return std::stod(line.substr(4));
  return -1.0;
}

TEST(FitTwoExampleTest, ShippedExampleRecoversDopingAndDefectDensityTogether) {
  // The measured-like curves were simulated with NA = 3.2e16 and Nt = 4.5e14 cm⁻³ (the cell's
  // own 2e16 and 1e14, where the fit starts) and 1 % noise on J and C: within 5 % each.
  test::TempDir out;
  const std::string folder = out.path().string();
  std::vector<const char*> argv = {"zoniq", "CIGS.def", "fit_two_example.script", "--output", folder.c_str()};
  std::ostringstream sout, serr;
  RecordingUserInterface ui;
  RunOptions options;
  options.out = &sout;
  options.err = &serr;
  options.programFolder = test::HomeFolder();
  ASSERT_EQ(RunZoniq(static_cast<int>(argv.size()), argv.data(), std::make_unique<Forwarding>(ui), options), 0)
      << serr.str();
  EXPECT_TRUE(ui.popups.empty());
  EXPECT_CLOSE(Shown(sout.str(), 'x'), 3.2e16, 0.05, 0);
  EXPECT_CLOSE(Shown(sout.str(), 'y'), 4.5e14, 0.05, 0);
  // The average of two chi-squares of 1 % noise: about 1e-4 or below.
  EXPECT_LT(Shown(sout.str(), 'z'), 2e-4);
  const std::string table = test::ReadWholeFile(out.file("CIGS_fit_two_example.xls"));
  EXPECT_NE(table.find("lowest Chi square at iteration"), std::string::npos);
}

}  // namespace
}  // namespace zoniq
