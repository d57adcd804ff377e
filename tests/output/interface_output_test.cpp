// Interface defects in the result files: the interface table of the band diagram against the
// I-V current split and the carrier balance, and the occupation file's interface columns
// against the charge the solver puts into Gauss's law.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "measure/iv_sweep.hpp"
#include "output/band_diagram.hpp"
#include "output/generation_profiles.hpp"
#include "solver/dc_solve.hpp"
#include "solver/equations.hpp"
#include "solver/solved_cells.hpp"
#include "solver/test_cells.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

// The pn junction (p base left, n emitter right) with a donor-like Gaussian band of interface
// states at the junction, solved in the dark at 0.5 V: no bulk recombination, so every
// recombination current is at the interface.
std::unique_ptr<DcProblem> Solved() {
  InputParameters set = test::PnJunction();
  test::AddInterfaceDefect(set, 0, DT_DONOR, 0.2, 5, 4e15, {2e-19, 1e-19, 5e-19, 3e-20}, ED_GAUSS, 0.1);
  set.convergence.defectdiscretisations = 5;
  return test::SolvedInTheDark(set, 0.5, 5);
}

TEST(InterfaceOutput, BandDiagramTableBalancesTheCurrents) {
  auto pb = Solved();
  const CalculationVariables& cv = pb->cv;
  BandDiagramProfiles b;
  BandDiagramFromSolution(cv, 1, b);
  ASSERT_EQ(b.interfaces.size(), 1u);
  const InterfaceProfileRow& r = b.interfaces[0];
  // Steady state: the interface captures as many electrons as holes.
  EXPECT_GT(r.js, 0.0);
  EXPECT_CLOSE(r.jp1 + r.jp2, r.js, 1e-9, 0.0);
  // The electron channel of each side is a separate quantity (unequal cross sections).
  EXPECT_GT(std::fabs(r.jn1 - r.jn2), 0.1 * r.js);
  // Without tunnelling the enhanced copies equal the plain fluxes.
  EXPECT_EQ(r.jn1t, r.jn1);
  EXPECT_EQ(r.jp2t, r.jp2);
  // The same current as the I-V decomposition.
  CurrentDensities j;
  EXPECT_CLOSE(EvaluateIVPoint(cv, j).jifr, r.js, 1e-12, 0.0);
  // Charge in C/cm²: donor-like, positive.
  EXPECT_CLOSE(r.pi, cv.ifr.sigma[0] * 1e-4, 1e-15, 0.0);
  EXPECT_GT(r.pi, 0.0);
  // The cumulative recombination collects the minority currents at the contacts and the
  // interface current on the way: at the end it is the total current (to the convergence of
  // the solution).
  EXPECT_CLOSE(b.cumR.back(), b.jtot[1], 1e-6, 0.0);
  // The interface row of the file.
  const std::string text = BandDiagramText(b);
  const std::size_t at = text.find("\n   0\t  ", text.find("\ninterface\n"));
  ASSERT_NE(at, std::string::npos);
  std::istringstream row(text.substr(at + 5));
  double x = 0, v = 0;
  row >> x;
  std::vector<double> values;
  while (values.size() < 10 && row >> v) values.push_back(v);
  ASSERT_EQ(values.size(), 10u);
  EXPECT_CLOSE(values[8], r.js, 1e-7, 0.0);  // sci 16.8: 9 significant digits
  EXPECT_CLOSE(values[9], r.pi, 1e-7, 0.0);
}

TEST(InterfaceOutput, OccupationColumnsGiveTheInterfaceCharge) {
  auto pb = Solved();
  const CalculationVariables& cv = pb->cv;
  const std::string t = OccupationTable(cv);
  EXPECT_NE(t.find("interface 1, defect 1: "), std::string::npos);
  std::istringstream in(t);
  std::string line;
  while (std::getline(in, line) && line.rfind("x (", 0) != 0) {
  }
  // Titles: x, i, then f_t(electrons) and f_t(holes) of every sub-level of the Gaussian.
  std::vector<std::string> titles;
  {
    std::istringstream ts(line);
    std::string title;
    while (std::getline(ts, title, '\t')) titles.push_back(title);
  }
  ASSERT_EQ(titles.size(), 2u + 2u * 5u);
  EXPECT_EQ(titles[2], "f_t(IF electrons)1,1,1 {+/0}");
  EXPECT_EQ(titles[11], "f_t(IF holes)1,1,5 {+/0}");
  const InterfaceDefectRecord& d = cv.ifrec.iface[0][0];
  const int p = cv.mesh.last[0];
  int row = 0, interfaceRows = 0;
  while (std::getline(in, line)) {
    std::istringstream rs(line);
    std::vector<double> v;
    double x = 0;
    while (rs >> x) v.push_back(x);
    ASSERT_EQ(v.size(), titles.size()) << row;
    const bool atInterface = row == p || row == p + 1;
    double sigma = 0.0;
    for (int k = 0; k < 5; ++k) {
      const double fe = v[2 + 2 * k], fh = v[3 + 2 * k];
      if (!atInterface) {
        EXPECT_EQ(fe, 0.0);
        EXPECT_EQ(fh, 0.0);
        continue;
      }
      EXPECT_NEAR(fe + fh, 1.0, 1e-8);
      sigma += kQ * d.records[static_cast<std::size_t>(k)].Nt * fh;  // donor: charged when empty
    }
    if (atInterface) {
      ++interfaceRows;
      EXPECT_CLOSE(sigma, cv.ifr.sigma[0], 1e-7, 0.0);
    }
    ++row;
  }
  EXPECT_EQ(row, cv.mesh.N);
  EXPECT_EQ(interfaceRows, 2);
}

}  // namespace
}  // namespace zoniq
