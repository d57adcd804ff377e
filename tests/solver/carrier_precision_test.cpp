// The carrier variables keep their relative precision whatever the ratio of a density to the
// one at its carrier's contact: a strong forward bias at low temperature puts the minority
// electrons at the back contact e^(V/Vt) ≈ 1e22 below those at the front.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "solver/acceptance.hpp"
#include "solver/dc_solve.hpp"
#include "solver/test_cells.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

std::unique_ptr<DcProblem> ColdThinFilmCell() {
  auto pb = std::make_unique<DcProblem>();
  EXPECT_EQ(SetUpDcProblem(*pb, test::ThinFilmCell(), MeshSettings{}, 250.0), 0) << pb->ctx.lastMessage;
  EXPECT_EQ(SolveEquilibrium(pb->cv), 0);
  return pb;
}

double Electrons(const CalculationVariables& cv, int i) { return cv.u0[i] + cv.u[i]; }

TEST(CarrierPrecision, ValuesFarBelowTheirContactsAreExact) {
  // At 1.1 V and 250 K the anchor of the electrons (n-type front) is uR = e^(1.1/Vt) ≈ 1.5e22:
  // a value of 1 stored as a deviation from uR is lost entirely (the spacing of doubles there
  // is ~2e6); it is stored whole, as is every value below 1e-3 of its anchor.
  auto pb = ColdThinFilmCell();
  CalculationVariables& cv = pb->cv;
  Set_an_And_ap(cv, 1.1);
  ASSERT_GT(cv.uAnchor, 1e22);
  const double uR = cv.uAnchor;
  SetCarrierValues(cv, 0, 1.0, 1.0);
  SetCarrierValues(cv, 1, 3e-300, 1e-200);
  SetCarrierValues(cv, 2, uR * (1.0 + 1e-13), 1.0);
  SetCarrierValues(cv, 3, uR * (1.0 + 3e-13), 1.0);
  EXPECT_EQ(Electrons(cv, 0), 1.0);
  EXPECT_EQ(Electrons(cv, 1), 3e-300);
  EXPECT_EQ(cv.v0[1] + cv.v[1], 1e-200);
  // Near the anchor, the deviation is what is stored: the difference of two neighbours that
  // the currents take is exact in it.
  EXPECT_EQ(cv.u0[2], uR);
  EXPECT_EQ(CarrierDifference(cv.u0.data(), cv.u.data(), 3, 2), cv.u[3] - cv.u[2]);
  // A new bias moves the anchors; every value is kept.
  Set_an_And_ap(cv, 0.3);
  EXPECT_EQ(Electrons(cv, 0), 1.0);
  EXPECT_EQ(Electrons(cv, 1), 3e-300);
  EXPECT_CLOSE(Electrons(cv, 2), uR * (1.0 + 1e-13), 1e-15, 0.0);
}

TEST(CarrierPrecision, ColdCellAtStrongForwardBiasSolvesAndConservesCurrent) {
  // The dark thin-film cell walked to 1.1 V at 250 K. The electrons diffuse through the
  // absorber into the back contact, which takes them at S = 1e7 m/s: their value there lies
  // between its equilibrium 1 and the front's uR ≈ 1.5e22, far below the latter (D/(W·S) ≈
  // 1e-5 of the absorber's); the solution passes the check of residual and current continuity.
  auto pb = ColdThinFilmCell();
  CalculationVariables& cv = pb->cv;
  ASSERT_EQ(SolveDarkBias(cv, 1.1, 45), 0) << pb->ctx.lastMessage;
  EXPECT_GT(cv.uR, 1e22);
  EXPECT_GT(Electrons(cv, 0), 1.0);
  EXPECT_LT(Electrons(cv, 0), 1e-5 * cv.uR);
  const AcceptanceReport r = CheckSolution(cv);
  EXPECT_TRUE(r.passed) << "step " << r.step << " spread " << r.spread << " split " << r.split;
  // A forward current flows (positive in the solver's sign convention of a dark diode).
  EXPECT_GT(r.current, 0.0);
}

}  // namespace
}  // namespace zoniq
